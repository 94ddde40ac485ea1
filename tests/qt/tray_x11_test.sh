#!/bin/bash
# The tray under a real X server: the agent's icon docks in trayer, a click
# opens the menu (the icon shows its selected form meanwhile), and the icon
# changes when the network puts the agent into the warning state.
# Usage: tray_x11_test.sh BUILD_DIR SOURCE_DIR. Exits 77 (skipped) without the tools.
set -u
WW_BUILD=$1
WW_SOURCE=$2
. "$WW_SOURCE/tests/qt/x11_session.sh"
x11_need
x11_prepare
x11_network wifi

checked() { grep -q "getAllNetworksDetails" "$x11_work"/logs/log-* 2>/dev/null; }
stop_agent() {
    x11_stop_agent
    rm -rf "$x11_work/logs"
}

# Without a display the agent runs headless, says so, and still checks.
x11_agent_env="-u DISPLAY -u WAYLAND_DISPLAY" x11_start_agent -1
wait_for "headless notice" 30 grep -q "no display (DISPLAY and WAYLAND_DISPLAY are unset); running headless" "$x11_work/agent.err"
wait_for "check without a display" 60 checked
stop_agent
# A display that cannot be reached: the same, with the reason.
x11_agent_env="-u WAYLAND_DISPLAY DISPLAY=:65000" x11_start_agent -1
wait_for "unreachable display notice" 30 grep -q "the display :65000 cannot be reached; running headless" "$x11_work/agent.err"
stop_agent

# A display but no tray yet: the agent enforces, and docks once a tray starts.
x11_start no-tray
# No rule: Wi-Fi alone is the normal state, Wi-Fi and wired together the warning.
x11_start_agent -1
wait_for "notice that no tray runs" 60 grep -q "no system tray is running yet" "$x11_work/agent.err"
wait_for "check before any tray" 60 checked
x11_start_tray
wait_for "docked icon" 60 x11_icon_window
icon=$(x11_icon_window)
echo "icon docked as window $icon on $DISPLAY"

snap_icon() { x11_snap "$icon" "$1" && x11_icon_drawn "$1"; }
wait_for "drawn icon" 60 snap_icon "$x11_work/normal.png"

# A click opens the menu; while it is open the icon shows its selected form.
xdotool mousemove --window "$icon" 11 11 click 1
wait_for "menu after a click on the icon" 30 x11_menu_window
selected_differs() { snap_icon "$x11_work/selected.png" && ! x11_same "$x11_work/selected.png" "$x11_work/normal.png"; }
wait_for "selected icon while the menu is open" 30 selected_differs
echo "menu open: $(x11_menu_window)"
xdotool key Escape
wait_for "menu to close" 30 x11_menu_closed
back_to_normal() { snap_icon "$x11_work/after.png" && x11_same "$x11_work/after.png" "$x11_work/normal.png"; }
wait_for "normal icon after the menu closed" 30 back_to_normal

# Wired and Wi-Fi together with no rule: the next check shows the warning icon.
x11_network both
warning_shown() {
    snap_icon "$x11_work/warning.png" && ! x11_same "$x11_work/warning.png" "$x11_work/normal.png" &&
        ! x11_same "$x11_work/warning.png" "$x11_work/selected.png"
}
wait_for "warning icon" 60 warning_shown
grep -q "both wired & wireless are connected, and no rule is configured" "$x11_work/logs"/log-* ||
    x11_fail "the log does not say why the icon warns"
# And back: Wi-Fi alone again restores the normal icon.
x11_network wifi
wait_for "normal icon again" 60 back_to_normal
stop_agent
echo "tray test: the icon docked, opened its menu and showed the warning"

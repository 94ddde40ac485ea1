#!/bin/bash
# Takes the README's pictures of the desktop face: the agent runs under Xvfb
# with trayer as its tray, fixture tools and the simulated Wi-Fi; the script
# opens the menu (Wi-Fi group, then wired group) and each window, driving it
# with the mouse and keyboard as a user would, and saves PNGs.
# Usage: scripts/screenshots.sh [BUILD_DIR [OUT_DIR]]  (defaults: build, docs/screenshots)
set -u
WW_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
WW_BUILD=$(cd "${1:-$WW_SOURCE/build}" && pwd)
out=${2:-$WW_SOURCE/docs/screenshots}
mkdir -p "$out"
. "$WW_SOURCE/tests/qt/x11_session.sh"
x11_need
x11_start

# The screen around the tray and the open menu, with a margin.
snap_menu() {
    local menu=$1 file=$2 x y w h
    eval "$(xwininfo -id "$menu" | awk '/Absolute upper-left X/ {print "x=" $4} /Absolute upper-left Y/ {print "y=" $4}
        /Width:/ {print "w=" $2} /Height:/ {print "h=" $2}')"
    local screen_w
    screen_w=$(xwininfo -root | awk '/Width:/ {print $2}')
    local left=$((x - 24))
    [ "$left" -lt 0 ] && left=0
    import -window root "png:$x11_work/root.png"
    convert "$x11_work/root.png" -crop "$((screen_w - left))x$((y + h + 24))+${left}+0" +repage "$file"
}

# Waits until the open menu has been redrawn with a check's values and holds still.
settled_menu() {
    local menu
    menu=$(x11_menu_window) || return 1
    snap_menu "$menu" "$x11_work/menu-a.png"
    grep -q "getAllNetworksDetails" "$x11_work"/logs/log-* 2>/dev/null || return 1
    snap_menu "$menu" "$x11_work/menu-b.png"
    x11_same "$x11_work/menu-a.png" "$x11_work/menu-b.png"
}

# A click on the icon, repeated if no menu shows within a few seconds (a click
# that lands while the previous menu still lets go of the pointer is lost).
open_menu() {
    local tries
    for ((tries = 0; tries < 10; tries++)); do
        xdotool mousemove --window "$icon" 11 11 click 1
        local deadline=$((SECONDS + 3))
        until x11_menu_window >/dev/null || [ "$SECONDS" -ge "$deadline" ]; do sleep 0.05; done
        x11_menu_window >/dev/null && return 0
    done
    wait_for "menu" 1 x11_menu_window
}

close_menu() {
    xdotool key Escape
    wait_for "menu to close" 30 x11_menu_closed
}

# go_to_menu_item N: opens the menu and highlights the Nth item counted from
# the bottom (1 is "Quit Wirewatch"). The menu takes the keyboard a moment
# after it shows: the first Up is repeated until an item is seen highlighted.
go_to_menu_item() {
    open_menu
    wait_for "settled menu" 30 settled_menu
    local menu i tries
    menu=$(x11_menu_window)
    for ((tries = 0; tries < 20; tries++)); do
        xdotool key Up
        highlighted() { x11_snap "$menu" "$x11_work/menu-c.png" && ! x11_same "$x11_work/menu-c.png" "$x11_work/menu-b.png"; }
        local deadline=$((SECONDS + 2))
        until highlighted || [ "$SECONDS" -ge "$deadline" ]; do sleep 0.05; done
        highlighted && break
    done
    for ((i = 1; i < $1; i++)); do xdotool key Up; done
}

choose_from_menu() {
    go_to_menu_item "$1"
    xdotool key Return
    wait_for "menu to close" 30 x11_menu_closed
}

# The agent's open menus (a menu and its open submenus), one id per line.
open_menus() {
    local id info
    for id in $(xwininfo -root -children 2>/dev/null | awk '/\("wirewatch" "Wirewatch"\)/ { print $1 }'); do
        info=$(xwininfo -id "$id" 2>/dev/null) || continue
        echo "$info" | grep -q "Map State: IsViewable" || continue
        echo "$info" | grep -q "Override Redirect State: yes" || continue
        [ "$(echo "$info" | awk '/Width:/ { print $2 }')" -gt 100 ] && echo "$id"
    done
}

# snap_open_menus COUNT FILE: once COUNT menus are open and hold still, the
# screen around all of them.
snap_open_menus() {
    local count=$1 file=$2
    menus_open() { [ "$(open_menus | wc -l)" -ge "$count" ]; }
    wait_for "$count open menus" 30 menus_open
    crop_menus() {
        local id x y w h left=100000 top=100000 right=0 bottom=0
        for id in $(open_menus); do
            eval "$(xwininfo -id "$id" | awk '/Absolute upper-left X/ {print "x=" $4} /Absolute upper-left Y/ {print "y=" $4}
                /Width:/ {print "w=" $2} /Height:/ {print "h=" $2}')"
            [ "$x" -lt "$left" ] && left=$x
            [ "$y" -lt "$top" ] && top=$y
            [ $((x + w)) -gt "$right" ] && right=$((x + w))
            [ $((y + h)) -gt "$bottom" ] && bottom=$((y + h))
        done
        left=$((left - 16)); [ "$left" -lt 0 ] && left=0
        right=$((right + 16)); bottom=$((bottom + 16))
        import -window root "png:$x11_work/root.png"
        convert "$x11_work/root.png" -crop "$((right - left))x${bottom}+${left}+0" +repage "$1"
    }
    steady() { crop_menus "$x11_work/menus-a.png" && crop_menus "$x11_work/menus-b.png" &&
        x11_same "$x11_work/menus-a.png" "$x11_work/menus-b.png"; }
    wait_for "menus that hold still" 30 steady
    cp "$x11_work/menus-b.png" "$file" && echo "$file"
}

snap_window() {
    local id
    wait_for "window '$1'" 30 x11_window_named "$1"
    id=$(x11_window_named "$1")
    # Drawn: two snapshots in a row agree.
    drawn() { x11_snap "$id" "$x11_work/w1.png" && x11_snap "$id" "$x11_work/w2.png" &&
        x11_same "$x11_work/w1.png" "$x11_work/w2.png" && x11_icon_drawn "$x11_work/w1.png"; }
    wait_for "drawn window '$1'" 30 drawn
    cp "$x11_work/w1.png" "$2"
    echo "$2"
}

# Keyboard focus on a window (there is no window manager to give it).
focus_window() {
    local id
    id=$(x11_window_named "$1")
    xdotool windowfocus --sync "$id"
}

x11_network wifi
x11_start_agent 0
wait_for "docked icon" 60 x11_icon_window
icon=$(x11_icon_window)

open_menu
wait_for "menu with the Wi-Fi details" 60 settled_menu
cp "$x11_work/menu-b.png" "$out/menu-wifi.png" && echo "$out/menu-wifi.png"
close_menu

x11_network wired
: >"$x11_work/logs/marker"
open_menu
wired_menu() {
    grep -q "only wired are connected" "$x11_work"/logs/log-* 2>/dev/null && settled_menu
}
wait_for "menu with the wired details" 60 wired_menu
cp "$x11_work/menu-b.png" "$out/menu-wired.png" && echo "$out/menu-wired.png"
close_menu

choose_from_menu 3  # Settings…
snap_window "Wirewatch Settings" "$out/settings.png"

# The password button sits in the settings window's lower right corner.
click_password_button() {
    local id w h
    id=$(x11_window_named "Wirewatch Settings")
    eval "$(xwininfo -id "$id" | awk '/Width:/ {print "w=" $2} /Height:/ {print "h=" $2}')"
    xdotool mousemove --window "$id" $((w - 40)) $((h - 18)) click 1
}
click_password_button
snap_window "Set Exit Password" "$out/setup-password.png"
focus_window "Set Exit Password"
xdotool type --delay 20 "secret"
xdotool key Return
wait_for "the first-password window to close" 30 bash -c "! xdotool search --onlyvisible --name '^Set Exit Password\$' >/dev/null 2>&1"

click_password_button
wait_for "change window" 30 x11_window_named "Change Exit Password"
focus_window "Change Exit Password"
xdotool type --delay 20 "secret"
snap_window "Change Exit Password" "$out/change-password.png"
xdotool key Escape

choose_from_menu 2  # About Wirewatch
snap_window "About Wirewatch" "$out/about.png"

choose_from_menu 5  # Pause protection for 15 minutes: the password is asked for
snap_window "Pause Protection" "$out/pause-password.png"
focus_window "Pause Protection"
xdotool type --delay 20 "secret"
wait_for "the pause window to close" 30 bash -c "! xdotool search --onlyvisible --name '^Pause Protection\$' >/dev/null 2>&1"

choose_from_menu 1  # Quit Wirewatch: the password is asked for
snap_window "Quit Wirewatch" "$out/exit-password.png"
focus_window "Quit Wirewatch"
xdotool type --delay 20 "secret"
wait_for "the agent to quit after the password" 30 bash -c "! kill -0 $x11_agent 2>/dev/null"

# The inspector submenu on a Linux desk (USB Ethernet, Wi-Fi, a phone's USB
# hotspot, Docker, a VPN), where the user has told the agent to ignore Docker's
# bridge: Interfaces (6th from the bottom), then docker0 (6th line). Wi-Fi is
# shown as the agent leaves it with the cable in: disconnected, no address.
x11_fixtures="$WW_SOURCE/tests/fixtures/discovery/linux-desk"
x11_prefs='<key>InterfaceOverrides</key><dict><key>docker0</key><string>ignore</string></dict>'
rm -f "$x11_work"/logs/log-*
x11_network all
sed -i '/^wlp2s0:/,/^enx/{/inet 203/d;s/status: active/status: inactive/}' "$x11_work/ifconfig.txt"
x11_start_agent 0
wait_for "docked icon" 60 x11_icon_window
icon=$(x11_icon_window)
go_to_menu_item 6
xdotool key Right
snap_open_menus 2 "$x11_work/interfaces-only.png" >/dev/null
for ((i = 1; i < 6; i++)); do xdotool key Down; done
xdotool key Right
snap_open_menus 3 "$out/menu-interfaces.png"
xdotool key Escape Escape Escape

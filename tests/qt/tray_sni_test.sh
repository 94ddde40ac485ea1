#!/bin/bash
# The tray as KDE and GNOME (AppIndicator) host it: a StatusNotifierItem on
# the session bus with its menu exported over dbusmenu. The agent starts
# under Xvfb with no tray at all; a real StatusNotifierWatcher and host
# (status-notifier-watcher, gtk-sni-tray-standalone) start 4 s later on a
# private session bus, as at a slow login, and must list the agent's item;
# restarted, they must list it again. The agent is then driven through the
# exported menu as a tray host drives it.
# Usage: tray_sni_test.sh BUILD_DIR SOURCE_DIR. Exits 77 (skipped) without the tools.
set -u
WW_BUILD=$1
WW_SOURCE=$2
. "$WW_SOURCE/tests/qt/x11_session.sh"
x11_need dbus-daemon gdbus status-notifier-watcher gtk-sni-tray-standalone

x11_prepare
x11_network wifi
x11_start no-tray
dbus-daemon --session --nofork --print-address=3 3>"$x11_work/bus" >/dev/null 2>&1 &
x11_pids="$x11_pids $!"
wait_for "session bus" 30 test -s "$x11_work/bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$x11_work/bus")
export DBUS_SESSION_BUS_ADDRESS
call() { gdbus call --session --timeout 10 "$@" 2>&1; }
watcher_up() {
    call --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner org.kde.StatusNotifierWatcher | grep -q true
}
watcher_gone() { ! watcher_up; }

# The watcher and the host, as a desktop session starts them.
start_host() {
    status-notifier-watcher >>"$x11_work/watcher.log" 2>&1 &
    watcher_pid=$!
    x11_pids="$x11_pids $watcher_pid"
    wait_for "status notifier watcher" 30 watcher_up
    NO_AT_BRIDGE=1 GTK_A11Y=none gtk-sni-tray-standalone >>"$x11_work/host.log" 2>&1 &
    host_pid=$!
    x11_pids="$x11_pids $host_pid"
}
stop_host() {
    kill "$host_pid" "$watcher_pid"
    wait "$host_pid" "$watcher_pid" 2>/dev/null
    wait_for "the watcher to leave the bus" 30 watcher_gone
}
# The watcher lists an item served by the agent's own connection (the item's
# bus name in $item).
agent_item_listed() {
    local entry name
    item=""
    for entry in $(call --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems | grep -o "'[^']*'" | tr -d "'"); do
        name=${entry%%/*}
        if call --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
            --method org.freedesktop.DBus.GetConnectionUnixProcessID "$name" |
            grep -q "(uint32 $x11_agent,)"; then
            item=$name
            return 0
        fi
    done
    return 1
}

x11_start_agent 0
wait_for "the agent's note that no tray runs" 60 grep -q "no system tray is running yet" "$x11_work/agent.err"
# The host comes after the agent has settled on having none.
start_host
wait_for "the item's registration with the late host" 60 agent_item_listed
stop_host
start_host
# Listed, and served by the agent under the name listed.
item_serves() {
    agent_item_listed && call --dest "$item" --object-path /StatusNotifierItem \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Title | grep -q Wirewatch
}
wait_for "the item's registration with the restarted host" 60 item_serves

prop() {
    call --dest "$item" --object-path /StatusNotifierItem \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"
}
layout() {
    call --dest "$item" --object-path /MenuBar --method com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []'
}
# The dbusmenu id of the item labelled $1 (and visible).
item_id() {
    layout | grep -o "([0-9]*, {[^}]*'label': <'$1'>, 'visible': <true>}" |
        grep -o '^([0-9]*' | tr -d '('
}
click() {
    local id
    id=$(item_id "$1")
    [ -n "$id" ] || x11_fail "no visible menu item '$1'"
    call --dest "$item" --object-path /MenuBar --method com.canonical.dbusmenu.Event -- \
        "$id" clicked '<0>' 0 >/dev/null
}

prop Title | grep -q "'Wirewatch'" || x11_fail "title: $(prop Title)"
prop Menu | grep -q "'/MenuBar'" || x11_fail "menu: $(prop Menu)"
prop ToolTip | grep -q "'Wirewatch'" || x11_fail "tool tip: $(prop ToolTip)"

# The host shows the menu as the tray does: details after a check, then the
# Interfaces submenu (lines with radio choices), the pause items, Quit last.
has_details() { layout | grep -q "'label': <'SSID: Flowers By Irene'>"; }
wait_for "the Wi-Fi details in the exported menu" 60 has_details
menu=$(layout)
for label in "Interfaces" "en0 \"Wi-Fi\": Wi-Fi (Wi-Fi port)" "Pause protection for 15 minutes" \
    "Pause protection for 1 hour" "Settings…" "About Wirewatch" "Quit Wirewatch"; do
    echo "$menu" | grep -qF "'label': <'$label'>" || x11_fail "no menu item '$label'"
done
echo "$menu" | grep -qF "'label': <'Automatic'>, 'toggle-state': <1>, 'toggle-type': <'radio'>" ||
    x11_fail "the interface choices are not radio items with Automatic chosen"
[ -z "$(item_id Resume)" ] || x11_fail "Resume is shown while not paused"

# A pause chosen in the host's menu: the item's tool tip says until when and
# its icon changes to the warning form; Resume ends it.
normal_icon=$(prop IconPixmap)
click "Pause protection for 1 hour"
paused() { prop ToolTip | grep -q "protection paused until"; }
wait_for "the paused tool tip" 30 paused
warning_shown() { [ "$(prop IconPixmap)" != "$normal_icon" ]; }
wait_for "the warning icon" 30 warning_shown
resume_shown() { [ -n "$(item_id Resume)" ]; }
wait_for "Resume in the exported menu" 30 resume_shown
click "Resume"
resumed() { [ "$(prop IconPixmap)" = "$normal_icon" ] && prop ToolTip | grep -q "('', @a(iiay) \[\], 'Wirewatch', '')"; }
wait_for "protection resumed" 30 resumed

x11_stop_agent
echo "PASS: the StatusNotifierItem tray"

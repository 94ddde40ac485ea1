#!/bin/bash
# The tray as KDE and GNOME (AppIndicator) host it: a StatusNotifierItem on
# the session bus with its menu exported over dbusmenu. A private session bus
# carries a mock StatusNotifierWatcher (python3-dbusmock); the agent runs
# under Xvfb with no XEmbed tray, registers its item, and is driven through
# the exported menu as a tray host drives it.
# Usage: tray_sni_test.sh BUILD_DIR SOURCE_DIR. Exits 77 (skipped) without the tools.
set -u
WW_BUILD=$1
WW_SOURCE=$2
. "$WW_SOURCE/tests/qt/x11_session.sh"
x11_need
for tool in dbus-daemon gdbus; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: '$tool' is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import dbusmock' 2>/dev/null || { echo "SKIP: python3-dbusmock is not installed"; exit 77; }

fail() {
    echo "FAIL: $*"
    x11_dump
    exit 1
}

x11_prepare
x11_network wifi
x11_start no-tray
dbus-daemon --session --nofork --print-address=3 3>"$x11_work/bus" >/dev/null 2>&1 &
x11_pids="$x11_pids $!"
wait_for "session bus" 30 test -s "$x11_work/bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$x11_work/bus")
export DBUS_SESSION_BUS_ADDRESS
/usr/bin/python3 -m dbusmock --template "$WW_SOURCE/tests/support/dbusmock/status_notifier_watcher.py" \
    -l "$x11_work/watcher.log" >"$x11_work/watcher.out" 2>&1 &
x11_pids="$x11_pids $!"
call() { gdbus call --session --timeout 10 "$@" 2>&1; }
watcher_up() {
    call --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner org.kde.StatusNotifierWatcher | grep -q true
}
wait_for "status notifier watcher" 30 watcher_up

x11_start_agent 0
wait_for "the item's registration" 60 grep -q RegisterStatusNotifierItem "$x11_work/watcher.log"
item=$(call --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
    RegisteredStatusNotifierItems | grep -o ':[0-9.]*[0-9]' | head -n 1)
[ -n "$item" ] || fail "the watcher lists no item"

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
    [ -n "$id" ] || fail "no visible menu item '$1'"
    call --dest "$item" --object-path /MenuBar --method com.canonical.dbusmenu.Event -- \
        "$id" clicked '<0>' 0 >/dev/null
}

prop Title | grep -q "'Wirewatch'" || fail "title: $(prop Title)"
prop Menu | grep -q "'/MenuBar'" || fail "menu: $(prop Menu)"
prop ToolTip | grep -q "'Wirewatch'" || fail "tool tip: $(prop ToolTip)"

# The host shows the menu as the tray does: details after a check, then the
# Interfaces submenu (lines with radio choices), the pause items, Quit last.
has_details() { layout | grep -q "'label': <'SSID: Flowers By Irene'>"; }
wait_for "the Wi-Fi details in the exported menu" 60 has_details
menu=$(layout)
for label in "Interfaces" "en0 \"Wi-Fi\": Wi-Fi (Wi-Fi port)" "Pause protection for 15 minutes" \
    "Pause protection for 1 hour" "Settings…" "About Wirewatch" "Quit Wirewatch"; do
    echo "$menu" | grep -qF "'label': <'$label'>" || fail "no menu item '$label'"
done
echo "$menu" | grep -qF "'label': <'Automatic'>, 'toggle-state': <1>, 'toggle-type': <'radio'>" ||
    fail "the interface choices are not radio items with Automatic chosen"
[ -z "$(item_id Resume)" ] || fail "Resume is shown while not paused"

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

kill "$x11_agent"
wait "$x11_agent" 2>/dev/null
status=$?
[ "$status" -eq 0 ] || fail "the agent exited with status $status after SIGTERM"
echo "PASS: the StatusNotifierItem tray"

# Shell helpers for running the agent's tray under a real X server (Xvfb) with
# trayer as the tray host: used by the tray test and by scripts/screenshots.sh.
# Source it with WW_BUILD (the build tree) and WW_SOURCE (the source tree) set.
# Every wait polls its condition against a deadline; nothing sleeps blindly.

# x11_need [TOOL...]: skips (exit 77) unless the X tools and the tools named are installed.
x11_need() {
    for tool in Xvfb trayer xdotool xwininfo import compare convert "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: '$tool' is not installed (scripts/setup.sh installs it)"
            exit 77
        fi
    done
}

x11_pids=""
x11_work=""

x11_cleanup() {
    for pid in $x11_pids; do kill "$pid" 2>/dev/null; done
    for pid in $x11_pids; do wait "$pid" 2>/dev/null; done
    [ -n "$x11_work" ] && [ -z "${WW_KEEP_WORK-}" ] && rm -rf "$x11_work"
}

x11_dump() {
    [ -n "${WW_KEEP_WORK-}" ] && import -window root "$x11_work/failure.png" 2>/dev/null
    echo "--- windows"; xwininfo -root -tree 2>&1 | grep -v "has no name" | head -40
    echo "--- agent standard error (last lines)"; tail -n 30 "$x11_work/agent.err" 2>/dev/null
    echo "--- other logs"; tail -n 20 "$x11_work"/*.log 2>/dev/null
}

x11_fail() {
    echo "FAIL: $*"
    x11_dump
    exit 1
}

# wait_for DESCRIPTION SECONDS COMMAND...
wait_for() {
    local what=$1 limit=$2
    shift 2
    local deadline=$((SECONDS + limit))
    until "$@" >/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || x11_fail "no $what within ${limit}s"
        sleep 0.05
    done
}

# A private working folder, removed at exit with every process started here.
x11_prepare() {
    [ -n "$x11_work" ] && return 0
    x11_work=$(mktemp -d /tmp/ww-x11-XXXXXX)
    trap x11_cleanup EXIT
    mkdir -m 0700 "$x11_work/runtime"
}

# Starts Xvfb on a free display (it picks one itself) and, unless told
# "no-tray", trayer on it.
x11_start() {
    x11_prepare
    Xvfb -displayfd 3 -screen 0 "${WW_SCREEN:-1024x700x24}" -nolisten tcp -noreset 3>"$x11_work/display" \
        2>"$x11_work/xvfb.err" &
    x11_pids="$x11_pids $!"
    wait_for "X server" 60 test -s "$x11_work/display"
    export DISPLAY=":$(cat "$x11_work/display")"
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
    export XDG_RUNTIME_DIR="$x11_work/runtime"
    [ "${1-}" = "no-tray" ] || x11_start_tray
}

x11_start_tray() {
    trayer --edge top --align right --widthtype request --height 26 --SetDockType true \
        --transparent false --tint 0xdedede --distance 0 >"$x11_work/trayer.log" 2>&1 &
    x11_pids="$x11_pids $!"
    wait_for "tray panel" 60 x11_panel_window
    # A desktop colour behind the windows where xsetroot is at hand.
    if command -v xsetroot >/dev/null 2>&1; then xsetroot -solid "#4a6785"; fi
}

x11_panel_window() {
    xwininfo -root -tree 2>/dev/null | awk '/\("panel" "trayer"\)/ { print $1; found = 1; exit } END { exit !found }'
}

# Fixture tools printing captured output (x11_fixtures: the folder, captured
# macOS output by default); ifconfig prints $x11_work/ifconfig.txt.
# x11_network wifi|wired|both picks the interfaces that ifconfig shows; all
# shows the fixture's whole ifconfig output.
x11_network() {
    local all="${x11_fixtures:-$WW_SOURCE/tests/app/fixtures}/ifconfig.txt"
    case "$1" in
        wifi) sed '/^en5:/,$d' "$all" >"$x11_work/ifconfig.new" ;;
        wired) sed '/^en0:/,/^en5:/{/^en5:/!d}' "$all" >"$x11_work/ifconfig.new" ;;
        all | both) cp "$all" "$x11_work/ifconfig.new" ;;
    esac
    mv "$x11_work/ifconfig.new" "$x11_work/ifconfig.txt"
}

# x11_start_agent RULE [EXIT_PASSWORD]: the agent with fixture tools, simulated Wi-Fi
# and its own preferences, logs and autostart folder; x11_agent_env may hold extra
# arguments for env(1) ("-u DISPLAY", "DISPLAY=:9"), x11_prefs extra preference
# entries (property-list XML inside the dictionary).
x11_start_agent() {
    local rule=$1 password=${2-}
    local tools="$x11_work/tools" fixtures=${x11_fixtures:-$WW_SOURCE/tests/app/fixtures}
    mkdir -p "$tools" "$x11_work/home" "$x11_work/logs"
    printf '#!/bin/sh\ncat "%s"\n' "$x11_work/ifconfig.txt" >"$tools/ifconfig"
    printf '#!/bin/sh\ncat "%s"\n' "$fixtures/networksetup.txt" >"$tools/networksetup"
    printf '#!/bin/sh\ncat "%s"\n' "$fixtures/system_profiler.xml" >"$tools/system_profiler"
    chmod +x "$tools/ifconfig" "$tools/networksetup" "$tools/system_profiler"
    ln -sf "$WW_BUILD/libexec/wirewatch/airport" "$tools/airport"
    [ -f "$x11_work/ifconfig.txt" ] || x11_network wifi
    cp "$WW_SOURCE/tests/qt/fixtures/wifi.plist" "$x11_work/wifi.plist"
    {
        printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>\n'
        printf '<key>selectedInterfaceOption</key><string>%s</string>\n' "$rule"
        [ -n "$password" ] && printf '<key>EXIT_PASSWORD</key><string>%s</string>\n' "$password"
        printf '%s\n' "${x11_prefs-}"
        printf '</dict></plist>\n'
    } >"$x11_work/prefs.plist"
    # shellcheck disable=SC2086 # x11_agent_env: extra env(1) arguments, word by word
    env ${x11_agent_env-} HOME="$x11_work/home" XDG_CONFIG_HOME="$x11_work/home/.config" \
        WIREWATCH_REACHABILITY_HOST= "$WW_BUILD/bin/wirewatch" --tools-dir "$tools" --wifi "sim:$x11_work/wifi.plist" \
        --prefs "$x11_work/prefs.plist" --logs-dir "$x11_work/logs" \
        >"$x11_work/agent.out" 2>"$x11_work/agent.err" &
    x11_agent=$!
    x11_pids="$x11_agent $x11_pids"
}

# SIGTERM ends the agent cleanly (and, in sanitizer builds, without a report).
x11_stop_agent() {
    kill "$x11_agent"
    wait "$x11_agent" 2>/dev/null
    local status=$?
    [ "$status" -eq 0 ] || x11_fail "the agent exited with status $status after SIGTERM"
}

# The agent's icon window docked in the tray panel.
x11_icon_window() {
    local panel
    panel=$(x11_panel_window) || return 1
    xwininfo -id "$panel" -tree 2>/dev/null |
        awk '/\("wirewatch" "Wirewatch"\)/ { print $1; found = 1; exit } END { exit !found }'
}

# The agent's open menu: a viewable pop-up window of the agent, wider than the icon.
x11_menu_window() {
    local id
    for id in $(xwininfo -root -children 2>/dev/null | awk '/\("wirewatch" "Wirewatch"\)/ { print $1 }'); do
        xwininfo -id "$id" 2>/dev/null | awk '/Map State: IsViewable/ { v = 1 }
            /Override Redirect State: yes/ { o = 1 } /Width:/ { w = $2 } END { exit !(v && o && w > 100) }' &&
            { echo "$id"; return 0; }
    done
    return 1
}

x11_menu_closed() { ! x11_menu_window >/dev/null; }

# A visible top-level window of the agent with the title given.
x11_window_named() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 | grep .
}

# x11_snap WINDOW FILE: the window's pixels as a PNG.
x11_snap() { import -window "$1" "png:$2" 2>/dev/null; }

# x11_icon_drawn FILE: the snapshot holds more than one colour (something is drawn).
x11_icon_drawn() { [ "$(convert "$1" -format '%k' info: 2>/dev/null)" -gt 2 ]; }

# x11_same A B: the two images are pixel for pixel the same.
x11_same() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = "0" ]; }

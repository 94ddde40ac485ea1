#!/bin/sh
# The flapping soak: the headless agent in a network namespace, with its
# default tools, while a declared wired veth's address comes and goes every
# FLAP seconds (rule 0: every appearance disconnects the simulated Wi-Fi, every
# disappearance switches it back on and it re-joins). Prints, once a minute,
# the agent's RSS, open descriptors, threads and zombie children, and at the
# end the Wi-Fi operations done and the RSS change over the second half.
#
# Needs root. Usage: bench/soak.sh [BUILD_DIR] [MINUTES] [FLAP_SECONDS]
#   (defaults: build, 30, 0.2)
set -eu
build=$(cd "${1:-build}" && pwd)
minutes=${2:-30}
flap=${3:-0.2}
agent="$build/bin/wirewatch"
[ -x "$agent" ] || { echo "soak: no agent at $agent" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "soak: needs root (network namespace)" >&2; exit 2; }

ns="wwsoak-$$"
dir=$(mktemp -d /tmp/wwsoak-XXXXXX)
pid=""
flapper=""
cleanup() {
    [ -n "$flapper" ] && kill "$flapper" 2>/dev/null || true
    if [ -n "$pid" ]; then
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT INT TERM

ip netns add "$ns"
ip -n "$ns" link set lo up
ip -n "$ns" link add ww-wired0 type veth peer name ww-wired0-peer
ip -n "$ns" link add ww-wifi0 type veth peer name ww-wifi0-peer
for dev in ww-wired0 ww-wired0-peer ww-wifi0 ww-wifi0-peer; do ip -n "$ns" link set "$dev" up; done
ip -n "$ns" address add 203.0.113.2/24 dev ww-wifi0

printf 'ww-wired0\tEthernet\tEthernet\nww-wifi0\tWi-Fi\tAirPort\n' > "$dir/ports.txt"
cat > "$dir/wifi.plist" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>present</key><true/><key>power</key><true/>
<key>interfaceMode</key><integer>1</integer><key>security</key><integer>4</integer>
<key>activePHYMode</key><integer>5</integer>
<key>ssid</key><string>Flowers By Irene</string><key>bssid</key><string>4c:43:41:4:1c:bc</string>
<key>channelNumber</key><integer>36</integer><key>channelBand</key><integer>2</integer>
<key>channelWidth</key><integer>3</integer><key>transmitRate</key><real>866.7</real>
<key>rssiValue</key><integer>-55</integer><key>noiseMeasurement</key><integer>-90</integer>
<key>mcs</key><string>9</string><key>device</key><string>ww-wifi0</string>
<key>joinNetwork</key><dict><key>ssid</key><string>Flowers By Irene</string>
<key>bssid</key><string>4c:43:41:4:1c:bc</string>
<key>addresses</key><array><string>203.0.113.2/24</string></array></dict>
</dict></plist>
EOF
cat > "$dir/prefs.plist" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>selectedInterfaceOption</key><string>0</string><key>enableWireless</key><string>1</string>
</dict></plist>
EOF
chmod 600 "$dir/prefs.plist"
mkdir -p "$dir/logs"

# The agent with its default tools: no --tools-dir, no WIREWATCH_TOOLS_DIR;
# without XDG_RUNTIME_DIR its one-agent lock is in its own logs folder, away
# from an agent of the session.
env -u WIREWATCH_TOOLS_DIR -u XDG_RUNTIME_DIR HOME="$dir" XDG_CONFIG_HOME="$dir/config" \
    XDG_DATA_HOME="$dir/data" \
    WIREWATCH_HWPORTS_FILE="$dir/ports.txt" \
    ip netns exec "$ns" "$agent" --headless --wifi "sim:$dir/wifi.plist" \
    --prefs "$dir/prefs.plist" --logs-dir "$dir/logs" >/dev/null 2>"$dir/stderr" &
pid=$!
sleep 2
# `ip netns exec` execs the agent in place: the pid is the agent's.
[ -r "/proc/$pid/status" ] || { echo "soak: the agent did not start" >&2; cat "$dir/stderr" >&2; exit 1; }

(
    while :; do
        ip -n "$ns" address add 198.51.100.2/24 dev ww-wired0 2>/dev/null || true
        sleep "$flap"
        ip -n "$ns" address flush dev ww-wired0 2>/dev/null || true
        sleep "$flap"
    done
) &
flapper=$!

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }
sample() {
    fds=$(ls "/proc/$pid/fd" | wc -l)
    threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
    zombies=$(ps --ppid "$pid" -o stat= 2>/dev/null | grep -c '^Z' || true)
    ops=$(grep -o '<string>\(setPower:[01]\|disassociate\)</string>' "$dir/wifi.plist" | wc -l)
    printf '%4s min  RSS %6s kB  fds %3s  threads %2s  zombies %s  wifi operations %s\n' \
        "$1" "$(rss_kb)" "$fds" "$threads" "$zombies" "$ops"
}

echo "soak: $minutes min, address flap every ${flap}s, agent $agent (pid $pid); load: $(cut -d' ' -f1-3 /proc/loadavg)"
sample 0
half_rss=""
first_rss=$(rss_kb)
m=1
while [ "$m" -le "$minutes" ]; do
    sleep 60
    [ -r "/proc/$pid/status" ] || { echo "soak: the agent died" >&2; cat "$dir/stderr" >&2; exit 1; }
    sample "$m"
    [ "$m" -eq $(( (minutes + 1) / 2 )) ] && half_rss=$(rss_kb)
    m=$((m + 1))
done
last_rss=$(rss_kb)
kill "$flapper" 2>/dev/null || true
wait "$flapper" 2>/dev/null || true
flapper=""
cpu=$(awk '{print ($14 + $15 + $16 + $17) / 100}' "/proc/$pid/stat")
echo "soak: RSS start $first_rss kB, half-way ${half_rss:-?} kB, end $last_rss kB;" \
    "second half change $(( last_rss - ${half_rss:-$last_rss} )) kB;" \
    "CPU ${cpu} s (agent and children); load: $(cut -d' ' -f1-3 /proc/loadavg)"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
echo "soak: agent exit status $status"

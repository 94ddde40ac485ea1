#!/bin/sh
# The idle cost: runs the built agent headless on this machine's live network
# (default tools, no Wi-Fi backend, fresh preferences and logs) for SECONDS of
# wall time, then prints the CPU time it used with its children, scaled to an
# hour, its peak RSS, and its wake-ups: the context switches of every thread
# over the run (perf, when it can count them) and, per long-lived thread, the
# voluntary switches after a 10-second warm-up.
#
# Usage: bench/idle.sh [BUILD_DIR] [SECONDS]   (defaults: build, 600)
set -eu
build=$(cd "${1:-build}" && pwd)
seconds=${2:-600}
agent="$build/bin/wirewatch"
[ -x "$agent" ] || { echo "idle: no agent at $agent" >&2; exit 2; }
[ "$seconds" -gt 20 ] || { echo "idle: run for more than 20 s" >&2; exit 2; }

dir=$(mktemp -d /tmp/wwidle-XXXXXX)
pid=""
perfpid=""
cleanup() {
    [ -n "$perfpid" ] && kill -INT "$perfpid" 2>/dev/null || true
    if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$dir"
}
trap cleanup EXIT INT TERM

# Without XDG_RUNTIME_DIR its one-agent lock is in its own logs folder.
env -u WIREWATCH_TOOLS_DIR -u WIREWATCH_WIFI -u XDG_RUNTIME_DIR HOME="$dir" \
    XDG_CONFIG_HOME="$dir/config" \
    XDG_DATA_HOME="$dir/data" "$agent" --headless --logs-dir "$dir/logs" \
    --prefs "$dir/prefs.plist" >/dev/null 2>"$dir/stderr" &
pid=$!
start=$(date +%s.%N)
echo "idle: agent $agent (pid $pid) for $seconds s; load at start: $(cut -d' ' -f1-3 /proc/loadavg)"

switches() {  # "name tid voluntary nonvoluntary" per thread
    for t in /proc/$pid/task/*; do
        printf '%s %s %s %s\n' "$(cat "$t/comm" 2>/dev/null | tr ' ' _)" "${t##*/}" \
            "$(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status" 2>/dev/null)" \
            "$(awk '/^nonvoluntary_ctxt_switches/ {print $2}' "$t/status" 2>/dev/null)"
    done
}

sleep 10
switches > "$dir/before"
window=$((seconds - 10))
if command -v perf >/dev/null 2>&1 && perf stat -e context-switches -p "$pid" -- true >/dev/null 2>&1; then
    perf stat -x, -e context-switches -p "$pid" -o "$dir/perf" -- sleep "$window" 2>/dev/null &
    perfpid=$!
    wait "$perfpid" || true
    perfpid=""
else
    sleep "$window"
fi
switches > "$dir/after"
[ -r "/proc/$pid/stat" ] || { echo "idle: the agent died" >&2; cat "$dir/stderr" >&2; exit 1; }
end=$(date +%s.%N)
ticks=$(getconf CLK_TCK)
read -r own children <<EOF
$(awk -v t="$ticks" '{printf "%.2f %.2f\n", ($14 + $15) / t, ($16 + $17) / t}' "/proc/$pid/stat")
EOF
hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
awk -v s="$start" -v e="$end" -v o="$own" -v c="$children" -v h="$hwm" -v r="$rss" 'BEGIN {
    w = e - s
    printf "idle: %.0f s wall; CPU %.2f s (agent %.2f s + children %.2f s) = %.1f CPU-seconds per hour\n",
        w, o + c, o, c, (o + c) * 3600 / w
    printf "idle: peak RSS %d kB, RSS at the end %d kB\n", h, r
}'
if [ -s "$dir/perf" ]; then
    n=$(grep context-switches "$dir/perf" | cut -d, -f1)
    awk -v n="$n" -v w="$window" 'BEGIN { printf "idle: wake-ups (context switches, all threads, perf) %s in %d s = %.1f per minute\n", n, w, n * 60 / w }'
fi
echo "idle: voluntary switches per minute of the threads alive throughout (after the warm-up):"
awk -v w="$window" 'NR == FNR { v[$2] = $3; nv[$2] = $4; next }
    ($2 in v) { printf "  %-24s %7.1f (+%.1f involuntary)\n", $1, ($3 - v[$2]) * 60 / w, ($4 - nv[$2]) * 60 / w }' \
    "$dir/before" "$dir/after"
echo "idle: load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

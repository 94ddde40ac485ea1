# shellcheck shell=sh
# The lab guest's half of bench/lab-reaction.sh: `lab-reaction-guest.sh STACK`.
. "$(dirname "$0")/../tests/lab/common.sh"
TRIALS=${WW_LAB_TRIALS:-10}
STACK_NAME=$1
lab_setup

# Epoch seconds of `ip -ts monitor` and `rfkill event` stamps (local time).
stamp_to_epoch() { date -d "$(echo "$1" | tr ',' '.' | sed 's/^\[//; s/\]$//; s/T/ /')" +%s.%N; }

# Median and p95 of the numbers on standard input (nearest rank).
summary() {
    sort -n | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "no samples"; exit }
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        p = int(NR * 0.95 + 0.999); if (p > NR) p = NR
        printf "median %.0f ms, p95 %.0f ms, n=%d\n", m * 1000, v[p] * 1000, NR }'
}

# The simulated Wi-Fi first, while the real station is still down: a veth end
# declared a Wi-Fi port that the simulated radio mirrors.
sim_bench() {
    rule=$1
    ip link add sim-wifi0 type veth peer name sim-wifi0p 2>/dev/null
    ip link set sim-wifi0p up
    printf 'eth0\tEthernet\tEthernet\nsim-wifi0\tWi-Fi\tAirPort\n' >/run/lab/ports
    agent_prepare "$rule"
    cat >"$AGENT/sim.plist" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>present</key><true/><key>power</key><true/><key>interfaceMode</key><integer>1</integer>
<key>security</key><integer>4</integer><key>activePHYMode</key><integer>4</integer>
<key>ssid</key><string>sim</string><key>bssid</key><string>02:00:00:00:00:09</string>
<key>device</key><string>sim-wifi0</string>
<key>joinNetwork</key><dict><key>ssid</key><string>sim</string>
<key>addresses</key><array><string>192.168.78.2/24</string></array></dict>
</dict></plist>
EOF
    ip link set sim-wifi0 up
    ip addr replace 192.168.78.2/24 dev sim-wifi0
    WIFI=sim:$AGENT/sim.plist
    export WIREWATCH_HWPORTS_FILE=/run/lab/ports
    agent_start
    WIFI=auto
    unset WIREWATCH_HWPORTS_FILE
    agent_next_check 60
    # Appending, so that emptying the log between trials moves the writer back
    # to its start (else it leaves a hole of zero bytes that grep calls binary).
    : >/run/lab/sim-mon.log
    ip -ts monitor address link dev sim-wifi0 >>/run/lab/sim-mon.log 2>&1 &
    mon=$!
    : >/run/lab/samples
    i=0
    while [ $i -lt "$TRIALS" ]; do
        i=$((i + 1))
        agent_next_check 10
        t0=$(now)
        wired_up
        if [ "$rule" = 0 ]; then pat="Deleted.*192.168.78.2"; else pat="sim-wifi0.*state DOWN"; fi
        wait_for 10 grep -aq "$pat" /run/lab/sim-mon.log
        line=$(grep -a "$pat" /run/lab/sim-mon.log | tail -n 1)
        : >/run/lab/sim-mon.log
        [ -n "$line" ] && echo "$(elapsed "$t0" "$(stamp_to_epoch "${line%% *}")")" >>/run/lab/samples
        wired_down
        wait_for 15 sh -c "ip -br addr show sim-wifi0 | grep -q 192.168.78.2"
        : >/run/lab/sim-mon.log
    done
    kill "$mon"
    agent_stop
    ip link del sim-wifi0
    echo "sim rule $rule: $(summary </run/lab/samples)" | tee -a "$RESULTS"
}

# The real stack: rule 0 to the disconnect, rule 1 to the rfkill block (or
# the disconnect where the stack switches off without one).
real_bench() {
    rule=$1
    stack_rejoin
    agent_prepare "$rule"
    agent_start
    agent_next_check 60
    : >/run/lab/rfkill.log
    rfkill event >>/run/lab/rfkill.log 2>&1 &
    mon=$!
    idx=$(cat "/sys/class/ieee80211/$(sta_phy)/"rfkill*/index)
    : >/run/lab/samples
    misses=0
    i=0
    while [ $i -lt "$TRIALS" ]; do
        i=$((i + 1))
        agent_next_check 10
        t0=$(now)
        wired_up
        if wait_for 10 not associated; then
            t=""
            if [ "$rule" = 1 ]; then
                wait_for 5 grep -aq "idx $idx .*soft 1" /run/lab/rfkill.log
                line=$(grep -a "idx $idx .*soft 1" /run/lab/rfkill.log | tail -n 1)
                [ -n "$line" ] && t=$(stamp_to_epoch "${line%%: idx*}")
            fi
            [ -n "$t" ] || t=$(disconnect_after "$t0")
            [ -n "$t" ] && echo "$(elapsed "$t0" "$t")" >>/run/lab/samples
        else
            misses=$((misses + 1))
        fi
        : >/run/lab/rfkill.log
        wired_down
        wait_for 30 sh -c "iw dev $STA link | grep -q '^Connected'" || stack_rejoin
    done
    kill "$mon"
    agent_stop
    what="disconnect"
    [ "$rule" = 1 ] && what="radio off"
    echo "$STACK_NAME rule $rule ($what): $(summary </run/lab/samples); no reaction within 10 s: $misses" |
        tee -a "$RESULTS"
}

sim_bench 0
sim_bench 1
ap_start wpa2
stack_start "$STACK_NAME"
wait_for 60 associated || { fail setup "$STACK_NAME did not join"; finish; }
real_bench 0
real_bench 1
finish

# shellcheck shell=sh
# The lab's scenarios for one station stack (kernel: wpa_supplicant alone, nm:
# NetworkManager, iwd), run in the guest: `scenarios.sh STACK`. Each scenario
# asserts what the real stack did (iw, the rfkill switch, nmcli, iwd's
# properties) and writes PASS or FAIL with the reason to results.txt.
here=$(dirname "$0")
. "$here/common.sh"

STACK_NAME=$1
lab_setup
say "stack $STACK_NAME, guest up after $(cat "$OUT/boot-seconds") s"

ap_start wpa2 || { fail setup "hostapd did not start"; finish; }
stack_start "$STACK_NAME"
if ! wait_for 120 associated; then
    fail setup "$STACK_NAME did not join $(ssid_of wpa2) within 120 s"
    finish
fi
[ -x "$WW" ] || { fail setup "no agent at $WW"; finish; }
say "associated after $(cut -d' ' -f1 /proc/uptime) s of uptime"

# The link details of --once and --once --json against iw and the access
# point's configuration; the PHY mode is read twice, seconds apart.
details() {
    kind=$1 ssid=$(ssid_of "$1")
    case $kind in
    wpa2) want="6|2.4 GHz|20 MHz|WPA2 Personal|802.11n" freq=2437 ;;
    sae) want="1|2.4 GHz|20 MHz|WPA3 Personal|802.11n" freq=2412 ;;
    open) want="11|2.4 GHz|20 MHz|Open|802.11g" freq=2462 ;;
    vht80) want="36|5 GHz|80 MHz|WPA2 Personal|802.11ac" freq=5180 ;;
    esac
    [ "$STACK" = kernel ] && wpa_cli -i "$STA" -p /run/wpa_supplicant scan >/dev/null
    if ! wait_for 40 sh -c "iw dev $STA link | grep -q 'SSID: $ssid'"; then
        fail "details-$kind" "$STACK_NAME did not join $ssid: $(tail -n 2 /run/lab/hostapd.log)"
        return
    fi
    link=$(iw dev "$STA" link)
    bssid=$(echo "$link" | awk '/^Connected to/ { print $3 }')
    got_freq=$(echo "$link" | awk '/freq:/ { print $2 }')
    [ "$bssid" = "$(ap_bssid)" ] ||
        { fail "details-$kind" "iw's BSSID $bssid is not the access point's"; return; }
    [ "$got_freq" = "$freq" ] ||
        { fail "details-$kind" "iw says $got_freq MHz, the access point $freq"; return; }
    agent_prepare 0
    problems=""
    for round in 1 2; do
        # Each read is of a link that counts (on a loaded host the station has
        # been seen to leave and rejoin by itself between reads).
        wait_for 30 wifi_counts || problems="$problems the station left before read $round;"
        json=$(agent_run --once --json 2>>"$AGENT/stderr")
        echo "$json" >"$AGENT/once-$round.json"
        got=$(echo "$json" | jq -r '[.wifi.channel.number, .wifi.channel.band, .wifi.channel.width,
            .wifi.security.name, .wifi.phyMode.name] | map(tostring) | join("|")')
        [ "$got" = "$want" ] || problems="$problems json#$round $got, want $want;"
        gssid=$(echo "$json" | jq -r .wifi.ssid)
        [ "$gssid" = "$ssid" ] || problems="$problems ssid $gssid;"
        # The menu writes a BSSID without leading zeros in its octets.
        gbssid=$(echo "$json" | jq -r .wifi.bssid)
        [ "$(echo "$gbssid" | sed 's/\b0\([0-9a-f]\)/\1/g')" = "$(echo "$bssid" | sed 's/\b0\([0-9a-f]\)/\1/g')" ] ||
            problems="$problems bssid $gbssid, iw $bssid;"
        sleep 3
    done
    wait_for 30 wifi_counts || problems="$problems the station left before the text read;"
    text=$(agent_run --once 2>>"$AGENT/stderr")
    echo "$text" >"$AGENT/once.txt"
    IFS='|' read -r ch band width sec phy <<EOF
$want
EOF
    for line in "SSID: $ssid" "Channel: $ch/$band ($width)" "Security: $sec" "PHY Mode: $phy"; do
        echo "$text" | grep -qxF "$line" || problems="$problems text lacks '$line';"
    done
    cp -r "$AGENT" "$OUT/"
    if [ -z "$problems" ]; then pass "details-$kind" "$want"; else fail "details-$kind" "$problems"; fi
}

# Rule 0: a wired address disconnects Wi-Fi at once (the reachability
# trigger, not the next five-second check), it stays disconnected, and it is
# back by itself once the wired address goes.
# Starts a resident agent with rule $1 for scenario $2 and waits for its
# checks ($3 of them); false, with the failure written, when it makes none.
scenario_start() {
    stack_rejoin || { fail "$2" "could not rejoin before the scenario"; return 1; }
    agent_prepare "$1"
    agent_start
    agent_next_check 30 && { [ "$3" = 1 ] || agent_next_check 10; } && return 0
    fail "$2" "the agent made no checks: $(agent_log | tail -n 3)"
    agent_stop
    return 1
}

rule0() {
    scenario_start 0 rule0 2 || return
    # Just after a check: the five-second tick alone would take about 5 s; a
    # loaded TCG guest needs up to about 3 s for the triggered check.
    t0=$(now)
    wired_up
    if ! wait_for 15 not associated; then
        fail rule0 "still associated 15 s after the wired address: $(agent_log | grep -i wi-fi | tail -n 2)"
        fail reachability "no disconnect at all"
    else
        td=$(disconnect_after "$t0")
        took=$(elapsed "$t0" "${td:-$(now)}")
        if [ "$(echo "$took" | awk '{ print ($1 < 4) }')" = 1 ]; then
            pass reachability "disconnect ${took} s after the address"
        else
            fail reachability "disconnect ${took} s after the address (the check tick is 5 s)"
        fi
        if ! holds_for 20 not associated; then
            fail rule0 "joined again while wired: $(iw dev "$STA" link | head -n 1)"
        else
            wired_down
            t1=$(now)
            if wait_for 30 associated; then
                [ "$(audit_ended_by "Wi-Fi disconnected by the rule")" -ge 1 ] ||
                    { fail rule0 "the exposure audit has no interval the rule ended"; agent_stop; return; }
                pass rule0 "disconnect held 20 s; back $(elapsed "$t1") s after the wired address went"
            else
                fail rule0 "not associated again 30 s after the wired address went: $(agent_log | grep -i wi-fi | tail -n 2)"
            fi
        fi
    fi
    wired_down
    agent_stop
}

radio_back() { radio_on && associated; }

# Rule 1: a wired address switches the radio off; it stays off; once the
# wired address goes the radio is on and associated again within 30 s.
rule1() {
    scenario_start 1 rule1 1 || return
    wired_up
    if ! wait_for 15 radio_off; then
        fail rule1 "the radio is still on 15 s after the wired address: $(agent_log | grep -i wi-fi | tail -n 2)"
    elif associated; then
        fail rule1 "the radio is off but the station still associated"
    elif ! holds_for 10 radio_off; then
        fail rule1 "the radio came back on while wired"
    else
        wired_down
        t1=$(now)
        if wait_for 30 radio_back; then
            [ "$(audit_ended_by "Wi-Fi switched off by the rule")" -ge 1 ] ||
                { fail rule1 "the exposure audit has no interval the rule ended"; agent_stop; return; }
            pass rule1 "radio on and associated $(elapsed "$t1") s after the wired address went"
        else
            fail rule1 "30 s after the wired address went: radio $(radio_off && echo off || echo on), $(iw dev "$STA" link | head -n 1)"
        fi
    fi
    wired_down
    agent_stop
}

# One check with --once --json while wired and associated (rule 0), as root and
# as an unprivileged user whom the stack refuses: its action, the exposure
# audit and the log agree with what the station did.
once_json() {
    name=$1 user=$2
    stack_rejoin || { fail "$name" "could not rejoin before the scenario"; return; }
    agent_prepare 0 "$user"
    # The link must count as connected (associated, up, with its address) and
    # hold before the check, or its end proves nothing.
    wait_for 40 wifi_counts ||
        { fail "$name" "the link does not count as connected: operstate $(cat "/sys/class/net/$STA/operstate"), $(ip -4 -o addr show dev "$STA" | awk '{ print $4 }')"; return; }
    holds_for 3 wifi_counts || { fail "$name" "the station did not stay connected before the check"; return; }
    wired_up
    json=$(agent_run --once --json 2>>"$AGENT/stderr")
    echo "$json" >"$AGENT/once.json"
    sleep 1
    if associated; then really=false; else really=true; fi
    wired_down
    action=$(echo "$json" | jq -c '[.actions[] | select(.action == "wifi-disconnected")][0]')
    ok=$(echo "$action" | jq -r .ok)
    err=$(echo "$action" | jq -r .error)
    closed=$(audit_ended_by "Wi-Fi disconnected by the rule")
    # The log says why: the backend's refusal, or that no backend reaches the
    # device (a user iwd's D-Bus policy keeps out sees no iwd at all, or an iwd
    # that lists no device to it).
    cannot=$(($(agent_lines "cannot disconnect") + $(agent_lines "Wi-Fi backend: none") +
        $(agent_lines "no Wi-Fi device")))
    cp -r "$AGENT" "$OUT/"
    problems=""
    [ "$action" != null ] || problems="no wifi-disconnected action;"
    [ "$ok" = "$really" ] || problems="$problems JSON ok:$ok but the station was $([ $really = true ] && echo disconnected || echo "still associated");"
    if [ "$really" = true ]; then
        [ "$closed" -ge 1 ] || problems="$problems the audit did not close the exposure;"
    else
        [ "$err" != null ] || problems="$problems a refusal without its error;"
        [ "$closed" -eq 0 ] || problems="$problems the audit says the rule disconnected;"
        [ "$cannot" -ge 1 ] || problems="$problems no log line saying why it could not disconnect;"
    fi
    case $user in
    root) [ "$really" = true ] || problems="$problems root could not disconnect ($err);" ;;
    *) [ "$really" = false ] || problems="$problems the unprivileged agent was not refused;" ;;
    esac
    if [ -z "$problems" ]; then pass "$name" "ok:$ok${err:+ error: $err}"; else fail "$name" "$problems"; fi
}

rule0
rule1
once_json once-json root
once_json refused nobody
stack_rejoin
if [ "$STACK_NAME" = kernel ]; then
    for kind in wpa2 sae open vht80; do
        ap_start "$kind" || { fail "details-$kind" "hostapd did not start"; continue; }
        details "$kind"
    done
else
    details wpa2
fi
finish

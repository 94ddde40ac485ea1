# shellcheck shell=sh
# What every lab guest script shares: the access point in its own network
# namespace, the station stacks, the agent, and the checks against what the
# real stack did. Sourced by the guest scripts; runs inside the lab guest.

OUT=/lab-out
RESULTS=$OUT/results.txt
BUILD=$WW_LAB_BUILD
WW=$BUILD/bin/wirewatch
STA=wlan1
PSK=correct-horse-battery
STA_ADDR=192.168.77.2/24
WIRED_ADDR=10.0.2.15/24
GATEWAY=10.0.2.2
NM_CON=lab
: >"$RESULTS"
: >"$OUT/failed"

say() { echo "lab: $*" | tee -a "$OUT/guest.log"; }
now() { date +%s.%N; }
# Seconds from $1 to $2 (or now), to the millisecond.
elapsed() { echo "${2:-$(now)} $1" | awk '{ printf "%.3f", $1 - $2 }'; }

pass() { echo "PASS $1${2:+ ($2)}" | tee -a "$RESULTS"; }
# A failure listed in known-faults (a fault found and not mended yet, with its
# reason) is reported as KNOWN and does not fail the boot; any other fails it.
KNOWN_FAULTS=$(dirname "$0")/known-faults
fail() {
    known=$(awk -v s="${STACK_NAME:-}" -v n="$1" \
        '!/^#/ && ($1 == s || $1 == "*") && $2 == n { $1 = $2 = ""; sub(/^ +/, ""); print; exit }' \
        "$KNOWN_FAULTS" 2>/dev/null)
    if [ -n "$known" ]; then
        echo "KNOWN $1: $2 (known fault: $known)" | tee -a "$RESULTS"
        return
    fi
    echo "FAIL $1: $2" | tee -a "$RESULTS"
    echo "$1" >>"$OUT/failed"
}

# The moment $1 seconds from now, and whether a moment has come.
deadline() { echo "$(now) $1" | awk '{ printf "%.3f", $1 + $2 }'; }
past() { [ "$(echo "$(now) $1" | awk '{ print ($1 > $2) }')" = 1 ]; }
# Polls a command until it succeeds; false after $1 seconds.
wait_for() {
    until_t=$(deadline "$1")
    shift
    while ! "$@" >/dev/null 2>&1; do
        past "$until_t" && return 1
        sleep 0.1
    done
}
# True while a command keeps succeeding for $1 seconds; else false at once.
holds_for() {
    until_t=$(deadline "$1")
    shift
    until past "$until_t"; do
        "$@" >/dev/null 2>&1 || return 1
        sleep 0.25
    done
}
not() { ! "$@"; }

finish() {
    cp /run/lab/*.log /run/lab/*.conf "$OUT/" 2>/dev/null
    if [ -s "$OUT/failed" ]; then echo 1 >"$OUT/status"; else echo 0 >"$OUT/status"; fi
    sync
    echo o >/proc/sysrq-trigger
    sleep 10
}

lab_setup() {
    cut -d' ' -f1 /proc/uptime >"$OUT/boot-seconds"
    mkdir -p "/lib/modules/$WW_LAB_KVER"
    mount --bind "$WW_LAB_MODULES" "/lib/modules/$WW_LAB_KVER"
    mkdir -p /run/dbus /run/lab /var/lib/iwd /etc/iwd
    hostname lab
    ip link set lo up
    ip link set eth0 up
    iw reg set US
    ap_phy=$(basename "$(readlink /sys/class/net/wlan0/phy80211)")
    ip netns add ap
    iw phy "$ap_phy" set netns name ap
    ip -n ap link set lo up
    dbus-daemon --system --fork
    # Every disconnect and connect, with its time.
    iw event -t >/run/lab/iw-events.log 2>&1 &
}

# The access point, one configuration at a time: wpa2 (2.4 GHz HT20), sae
# (WPA3), open (802.11g), vht80 (5 GHz, 80 MHz).
AP_KIND=""
ap_start() {
    ap_stop
    AP_KIND=$1
    conf=/run/lab/hostapd-$1.conf
    {
        printf '%s\n' interface=wlan0 driver=nl80211 "ssid=$(ssid_of "$1")" \
            ctrl_interface=/run/lab/hostapd country_code=US
        case $1 in
        wpa2) printf '%s\n' hw_mode=g channel=6 ieee80211n=1 wpa=2 wpa_key_mgmt=WPA-PSK \
            rsn_pairwise=CCMP "wpa_passphrase=$PSK" ;;
        sae) printf '%s\n' hw_mode=g channel=1 ieee80211n=1 wpa=2 wpa_key_mgmt=SAE \
            ieee80211w=2 rsn_pairwise=CCMP "sae_password=$PSK" ;;
        open) printf '%s\n' hw_mode=g channel=11 ieee80211n=0 ;;
        vht80) printf '%s\n' hw_mode=a channel=36 ieee80211n=1 ieee80211ac=1 ieee80211d=1 \
            'ht_capab=[HT40+]' vht_oper_chwidth=1 vht_oper_centr_freq_seg0_idx=42 \
            wpa=2 wpa_key_mgmt=WPA-PSK rsn_pairwise=CCMP "wpa_passphrase=$PSK" ;;
        esac
    } >"$conf"
    ip netns exec ap hostapd -B -P /run/lab/hostapd.pid -f /run/lab/hostapd.log "$conf" ||
        { say "hostapd failed: $(tail -n 3 /run/lab/hostapd.log)"; return 1; }
    ip -n ap addr replace 192.168.77.1/24 dev wlan0
}
ap_stop() {
    [ -f /run/lab/hostapd.pid ] || return 0
    kill "$(cat /run/lab/hostapd.pid)" 2>/dev/null
    while [ -f /run/lab/hostapd.pid ] && kill -0 "$(cat /run/lab/hostapd.pid)" 2>/dev/null; do
        sleep 0.1
    done
    rm -f /run/lab/hostapd.pid
}
ssid_of() { echo "ww-$1"; }
ap_bssid() { ip netns exec ap cat /sys/class/net/wlan0/address; }

# What the real station is doing.
associated() { iw dev "$STA" link 2>/dev/null | grep -q '^Connected to'; }
sta_phy() { basename "$(readlink "/sys/class/net/$STA/phy80211")"; }
rfkill_soft() { cat "/sys/class/ieee80211/$(sta_phy)/"rfkill*/soft; }

# The station stacks. Each joins the wpa2 network (the kernel stack knows all).
STACK=""
stack_start() {
    STACK=$1
    case $1 in
    kernel)
        {
            printf '%s\n' ctrl_interface=/run/wpa_supplicant country=US
            for kind in wpa2 vht80 sae open; do
                printf '%s\n' "network={" "ssid=\"$(ssid_of $kind)\""
                case $kind in
                sae) printf '%s\n' key_mgmt=SAE ieee80211w=2 "sae_password=\"$PSK\"" ;;
                open) echo key_mgmt=NONE ;;
                *) printf '%s\n' key_mgmt=WPA-PSK "psk=\"$PSK\"" ;;
                esac
                echo "}"
            done
        } >/run/lab/wpa_supplicant.conf
        wpa_supplicant -B -u -i "$STA" -D nl80211 -c /run/lab/wpa_supplicant.conf \
            -P /run/lab/wpa_supplicant.pid -f /run/lab/wpa_supplicant.log
        ip addr add "$STA_ADDR" dev "$STA"
        ;;
    nm)
        /lib/systemd/systemd-udevd --daemon
        # Only what NetworkManager asks udev about: a full trigger takes minutes of TCG.
        udevadm trigger --action=add --subsystem-match=net --subsystem-match=ieee80211 \
            --subsystem-match=rfkill
        udevadm settle -t 60
        mkdir -p /etc/NetworkManager/conf.d /var/lib/NetworkManager
        rm -f /etc/NetworkManager/system-connections/* 2>/dev/null
        # root-only: an unprivileged agent is refused, as over SSH.
        printf '%s\n' "[main]" "auth-polkit=root-only" "no-auto-default=*" \
            "[keyfile]" "unmanaged-devices=interface-name:eth0" \
            >/etc/NetworkManager/conf.d/lab.conf
        NetworkManager --no-daemon >/run/lab/nm.log 2>&1 &
        wait_for 120 nmcli -t general status || say "NetworkManager did not answer"
        wait_for 180 sh -c "nmcli -t -f DEVICE,STATE device | grep -q '^$STA:disconnected'" ||
            say "NetworkManager does not manage $STA: $(nmcli -t device)"
        nmcli con add type wifi ifname "$STA" con-name "$NM_CON" ssid "$(ssid_of wpa2)" \
            wifi-sec.key-mgmt wpa-psk wifi-sec.psk "$PSK" \
            ipv4.method manual ipv4.addresses "$STA_ADDR" ipv6.method disabled >/dev/null
        nmcli con up "$NM_CON" >/dev/null 2>&1 &
        ;;
    iwd)
        printf '%s\n' "[General]" "EnableNetworkConfiguration=false" "UseDefaultInterface=true" \
            "[DriverQuirks]" "DefaultInterface=*" >/etc/iwd/main.conf
        printf '%s\n' "[Security]" "Passphrase=$PSK" >"/var/lib/iwd/$(ssid_of wpa2).psk"
        /usr/libexec/iwd >/run/lab/iwd.log 2>&1 &
        wait_for 30 sh -c "iwctl station list 2>/dev/null | grep -q $STA" ||
            say "iwd has no station $STA: $(iwctl station list 2>&1 | tail -n 3)"
        iwctl station "$STA" scan >/dev/null 2>&1
        wait_for 20 sh -c "iwctl station $STA get-networks 2>/dev/null | grep -qF '$(ssid_of wpa2)'"
        iwctl station "$STA" connect "$(ssid_of wpa2)" >/dev/null 2>&1
        ip addr add "$STA_ADDR" dev "$STA"
        ;;
    esac
}

# Joins again by hand after a scenario left the station off its network.
stack_rejoin() {
    associated && return 0
    # A scenario that failed may have left the radio off.
    if radio_off; then
        case $STACK in
        kernel) rfkill unblock "$(cat "/sys/class/ieee80211/$(sta_phy)/"rfkill*/index)" ;;
        nm) nmcli radio wifi on ;;
        iwd) busctl set-property net.connman.iwd "$(iwd_device)" net.connman.iwd.Device Powered b true ;;
        esac
        ip link set "$STA" up 2>/dev/null
        wait_for 10 radio_on
    fi
    case $STACK in
    kernel) wpa_cli -i "$STA" -p /run/wpa_supplicant reconnect >/dev/null ;;
    nm) nmcli con up "$NM_CON" >/dev/null 2>&1 & ;;
    iwd) iwctl station "$STA" connect "$(ssid_of "${AP_KIND:-wpa2}")" >/dev/null 2>&1 & ;;
    esac
    wait_for 40 associated
}

# Whether the radio is off as the stack sees it.
radio_off() {
    case $STACK in
    kernel) [ "$(rfkill_soft)" = 1 ] ;;
    nm) [ "$(nmcli -t radio wifi)" = disabled ] ;;
    iwd) busctl get-property net.connman.iwd "$(iwd_device)" net.connman.iwd.Device Powered |
        grep -q false ;;
    esac
}
radio_on() { not radio_off; }
iwd_device() {
    busctl call net.connman.iwd / org.freedesktop.DBus.ObjectManager GetManagedObjects --json=short |
        jq -r '.data[0] | to_entries[] | select(.value["net.connman.iwd.Device"].Name.data == "'"$STA"'") | .key'
}

# Whether the station's link counts as connected the way the agent counts it:
# associated, its link up (operstate) and its address on it.
wifi_counts() {
    associated && [ "$(cat "/sys/class/net/$STA/operstate")" = up ] &&
        ip -4 -o addr show dev "$STA" | grep -q "inet ${STA_ADDR%/*}/"
}

wired_up() { ip addr add "$WIRED_ADDR" dev eth0; }
wired_down() { ip addr del "$WIRED_ADDR" dev eth0 2>/dev/null || true; }

# One agent at a time, in its own folder: $AGENT. `agent_prepare RULE [USER]`.
AGENT=""
AGENT_N=0
agent_prepare() {
    AGENT_N=$((AGENT_N + 1))
    AGENT=/run/lab/agent-$AGENT_N
    mkdir -p "$AGENT/data" "$AGENT/logs"
    cat >"$AGENT/prefs.plist" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>selectedInterfaceOption</key><string>$1</string>
<key>enableWireless</key><string>1</string>
</dict></plist>
EOF
    AGENT_USER=${2:-root}
    chown -R "$AGENT_USER" "$AGENT"
    chmod 600 "$AGENT/prefs.plist"
}
# Runs the agent with the prepared folder; extra arguments follow.
agent_run() { (agent_exec "$@"); }
# The same in place of the calling (sub)shell.
agent_exec() {
    exec env HOME="$AGENT" XDG_DATA_HOME="$AGENT/data" XDG_CONFIG_HOME="$AGENT" \
        WIREWATCH_REACHABILITY_HOST="${REACH_HOST-$GATEWAY}" \
        setpriv --reuid="$AGENT_USER" --regid="$(id -g "$AGENT_USER")" --clear-groups \
        "$WW" --wifi "${WIFI:-auto}" --prefs "$AGENT/prefs.plist" --logs-dir "$AGENT/logs" "$@"
}
# The agent in the background, as the process $AGENT_PID itself: a function
# run with & is a subshell, and a TERM to that subshell would leave the agent
# running (and acting on every later scenario's wired address).
agent_start() {
    agent_exec --headless >"$AGENT/stdout" 2>"$AGENT/stderr" &
    AGENT_PID=$!
}
agent_stop() {
    kill -TERM "$AGENT_PID" 2>/dev/null
    wait "$AGENT_PID" 2>/dev/null
    cp -r "$AGENT" "$OUT/" 2>/dev/null
}
agent_log() { cat "$AGENT/stderr"; }
# Lines of the agent's log that contain $1.
agent_lines() { agent_log | grep -cF "$1"; }
# Waits for the next check to start (its first line), up to $1 seconds.
CHECK_LINE="AppDelegate: "
agent_next_check() {
    before=$(agent_lines "$CHECK_LINE")
    wait_for "$1" sh -c "[ \$(grep -cF '$CHECK_LINE' '$AGENT/stderr') -gt $before ]"
}
audit_ended_by() {
    cat "$AGENT"/logs/exposure-audit.jsonl 2>/dev/null |
        jq -r '.intervals[].ended_by' 2>/dev/null | grep -cF "$1"
}
# The time of the first disconnect of the station after $1 (iw event -t).
disconnect_after() {
    awk -v t="$1" -v sta="$STA" '$2 == sta && /disconnected/ { s = $1; sub(":", "", s); if (s + 0 > t + 0) { print s; exit } }' \
        /run/lab/iw-events.log
}

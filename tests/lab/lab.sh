#!/bin/sh
# Boots Debian's own kernel under QEMU with two simulated radios (mac80211_hwsim)
# over this machine's root file system, and runs one script inside it.
#
#   lab.sh BUILD_DIR GUEST_SCRIPT [ARG...]
#
# The kernel package is fetched with apt-get download and unpacked into
# BUILD_DIR/lab (never installed). The guest sees the host's root read-only
# under a tmpfs overlay, so the build tree and the host's daemons run unchanged;
# BUILD_DIR/lab/out-NAME is shared writable at /lab-out, where the guest script
# leaves its results (results.txt, status). Exits with the guest script's
# status, 77 when the lab cannot be had here (no QEMU, no kernel package, not
# root), 1 when the guest did not finish.
set -eu

SKIP=77
[ $# -ge 2 ] || { echo "usage: lab.sh BUILD_DIR GUEST_SCRIPT [ARG...]" >&2; exit 2; }
build=$(realpath "$1")
guest=$(realpath "$2")
shift 2
lab="$build/lab"
name=$(basename "$guest" .sh)${1:+-$1}
out="$lab/out-$name"

skip() { echo "lab: SKIP: $*"; exit $SKIP; }

[ "$(id -u)" -eq 0 ] || skip "needs root (the 9p share of / must read every file)"
command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64 (package qemu-system-x86)"
[ -x /bin/busybox ] || skip "no /bin/busybox (package busybox-static)"
command -v modprobe >/dev/null && command -v depmod >/dev/null || skip "no modprobe/depmod (package kmod)"
command -v cpio >/dev/null || skip "no cpio"
for tool in hostapd wpa_supplicant iw; do
    command -v $tool >/dev/null || skip "no $tool (packages hostapd wpasupplicant iw)"
done
mkdir -p "$lab"

# The kernel: the versioned package linux-image-amd64 depends on, unpacked once.
kpkg=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)/\1/p' | head -n1)
[ -n "$kpkg" ] || skip "apt-cache knows no linux-image-amd64 (run apt-get update)"
kver=${kpkg#linux-image-}
kdir="$lab/kernel-$kver"
if [ ! -f "$kdir/.unpacked" ]; then
    rm -rf "$kdir" && mkdir -p "$kdir"
    (cd "$lab" && rm -f "$kpkg"_*.deb && apt-get download "$kpkg" >/dev/null 2>"$lab/apt.log") ||
        skip "apt-get download $kpkg failed: $(tail -n1 "$lab/apt.log")"
    dpkg-deb -x "$lab/$kpkg"_*.deb "$kdir"
    depmod -b "$kdir" "$kver"
    rm -f "$lab/$kpkg"_*.deb
    touch "$kdir/.unpacked"
fi
vmlinuz="$kdir/boot/vmlinuz-$kver"
[ -f "$vmlinuz" ] || skip "no vmlinuz in $kpkg"

# The initramfs: busybox, the modules to reach the root over 9p, the radios, and
# the crypto that mac80211 (CCMP, BIP) and iwd (AF_ALG, keys) ask for at run time.
initrd="$lab/initrd-$kver.gz"
init_src=$(dirname "$(realpath "$0")")/init.sh
if [ ! -f "$initrd" ] || [ "$init_src" -nt "$initrd" ] || [ "$0" -nt "$initrd" ]; then
    stage=$(mktemp -d "$lab/initrd.XXXXXX")
    mkdir -p "$stage/bin" "$stage/m" "$stage/proc" "$stage/sys" "$stage/dev" "$stage/newroot"
    cp /bin/busybox "$stage/bin/busybox"
    # The regulatory database, for a country's 5 GHz channels.
    mkdir -p "$stage/lib/firmware"
    cp /lib/firmware/regulatory.db /lib/firmware/regulatory.db.p7s "$stage/lib/firmware/" 2>/dev/null || true
    cp "$init_src" "$stage/init"
    chmod 755 "$stage/init"
    : >"$stage/modules"
    for mod in virtio_pci virtio_net 9pnet_virtio 9p overlay mac80211_hwsim \
        ccm gcm ctr cmac gf128mul ghash_generic aes_generic \
        af_alg algif_hash algif_skcipher algif_aead md4 md5 sha1_generic sha256_generic \
        sha512_generic hmac cbc ecb des_generic des3_ede_x86_64 \
        pkcs8_key_parser asymmetric_keys x509_key_parser; do
        modprobe -d "$kdir" -S "$kver" --show-depends "$mod" 2>/dev/null |
            while read -r kind path params; do
                [ "$kind" = insmod ] || continue
                base=$(basename "$path")
                grep -q "^$base" "$stage/modules" && continue
                cp "$path" "$stage/m/$base"
                case "$base" in mac80211_hwsim.ko*) params="radios=2" ;; esac
                echo "$base $params" >>"$stage/modules"
            done
    done
    (cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.new"
    mv "$initrd.new" "$initrd"
    rm -rf "$stage"
fi

# The guest's command, run as the new root's first process.
rm -rf "$out" && mkdir -p "$out"
{
    echo "#!/bin/sh"
    echo "export WW_LAB_KVER='$kver' WW_LAB_MODULES='$kdir/lib/modules/$kver' WW_LAB_BUILD='$build'"
    printf 'exec /bin/sh %s' "$guest"
    for a in "$@"; do printf " '%s'" "$a"; done
    echo
} >"$out/run"

# no_timer_check: a loaded host makes TCG too slow for the timer probe.
# KVM hangs on some hosts after the boot loader: only a guest that reached its
# shell within a minute proves it works. WW_LAB_ACCEL forces one.
accel=${WW_LAB_ACCEL:-tcg}
started=$(date +%s)
echo "lab: booting $kver ($accel) for $name; results in $out"
set +e
timeout --foreground "${WW_LAB_TIMEOUT:-1200}" qemu-system-x86_64 \
    -accel "$accel" -m "${WW_LAB_MEMORY:-1536}" -smp 1 -nographic -no-reboot \
    -kernel "$vmlinuz" -initrd "$initrd" \
    -append "console=ttyS0 quiet panic=-1 loglevel=4 no_timer_check" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$out",mount_tag=labout,security_model=none \
    -nic user,restrict=on,model=virtio-net-pci \
    </dev/null >"$out/console.log" 2>&1
qemu_status=$?
set -e
echo "lab: the guest ran $(($(date +%s) - started)) s (qemu status $qemu_status)"
[ -f "$out/boot-seconds" ] && echo "lab: shell reached after $(cat "$out/boot-seconds") s of guest uptime"
[ -f "$out/results.txt" ] && cat "$out/results.txt"
if [ ! -f "$out/status" ]; then
    echo "lab: the guest did not finish; its console's end:"
    tail -n 40 "$out/console.log"
    exit 1
fi
exit "$(cat "$out/status")"

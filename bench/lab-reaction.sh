#!/bin/sh
# How fast the agent cuts Wi-Fi on a real stack: in the Wi-Fi lab (QEMU, Debian's
# kernel, simulated radios), the time from a wired address being added to the
# station's disconnect (rule 0, `iw event -t`) and to the radio going off
# (rule 1: the rfkill block, or the disconnect where the stack switches off
# without one), median and p95 over TRIALS, beside the simulated Wi-Fi in the
# same boot (its device's address or link going, `ip -ts monitor`).
#
#   bench/lab-reaction.sh BUILD_DIR [STACK...]     (stacks: kernel nm iwd)
#
# Not a test: figures depend on the host and on TCG. WW_LAB_TRIALS (default 10).
set -eu
here=$(dirname "$(realpath "$0")")
build=$1
shift
[ $# -gt 0 ] || set -- kernel nm iwd
for stack in "$@"; do
    "$here/../tests/lab/lab.sh" "$build" "$here/lab-reaction-guest.sh" "$stack" || true
done

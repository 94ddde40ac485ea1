#!/bin/sh
# Installs every Debian package Wirewatch needs to build, test and benchmark.
# Idempotent: packages already present are left alone and apt-get update runs
# at most once per call.
set -eu

PACKAGES="
  build-essential cmake ninja-build pkg-config
  g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev
  libplist-dev
  attr iproute2 util-linux procps
  libsystemd-dev libnl-3-dev libnl-genl-3-dev dbus python3-dbusmock libglib2.0-bin
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins libgl-dev libxcb1-dev fonts-dejavu-core
  xvfb xauth trayer x11-utils x11-xserver-utils xdotool imagemagick
  haskell-status-notifier-item-utils haskell-gtk-sni-tray-utils
  nlohmann-json3-dev libsodium-dev
  dpkg-dev lintian desktop-file-utils systemd man-db
  linux-perf heaptrack valgrind cloc
  qemu-system-x86 busybox-static kmod cpio hostapd wpasupplicant iwd network-manager iw udev rfkill
  wireless-regdb jq
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    echo "setup: installing$missing"
    $SUDO apt-get update
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
else
    echo "setup: all packages present"
fi

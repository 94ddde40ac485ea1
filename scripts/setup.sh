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

#!/bin/busybox sh
# The lab guest's first process: loads the modules, mounts the host's root
# read-only over 9p under a tmpfs overlay, shares the results folder, and
# hands over to the command the host left there (/lab-out/run).
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
while read -r ko params; do
    # shellcheck disable=SC2086
    insmod "/m/$ko" $params 2>/dev/null || echo "init: insmod $ko failed"
done </modules

mkdir -p /lower /upper
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /lower ||
    { echo "init: cannot mount the host root"; poweroff -f; }
mount -t tmpfs -o size=512m tmpfs /upper
mkdir -p /upper/u /upper/w
mount -t overlay overlay -o lowerdir=/lower,upperdir=/upper/u,workdir=/upper/w /newroot ||
    { echo "init: overlay failed"; poweroff -f; }
mkdir -p /newroot/lab-out
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 labout /newroot/lab-out
mount -t tmpfs -o mode=755 tmpfs /newroot/run
mkdir -p /newroot/run/lock /newroot/dev
mount --move /proc /newroot/proc
mount --move /sys /newroot/sys
mount --move /dev /newroot/dev
mkdir -p /newroot/dev/pts /newroot/dev/shm
mount -t devpts devpts /newroot/dev/pts
mount -t tmpfs tmpfs /newroot/dev/shm
# Modules the kernel asks for later come from the unpacked package.
exec switch_root /newroot /bin/sh /lab-out/run

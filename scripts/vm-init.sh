#!/bin/busybox sh
# The init of scripts/vm.sh's guest: loads the drive and 9p modules, mounts
# the host's root read-only at /host, runs the command named by spindle.run=
# chrooted there, prints its status and powers off.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
while read -r m; do
  insmod "/modules/$m.ko" || echo "spindle-vm: cannot load $m"
done </modules/order

status=125
run=$(sed -n 's/.* spindle\.run=\([^ ]*\).*/\1/p' /proc/cmdline)
if mount -t 9p -o trans=virtio,version=9p2000.L,ro host /host; then
  mount -t proc proc /host/proc
  mount -t sysfs sys /host/sys
  mount -t devtmpfs dev /host/dev
  mkdir -p /host/dev/shm /host/dev/pts
  mount -t tmpfs -o mode=1777 shm /host/dev/shm
  mount -t devpts devpts /host/dev/pts
  ln -s /proc/self/fd /host/dev/fd
  ln -s /proc/self/fd/0 /host/dev/stdin
  ln -s /proc/self/fd/1 /host/dev/stdout
  ln -s /proc/self/fd/2 /host/dev/stderr
  echo "spindle-vm: running $run on $(uname -r)"
  chroot /host /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin \
    HOME=/dev/shm TMPDIR=/dev/shm "$run"
  status=$?
else
  echo "spindle-vm: cannot mount the host's root"
fi
echo "spindle-vm: exit $status"
sync
poweroff -f

#!/bin/busybox sh
# The guest's first process: mounts this machine's root read-only under a
# RAM overlay, plus the run's output folder, and hands over to the guest
# init named on the kernel's command line.
/bin/busybox --install -s
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
for m in $(cat /modules.order); do insmod "/lib/modules/$m" || echo "initramfs: insmod $m failed"; done
GUEST_INIT=$(sed -n 's/.*\bguest.init=\([^ ]*\).*/\1/p' /proc/cmdline)
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose hostroot /lower || { echo "initramfs: 9p mount failed"; poweroff -f; }
mount -t tmpfs -o size=512m,mode=755 rw /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work /newroot || { echo "initramfs: overlay mount failed"; poweroff -f; }
mkdir -p /newroot/guest-out
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 out /newroot/guest-out || echo "initramfs: no output folder"
for d in proc sys dev; do mount --move /$d /newroot/$d; done
mount -t tmpfs -o mode=755 run /newroot/run
mount -t tmpfs -o mode=1777 tmp /newroot/tmp
exec switch_root /newroot "$GUEST_INIT"

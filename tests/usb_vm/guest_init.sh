#!/bin/sh
# The guest's init: a virtual USB bus (dummy_hcd at high speed, 512-byte
# bulk packets) with configfs for gadgets; then the command, whose status
# goes to the host. The console (the host's console.log) gets one GUEST line
# per stage.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
W=$1 O=/guest-out L=/run/usbvm-logs
mkdir -p $L
. "$W/config"
. "$(dirname "$0")/../guest_vm/guest_common.sh"
ip link set lo up 2>/dev/null || busybox ip link set lo up
stage boot OK "$(uname -r)"
{ modprobe dummy_hcd is_high_speed=1 is_super_speed=0 && modprobe -a libcomposite usb_f_fs \
  && mount -t configfs none /sys/kernel/config; } 2>$L/modprobe.log || { stage modules FAIL "$(cat $L/modprobe.log)"; finish 125; }
stage bus OK "device controller $(ls /sys/class/udc | tr '\n' ' ')"

run_command USBVM_OUT

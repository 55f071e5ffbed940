#!/bin/sh
# The guest's init: kernel modules, the system bus, two linked virtual LE
# controllers and bluetoothd; then the command, whose status goes to the
# host. The console (the host's console.log) gets one GUEST line per stage.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
W=$1 O=/guest-out L=/run/btvm-logs
mkdir -p $L /run/dbus
. "$W/config"
. "$(dirname "$0")/../guest_vm/guest_common.sh"
waitfor() {  # seconds command...: a deadline on the guest's clock
  end=$(awk -v t="$1" '{print $1+t}' /proc/uptime); shift
  until "$@"; do awk -v e="$end" '{exit !($1>=e)}' /proc/uptime && return 1; sleep 0.1; done
}
ip link set lo up 2>/dev/null || busybox ip link set lo up
stage boot OK "$(uname -r)"
modprobe -a hci_vhci uhid evdev hid-generic cmac 2>$L/modprobe.log || { stage modules FAIL "$(cat $L/modprobe.log)"; finish 125; }
dbus-daemon --system --fork 2>$L/dbus.log || { stage dbus FAIL "$(cat $L/dbus.log)"; finish 125; }

# The kernel gives a controller 2 s to answer its reset; a starved guest can
# miss that ("Opcode 0x0c03 failed: -110") and the controller never comes
# up, so that is checked for and btvirt started again.
both_up() { [ "$(timeout 5 btmgmt info 2>/dev/null | grep -cE '^hci[01]:')" = 2 ]; }
timeouts() { dmesg | grep -cE 'hci[01]: Opcode 0x[0-9a-f]+ failed: -110'; }
failed_now() { [ "$(timeouts)" -gt "$BEFORE" ]; }
up_or_failed() { failed_now || both_up; }
try=1
while :; do
  BEFORE=$(timeouts)
  btvirt -L -l2 > $L/btvirt.log 2>&1 &
  BTVIRT=$!
  if waitfor 10 test -e /sys/class/bluetooth/hci1 && waitfor 10 up_or_failed && ! failed_now; then break; fi
  kill $BTVIRT; wait $BTVIRT 2>/dev/null; waitfor 5 test ! -e /sys/class/bluetooth/hci0
  try=$((try+1)); [ $try -gt 3 ] && { stage btvirt FAIL "$(dmesg | grep -E 'hci[01]:' | tail -3)"; finish 125; }
done
stage btvirt OK "hci0 and hci1 (try $try)"

# bluetoothd 5.66's own HID host drops ATT "multiple handle value"
# notifications, which its GATT server sends when a race allows (mended in
# 5.67); the shim splits them into single ones.
cat > $L/main.conf <<EOC
[General]
JustWorksRepairing = always
[Policy]
AutoEnable = true
EOC
LD_PRELOAD=$SHIM /usr/libexec/bluetooth/bluetoothd -n -d -f $L/main.conf > $L/bluetoothd.log 2>&1 &
powered() {
  dbus-send --system --print-reply --dest=org.bluez /org/bluez/$1 org.freedesktop.DBus.Properties.Get \
    string:org.bluez.Adapter1 string:Powered 2>/dev/null | grep -q 'boolean true'
}
waitfor 30 powered hci0 && waitfor 10 powered hci1 || { stage bluetoothd FAIL "$(tail -5 $L/bluetoothd.log)"; finish 125; }
stage bluetoothd OK "both adapters powered"

run_command BTVM_OUT

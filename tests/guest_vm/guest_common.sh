# What both guests' inits share, sourced with W (the run's folder), O (the
# folder that comes back to the host) and L (the guest's own logs) set: a
# GUEST line per stage on the console, the command run with its output
# folder named in OUT_VARIABLE, and the end.
stage() { printf 'GUEST %-11s %-4s t=%6ss  %s\n' "$1" "$2" "$(cut -d' ' -f1 /proc/uptime)" "${3:-}"; }
finish() {
  # Status and logs first, then off at once: tearing down a stack's sockets
  # after a dropped link has crashed this kernel before.
  echo "$1" > $O/rc
  cp $L/*.log $O/ 2>/dev/null; dmesg > $O/dmesg.log; sync
  busybox poweroff -f
}
run_command() {  # OUT_VARIABLE
  eval "$1=$O $COMMAND" > $L/command.log 2>&1
  rc=$?
  grep '^STEP' $L/command.log
  stage command "$([ $rc = 0 ] && echo OK || echo FAIL)" "status $rc"
  finish $rc
}

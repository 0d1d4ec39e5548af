#!/bin/sh
# One whole demo run (--auto --fast) on a private system bus served by dbusmock's
# login manager: the demo must take exactly one "block" inhibitor with "sleep" in
# what it inhibits, and the inhibitor must be gone once the run is over.
#
#   sleep_inhibitor.sh DEMO
#
# Exits 77 (skipped) when dbus-daemon or python3-dbusmock is missing.
set -u
demo=$1
python=/usr/bin/python3
command -v dbus-daemon >/dev/null && command -v dbus-monitor >/dev/null || {
  echo "skipped: dbus-daemon / dbus-monitor not installed"; exit 77; }
"$python" -c 'import dbusmock' 2>/dev/null || { echo "skipped: python3-dbusmock not installed"; exit 77; }

bus_name=inhibit
. "$(dirname "$0")/private_bus.sh"
export DBUS_SYSTEM_BUS_ADDRESS="$address"
# No desktop notification server on this bus (and none of the machine's).
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"

DBUS_SESSION_BUS_ADDRESS="$address" "$python" -m dbusmock --system --template logind \
  -l "$work/logind.log" >/dev/null 2>&1 &
pids="$pids $!"
i=0
until dbus-send --bus="$address" --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.login1 2>/dev/null |
      grep -q "boolean true"; do
  i=$((i + 1))
  [ $i -lt 150 ] || { echo "FAIL: the mock login manager did not start"; exit 1; }
  sleep 0.1
done
# Every Inhibit call on the bus, as the bus saw it (not as the tool says).
dbus-monitor --address "$address" \
  "type='method_call',interface='org.freedesktop.login1.Manager',member='Inhibit'" \
  >"$work/monitor" 2>/dev/null &
pids="$pids $!"
sleep 0.5

"$demo" --auto --fast >"$work/stdout" 2>"$work/stderr"
status=$?
sleep 0.5
failed=0
if [ "$status" -ne 0 ]; then
  echo "FAIL: the demo exited with $status, expected 0"; tail -n 20 "$work/stderr"; failed=1
fi
calls=$(grep -c "member=Inhibit" "$work/monitor")
if [ "$calls" -ne 1 ]; then
  echo "FAIL: $calls Inhibit calls on the bus, expected 1"; failed=1
fi
# The first string argument of the call is what it inhibits.
what=$(grep -A1 "member=Inhibit" "$work/monitor" | sed -n 's/^ *string "\(.*\)"$/\1/p' | head -n 1)
case $what in
  *sleep*) ;;
  *) echo "FAIL: the Inhibit call inhibits \"$what\", not sleep"; failed=1 ;;
esac
if ! grep -qx "sleep allowed again" "$work/stdout"; then
  echo "FAIL: the tool did not give the inhibitor back before the end"; failed=1
fi
left=$(dbus-send --bus="$address" --print-reply --dest=org.freedesktop.login1 \
         /org/freedesktop/login1 org.freedesktop.login1.Manager.ListInhibitors |
       grep -c "string \"sleep")
if [ "$left" -ne 0 ]; then
  echo "FAIL: $left inhibitors still held after the run"; failed=1
fi
[ "$failed" -eq 0 ] && echo "ok: one Inhibit(\"$what\", ...), released"
exit "$failed"

# Sourced by the demo's D-Bus tests: a work folder and a bus daemon of their
# own, both gone when the test exits. Sets $work, $address and $pids (add the
# pids of further helpers to it); the caller decides which bus it stands for.
#
#   bus_name=NAME; . private_bus.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-${bus_name:?}.XXXXXX") || exit 1
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

dbus-daemon --session --nofork --nopidfile --print-address=1 >"$work/address" &
pids="$pids $!"
i=0
while [ ! -s "$work/address" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
address=$(head -n 1 "$work/address")
[ -n "$address" ] || { echo "FAIL: dbus-daemon gave no address"; exit 1; }

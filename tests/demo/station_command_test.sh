#!/bin/sh
# `station` on a simulated hub: controllers plugged in one after another are
# each updated as they arrive, a CSV line each is appended to the report, and
# Ctrl-C (SIGINT) once all are done ends it with status 130.
#
#   station_command_test.sh DEMO
set -u
demo=$1
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-station.XXXXXX") || exit 1
pid=""
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
failed=0
fail() { echo "station_command_test: $*" >&2; failed=1; }

"$demo" station --report "$dir/report.csv" --json --fast --controllers 3 --plug-interval 0.5 \
  --device-fault 3:unplug-in-data >"$dir/out" 2>"$dir/err" &
pid=$!
# A record per controller (each begins with its time; a reason may span
# lines), within two minutes.
tries=0
until [ "$(grep -c '^20[0-9][0-9]-' "$dir/report.csv" 2>/dev/null)" = 3 ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 1200 ] || ! kill -0 "$pid" 2>/dev/null; then
    fail "the report did not get a line per controller"
    break
  fi
  sleep 0.1
done
kill -INT "$pid"
wait "$pid"
status=$?
pid=""
[ "$status" -eq 130 ] || fail "station ended with $status after Ctrl-C, expected 130"
python3 - "$dir/report.csv" <<'PY' || fail "the report is not as expected"
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
by_port = {r["port"]: r for r in rows}
assert sorted(by_port) == ["1-1.1", "1-1.2", "1-1.3"], by_port
for port in ("1-1.1", "1-1.2"):
    r = by_port[port]
    assert (r["model"], r["from"], r["to"], r["result"]) == ("T", "1.1", "1.3", "verified"), r
    assert float(r["seconds"]) > 0, r
bad = by_port["1-1.3"]
assert (bad["result"], bad["failed_step"]) == ("failed", "transfer"), bad
assert bad["reason"], bad
PY
[ "$(grep -c '"event":"result"' "$dir/out")" -eq 3 ] || fail "not a JSON result per controller"
[ "$failed" -eq 0 ] || { cat "$dir/report.csv" "$dir/err" >&2; }
exit "$failed"

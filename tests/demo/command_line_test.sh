#!/bin/sh
# The tool's command line on the simulated world, through the demo program:
# a script reads the exit status and the last line of standard output.
#
#   command_line_test.sh DEMO
set -u
demo=$1
out=$(mktemp "${TMPDIR:-/tmp}/tarvo-demo-cli.XXXXXX") || exit 1
trap 'rm -f "$out"' EXIT
failed=0

# expect STATUS PYTHON-CONDITION-ON-o demo arguments...: the run ends with
# STATUS and its last line is a JSON object `o` for which the condition holds.
expect() {
  status=$1 condition=$2
  shift 2
  "$demo" "$@" >"$out"
  got=$?
  echo "---- $* -> $got"
  tail -n 3 "$out"
  if [ "$got" -ne "$status" ]; then
    echo "command_line_test: '$*' ended with $got, expected $status" >&2
    failed=1
  fi
  if ! tail -n 1 "$out" | python3 -c "import json,sys; o=json.loads(sys.stdin.read()); sys.exit(0 if ($condition) else 1)"; then
    echo "command_line_test: '$*': the last line is not the expected JSON object" >&2
    failed=1
  fi
}

expect 0 'o["event"] == "result" and o["to"] == "1.3" and o["verified"] is True and o["failed_step"] is None' \
  update --yes --json --fast
expect 1 'o["event"] == "result" and o["verified"] is False and o["failed_step"] == "verification"' \
  update --yes --json --fast --device-fault keep-old-version
expect 1 'o["event"] == "result" and o["failed_step"] == "download" and "404" in o["reason"]' \
  update --yes --json --fast --server-fault 404
expect 3 'o["controller"]["model"] == "X" and o["offered"] is False' \
  status --json --controller-model X
# Without a terminal and without --yes nothing is sent.
expect 1 'o["event"] == "result" and o["verified"] is False' update --json --fast

# expect_all STATUS PYTHON-CONDITION-ON-r demo arguments...: the run ends with
# STATUS, and `r`, its result lines (one per controller), meet the condition.
expect_all() {
  status=$1 condition=$2
  shift 2
  "$demo" "$@" >"$out"
  got=$?
  echo "---- $* -> $got"
  grep '"event":"result"' "$out"
  if [ "$got" -ne "$status" ]; then
    echo "command_line_test: '$*' ended with $got, expected $status" >&2
    failed=1
  fi
  if ! grep '"event":"result"' "$out" | python3 -c "import json,sys; r=[json.loads(l) for l in sys.stdin]; sys.exit(0 if ($condition) else 1)"; then
    echo "command_line_test: '$*': the results are not as expected" >&2
    failed=1
  fi
}

# Every controller of a hub, each on its own port; one losing its cable
# fails alone.
expect_all 0 'len(r) == 4 and len({x["port"] for x in r}) == 4 and all(x["verified"] and x["to"] == "1.3" for x in r)' \
  update --all --controllers 4 --yes --json --fast
expect_all 1 'len(r) == 4 and [x["failed_step"] for x in r if not x["verified"]] == ["transfer"] and [x["port"] for x in r if not x["verified"]] == ["1-1.2"]' \
  update --all --controllers 4 --yes --json --fast --device-fault 2:unplug-in-data
# A hub that reports its controllers one after another, the last 2.1 s after
# the first: each one is waited for and updated.
expect_all 0 'len(r) == 8 and len({x["port"] for x in r}) == 8 and all(x["verified"] for x in r)' \
  update --all --controllers 8 --plug-interval 0.3 --yes --json --fast
# Two controllers and no --all: which one would be meant? Nothing is done.
"$demo" update --yes --fast --controllers 2 >"$out" 2>"$out.err"
got=$?
if [ "$got" -ne 3 ] || ! grep -qF "2 controllers are attached. Unplug all but one, or open the station view." "$out.err"; then
  echo "command_line_test: update with two controllers ended with $got:" >&2
  cat "$out.err" >&2
  failed=1
fi
rm -f "$out.err"
exit "$failed"

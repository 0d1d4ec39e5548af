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
exit "$failed"

#!/bin/sh
# Runs the demo program once and checks how it ended.
#
#   run_demo.sh DEMO EXPECTED_STATUS EXPECTED_STDOUT_LINE [--expect-png=FILE...]
#               [--reject-line=TEXT...] [--report-line=KEY=VALUE...] [demo options...]
#
# EXPECTED_STDOUT_LINE must appear as a whole line of the demo's standard output
# (the tool's own log); an empty value skips that check. Each --expect-png file
# must exist after the run and be a PNG picture. No whole line of standard output
# may equal a --reject-line TEXT. With --report-line the demo writes its --report
# (what the virtual controller holds), which must have each KEY=VALUE as a line.
# Standard error (the simulator's chatter) is
# passed through for the test log.
set -u
demo=$1 expected_status=$2 expected_line=$3
shift 3
pngs=""
out=$(mktemp "${TMPDIR:-/tmp}/tarvo-demo-out.XXXXXX") || exit 1
rejects=$(mktemp "${TMPDIR:-/tmp}/tarvo-demo-reject.XXXXXX") || exit 1
report=$(mktemp "${TMPDIR:-/tmp}/tarvo-demo-report.XXXXXX") || exit 1
report_lines=$(mktemp "${TMPDIR:-/tmp}/tarvo-demo-report-lines.XXXXXX") || exit 1
trap 'rm -f "$out" "$rejects" "$report" "$report_lines"' EXIT
while [ $# -gt 0 ]; do
  case $1 in
    --expect-png=*) pngs="$pngs ${1#--expect-png=}"; shift ;;
    --reject-line=*) printf '%s\n' "${1#--reject-line=}" >>"$rejects"; shift ;;
    --report-line=*) printf '%s\n' "${1#--report-line=}" >>"$report_lines"; shift ;;
    *) break ;;
  esac
done

if [ -s "$report_lines" ]; then
  "$demo" "$@" --report "$report" >"$out"
  status=$?
else
  "$demo" "$@" >"$out"
  status=$?
fi

failed=0
if [ "$status" -ne "$expected_status" ]; then
  echo "run_demo: exit status $status, expected $expected_status" >&2
  failed=1
fi
if [ -n "$expected_line" ] && ! grep -qxF -- "$expected_line" "$out"; then
  echo "run_demo: standard output has no line \"$expected_line\"" >&2
  failed=1
fi
while IFS= read -r rejected; do
  if grep -qxF -- "$rejected" "$out"; then
    echo "run_demo: standard output has the line \"$rejected\", which it must not" >&2
    failed=1
  fi
done <"$rejects"
while IFS= read -r wanted; do
  if ! grep -qxF -- "$wanted" "$report"; then
    echo "run_demo: the report has no line \"$wanted\"; it says:" >&2
    cat "$report" >&2
    failed=1
  fi
done <"$report_lines"
for png in $pngs; do
  # A PNG file starts with the bytes 89 50 4E 47 ("\211PNG").
  if [ ! -s "$png" ] || [ "$(head -c 4 "$png" | od -An -tx1 | tr -d ' \n')" != "89504e47" ]; then
    echo "run_demo: no PNG picture at $png" >&2
    failed=1
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "---- standard output of the demo ----" >&2
  cat "$out" >&2
  exit 1
fi
echo "run_demo: exit status $status as expected${expected_line:+, found \"$expected_line\"}"

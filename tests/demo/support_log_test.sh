#!/bin/sh
# One whole demo update with its own XDG_STATE_HOME: afterwards the support
# log is there, every line with a time stamp, the update's lines in it and the
# per-frame lines counted, while standard output still has every line, bare.
#
#   support_log_test.sh DEMO [demo options...]
set -u
demo=$1
shift
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-state.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
log="$dir/state/tarvo-remote-update/tarvo-remote-update.log"

XDG_STATE_HOME="$dir/state" "$demo" "$@" >"$dir/stdout"
status=$?

failed=0
fail() { echo "support_log_test: $*" >&2; failed=1; }
[ "$status" -eq 0 ] || fail "demo exit status $status, expected 0"
if [ ! -s "$log" ]; then
  fail "no support log at $log"
else
  stamp='^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9]\{3\} '
  unstamped=$(grep -vc "$stamp" "$log")
  [ "$unstamped" -eq 0 ] || fail "$unstamped lines of the log have no time stamp"
  for line in "hid connect" "erasing data..." "fw update successed" "update verified: 1.3"; do
    grep -q "${stamp}${line}\$" "$log" || fail "the log has no line \"$line\""
  done
  grep -q "frame writes, the last of them shown)\$" "$log" || fail "no frame summary in the log"
  frames_out=$(grep -c '^write spend: ' "$dir/stdout")
  frames_log=$(grep -c "${stamp}write spend: " "$log")
  [ "$frames_out" -ge 1000 ] || fail "standard output has only $frames_out frame lines"
  [ "$frames_log" -lt $((frames_out / 100 + 3)) ] ||
    fail "the log has $frames_log frame lines for $frames_out on standard output"
  # Standard output stays bare: no time stamps in it.
  ! grep -q "$stamp" "$dir/stdout" || fail "standard output carries time stamps"
fi
if [ "$failed" -ne 0 ]; then
  echo "---- support log ----" >&2
  head -n 40 "$log" >&2
  exit 1
fi
echo "support_log_test: $(wc -l <"$log") log lines for $(wc -l <"$dir/stdout") lines of standard output"

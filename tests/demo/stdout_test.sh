#!/bin/sh
# Runs one whole demo update with a standard output that goes away or is never
# read, as when the tool's log is piped into `head` or into a reader that hangs.
# The update must go through and the program end with status 0 either way: the
# log never stops or paces the work.
#
#   stdout_test.sh DEMO closed|unread [demo options...]
set -u
demo=$1 mode=$2
shift 2
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-stdout.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT

case $mode in
  closed)
    # The reader leaves after the first line.
    { "$demo" "$@"; echo $? >"$dir/status"; } | head -n 1 >/dev/null
    ;;
  unread)
    # The pipe stays open for writing but nobody drains it: it fills up.
    mkfifo "$dir/pipe"
    exec 3<>"$dir/pipe"
    "$demo" "$@" >"$dir/pipe"
    echo $? >"$dir/status"
    exec 3>&-
    ;;
  *)
    echo "stdout_test: unknown mode $mode" >&2
    exit 2
    ;;
esac

status=$(cat "$dir/status")
if [ "$status" -ne 0 ]; then
  echo "stdout_test: exit status $status with a standard output that is $mode, expected 0" >&2
  exit 1
fi
echo "stdout_test: exit status 0 with a standard output that is $mode"

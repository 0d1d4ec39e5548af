#!/bin/sh
# One tool per user session, with the real binary on the offscreen platform:
# a second start ends with status 0, says that the window was brought to the
# front and logs nothing, while the running tool logs the request; after the
# running tool is killed (its lock released, its socket file left behind) a
# new start runs and is the one a later start reaches.
#
#   single_instance_test.sh TOOL
set -u
tool=$1
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-instance.XXXXXX") || exit 1
pids=""
cleanup() {
  for pid in $pids; do kill -9 "$pid" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
mkdir -m 700 "$dir/run" "$dir/state" "$dir/home"

# A session of its own: runtime, state and home folders, no display, no D-Bus
# of the machine, and the firmware server asked through a proxy on loopback
# that refuses, so no name lookup or request leaves the machine.
unset DISPLAY WAYLAND_DISPLAY HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy NO_PROXY no_proxy
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$dir/run" XDG_STATE_HOME="$dir/state" \
  HOME="$dir/home" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/no-bus" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus" \
  http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9

failed=0
fail() { echo "single_instance_test: $*" >&2; failed=1; }

# wait_for FILE TEXT: until FILE holds TEXT; false after 10 s.
wait_for() {
  tries=0
  until grep -qF -- "$2" "$1" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || return 1
    sleep 0.1
  done
}

# start_tool N: runs the tool in the background, output in out.N and err.N.
start_tool() {
  "$tool" >"$dir/out.$1" 2>"$dir/err.$1" &
  pid=$!
  pids="$pids $pid"
}

# second_start N RUNNING: starts the tool again, which must end on its own
# with status 0 and its message, logging nothing, while RUNNING logs the
# request to come to the front.
second_start() {
  timeout 20 "$tool" >"$dir/out.$1" 2>"$dir/err.$1"
  status=$?
  [ "$status" -eq 0 ] || fail "start $1 ended with $status, expected 0"
  grep -qxF "tarvo-remote-update: already running; its window was brought to the front" \
    "$dir/err.$1" || fail "start $1 did not say that the window was brought to the front"
  [ ! -s "$dir/out.$1" ] || fail "start $1 logged as a running tool"
  wait_for "$dir/out.$2" "another start: window brought to the front" ||
    fail "start $2 did not log the request of start $1"
}

show() {
  for f in "$dir"/out.* "$dir"/err.*; do echo "---- ${f##*/}" && cat "$f"; done
}

start_tool 1
first=$pid
# Any line on standard output: it runs (the second start waits for its socket).
if ! wait_for "$dir/out.1" ""; then
  fail "the first start logged nothing"
  show
  exit 1
fi
second_start 2 1
kill -0 "$first" 2>/dev/null || fail "the first start ended"

# Killed: the kernel drops the lock, the socket file stays.
kill -9 "$first"
wait "$first" 2>/dev/null
[ -S "$dir/run/tarvo-remote-update.socket" ] || fail "the killed start left no socket file"
start_tool 3
wait_for "$dir/out.3" "" || fail "the start after the kill logged nothing"
second_start 4 3
grep -qF "already running" "$dir/err.3" && fail "the start after the kill did not run"

[ "$failed" -eq 0 ] || show
exit "$failed"

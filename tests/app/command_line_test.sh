#!/bin/sh
# The tool's command line answered without any display: --help and --version
# end with status 0 and say what was asked, an unknown option is a usage
# error (status 64), and nothing of it needs a window system. The usage line
# names the program, not the path it was started by. The window started
# without a display ends with status 1 and one line of advice on standard
# error, not with Qt's abort (134).
#
#   command_line_test.sh TOOL
set -u
tool=$1
home=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-cli.XXXXXX") || exit 1
trap 'rm -rf "$home"' EXIT
out=$home/out err=$home/err
failed=0

run() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    http_proxy=http://127.0.0.1:9 HTTP_PROXY=http://127.0.0.1:9 no_proxy= NO_PROXY= \
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=$home/none DBUS_SESSION_BUS_ADDRESS=unix:path=$home/none \
    XDG_STATE_HOME=$home/state XDG_RUNTIME_DIR=$home HOME=$home \
    "$tool" "$@" >"$out" 2>"$err" </dev/null
}

check() {  # check EXPECTED_STATUS TEXT args...
  expected=$1 text=$2
  shift 2
  run "$@"
  status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "command_line_test: '$*' ended with $status, expected $expected" >&2
    failed=1
  fi
  if ! cat "$out" "$err" | grep -qF -- "$text"; then
    echo "command_line_test: '$*' did not print \"$text\"" >&2
    failed=1
  fi
  echo "---- $* -> $status" && cat "$out" "$err"
}

check 0 "Usage:" --help
check 0 "built-in firmware release 1.2" --version
check 0 "built-in firmware release 1.2" -platform offscreen -v
check 64 "Unknown option 'no-such-option'" --no-such-option
check 64 "unexpected argument" stray

run --help
if ! head -n 1 "$out" | grep -qx "Usage: tarvo-remote-update \[options\]"; then
  echo "command_line_test: the usage line is \"$(head -n 1 "$out")\"" >&2
  failed=1
fi

# The window without a display: one line on standard error, nothing else.
run
status=$?
echo "---- (no display) -> $status" && cat "$out" "$err"
if [ "$status" -eq 0 ] || [ "$status" -ge 128 ]; then
  echo "command_line_test: without a display the window ended with $status, expected 1" >&2
  failed=1
fi
expected="No display found: run it on a desktop, or see tarvo-remote-update --help for the command line"
if [ "$(cat "$err")" != "$expected" ]; then
  echo "command_line_test: without a display standard error is not the one line of advice" >&2
  failed=1
fi
exit "$failed"

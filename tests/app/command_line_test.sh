#!/bin/sh
# The tool's command line answered without any display: --help and --version
# end with status 0 and say what was asked, an unknown option is a usage
# error (status 64), and nothing of it needs a window system.
#
#   command_line_test.sh TOOL
set -u
tool=$1
out=$(mktemp "${TMPDIR:-/tmp}/tarvo-cli.XXXXXX") || exit 1
trap 'rm -f "$out"' EXIT
failed=0

run() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tool" "$@" >"$out" 2>&1
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
  if ! grep -qF -- "$text" "$out"; then
    echo "command_line_test: '$*' did not print \"$text\"" >&2
    failed=1
  fi
  echo "---- $* -> $status" && cat "$out"
}

check 0 "Usage:" --help
check 0 "built-in firmware release 1.2" --version
check 0 "built-in firmware release 1.2" -platform offscreen -v
check 64 "Unknown option 'no-such-option'" --no-such-option
check 64 "unexpected argument" stray
exit "$failed"

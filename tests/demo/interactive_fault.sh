#!/bin/sh
# The demo's window without --auto (as a user runs it) with --server-fault 404:
# once the tool has the version history, the server answers the release files
# with 404, so a press of UPDATE TO NEWEST meets the fault. Nobody presses
# here; the test asks the loopback server for the release's image file itself,
# then ends the demo.
#
#   interactive_fault.sh DEMO
set -u
demo=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-interactive.XXXXXX") || exit 1
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "---- standard error of the demo"; cat "$work/stderr"; exit 1; }

# Ended by a signal, the demo leaves its private folders behind: in $work.
mkdir "$work/tmp"
TMPDIR="$work/tmp" "$demo" --fast --server-fault 404 >"$work/stdout" 2>"$work/stderr" &
pid=$!
i=0
until grep -q "^demo: server fault switched on$" "$work/stderr"; do
  kill -0 "$pid" 2>/dev/null || fail "the demo ended before the fault was switched on"
  i=$((i + 1))
  [ $i -lt 200 ] || fail "the fault was not switched on within 20 s"
  sleep 0.1
done
base=$(sed -n 's/^demo: firmware server \(http:\/\/127\.0\.0\.1:[0-9]*\),.*/\1/p' "$work/stderr")
[ -n "$base" ] || fail "the demo named no firmware server"
code=$(python3 - "$base/FOTA/firmware/Controller/T/Img_V1.3.bin" <<'PY'
import sys, urllib.request, urllib.error
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
try:
    print(opener.open(sys.argv[1], timeout=10).status)
except urllib.error.HTTPError as e:
    print(e.code)
PY
)
[ "$code" = 404 ] || fail "the server answered the release's image with $code, not 404"
kill -0 "$pid" 2>/dev/null || fail "the window's demo ended on its own"
echo "ok: the interactive demo switched the fault on after the history; the image answers 404"

#!/bin/sh
# The real tool's sub-commands on this machine, with no display and no
# controller: a usage error is status 64 with the usage, `status --json` is
# one JSON object saying no controller (status 3), and the bash completion
# offers the sub-commands and their options. The firmware server is reached
# only through a loopback proxy that refuses, and D-Bus not at all.
#
#   command_line_test.sh TOOL COMPLETION
set -u
tool=$1 completion=$2
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-cli.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
failed=0
fail() { echo "command_line_test: $*" >&2; failed=1; }

run() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM QT_NO_GLIB=1 \
    http_proxy=http://127.0.0.1:9 HTTP_PROXY=http://127.0.0.1:9 no_proxy= NO_PROXY= \
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/none DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/none \
    XDG_STATE_HOME=$dir/state XDG_RUNTIME_DIR=$dir HOME=$dir \
    "$tool" "$@" >"$dir/out" 2>"$dir/err" </dev/null
}

run update --to
[ $? -eq 64 ] || fail "'update --to' is not a usage error"
grep -qF -- "--to needs a version" "$dir/err" || fail "'update --to' does not say why"
grep -qF "Exit status:" "$dir/err" || fail "a usage error does not show the usage"

run status --json
status=$?
[ "$status" -eq 3 ] || fail "'status --json' without a controller ended with $status, not 3"
lines=$(wc -l <"$dir/out")
[ "$lines" -eq 1 ] || fail "'status --json' printed $lines lines, not one object"
python3 -c 'import json,sys; o=json.load(open(sys.argv[1])); sys.exit(0 if o["controller"] is None and o["offered"] is False and o["newest"] else 1)' \
  "$dir/out" || fail "'status --json' is not the expected object: $(cat "$dir/out")"

complete_words() {  # the completion's answer for the words given
  bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tarvo_remote_update; echo "${COMPREPLY[*]}"' \
    _ "$completion" "$@"
}
[ "$(complete_words tarvo-remote-update st)" = "status station" ] || fail "completion of 'st'"
[ "$(complete_words tarvo-remote-update update --a)" = "--all" ] || fail "completion of 'update --a'"
[ "$(complete_words tarvo-remote-update station --r)" = "--report" ] || fail "completion of 'station --r'"
[ "$(complete_words tarvo-remote-update do)" = "doctor" ] || fail "completion of 'do'"
[ "$(complete_words tarvo-remote-update update --b)" = "--builtin" ] || fail "completion of 'update --b'"
[ -z "$(complete_words tarvo-remote-update update --to '')" ] || fail "completion offers a version"
cat "$dir/out" "$dir/err"
exit "$failed"

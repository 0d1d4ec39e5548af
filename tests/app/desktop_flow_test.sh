#!/usr/bin/env bash
# The real window on a real X server with a window manager, used as a person
# who works from the keyboard alone and hears it through a screen reader:
# keys go in through the X server (xdotool: Tab, Return, Escape, arrows and
# typed text, never the mouse), and what the window says and where the focus
# is are read over the accessibility bus (atspi_dump.py), as a screen reader
# reads them. On the demo's simulated controller and loopback server:
#   update    UPDATE TO NEWEST from the focus the window starts with, the
#             confirmation's OK (Escape first cancels it), "Update complete!",
#             and the tool's own "update verified" in its log;
#   failure   the controller leaves the bus while it is erased: the failure is
#             said (text and an alert), its OK has the focus, Copy details
#             takes Enter, and Return on OK takes the failure away;
#   files     UPDATE TO PREVIOUS, the file row of the chooser and two files
#             typed into the file dialog's name field, installed and verified;
#   german    the window in German, with pictures of it and of the file dialog.
# Every check is reported; the run goes on after a failed one (moving the focus
# with Tab where the window did not put it) so one run shows them all.
#
# usage: desktop_flow_test.sh DEMO [OUTPUT_DIR]
# OUTPUT_DIR (default ./desktop_flow) receives the accessibility dumps, the
# demo's output and the screenshots. Exit status: 0 all checks passed,
# 1 a check failed, 77 the desktop could not be set up here (skipped).
set -u

demo=${1:?usage: desktop_flow_test.sh DEMO [OUTPUT_DIR]}
out=${2:-$PWD/desktop_flow}
here=$(cd "$(dirname "$0")" && pwd)
firmware_dir="$here/../../resources/TFW"
# Debian's interpreter, which has python3-pyatspi (not whichever is first in PATH).
python=/usr/bin/python3
launcher=/usr/libexec/at-spi-bus-launcher

skip() {
    echo "SKIP: $*"
    exit 77
}

for tool in Xvfb openbox xdotool xclip import dbus-daemon dbus-send; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup installs it)"
done
[ -x "$launcher" ] || skip "$launcher is not installed (at-spi2-core)"
if ! [ -x "$python" ] || ! "$python" -c 'import pyatspi' 2>/dev/null; then
    skip "python3-pyatspi is not installed for $python"
fi
[ -x "$demo" ] || skip "no demo program at $demo"
demo=$(cd "$(dirname "$demo")" && pwd)/$(basename "$demo")

rm -rf "$out"
mkdir -p "$out/screenshots"
out=$(cd "$out" && pwd)
run=$(mktemp -d "${TMPDIR:-/tmp}/desktop-flow.XXXXXX")
mkdir -m 700 "$run/runtime"
mkdir -p "$run/home" "$run/tmp" "$run/files"

pids=()  # the helpers started here, ended at exit
demo_pid=
current=
demo_running() {
    local state=
    read -r _ _ state _ <"/proc/$demo_pid/stat" 2>/dev/null
    [ -n "$state" ] && [ "$state" != Z ]
}
# Ends the demo; it must still be running, without a sanitizer's report.
stop_demo() {
    [ -n "$demo_pid" ] || return 0
    if demo_running; then
        kill "$demo_pid"
        wait "$demo_pid" 2>/dev/null
    else
        wait "$demo_pid"
        fail "$current: the demo ended by itself, status $? (see $out/$current.err)"
    fi
    demo_pid=
    if grep -qE 'Sanitizer|runtime error:' "$out/$current.err"; then
        fail "$current: a sanitizer report in $out/$current.err"
    fi
}
cleanup() {
    stop_demo
    local i pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        pkill -TERM -P "$pid" 2>/dev/null  # the accessibility bus launcher's own bus
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 1' HUP INT PIPE TERM

# Waits up to $1 seconds for the command after it to succeed, polling.
poll() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    while ! "$@" 2>/dev/null; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}
nonempty() { [ -s "$1" ]; }

# --- the desktop: X server, session bus, accessibility bus, window manager ---
export HOME="$run/home" XDG_RUNTIME_DIR="$run/runtime" TMPDIR="$run/tmp"
export XDG_CONFIG_HOME="$run/home/.config" XDG_CACHE_HOME="$run/home/.cache"
export XDG_DATA_HOME="$run/home/.local/share" XDG_STATE_HOME="$run/home/.local/state"
unset WAYLAND_DISPLAY SESSION_MANAGER

Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x900x24 3>"$run/display" \
    >"$out/xvfb.log" 2>&1 &
pids+=($!)
poll 30 nonempty "$run/display" || skip "Xvfb did not start (see $out/xvfb.log)"
DISPLAY=":$(head -n1 "$run/display")"
export DISPLAY

dbus-daemon --session --fork --print-address=3 --print-pid=4 \
    3>"$run/bus" 4>"$run/bus.pid" 2>"$out/dbus.log" ||
    skip "no session bus: dbus-daemon failed (see $out/dbus.log)"
pids+=("$(cat "$run/bus.pid")")
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$run/bus")
export DBUS_SESSION_BUS_ADDRESS

"$launcher" --launch-immediately >"$out/at-spi.log" 2>&1 &
pids+=($!)
a11y_bus_up() {
    dbus-send --session --dest=org.a11y.Bus --print-reply /org/a11y/bus \
        org.a11y.Bus.GetAddress | grep -q 'unix:'
}
poll 30 a11y_bus_up || skip "the accessibility bus did not start (see $out/at-spi.log)"

# The server takes connections (it may name its display a moment before).
poll 30 xdotool getdisplaygeometry >/dev/null || skip "Xvfb takes no connection on $DISPLAY"
openbox --sm-disable >"$out/openbox.log" 2>&1 &
pids+=($!)
# get_num_desktops answers once a window manager has taken the screen.
poll 30 xdotool get_num_desktops >/dev/null || skip "openbox did not start (see $out/openbox.log)"
echo "desktop: X display $DISPLAY, openbox, session and accessibility buses up"

# --- checks ---
passed=0
failed=0
ok() {
    passed=$((passed + 1))
    echo "ok   - $1"
}
fail() {
    failed=$((failed + 1))
    echo "FAIL - $1"
    if [ -n "${2:-}" ] && [ -f "$2" ]; then
        echo "       accessibility tree ($2):"
        sed 's/^/       | /' "$2"
    fi
}

# The demo's accessible tree, waited for until every --until pattern holds;
# printed to $1.
tree() {
    local file=$1
    shift
    "$python" "$here/atspi_dump.py" --pid "$demo_pid" "$@" >"$file" 2>>"$out/atspi-errors.log"
}
focused_line() { grep '^FOCUSED: ' "$1" | head -n1; }

# check_focus STEP NAME: the focus is on the showing push button NAME.
check_focus() {
    local step=$1 name=$2 file="$out/$1.txt"
    if tree "$file" --until "role=push button;name=$name;state=focused;state=showing" \
        --timeout "${3:-8}"; then
        ok "$step: the focus is on \"$name\""
        return 0
    fi
    fail "$step: the focus should be on \"$name\", is on \"$(focused_line "$file" | cut -c10-)\"" \
        "$file"
    return 1
}

# move_focus NAME: Tab (at most 12 times) until the push button NAME has the
# focus, as a keyboard user would after a failed check_focus.
move_focus() {
    local name=$1 file="$out/tab.txt" i
    for ((i = 0; i < 12; i++)); do
        tree "$file" --timeout 0
        if grep -q "^FOCUSED: push button | $name |" "$file"; then
            return 0
        fi
        xdotool key Tab
        sleep 0.2
    done
    fail "Tab never reached \"$name\"" "$file"
    return 1
}

# The focus on NAME (checked, or else moved there), then KEY pressed.
press() {
    local step=$1 name=$2 key=${3:-Return}
    check_focus "$step" "$name" || move_focus "$name"
    xdotool key "$key"
}

# Under ThreadSanitizer: the X connection's reader thread inside Qt's
# (uninstrumented) xcb plugin and libxcb, whose hand-over TSan cannot see;
# the sanitizer settings built into the demo hold for everything else.
printf '%s\n' 'called_from_lib:libQt6XcbQpa.so.6' 'called_from_lib:libxcb.so.1' >"$run/tsan.supp"
export TSAN_OPTIONS="suppressions=$run/tsan.supp ${TSAN_OPTIONS:-}"

# start_demo NAME [ENV=VALUE...] -- [demo options]: the window in the
# background, until it shows the controller and its offer.
start_demo() {
    local name=$1
    shift
    local env=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        env+=("$1")
        shift
    done
    shift
    (cd "$run/files" && exec env "${env[@]}" QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 \
        QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 http_proxy=http://127.0.0.1:9 \
        https_proxy=http://127.0.0.1:9 DBUS_SYSTEM_BUS_ADDRESS="unix:path=$run/no-system-bus" \
        "$demo" --fast "$@" >"$out/$name.out" 2>"$out/$name.err") &
    demo_pid=$!
    current=$name
    # The demo says so once the window shows the controller and the offer settled.
    demo_idle() {
        grep -q '^demo: controller .* window says:' "$out/$name.err" || ! demo_running
    }
    if ! poll 60 demo_idle || ! grep -q '^demo: controller .* window says:' "$out/$name.err"; then
        fail "$name: the window did not show the controller (see $out/$name.err)"
        tail -n 20 "$out/$name.err"
        return 1
    fi
    if ! tree "$out/$name-start.txt" --until 'role=filler;state=showing' --timeout 30; then
        fail "$name: the window is not on the accessibility bus" "$out/$name-start.txt"
        return 1
    fi
    # A keyboard user starts in the window the window manager gave the focus.
    if [ "$(xdotool getactivewindow getwindowpid 2>/dev/null)" != "$demo_pid" ]; then
        echo "note - $name: the window manager did not activate the window; activating it"
        xdotool search --sync --pid "$demo_pid" --onlyvisible --name . windowactivate --sync \
            >/dev/null 2>&1
    fi
    return 0
}

log_has() { grep -qF -- "$2" "$out/$1.out"; }

# Waits for the confirmation of an update to VERSION.
confirmation_shown() {
    local step=$1 version=$2
    if tree "$out/$step.txt" --until "role=label;text=To: Firmware V$version" \
        --until 'role=push button;name=OK;state=sensitive;state=showing' --timeout 60; then
        ok "$step: the confirmation asks to update to $version"
        return 0
    fi
    fail "$step: no confirmation of an update to $version" "$out/$step.txt"
    return 1
}

# OK on the confirmation, "Update complete!" answered with Return, and the
# tool's own verification of VERSION in its log.
install_confirmed() {
    local step=$1 version=$2
    press "$step-confirm" OK
    if tree "$out/$step-complete.txt" --until 'role=alert' \
        --until 'role=label;name=Update complete!' --timeout 90; then
        ok "$step: \"Update complete!\" is said in an alert"
    else
        fail "$step: no \"Update complete!\"" "$out/$step-complete.txt"
        return 1
    fi
    press "$step-complete" OK
    if poll 60 log_has "$current" "update verified: $version"; then
        ok "$step: the log says \"update verified: $version\""
    else
        fail "$step: no \"update verified: $version\" in $out/$current.out"
        grep -E 'verif|fail' "$out/$current.out" | tail -n 5
    fi
    if tree "$out/$step-done.txt" --until "role=label;name=V $version" \
        --until 'role=push button;name=UPDATE TO NEWEST;state=showing' --timeout 30; then
        ok "$step: the window shows the controller on V $version"
    else
        fail "$step: the window does not show V $version" "$out/$step-done.txt"
    fi
}

offer_shown() {
    tree "$1" --until 'role=push button;name=UPDATE TO NEWEST;state=sensitive;state=showing' \
        --until 'role=label;text=UPDATE TO NEWEST' --timeout "${2:-30}"
}

screenshot() {
    import -window root "$out/screenshots/$1.png" 2>>"$out/screenshots/import.log"
}

# --- update: the newest release from the keyboard ---
if start_demo update -- ; then
    press update-offer "UPDATE TO NEWEST"
    if confirmation_shown update-confirmation 1.3; then
        xdotool key Escape
        if offer_shown "$out/update-escape.txt" 10; then
            ok "update: Escape cancels the confirmation"
            press update-offer-after-escape "UPDATE TO NEWEST"
            confirmation_shown update-confirmation-again 1.3
        else
            fail "update: Escape did not cancel the confirmation" "$out/update-escape.txt"
        fi
        install_confirmed update 1.3
    fi
fi
stop_demo

# --- failure: the controller leaves the bus while it is erased ---
# It stays away: a controller that comes back puts the window back to its offer
# at once (replug-in-erase), too soon to read the failure reliably.
if start_demo failure -- --device-fault unplug-in-erase; then
    "$python" "$here/atspi_dump.py" --pid "$demo_pid" --listen "$out/failure-events.txt" \
        --timeout 120 2>>"$out/atspi-errors.log" &
    listener=$!
    poll 10 grep -q listening "$out/failure-events.txt"
    move_focus "UPDATE TO NEWEST" && xdotool key Return
    confirmation_shown failure-confirmation 1.3 && move_focus OK && xdotool key Return
    screen="$out/failure-screen.txt"
    if tree "$screen" --until 'text=Update Fail!' \
        --until 'role=push button;name=OK;state=showing' --timeout 60; then
        ok "failure: the window says \"Update Fail!\" and why"
        # Settled: whatever the window does on showing the failure has happened.
        tree "$screen" --until 'role=push button;name=OK;state=focused;state=showing' \
            --timeout 5
        if grep -qE '^ *alert \| .*showing' "$screen" ||
            grep -qE '^[a-z:-]+ \| alert \|' "$out/failure-events.txt"; then
            ok "failure: an alert is raised"
        else
            fail "failure: no object of role alert, and no event from one" "$screen"
            echo "       events seen ($out/failure-events.txt):"
            sed 's/^/       | /' "$out/failure-events.txt"
        fi
        check_focus failure-focus OK
        # Copy details takes Enter: support's text lands on the clipboard.
        move_focus "Copy details" && xdotool key Return
        clipboard_has_details() {
            xclip -o -selection clipboard 2>/dev/null | grep -q '^Status: failed'
        }
        if poll 5 clipboard_has_details; then
            ok "failure: Enter on Copy details puts the details on the clipboard"
        else
            fail "failure: Enter on Copy details put nothing on the clipboard"
        fi
        move_focus OK && xdotool key Return
        if tree "$out/failure-after-ok.txt" --gone 'text=Update Fail!' \
            --gone 'role=push button;name=OK;state=showing' --timeout 15; then
            ok "failure: Return on OK takes the failure away"
        else
            fail "failure: Return on OK did not take the failure away" \
                "$out/failure-after-ok.txt"
        fi
    else
        fail "failure: the window shows no failure" "$screen"
    fi
    kill "$listener" 2>/dev/null
    wait "$listener" 2>/dev/null
fi
stop_demo

# --- files: a release from two files typed into the file dialog ---
cp "$firmware_dir/FW.bin" "$run/files/Tarvo Remote_FW_V1.2.bin"
cp "$firmware_dir/IMG.bin" "$run/files/Tarvo Remote_Img_V1.2.bin"
open_file_dialog() {  # step, the name of UPDATE TO PREVIOUS, the file row's name
    local step=$1
    move_focus "$2" && xdotool key Return
    if ! tree "$out/$step-chooser.txt" --until 'role=list;state=focused' \
        --until "role=radio button;name=$3" --timeout 30; then
        fail "$step: the chooser did not open with its list focused" "$out/$step-chooser.txt"
        return 1
    fi
    # The file row is the last one.
    xdotool key End Return
    if ! tree "$out/$step-dialog.txt" --until 'role=text;state=focused;state=showing' \
        --until 'role=dialog;state=active' --timeout 30; then
        fail "$step: the file dialog did not open with its name field focused" \
            "$out/$step-dialog.txt"
        return 1
    fi
}
if start_demo files --; then
    if open_file_dialog files "UPDATE TO PREVIOUS" "Select from FW file"; then
        ok "files: the file dialog opens from the chooser, its name field focused"
        xdotool type --delay 30 '"Tarvo Remote_FW_V1.2.bin" "Tarvo Remote_Img_V1.2.bin"'
        xdotool key Return
        if confirmation_shown files-confirmation 1.2; then
            install_confirmed files 1.2
        fi
    fi
fi
stop_demo

# --- german: pictures for a person to look at ---
if start_demo german LANGUAGE=de LANG=de_DE.UTF-8 LC_ALL= --; then
    if tree "$out/german-window.txt" --until 'role=push button;name=NEUESTE INSTALLIEREN' \
        --timeout 10; then
        ok "german: the window is in German"
    else
        fail "german: the window is not in German" "$out/german-window.txt"
    fi
    screenshot german-window
    if open_file_dialog german "ÄLTERE WÄHLEN" "Aus Firmware-Datei wählen"; then
        screenshot german-file-dialog
        xdotool key Escape
    fi
fi
stop_demo

echo "accessibility dumps, logs and screenshots: $out"
echo "screenshots to look at:" "$out"/screenshots/*.png
echo "desktop_flow: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

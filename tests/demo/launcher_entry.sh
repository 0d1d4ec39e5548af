#!/bin/sh
# Whole demo runs (--auto --fast) with a private session bus: the update's
# progress goes to the dock as com.canonical.Unity.LauncherEntry.Update signals
# for the tool's desktop file, as the bus saw them: the progress never goes
# back during the update, reaches the end, is sent once per change at most,
# and is taken down (progress-visible false) when the update is over. With the
# replug alert (lose-final-step) the entry is urgent while it is up, and not
# at the end.
#
#   launcher_entry.sh DEMO
#
# Exits 77 (skipped) when dbus-daemon or dbus-monitor is missing.
set -u
demo=$1
command -v dbus-daemon >/dev/null && command -v dbus-monitor >/dev/null || {
  echo "skipped: dbus-daemon / dbus-monitor not installed"; exit 77; }

bus_name=launcher
. "$(dirname "$0")/private_bus.sh"
export DBUS_SESSION_BUS_ADDRESS="$address"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-system-bus"

failed=0
# run NAME demo options...: one run, its signals in $work/NAME.signals.
run() {
  name=$1
  shift
  dbus-monitor --address "$address" "type='signal',interface='com.canonical.Unity.LauncherEntry'" \
    >"$work/$name.monitor" 2>/dev/null &
  monitor=$!
  # The monitor is in place once it has seen its own name granted.
  i=0
  until grep -q "NameAcquired" "$work/$name.monitor" || [ $i -ge 50 ]; do sleep 0.1; i=$((i + 1)); done
  "$demo" "$@" >"$work/$name.stdout" 2>"$work/$name.stderr"
  status=$?
  sleep 0.5
  kill "$monitor"
  wait "$monitor" 2>/dev/null
  if [ "$status" -ne 0 ]; then
    echo "FAIL: $name: the demo exited with $status, expected 0"; tail -n 20 "$work/$name.stderr"
    failed=1
  fi
}

# check NAME WANT_URGENT: the signals of the run NAME, read from dbus-monitor's text.
check() {
  python3 - "$work/$1.monitor" "$2" <<'PY' || failed=1
import re, sys
text = open(sys.argv[1]).read()
want_urgent = sys.argv[2] == "1"
name = sys.argv[1].rsplit("/", 1)[-1].rsplit(".", 1)[0]
signals = []
for block in re.split(r"\n(?=signal )", text):
    if "interface=com.canonical.Unity.LauncherEntry; member=Update" not in block:
        continue
    uri = re.search(r'^\s*string "(application://[^"]*)"', block, re.M)
    entries = dict(re.findall(r'string "([a-z-]+)"\s*\n\s*variant\s+\w+ ([^\s)]+)', block))
    signals.append((uri.group(1) if uri else None, float(entries.get("progress", "nan")),
                    entries.get("progress-visible"), entries.get("urgent")))
problems = []
if any(s[0] != "application://com.tarvo.RemoteFirmwareUpdate.desktop" for s in signals):
    problems.append("a signal names another application: %s" % {s[0] for s in signals})
shown = [s for s in signals if s[2] == "true"]
progress = [s[1] for s in shown]
if len(progress) < 5:
    problems.append("only %d signals show progress" % len(progress))
if any(b < a for a, b in zip(progress, progress[1:])):
    problems.append("the progress goes back: %s" % progress)
if progress and max(progress) < 0.9:
    problems.append("the progress ends at %s" % max(progress))
if len(signals) > 120 or any(a == b for a, b in zip(signals, signals[1:])):
    problems.append("%d signals, some repeated" % len(signals))
if not signals or signals[-1][2] != "false" or signals[-1][3] != "false":
    problems.append("the last signal does not take the progress down: %s" % (signals[-1:],))
if want_urgent != any(s[3] == "true" for s in signals):
    problems.append("urgent %s, expected %s" % (not want_urgent, want_urgent))
for p in problems:
    print("FAIL: %s: %s" % (name, p))
if not problems:
    print("ok: %s: %d signals, progress %s .. %s, taken down at the end"
          % (name, len(signals), progress[0], progress[-1]))
sys.exit(1 if problems else 0)
PY
}

run update --auto --fast
check update 0
run replug --auto --fast --device-fault lose-final-step
check replug 1
exit "$failed"

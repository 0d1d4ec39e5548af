#!/usr/bin/python3
"""What a screen reader sees of one running application, over AT-SPI.

usage: atspi_dump.py --pid PID [--until PATTERN]... [--gone PATTERN]... [--timeout S]
       atspi_dump.py --pid PID --listen FILE [--timeout S]

Without --listen: prints the application's accessible tree, one object a
line ("role | name | states | description", indented by depth; line breaks
in texts as \\n), then a line "FOCUSED: role | name | description" for the object
holding the keyboard focus ("FOCUSED: none" without one). With --until, the tree is
first read again every 0.2 s until every PATTERN matches an object, each its
own, and no --gone PATTERN matches any; PATTERN is "key=value" pairs joined by ";"
with the keys role, name (the whole name), text (a part of the name) and
state (one state, may repeat). Exit status 0 when the PATTERNs held (or none
was given), 1 when they did not within --timeout seconds (the tree is printed all the same), 2 when the
application is not on the accessibility bus.

With --listen: writes the events a screen reader announces from (objects
shown or focused, windows created or activated) to FILE, one a line
("event | role | name | detail"), until --timeout or SIGTERM.

Runs with Debian's /usr/bin/python3, whose python3-pyatspi it needs.
"""

import argparse
import signal
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402  (after require_version)

import pyatspi  # noqa: E402

SHOWN_STATES = ["focused", "focusable", "sensitive", "showing", "checked", "selected", "is-default",
                "modal", "active"]
EVENTS = ["object:state-changed:showing", "object:state-changed:focused", "window:create",
          "window:activate"]


def flat(text):
    return (text or "").replace("\\", "\\\\").replace("\n", "\\n")


def find_app(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except GLib.Error:
            continue
    return None


def states_of(node):
    held = {pyatspi.stateToString(state) for state in node.getState().getStates()}
    return [name for name in SHOWN_STATES if name in held]


def walk(node, depth, rows):
    """Appends (depth, role, name, states, description) for node and its descendants."""
    try:
        rows.append((depth, node.getRoleName(), node.name or "", states_of(node),
                     node.description or ""))
        count = node.childCount
    except GLib.Error:
        return  # gone while being read
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except GLib.Error:
            continue
        if child is not None:
            walk(child, depth + 1, rows)


def read_tree(app):
    app.clear_cache()
    rows = []
    walk(app, 0, rows)
    return rows


def parse_pattern(text):
    pattern = {"state": []}
    for part in text.split(";"):
        key, sep, value = part.partition("=")
        if not sep or key not in ("role", "name", "text", "state"):
            raise argparse.ArgumentTypeError(f"bad --until part {part!r}")
        if key == "state":
            pattern["state"].append(value)
        else:
            pattern[key] = value
    return pattern


def matches(pattern, row):
    _, role, name, states, _ = row
    return (pattern.get("role", role) == role and pattern.get("name", name) == name and
            pattern.get("text", "") in name and all(s in states for s in pattern["state"]))


def holds(until, gone, rows):
    return (all(any(matches(pattern, row) for row in rows) for pattern in until) and
            not any(matches(pattern, row) for pattern in gone for row in rows))


def print_tree(rows):
    for depth, role, name, states, description in rows:
        print(f"{'  ' * depth}{role} | {flat(name)} | {','.join(states)} | {flat(description)}")
    focused = [row for row in rows if "focused" in row[3]]
    if focused:
        # The innermost focused object is the one keys go to.
        _, role, name, _, description = max(focused, key=lambda row: row[0])
        print(f"FOCUSED: {role} | {flat(name)} | {flat(description)}")
    else:
        print("FOCUSED: none")


def listen(app_pid, path, timeout):
    out = open(path, "a", encoding="utf-8", buffering=1)

    def on_event(event):
        try:
            source = event.source
            if source is None or source.get_process_id() != app_pid:
                return
            out.write(f"{event.type} | {source.getRoleName()} | {flat(source.name)} | "
                      f"{event.detail1}\n")
        except GLib.Error:
            pass

    pyatspi.Registry.registerEventListener(on_event, *EVENTS)
    stop = pyatspi.Registry.stop
    signal.signal(signal.SIGTERM, lambda *_: stop())
    GLib.timeout_add(int(timeout * 1000), lambda: stop() or False)
    out.write("listening\n")
    pyatspi.Registry.start()
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--until", type=parse_pattern, action="append", default=[])
    parser.add_argument("--gone", type=parse_pattern, action="append", default=[])
    parser.add_argument("--timeout", type=float, default=30.0)
    parser.add_argument("--listen", metavar="FILE")
    args = parser.parse_args()
    if args.listen:
        return listen(args.pid, args.listen, args.timeout)

    deadline = time.monotonic() + args.timeout
    app = None
    rows = []
    while True:
        app = app or find_app(args.pid)
        if app is not None:
            try:
                rows = read_tree(app)
            except GLib.Error:
                app = None  # the application left the bus, or is not on it yet
        if app is not None and holds(args.until, args.gone, rows):
            print_tree(rows)
            return 0
        if time.monotonic() >= deadline:
            break
        time.sleep(0.2)
    if app is None:
        print(f"atspi_dump: no application of process {args.pid} on the accessibility bus",
              file=sys.stderr)
        return 2
    print_tree(rows)
    return 1


if __name__ == "__main__":
    Atspi.set_timeout(5000, -1)
    sys.exit(main())

#!/usr/bin/python3
# Walks the accessibility tree that the process with the given pid exports on the AT-SPI bus, as a
# screen reader sees it, and prints each showing, focusable object:
#   named<TAB><name>
#   unnamed<TAB><role> at <path of names and roles> (description "<description>")
# Exits 2 when the process has no application on the bus.
import os
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


DEBUG = bool(os.environ.get("KOVANI_ATSPI_DEBUG"))


def label(acc):
    name = acc.get_name() or ""
    return "%s[%s]" % (acc.get_role_name(), name) if name else acc.get_role_name()


def walk(acc, path, seen, depth=0):
    if acc is None or depth > 60:
        return
    # Objects are kept alive in `seen`, so their ids stay unique.
    if id(acc) in seen:
        return
    seen[id(acc)] = acc
    states = acc.get_state_set()
    if DEBUG:
        print("  " * depth + label(acc) + " " + str([s.value_nick for s in states.get_states()]), file=sys.stderr)
    if not states.contains(Atspi.StateType.SHOWING):
        return
    here = path + [label(acc)]
    if states.contains(Atspi.StateType.FOCUSABLE):
        name = (acc.get_name() or "").strip()
        if name:
            print("named\t" + name.replace("\n", " "))
        else:
            print('unnamed\t%s at %s (description "%s")' % (acc.get_role_name(), " > ".join(here), acc.get_description() or ""))
    for i in range(acc.get_child_count()):
        walk(acc.get_child_at_index(i), here, seen, depth + 1)


def main():
    pid = int(sys.argv[1])
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            seen = {}
            for j in range(app.get_child_count()):
                walk(app.get_child_at_index(j), [], seen)
            return 0
    print("no application of process %d on the accessibility bus" % pid, file=sys.stderr)
    return 2


sys.exit(main())

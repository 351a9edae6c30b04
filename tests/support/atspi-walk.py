#!/usr/bin/python3
# Walks the accessibility tree that the process with the given pid exports on the AT-SPI bus, as a
# screen reader sees it, and prints each showing, focusable object:
#   named<TAB><name>
#   unnamed<TAB><role> at <path of names and roles> (description "<description>")
# Exits 2 when the process has no application on the bus.
#
# With "--action NAME ACTION" it instead performs the action ACTION (compared without case) of the
# first showing object named NAME, as a screen reader's command does, and prints "done"; exits 3
# when there is no such object or action.
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


def find(acc, name, seen, depth=0):
    if acc is None or depth > 60 or id(acc) in seen:
        return None
    seen[id(acc)] = acc
    if not acc.get_state_set().contains(Atspi.StateType.SHOWING):
        return None
    if (acc.get_name() or "") == name:
        return acc
    for i in range(acc.get_child_count()):
        found = find(acc.get_child_at_index(i), name, seen, depth + 1)
        if found is not None:
            return found
    return None


def perform(app, name, action):
    seen = {}
    for j in range(app.get_child_count()):
        target = find(app.get_child_at_index(j), name, seen)
        if target is not None:
            break
    else:
        print("no showing object named %r" % name, file=sys.stderr)
        return 3
    actions = target.get_action_iface()
    if actions is None:
        print("%r offers no actions" % name, file=sys.stderr)
        return 3
    names = [actions.get_action_name(i) for i in range(actions.get_n_actions())]
    for i, offered in enumerate(names):
        if offered.lower() == action.lower():
            actions.do_action(i)
            print("done")
            return 0
    print("%r offers %s, not %r" % (name, names, action), file=sys.stderr)
    return 3


def main():
    pid = int(sys.argv[1])
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            if len(sys.argv) == 5 and sys.argv[2] == "--action":
                return perform(app, sys.argv[3], sys.argv[4])
            seen = {}
            for j in range(app.get_child_count()):
                walk(app.get_child_at_index(j), [], seen)
            return 0
    print("no application of process %d on the accessibility bus" % pid, file=sys.stderr)
    return 2


sys.exit(main())

#!/usr/bin/python3
# Walks the accessibility tree that the process with the given pid exports on the AT-SPI bus, as a
# screen reader sees it, and prints each showing, focusable object:
#   named<TAB><name>
#   unnamed<TAB><role> at <path of names and roles> (description "<description>")
# Exits 2 when the process has no application on the bus.
#
# With "--action NAME ACTION [ROLE]" it instead performs the action ACTION (compared without case)
# of the first showing object named NAME (and of the role ROLE, say "page tab", when given), as a
# screen reader's command does, and prints "done"; exits 3 when there is no such object or action.
#
# With "--dump" it prints every showing object as one JSON line: its role, name, description,
# states, actions, text, relations and the names of its ancestors, all as a screen reader reads
# them.
#
# With "--listen TEXT EVENT..." it listens for the events (say "object:property-change:accessible-name")
# of the process, prints "ready" once listening, then one JSON line per event, and exits after an
# event whose new value or source name contains TEXT (exits 4 after 120 s without one).
import json
import os
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


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


def find(acc, name, role, seen, depth=0):
    if acc is None or depth > 60 or id(acc) in seen:
        return None
    seen[id(acc)] = acc
    if not acc.get_state_set().contains(Atspi.StateType.SHOWING):
        return None
    if (acc.get_name() or "") == name and (role is None or acc.get_role_name() == role):
        return acc
    for i in range(acc.get_child_count()):
        found = find(acc.get_child_at_index(i), name, role, seen, depth + 1)
        if found is not None:
            return found
    return None


def perform(app, name, action, role=None):
    seen = {}
    for j in range(app.get_child_count()):
        target = find(app.get_child_at_index(j), name, role, seen)
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


def ancestry(acc):
    names = []
    parent = acc.get_parent()
    while parent is not None and parent.get_role() != Atspi.Role.APPLICATION and len(names) < 60:
        names.append(label(parent))
        parent = parent.get_parent()
    return names


def text_of(acc):
    text = acc.get_text_iface()
    if text is None:
        return None
    count = text.get_character_count()
    return text.get_text(0, min(count, 2000))


def relations(acc):
    result = {}
    for relation in acc.get_relation_set() or []:
        targets = [relation.get_target(i) for i in range(relation.get_n_targets())]
        result.setdefault(relation.get_relation_type().value_nick, []).extend(label(t) for t in targets if t is not None)
    return result


def describe_fully(acc):
    actions = acc.get_action_iface()
    return {
        "role": acc.get_role_name(),
        "name": acc.get_name() or "",
        "description": acc.get_description() or "",
        "states": sorted(s.value_nick for s in acc.get_state_set().get_states()),
        "actions": [actions.get_action_name(i) for i in range(actions.get_n_actions())] if actions is not None else [],
        "text": text_of(acc),
        "relations": relations(acc),
        "ancestors": ancestry(acc),
    }


def dump(acc, seen, depth=0):
    if acc is None or depth > 60 or id(acc) in seen:
        return
    seen[id(acc)] = acc
    if not acc.get_state_set().contains(Atspi.StateType.SHOWING):
        return
    print(json.dumps(describe_fully(acc)))
    for i in range(acc.get_child_count()):
        dump(acc.get_child_at_index(i), seen, depth + 1)


def listen(pid, text, types):
    found = []

    def on_event(event):
        try:
            source = event.source
            if source is None or source.get_process_id() != pid:
                return
            value = event.any_data if isinstance(event.any_data, str) else ""
            name = source.get_name() or ""
            print(json.dumps({
                "type": event.type,
                "detail1": event.detail1,
                "value": value,
                "role": source.get_role_name(),
                "name": name,
                "states": sorted(s.value_nick for s in source.get_state_set().get_states()),
            }), flush=True)
            if text in value or text in name:
                found.append(True)
                Atspi.event_quit()
        except Exception as error:  # an object gone by the time it is asked about
            print("event not read: %s" % error, file=sys.stderr)

    listener = Atspi.EventListener.new(on_event)
    for event_type in types:
        listener.register(event_type)
    GLib.timeout_add_seconds(120, lambda: Atspi.event_quit() or False)
    print("ready", flush=True)
    Atspi.event_main()
    return 0 if found else 4


def main():
    pid = int(sys.argv[1])
    if len(sys.argv) >= 4 and sys.argv[2] == "--listen":
        return listen(pid, sys.argv[3], sys.argv[4:])
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            if len(sys.argv) in (5, 6) and sys.argv[2] == "--action":
                return perform(app, sys.argv[3], sys.argv[4], sys.argv[5] if len(sys.argv) == 6 else None)
            seen = {}
            if len(sys.argv) == 3 and sys.argv[2] == "--dump":
                for j in range(app.get_child_count()):
                    dump(app.get_child_at_index(j), seen)
                return 0
            for j in range(app.get_child_count()):
                walk(app.get_child_at_index(j), [], seen)
            return 0
    print("no application of process %d on the accessibility bus" % pid, file=sys.stderr)
    return 2


sys.exit(main())

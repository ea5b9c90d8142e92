#!/usr/bin/env python3
"""Reads the setup window's three lists as a screen reader does: over the
accessibility bus, from outside the program. Switches the source to the
node.cfg file and the database file through the same bus, so the hardware
list shows an entry, and checks each list's name and the entry it shows.

usage: read_lists.py NODE_CFG CONFIG_XML
Exit status: 0 all as expected, 1 a list is named or valued wrongly or the
window cannot be driven, 77 the accessibility client library is missing.
"""

import sys
import time
import warnings

try:
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib
except (ImportError, ValueError) as error:
    print(f"SKIP: the AT-SPI client library is missing ({error})")
    sys.exit(77)

# Debian 12's binding offers only the older name of an action's name.
warnings.filterwarnings("ignore", category=DeprecationWarning)

ISO_ENTRY = "Virtual Machine ISO image"
# The hardware entry each file selects, by the media kind shown.
NODE_CFG_HARDWARE = {True: "Virtual 20000", False: "SR630"}
DATABASE_HARDWARE = {True: "Virtual 250", False: None}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)


def wait_for(what, find, limit=15.0):
    end = time.monotonic() + limit
    while True:
        found = find()
        if found is not None:
            return found
        if time.monotonic() > end:
            raise TimeoutError(f"timed out waiting for {what}")
        time.sleep(0.1)


def children(node):
    try:
        count = node.get_child_count()
    except GLib.Error:
        return []
    result = []
    for i in range(count):
        try:
            child = node.get_child_at_index(i)
        except GLib.Error:
            continue
        if child is not None:
            result.append(child)
    return result


def walk(node, depth=0):
    yield node
    if depth > 40:
        return
    # A list's popup holds every entry; nothing is looked for in there.
    if node.get_role() == Atspi.Role.COMBO_BOX:
        return
    for child in children(node):
        yield from walk(child, depth + 1)


def fresh(node):
    node.clear_cache()
    return node


def application():
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        if fresh(app).get_name() == "flintmere":
            return app
    return None


def top_window(app, title):
    for window in children(fresh(app)):
        if fresh(window).get_name() == title and window.get_state_set().contains(
            Atspi.StateType.SHOWING
        ):
            return window
    return None


def find(window, role, name=None, description=None):
    for node in walk(fresh(window)):
        fresh(node)
        if node.get_role() != role:
            continue
        if name is not None and node.get_name() != name:
            continue
        if description is not None and node.get_description() != description:
            continue
        return node
    return None


def shown_text(node):
    """The entry a list shows, as its text; None when it has no text."""
    if "Text" not in node.get_interfaces():
        return None
    return Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))


def enabled(node):
    return node is not None and fresh(node).get_state_set().contains(Atspi.StateType.ENABLED)


def press(node, *names):
    offered = []
    if "Action" in node.get_interfaces():
        count = Atspi.Action.get_n_actions(node)
        offered = [Atspi.Action.get_action_name(node, i) for i in range(count)]
    for i, offered_name in enumerate(offered):
        if offered_name in names:
            Atspi.Action.do_action(node, i)
            return
    raise RuntimeError(f"{node.get_name()!r} offers {offered}, none of {names}")


def lists(window):
    return [fresh(n) for n in walk(fresh(window)) if n.get_role() == Atspi.Role.COMBO_BOX]


def check_lists(window, hardware, mode):
    """The three lists carry their labels' names, the entry shown as value."""
    found = {n.get_name(): shown_text(n) for n in lists(window)}
    print(f"{mode}: lists over the bus: {found}")
    check(len(found) == 3, f"{mode}: three lists with distinct names, got {sorted(found)}")
    check(found.get("Interface") == "LAN Interface",
          f"{mode}: the interface list is named 'Interface' and shows 'LAN Interface'")
    media = found.get("Media Select")
    check(media is not None and media != "",
          f"{mode}: the media list is named 'Media Select' and shows an entry")
    iso = ISO_ENTRY in set(found) | set(found.values())
    expected = hardware[iso] if hardware else ""
    if expected is None:
        return
    check("Hardware type" in found,
          f"{mode}: a list named 'Hardware type' (shown entry {expected!r})")
    check(found.get("Hardware type") == expected,
          f"{mode}: the hardware list shows {expected!r}, got {found.get('Hardware type')!r}")


def enabled_node(window, role, name=None, description=None):
    node = find(window, role, name, description)
    return node if enabled(node) else None


def choose_file(app, main, radio_name, browse_description, path, hardware, mode):
    # Clicked with the mouse where the bus says it is: its Toggle action would
    # check it without clicking it, and after a closed dialog no window has
    # the keyboard on a server without a window manager.
    radio = wait_for(radio_name, lambda: enabled_node(main, Atspi.Role.RADIO_BUTTON, radio_name))
    box = Atspi.Component.get_extents(radio, Atspi.CoordType.SCREEN)
    Atspi.generate_mouse_event(box.x + min(8, box.width // 2), box.y + box.height // 2, "b1c")
    # The click enables the file button.
    press(wait_for(browse_description + " enabled",
                   lambda: enabled_node(main, Atspi.Role.PUSH_BUTTON,
                                        description=browse_description)), "Press")
    dialog = wait_for("the Open dialog", lambda: top_window(app, "Open"))
    name = wait_for("the file name field",
                    lambda: enabled_node(dialog, Atspi.Role.TEXT, "File name:"))
    Atspi.EditableText.set_text_contents(name, path)
    press(wait_for("the Open button enabled",
                   lambda: enabled_node(dialog, Atspi.Role.PUSH_BUTTON, "Open")), "Press")
    wait_for("the Open dialog to close", lambda: None if top_window(app, "Open") else True)

    def settled():
        # Whatever a list carries it under: the check below says where.
        seen = set()
        for node in lists(main):
            seen.update((node.get_name(), shown_text(node)))
        wanted = hardware[ISO_ENTRY in seen]
        return True if wanted is None or wanted in seen else None

    try:
        wait_for("the hardware list to show the file's entry", settled, 10.0)
    except TimeoutError as error:
        print(f"{mode}: {error}")
    check_lists(main, hardware, mode)


def main():
    node_cfg, config_xml = sys.argv[1], sys.argv[2]
    Atspi.init()
    try:
        app = wait_for("flintmere on the accessibility bus", application, 30.0)
        main_window = wait_for("the setup window",
                               lambda: top_window(app, "ZEV USB Stick Setup"), 15.0)
        check_lists(main_window, None, "generate")
        choose_file(app, main_window, "Already existent node.cfg file", "Choose a node.cfg file",
                    node_cfg, NODE_CFG_HARDWARE, "node.cfg")
        choose_file(app, main_window, "Already existent database file", "Choose a database file",
                    config_xml, DATABASE_HARDWARE, "database")
    except (TimeoutError, RuntimeError, GLib.Error) as error:
        failures.append(str(error))
        print(f"FAIL: {error}")
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all lists named by their labels, valued by the entry shown")
    return 0


if __name__ == "__main__":
    sys.exit(main())

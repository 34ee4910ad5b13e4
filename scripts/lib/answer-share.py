#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Answers the GNOME portal's "Screen Share" dialog as a person would, through AT-SPI.

answer-share.py ASKED_FILE runs until stopped. Each time xdg-desktop-portal-gnome shows the dialog it
adds a line to ASKED_FILE, picks the first monitor and presses Share, leaving "Remember this
selection" as GTK shows it (ticked), so the portal hands out a restore token. It prints "watching"
once it can see the accessibility bus, then a line for each dialog.
"""
import sys
import time
import warnings

warnings.simplefilter("ignore")  # PyGObject's deprecation notes would fill the log
import gi  # noqa: E402

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

BACKEND = "xdg-desktop-portal-gnome"
TITLE = "Screen Share"
State = Atspi.StateType


def say(text):
    print("answer-share: " + text, flush=True)


def holds(node, state):
    return node.get_state_set().contains(state)


def under(node, depth=0):
    """Every node below `node`, depth first. A widget that goes away meanwhile ends its branch."""
    if depth > 40:
        return
    try:
        children = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except GLib.Error:
        return
    for child in children:
        if child is not None:
            yield child
            yield from under(child, depth + 1)


def first(node, wanted):
    for candidate in under(node):
        try:
            if wanted(candidate):
                return candidate
        except GLib.Error:
            continue
    return None


def shown_dialog():
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        try:
            application = desktop.get_child_at_index(index)
            if application is None or application.get_name() != BACKEND:
                continue
            for window_index in range(application.get_child_count()):
                window = application.get_child_at_index(window_index)
                if window is not None and window.get_name() == TITLE and holds(window, State.VISIBLE):
                    return window
        except GLib.Error:
            continue
    return None


def within(seconds, found, pause=0.1):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = found()
        if result:
            return result
        time.sleep(pause)
    return None


def is_monitor_list(node):
    # One selectable row per monitor.
    return (node.get_role() == Atspi.Role.LIST and holds(node, State.VISIBLE) and node.get_child_count() > 0
            and holds(node.get_child_at_index(0), State.SELECTABLE))


def button(label):
    # GTK names a button by its mnemonic and its label ("_Share Share"); its label child says it plainly.
    def wanted(node):
        return node.get_role() == Atspi.Role.PUSH_BUTTON and first(
            node, lambda child: child.get_role() == Atspi.Role.LABEL and child.get_name() == label) is not None
    return wanted


def press(node):
    actions = [Atspi.Action.get_action_name(node, i) for i in range(Atspi.Action.get_n_actions(node))]
    return "click" in actions and Atspi.Action.do_action(node, actions.index("click"))


def share(dialog):
    """Chooses the first monitor and presses Share; what stood in the way, or nothing."""
    monitors = within(5, lambda: first(dialog, is_monitor_list))
    if monitors is None:
        return "the dialog shows no monitor"
    if not Atspi.Selection.select_child(monitors, 0):
        return "the monitor could not be selected"
    share_button = first(dialog, button("Share"))
    # Share stays greyed out until a monitor is selected.
    if share_button is None or not within(5, lambda: holds(share_button, State.SENSITIVE)):
        return "Share cannot be pressed"
    return None if press(share_button) else "Share did not take the click"


def main():
    asked = sys.argv[1]
    Atspi.init()
    Atspi.get_desktop(0).get_child_count()
    say("watching")
    while True:
        dialog = shown_dialog()
        if dialog is None:
            time.sleep(0.1)
            continue
        with open(asked, "a") as log:
            log.write("asked\n")
        remember = first(dialog, lambda node: node.get_role() == Atspi.Role.CHECK_BOX)
        kept = remember is not None and holds(remember, State.CHECKED)
        trouble = share(dialog)
        if trouble is None:
            say("shared the first monitor" + ("" if kept else ", not to be remembered"))
        else:
            # Cancelled, so that the recording fails at once rather than when it gives up waiting.
            cancel = first(dialog, button("Cancel"))
            say(trouble + ("; cancelled" if cancel is not None and press(cancel) else ""))
        # Counted once: the dialog takes a moment to go.
        within(10, lambda: shown_dialog() is None)


if __name__ == "__main__":
    main()

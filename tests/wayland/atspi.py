#!/usr/bin/python3
"""Drives the tool through the accessibility bus, which works under any
compositor: wait for its window, click a button by name.

  atspi.py window APP TITLE TIMEOUT   wait until APP shows a window TITLE
  atspi.py click APP NAME             press the push button NAME of APP
"""
import sys
import time

import pyatspi


def find_app(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            return app
    return None


def walk(acc):
    yield acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def showing(acc):
    states = acc.getState()
    return states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_VISIBLE)


def wait_window(app_name, title, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            app = find_app(app_name)
            if app is not None:
                for i in range(app.childCount):
                    win = app.getChildAtIndex(i)
                    if win is not None and win.name == title and showing(win):
                        return 0
        except Exception:  # the tree changes while it is read
            pass
        time.sleep(0.1)
    print(f"no window {title!r} of {app_name!r} within {timeout} s", file=sys.stderr)
    return 1


def click(app_name, name):
    app = find_app(app_name)
    if app is None:
        print(f"no application {app_name!r}", file=sys.stderr)
        return 1
    for acc in walk(app):
        if acc.getRole() == pyatspi.ROLE_PUSH_BUTTON and acc.name == name:
            action = acc.queryAction()
            for i in range(action.nActions):
                if action.getName(i) in ("Press", "press", "click"):
                    action.doAction(i)
                    return 0
            action.doAction(0)
            return 0
    print(f"no button {name!r}", file=sys.stderr)
    return 1


def main(argv):
    if len(argv) == 5 and argv[1] == "window":
        return wait_window(argv[2], argv[3], float(argv[4]))
    if len(argv) == 4 and argv[1] == "click":
        return click(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))

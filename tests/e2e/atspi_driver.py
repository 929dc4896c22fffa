# SPDX-License-Identifier: GPL-2.0-or-later
"""Drives a running program through the accessibility bus (AT-SPI).

Widgets are found as assistive technology finds them: by role and by the
name a screen reader speaks, among those on screen. Every wait is bounded;
a widget that does not turn up fails with its role and name.
"""

import time

import pyatspi

PRESS_ACTIONS = ("press", "click", "activate")
TOGGLE_ACTIONS = ("toggle", "check", "press", "click")
# Rows and cells are searched only when asked for: walking every row of a
# long list on each look-up would make the walk slow.
ITEM_CONTAINERS = {"list", "table", "tree", "tree table"}
ITEM_ROLES = {"list item", "table cell", "tree item"}


class WalkError(Exception):
    """A step failed; the text names the widget or the check."""


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def enabled(acc):
    return acc.getState().contains(pyatspi.STATE_ENABLED)


def checked(acc):
    return acc.getState().contains(pyatspi.STATE_CHECKED)


def children(acc):
    try:
        return [c for c in (acc.getChildAtIndex(i) for i in range(acc.childCount)) if c]
    except Exception:  # the widget went away under us
        return []


class Driver:
    def __init__(self, deadline, ended, wait_seconds=10.0):
        self.deadline = deadline
        self.ended = ended  # a sentence once the program has ended, else None
        self.wait_seconds = wait_seconds
        self.app = None

    def wait_until(self, condition, what):
        """Polls `condition` until it returns something true and returns that."""
        limit = min(self.wait_seconds, self.deadline - time.monotonic())
        end = time.monotonic() + limit
        error = None
        while True:
            gone = self.ended()
            if gone:
                raise WalkError(f"{gone} while waiting for: {what}")
            try:
                result = condition()
                if result:
                    return result
            except WalkError:
                raise
            except Exception as e:  # the bus or a widget going away: not yet
                error = e
            if time.monotonic() >= end:
                last = f" (last error: {error!r})" if error else ""
                raise WalkError(f"timed out after {max(limit, 0):.0f} s: {what}{last}")
            time.sleep(0.05)

    def attach(self, pid):
        def find_app():
            for app in children(pyatspi.Registry.getDesktop(0)):
                if app.get_process_id() == pid and app.childCount > 0:
                    return app
            return None

        self.app = self.wait_until(find_app, f"the program (pid {pid}) on the accessibility bus")
        # Ask the program each time rather than trust a cache kept by events.
        self.app.set_cache_mask(pyatspi.Atspi.Cache.NONE)

    def windows(self):
        return [w for w in children(self.app) if showing(w)]

    def find_all(self, role, name, root=None):
        want_items = role in ITEM_ROLES
        found = []
        stack = [root] if root is not None else self.windows()
        while stack:
            acc = stack.pop()
            try:
                if acc is not root and not showing(acc):
                    continue
                if acc.getRoleName() == role and (acc.name or "") == name:
                    found.append(acc)
                if want_items or acc.getRoleName() not in ITEM_CONTAINERS:
                    stack.extend(reversed(children(acc)))
            except Exception:
                continue
        return found

    def find(self, role, name, root=None):
        """The first widget on screen with this role and name."""
        try:
            return self.wait_until(lambda: (self.find_all(role, name, root) or [None])[0],
                                   f"no {role} {name!r} on screen")
        except WalkError as error:
            raise WalkError(f"{error}\n{self.screen_summary()}") from None

    def window(self, title):
        return self.wait_until(lambda: next((w for w in self.windows() if w.name == title), None),
                               f"no window or dialog titled {title!r} on screen")

    def window_gone(self, title):
        self.wait_until(lambda: all(w.name != title for w in self.windows()),
                        f"window or dialog titled {title!r} still open")

    def _act(self, acc, wanted, what):
        action = acc.queryAction()
        names = [action.getName(i).lower() for i in range(action.nActions)]
        choice = next((n for n in wanted if n in names), None)
        if choice is None:
            raise WalkError(f"{what} offers no action to activate it (actions: {names})")
        action.doAction(names.index(choice))

    def press(self, name, role="push button", root=None):
        button = self.find(role, name, root)
        self.wait_until(lambda: enabled(button), f"{role} {name!r} is on screen but disabled")
        self._act(button, PRESS_ACTIONS, f"{role} {name!r}")

    def set_checked(self, name, role="check box"):
        box = self.find(role, name)
        self.wait_until(lambda: enabled(box), f"{role} {name!r} is on screen but disabled")
        if not checked(box):
            self._act(box, TOGGLE_ACTIONS, f"{role} {name!r}")
            self.wait_until(lambda: checked(box), f"{role} {name!r} did not become checked")

    @staticmethod
    def rows(table_acc):
        """The rows of a list or table, each a dict of cell texts by column header."""
        table = table_acc.queryTable()
        heads = []
        for c in range(table.nColumns):
            header = table.getColumnHeader(c)
            heads.append((header.name.strip() if header is not None else "") or str(c))
        def text(r, c):
            cell = table.getAccessibleAt(r, c)
            return cell.name or "" if cell is not None else ""

        return [{h: text(r, c) for c, h in enumerate(heads)} for r in range(table.nRows)]

    def select_row(self, table_acc, index, what):
        """Selects a row through the table interface, as assistive technology does."""
        table = table_acc.queryTable()
        if not table.addRowSelection(index):
            raise WalkError(f"{what}: the list refused to select row {index}")
        self.wait_until(lambda: table.isRowSelected(index), f"{what}: row {index} not selected")

    def screen_summary(self, limit=40):
        """The named widgets on screen, shown beside a failure."""
        lines = ["On screen now:"]

        def visit(acc, depth):
            for child in children(acc):
                if len(lines) < limit and showing(child):
                    role = child.getRoleName()
                    if child.name:
                        lines.append(f"{'  ' * depth}{role} {child.name[:60]!r}")
                    if role not in ITEM_CONTAINERS:
                        visit(child, depth + 1)

        try:
            for w in self.windows():
                lines.append(f"  window {w.name!r}")
                visit(w, 2)
        except Exception as error:
            lines.append(f"  (could not read the screen: {error})")
        return "\n".join(lines)

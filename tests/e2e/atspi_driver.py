"""Drives a running program through the accessibility bus (AT-SPI).

Widgets are found the way assistive technology finds them: by role and by
the name a screen reader speaks, among those on screen. Buttons are pressed
and check boxes toggled through their accessible actions; list rows are
selected through the list's table interface. Every wait is bounded: a widget
that does not turn up in time fails the walk with a message naming its role
and name, and nothing waits past the walk's overall deadline.
"""

import time

import pyatspi

# Names of the accessible actions that stand for "activate this control".
PRESS_ACTIONS = ("press", "click", "activate", "jump")
TOGGLE_ACTIONS = ("toggle", "check", "press", "click")
# Containers whose children are rows or cells: walked only when looking for
# rows or cells, since a long list would make every look-up slow.
ITEM_CONTAINERS = {"list", "table", "tree", "tree table"}
ITEM_ROLES = {"list item", "table cell", "tree item"}


class WalkError(Exception):
    """A step of the walk failed; the text says which widget or check."""


def describe(role, name):
    if callable(name):
        return f"{role} {getattr(name, 'description', 'matching a condition')}"
    return f"{role} {name!r}"


def starting_with(prefix):
    """A name condition for find(): the name begins with `prefix`."""

    def condition(name):
        return name.startswith(prefix)

    condition.description = f"whose name begins with {prefix!r}"
    return condition


def any_name(name):
    return True


any_name.description = "of any name"


def role_of(acc):
    return acc.getRoleName()


def name_of(acc):
    return acc.name or ""


def has_state(acc, state):
    return acc.getState().contains(state)


def showing(acc):
    return has_state(acc, pyatspi.STATE_SHOWING)


def enabled(acc):
    return has_state(acc, pyatspi.STATE_ENABLED)


def checked(acc):
    return has_state(acc, pyatspi.STATE_CHECKED)


def children(acc):
    try:
        count = acc.childCount
    except Exception:
        return []
    result = []
    for i in range(count):
        try:
            child = acc.getChildAtIndex(i)
        except Exception:
            continue
        if child is not None:
            result.append(child)
    return result


class Driver:
    """One running program on the accessibility bus."""

    def __init__(self, deadline, wait_seconds=10.0):
        self.deadline = deadline
        self.wait_seconds = wait_seconds
        self.app = None
        self.pid = None
        # Returns a sentence when the program has ended; waits stop at once
        # then instead of running into their time limit.
        self.ended = lambda: None

    # ---- time ------------------------------------------------------------

    def remaining(self):
        return self.deadline - time.monotonic()

    def wait_until(self, condition, what, timeout=None):
        """Polls `condition` until it returns something true; returns that.

        Fails with `what` in the message when the wait or the walk's overall
        deadline runs out. Errors of the accessibility bus while polling
        (a widget vanishing under us) count as "not yet".
        """
        limit = min(timeout if timeout is not None else self.wait_seconds, self.remaining())
        if limit <= 0:
            raise WalkError(f"overall time limit reached before: {what}")
        end = time.monotonic() + limit
        last_error = None
        while True:
            gone = self.ended()
            if gone:
                raise WalkError(f"{gone} while waiting for: {what}")
            try:
                result = condition()
                last_error = None
                if result:
                    return result
            except WalkError:
                raise
            except Exception as error:  # the bus or a widget going away
                last_error = error
            if time.monotonic() >= end:
                detail = ""
                if last_error is not None:
                    detail = f" (last error: {type(last_error).__name__}: {last_error})"
                overall = " (overall time limit)" if self.remaining() <= 0 else ""
                raise WalkError(f"timed out after {limit:.0f} s{overall}: {what}{detail}")
            time.sleep(0.05)

    # ---- the program -----------------------------------------------------

    def attach(self, pid, timeout=None):
        """Waits until the program with this process id is on the bus."""

        def find_app():
            desktop = pyatspi.Registry.getDesktop(0)
            for app in children(desktop):
                try:
                    if app.get_process_id() == pid and app.childCount > 0:
                        return app
                except Exception:
                    continue
            return None

        try:
            self.app = self.wait_until(
                find_app, f"the program (pid {pid}) to appear on the accessibility bus", timeout
            )
        except WalkError as error:
            seen = []
            try:
                for app in children(pyatspi.Registry.getDesktop(0)):
                    seen.append(f"{name_of(app)!r} (pid {app.get_process_id()})")
            except Exception as listing_error:
                seen.append(f"(could not list: {listing_error})")
            raise WalkError(f"{error}; programs on the bus: {', '.join(seen) or 'none'}") from None
        self.pid = pid
        # Ask the program every time instead of trusting a cache that the
        # program's change notifications would have to keep fresh.
        try:
            self.app.set_cache_mask(pyatspi.Atspi.Cache.NONE)
        except Exception:
            pass
        return self.app

    def windows(self):
        """The program's top-level windows (main window, dialogs, message boxes)."""
        return children(self.app)

    # ---- finding ---------------------------------------------------------

    @staticmethod
    def _matches(acc, role, name):
        if role_of(acc) != role:
            return False
        text = name_of(acc)
        return name(text) if callable(name) else text == name

    def _search(self, root, role, name, only_showing, limit=None):
        found = []
        want_items = role in ITEM_ROLES
        stack = [root]
        while stack:
            acc = stack.pop()
            try:
                if only_showing and acc is not root and not showing(acc):
                    continue
                if self._matches(acc, role, name):
                    found.append(acc)
                    if limit and len(found) >= limit:
                        return found
                if role_of(acc) in ITEM_CONTAINERS and not want_items:
                    continue
                stack.extend(reversed(children(acc)))
            except Exception:
                continue
        return found

    def find_all(self, role, name, root=None, only_showing=True):
        roots = [root] if root is not None else self.windows()
        found = []
        for r in roots:
            if only_showing and not showing(r):
                continue
            found.extend(self._search(r, role, name, only_showing))
        return found

    def find(self, role, name, root=None, timeout=None, only_showing=True):
        """The first widget on screen with this role and name."""
        where = f" in {describe(role_of(root), name_of(root))}" if root is not None else ""

        def look():
            found = self.find_all(role, name, root, only_showing)
            return found[0] if found else None

        try:
            return self.wait_until(look, f"no {describe(role, name)} on screen{where}", timeout)
        except WalkError as error:
            raise WalkError(f"{error}\n{self.screen_summary()}") from None

    def absent(self, role, name, root=None, timeout=None):
        """Waits until no widget with this role and name is on screen."""
        self.wait_until(
            lambda: not self.find_all(role, name, root),
            f"{describe(role, name)} still on screen",
            timeout,
        )

    def window(self, name, timeout=None):
        """A top-level window or dialog of the program, by its title."""

        def look():
            for w in self.windows():
                if name_of(w) == name and showing(w):
                    return w
            return None

        try:
            return self.wait_until(look, f"no window or dialog titled {name!r} on screen", timeout)
        except WalkError as error:
            raise WalkError(f"{error}\n{self.screen_summary()}") from None

    def window_gone(self, name, timeout=None):
        self.wait_until(
            lambda: not any(name_of(w) == name and showing(w) for w in self.windows()),
            f"window or dialog titled {name!r} still open",
            timeout,
        )

    # ---- acting ----------------------------------------------------------

    def _do_action(self, acc, wanted, role, name):
        action = acc.queryAction()
        names = [action.getName(i).lower() for i in range(action.nActions)]
        for candidate in wanted:
            if candidate in names:
                action.doAction(names.index(candidate))
                return
        raise WalkError(
            f"{describe(role, name)} offers no action to activate it (actions: {names or 'none'})"
        )

    def wait_enabled(self, acc, role, name, timeout=None):
        self.wait_until(
            lambda: enabled(acc), f"{describe(role, name)} is on screen but stays disabled", timeout
        )

    def press(self, name, role="push button", root=None, timeout=None):
        """Presses a button through its accessible action."""
        button = self.find(role, name, root, timeout)
        self.wait_enabled(button, role, name, timeout)
        self._do_action(button, PRESS_ACTIONS, role, name)
        return button

    def set_checked(self, name, value=True, role="check box", root=None, timeout=None):
        """Checks or unchecks a check box or radio button through its action."""
        box = self.find(role, name, root, timeout)
        self.wait_enabled(box, role, name, timeout)
        if checked(box) != value:
            self._do_action(box, TOGGLE_ACTIONS, role, name)
            self.wait_until(
                lambda: checked(box) == value,
                f"{describe(role, name)} did not become {'checked' if value else 'unchecked'}",
                timeout,
            )
        return box

    def set_text(self, name, text, role="text", root=None, timeout=None):
        """Replaces the text of an edit field through its editable-text interface."""
        field = self.find(role, name, root, timeout)
        self.wait_enabled(field, role, name, timeout)
        editable = field.queryEditableText()
        editable.setTextContents(text)
        self.wait_until(
            lambda: self.text_of(field) == text,
            f"{describe(role, name)} did not take the text {text!r}",
            timeout,
        )
        return field

    @staticmethod
    def text_of(acc):
        """The text of a widget: its text interface when it has one, else its name."""
        try:
            t = acc.queryText()
            return t.getText(0, t.characterCount)
        except NotImplementedError:
            return name_of(acc)

    def click(self, acc, what):
        """A pointer click at the place a widget reports for itself.

        Only for controls that offer no accessible action for what a click
        does; the widget is still found by role and name, never by a fixed
        position.
        """
        extents = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        if extents.width <= 0 or extents.height <= 0:
            raise WalkError(f"{what} reports no place on screen to click")
        x = extents.x + min(extents.width // 2, 20)
        y = extents.y + extents.height // 2
        pyatspi.Registry.generateMouseEvent(x, y, pyatspi.MOUSE_B1C)

    # ---- tables ----------------------------------------------------------

    @staticmethod
    def headers(table_acc):
        table = table_acc.queryTable()
        result = []
        for c in range(table.nColumns):
            header = table.getColumnHeader(c)
            result.append(name_of(header) if header is not None else table.getColumnDescription(c))
        return result

    def rows(self, table_acc):
        """The rows of a list or table as lists of cell texts, in screen order."""
        table = table_acc.queryTable()
        result = []
        for r in range(table.nRows):
            row = []
            for c in range(table.nColumns):
                cell = table.getAccessibleAt(r, c)
                row.append(name_of(cell) if cell is not None else "")
            result.append(row)
        return result

    def rows_by_header(self, table_acc):
        header = self.headers(table_acc)
        return [dict(zip(header, row)) for row in self.rows(table_acc)]

    def select_row(self, table_acc, index, what):
        """Selects one row through the table interface, as assistive technology does."""
        table = table_acc.queryTable()
        if not table.addRowSelection(index):
            raise WalkError(f"{what}: the list refused to select row {index}")
        self.wait_until(lambda: table.isRowSelected(index), f"{what}: row {index} not selected")

    # ---- diagnostics -----------------------------------------------------

    def screen_summary(self, max_lines=60):
        """What is on screen now, in screen order, to show beside a failure."""
        lines = ["On screen now:"]

        def visit(acc, depth):
            for child in children(acc):
                if len(lines) >= max_lines:
                    return
                try:
                    if not showing(child):
                        continue
                    role = role_of(child)
                    text = name_of(child)
                    if role in ("filler", "panel", "frame") and not text:
                        visit(child, depth)  # unnamed containers add nothing to read
                        continue
                    if len(text) > 60:
                        text = text[:57] + "..."
                    state = "" if enabled(child) else " (disabled)"
                    lines.append(f"{'  ' * depth}{role} {text!r}{state}")
                    if role not in ITEM_CONTAINERS:
                        visit(child, depth + 1)
                except Exception:
                    continue

        try:
            for w in self.windows():
                if showing(w):
                    lines.append(f"  window {role_of(w)} {name_of(w)!r}")
                    visit(w, 2)
        except Exception as error:
            lines.append(f"  (could not read the screen: {error})")
        return "\n".join(lines[:max_lines])

"""End-to-end walk of the converter, driven through the accessibility bus.

Started by run-walk.sh, which provides the virtual display and the buses.
The walk lays out a temporary home (Documents folder, compatibility-layer
registry naming the listening locations) and a folder of old backups, then
converts them as a user would: every button is pressed, every list row
chosen and every field filled through the accessibility interfaces, each
widget found by its role and the name a screen reader speaks. After each
step it checks what reached the disk: the working file's bytes, the
settings file, the database rows and the reports.

Exit code 0 when every step passed; 1 with a message naming the step and
the widget or file that was wrong otherwise.
"""

import argparse
import os
import signal
import sqlite3
import struct
import subprocess
import sys
import time
from pathlib import Path

import pyatspi

from atspi_driver import Driver, WalkError, any_name, checked, enabled, has_state, starting_with

OVERALL_SECONDS = 120.0
WAIT_SECONDS = 10.0

PROCESSED_RECORD = 102

# Beacons of the shipped list the walk relies on (Beacon_ID, place as the
# candidate lists show it).
APH_396 = 1  # A P Hill, the only APH on 396
NL_358 = {4357: "Newlands", 4477: "Nyala", 5728: "Signal Hill"}  # three beacons share NL/358
AB_360 = 7  # Abakan; one of the many beacons whose ident begins with AB

LOCATION_NAMES = {1: "Home Base", 2: "Cabin", 3: "42"}

# The old logs: location 1 in log0.bak, location 2 in LOG1.BAK (upper case,
# as copied from another disk). The record without callsign and frequency
# is a blank slot the import skips.
LOCATION_1 = [
    ("NL", "358", "0100", "20010101", "first NL"),
    ("APH", "396", "0200", "20010102", "unique beacon"),
    ("NL", "358", "0300", "20010103", "second NL"),
    ("", "", "", "", "blank slot with only a comment"),
    ("QQQ", "999", "0400", "20010104", "nowhere at all, longer than fifteen"),
    ("AB", "999", "0500", "20010105", "prefix AB"),
    ("NL", "358", "0600", "20010106", "third NL"),
]
LOCATION_2 = [("A-PH", "396", "1200", "20020202", "dash in the callsign")]


def step(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", flush=True)


def check(condition, text):
    if not condition:
        raise WalkError(text)


def pad(text, width):
    return text.encode("cp1252")[:width].ljust(width, b" ")


def log_record(callsign, frequency, time_, date, comment):
    return pad(callsign, 7) + pad(frequency, 6) + pad(time_, 4) + pad(date, 8) + pad(comment, 60)


class Processed:
    """One record of processed.dat."""

    def __init__(self, raw):
        self.raw = raw
        self.location, self.record_no = struct.unpack_from("<hh", raw, 0)
        self.ident = raw[4:14]
        self.frequency = raw[14:24]
        self.time = raw[24:29]
        self.date = raw[29:39]
        self.comment = raw[39:99]
        self.state = raw[99:102]

    def key(self):
        return (self.ident.strip().decode(), self.time.strip().decode())


def expected_processed():
    """processed.dat as the import must build it, every record UNP."""
    records = []
    for location, log in ((1, LOCATION_1), (2, LOCATION_2)):
        for callsign, frequency, time_, date, comment in log:
            if not callsign.strip() and not frequency.strip():
                continue
            number = len(records) + 1
            ident = callsign.replace("-", "").split(";")[0]
            records.append(
                struct.pack("<hh", location, number)
                + pad(ident, 10)
                + pad(frequency, 6).ljust(10)
                + pad(time_, 4).ljust(5)
                + pad(date, 8).ljust(10)
                + pad(comment, 60)
                + b"UNP"
            )
    return records


def report_bytes(title, location, records):
    """A report as the dialog must write it: 15-character cells, CR LF."""
    lines = [f"{title}{location}".encode("cp1252"), b""]
    header = ("Station ID", "Frequency", "Time", "Date", "Comments")
    lines.append(b"".join(pad(h, 15) for h in header))
    for r in records:
        lines.append(
            r.ident.ljust(15)
            + r.frequency.ljust(15)
            + r.time.ljust(15)
            + r.date.ljust(15)
            + r.comment[:15]
        )
    return b"".join(line + b"\r\n" for line in lines)


class Walk:
    def __init__(self, converter, root):
        self.converter = Path(converter)
        self.root = Path(root)
        # Beside the executable in a build tree, in the data folder once installed.
        self.pristine = self.converter.parent / "ndbdata.ndf"
        if not self.pristine.is_file():
            share = self.converter.parent.parent / "share" / "zolt-converter"
            self.pristine = share / "ndbdata.ndf"
        self.home = self.root / "home"
        self.documents = self.home / "Documents"
        self.zolt = self.documents / "ZOLT"
        self.wineprefix = self.root / "wine"
        # The converter starts in the folder that holds the backup folder, so
        # the folder lists begin one click away from it.
        self.cwd = self.root / "work"
        self.backups = self.cwd / "backup"
        self.reports = self.cwd / "reports"
        self.deadline = time.monotonic() + OVERALL_SECONDS
        self.ui = Driver(self.deadline, WAIT_SECONDS)
        self.ui.ended = self.ended
        self.process = None
        self.process_log = self.root / "logs" / "converter.log"
        self.runs = 0

    # ---- set-up ----------------------------------------------------------

    def lay_out(self):
        for folder in (self.documents, self.wineprefix, self.backups, self.reports,
                       self.root / "logs", self.home / ".config"):
            folder.mkdir(parents=True, exist_ok=True)
        (self.backups / "log0.bak").write_bytes(b"".join(log_record(*r) for r in LOCATION_1))
        (self.backups / "LOG1.BAK").write_bytes(b"".join(log_record(*r) for r in LOCATION_2))
        (self.backups / "notes.txt").write_bytes(b"not a backup\r\n")
        (self.wineprefix / "user.reg").write_text(
            "WINE REGISTRY Version 2\n"
            ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
            "[Software\\\\ZOLT6.1\\\\ListeningLocations] 1700000000\n"
            "#time=1d9c6b3a1e2f3a0\n"
            f"\"Location(0)\"=\"{LOCATION_NAMES[1]}\"\n"
            f"\"Location(1)\"=\"{LOCATION_NAMES[2]}\"\n"
            "\"Location(2)\"=dword:0000002a\n\n",
            encoding="utf-8",
        )
        check(self.pristine.is_file(),
              f"no shipped ndbdata.ndf beside the converter {self.converter}")

    def environment(self):
        env = dict(os.environ)
        env.update(
            HOME=str(self.home),
            XDG_CONFIG_HOME=str(self.home / ".config"),
            XDG_DATA_HOME=str(self.home / ".local" / "share"),
            XDG_CACHE_HOME=str(self.home / ".cache"),
            WINEPREFIX=str(self.wineprefix),
            LC_ALL="C.UTF-8",
        )
        return env

    # ---- the program -----------------------------------------------------

    def start(self):
        self.runs += 1
        step(f"start the converter (run {self.runs})")
        log = open(self.process_log, "ab")
        self.process = subprocess.Popen(
            [str(self.converter)],
            cwd=self.cwd,
            env=self.environment(),
            stdin=subprocess.DEVNULL,
            stdout=log,
            stderr=subprocess.STDOUT,
            process_group=0,
        )
        log.close()
        self.ui.attach(self.process.pid)
        self.ui.window("Database Converter")

    def ended(self):
        if self.process is None:
            return None
        code = self.process.poll()
        return None if code is None else f"the converter ended unexpectedly (exit code {code})"

    def stop(self):
        """Ends the converter if it still runs (used on failure)."""
        if self.process and self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
                self.process.wait(5)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                try:
                    os.killpg(self.process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                self.process.wait(5)

    def snapshot(self):
        return {p.name: p.read_bytes() for p in sorted(self.zolt.iterdir()) if p.is_file()}

    def exit_program(self):
        step("Exit")
        before = self.snapshot()
        self.ui.press("Exit")
        process, self.process = self.process, None  # its end is expected now
        try:
            code = process.wait(min(WAIT_SECONDS, max(self.ui.remaining(), 1)))
        except subprocess.TimeoutExpired:
            self.process = process  # still running: stopped by the clean-up
            raise WalkError("the converter did not end within 10 s of pressing Exit") from None
        check(code == 0, f"the converter ended with exit code {code} after Exit")
        after = self.snapshot()
        changed = sorted(n for n in set(before) | set(after) if before.get(n) != after.get(n))
        check(not changed, f"Exit changed files in Documents/ZOLT: {changed}")

    # ---- files and database ----------------------------------------------

    def processed(self):
        data = (self.zolt / "processed.dat").read_bytes()
        check(len(data) % PROCESSED_RECORD == 0,
              f"processed.dat is {len(data)} bytes, not whole records of {PROCESSED_RECORD}")
        return [Processed(data[i:i + PROCESSED_RECORD])
                for i in range(0, len(data), PROCESSED_RECORD)]

    def states(self):
        return {r.key(): r.state.decode() for r in self.processed()}

    def query(self, sql, params=()):
        # Read-only and closed at once, so the converter's compaction never
        # meets a reader. Ident carries a collation only the converter has:
        # it is never compared here.
        connection = sqlite3.connect(f"file:{self.zolt / 'ndbdata.ndf'}?mode=ro", uri=True)
        try:
            return connection.execute(sql, params).fetchall()
        finally:
            connection.close()

    def log_rows(self):
        return self.query(
            "SELECT Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, ReceptionComments "
            "FROM NDBLog ORDER BY Log_ID"
        )

    def expect_log(self, expected, when):
        rows = self.log_rows()
        check(sorted(rows) == sorted(expected),
              f"{when}: NDBLog holds {rows}, expected {sorted(expected)}")

    def expect_beacon_list(self, when):
        """The shipped beacon and country lists are still whole."""
        # NOT INDEXED: the index on Ident needs the converter's own collation.
        counts = ("SELECT (SELECT count(*) FROM NDBInformation NOT INDEXED), "
                  "(SELECT sum(Beacon_ID) FROM NDBInformation NOT INDEXED), "
                  "(SELECT count(*) FROM CountryCode)")
        connection = sqlite3.connect(f"file:{self.pristine}?mode=ro", uri=True)
        try:
            want = connection.execute(counts).fetchall()
        finally:
            connection.close()
        got = self.query(counts)
        check(got == want, f"{when}: the database's beacon list (count, id sum, countries) "
                           f"is {got}, the shipped one {want}")

    def expect_states(self, expected, when):
        states = self.states()
        for key, state in expected.items():
            check(states.get(key) == state,
                  f"{when}: processed.dat record {key} has state {states.get(key)!r}, "
                  f"expected {state!r}")

    # ---- widgets ----------------------------------------------------------

    def expect_enabled(self, role, name, value, timeout=None):
        widget = self.ui.find(role, name, timeout=timeout)
        word = "enabled" if value else "disabled"
        self.ui.wait_until(lambda: enabled(widget) == value, f"{role} {name!r} should be {word}",
                           timeout)
        return widget

    def choose_unmatched_location(self, name):
        """Chooses a location not matched yet: START MATCHING is armed and focused."""
        self.ui.set_checked(name, role="radio button")
        button = self.expect_enabled("push button", "START MATCHING", True)
        # The virtual display has no window manager to hand the activation
        # back to the main window once a message box has closed; the focus
        # is checked only while the window is active, as it is on a desktop.
        if has_state(self.ui.window("Database Converter"), pyatspi.STATE_ACTIVE):
            self.ui.wait_until(lambda: has_state(button, pyatspi.STATE_FOCUSED),
                               f"push button 'START MATCHING' should take the keyboard focus "
                               f"once {name!r} is chosen")

    def confirm(self, prompt, answer):
        """Answers the Yes/No confirmation, after checking its prompt and its default."""
        box = self.ui.window("Confirm")
        self.ui.find("label", prompt, root=box)
        no = self.ui.find("push button", "No", root=box)
        check(has_state(no, pyatspi.STATE_IS_DEFAULT),
              f"the confirmation {prompt!r} should have No as its default button")
        self.ui.press(answer, root=box)
        self.ui.window_gone("Confirm")

    def list_rows(self, name):
        """The on-screen list `name` and its rows, each a dict by column header."""
        table = self.ui.find("tree", name)
        return table, self.ui.rows_by_header(table)

    def wait_rows(self, name, count, what):
        seen = []

        def ready():
            table, rows = self.list_rows(name)
            seen[:] = [rows]
            return (table, rows) if len(rows) == count else None

        try:
            return self.ui.wait_until(ready, f"tree {name!r} should hold {count} rows ({what})")
        except WalkError as error:
            holds = seen[0] if seen else "nothing readable"
            raise WalkError(f"{error}; it holds {holds}") from None

    def choose_row(self, name, predicate, what):
        """Selects the row of the on-screen list `name` that `predicate` picks."""

        def row():
            table, rows = self.list_rows(name)
            index = next((i for i, r in enumerate(rows) if predicate(r)), None)
            return None if index is None else (table, index, rows[index])

        table, index, chosen = self.ui.wait_until(row, f"no row for {what} in tree {name!r}")
        self.ui.select_row(table, index, f"tree {name!r}, row for {what}")
        return chosen

    def open_folder(self, entry, root=None):
        """Opens a sub-folder of the folder list ("Folders") by its shown name."""
        folders = self.ui.find("list", "Folders", root=root)

        def names():
            return [row[0] for row in self.ui.rows(folders)]

        before = names()
        stripped = [n.strip() for n in before]
        check(entry in stripped, f"list 'Folders' has no entry {entry!r}: {stripped}")
        index = stripped.index(entry)

        def opened():
            now = names()
            if now == before:
                return False
            # Opened: the entry now closes the chain of ancestors, each one
            # indented one step deeper than the one above.
            depth = [len(n) - len(n.lstrip(" ")) for n in now]
            for i, name in enumerate(now):
                if depth[i] != 2 * i:
                    return False
                if name.strip() == entry:
                    return True
            return False

        # Assistive technology opens a folder by selecting its entry.
        folders.queryTable().addRowSelection(index)
        self.ui.wait_until(opened, f"folder {entry!r} in list 'Folders' to open when selected")

    # ---- the steps ---------------------------------------------------------

    def first_start(self):
        self.start()
        step("welcome panel on first start")
        check((self.zolt / "ndbdata.ndf").read_bytes() == self.pristine.read_bytes(),
              "first start: Documents/ZOLT/ndbdata.ndf is not a copy of the shipped database")
        self.ui.find("label", "ZOLT 6.4 Database Converter Utility")
        self.expect_enabled("push button", "Start New Project", True)
        self.expect_enabled("push button", "Continue With Existing Project", False)
        check(not (self.zolt / "processed.dat").exists(), "first start created processed.dat")

    def start_new_project(self):
        step("Start New Project, confirmed")
        self.ui.press("Start New Project")
        self.confirm("This action will delete any of your previous work. "
                     "Are you sure you want to continue ?", "Yes")
        self.ui.find("label", "FOLDERS")
        self.ui.find("push button", "START CONVERSION")
        check((self.zolt / "ndbdata1.ndf").is_file(),
              "Start New Project did not leave the compacted copy ndbdata1.ndf")
        self.expect_log([], "after Start New Project")

    def step_zero(self):
        step("step zero: open the backup folder and START CONVERSION")
        self.open_folder("backup")
        files = self.ui.find("list", "Files")
        self.ui.wait_until(
            lambda: sorted(r[0] for r in self.ui.rows(files)) == ["LOG1.BAK", "log0.bak"],
            "list 'Files' should show log0.bak and LOG1.BAK (and not notes.txt)",
        )
        self.ui.press("START CONVERSION")
        self.ui.find("label", "Select location you'd like to match with the new database.")
        settings = (self.zolt / "settings.ini").read_bytes()
        expected = (str(self.backups) + os.sep).encode() + b"\r\n"
        check(settings == expected, f"settings.ini holds {settings!r}, expected {expected!r}")
        records = [r.raw for r in self.processed()]
        check(records == expected_processed(),
              "processed.dat after START CONVERSION differs from the backups:\n"
              + "\n".join(repr(r) for r in records))

    def location_buttons(self, expected):
        """Checks captions and enabled states of the sixteen location buttons."""
        def buttons():
            found = self.ui.find_all("radio button", any_name)
            return found if len(found) == 16 else None
        found = self.ui.wait_until(buttons, "sixteen location radio buttons on step one")
        names = [b.name for b in found]
        want = [LOCATION_NAMES.get(k, "Empty") for k in range(1, 17)]
        check(names == want, f"location buttons read {names}, expected {want}")
        for k, value in expected.items():
            self.ui.wait_until(lambda: enabled(found[k - 1]) == value,
                               f"radio button {want[k - 1]!r} should be "
                               f"{'enabled' if value else 'disabled'}")

    def match_location_one(self):
        step("step one: choose 'Home Base' and START MATCHING")
        self.location_buttons({1: True, 2: True, 3: False, 4: False})
        self.expect_enabled("push button", "START MATCHING", False)
        self.choose_unmatched_location("Home Base")
        self.ui.press("START MATCHING")
        self.ui.find("label", "Logged Stations")
        self.ui.find("label", "Ambiguous Stations")
        _, rows = self.wait_rows("Logged Stations", 3, "the three NL/358 receptions")
        check([r["Ident"].strip() for r in rows] == ["NL"] * 3,
              f"'Logged Stations' shows {rows}, expected the three NL receptions")
        check(sorted(r["Time"].strip() for r in rows) == ["0100", "0300", "0600"],
              f"'Logged Stations' times: {rows}")
        self.ui.find("push button", "Show Ambiguous Stations (3)")
        self.ui.find("push button", "Show Unresolved Stations (2)")
        self.ui.find("push button", "Save To File")
        self.expect_log([(APH_396, 1, "0200", "20010102", "unique beacon")], "after matching")
        self.expect_states({("NL", "0100"): "AMB", ("APH", "0200"): "OK ", ("NL", "0300"): "AMB",
                            ("QQQ", "0400"): "MIS", ("AB", "0500"): "MIS", ("NL", "0600"): "AMB",
                            ("APH", "1200"): "UNP"}, "after matching")

    def settle_one_ambiguous(self):
        step("settle one NL/358 reception with Add To Log")
        self.choose_row("Logged Stations", lambda r: r["Time"].strip() == "0100", "NL at 0100")
        self.ui.find("label", "NL - 358")
        _, candidates = self.wait_rows("Possible Matches", 3, "the three NL/358 beacons")
        cities = sorted(r["City "] for r in candidates)
        check(cities == sorted(NL_358.values()), f"'Possible Matches' lists {cities}")
        self.expect_enabled("push button", "Add To Log", False)
        self.choose_row("Possible Matches", lambda r: r["City "] == "Nyala", "Nyala")
        self.ui.find("label", "Nyala, Sudan")
        self.expect_enabled("check box", "Apply To All Instances Of This Callsign", True)
        self.ui.press("Add To Log")
        self.wait_rows("Logged Stations", 2, "NL at 0100 settled")
        self.ui.find("push button", "Show Ambiguous Stations (2)")
        self.expect_enabled("push button", "Add To Log", False)
        self.expect_log([(APH_396, 1, "0200", "20010102", "unique beacon"),
                         (4477, 1, "0100", "20010101", "first NL")], "after Add To Log")
        self.expect_states({("NL", "0100"): "OK ", ("NL", "0300"): "AMB", ("NL", "0600"): "AMB"},
                           "after Add To Log")

    def save_report(self, caption, default_name, name, kind_title, state):
        step(f"Save To File: {caption}")
        self.ui.press("Save To File")
        dialog = self.ui.window(caption)
        field = self.ui.find("text", "File Name:", root=dialog)
        check(self.ui.text_of(field) == default_name,
              f"'File Name:' starts as {self.ui.text_of(field)!r}, expected {default_name!r}")
        if name != default_name:
            self.ui.set_text("File Name:", name, root=dialog)
        self.open_folder("reports", root=dialog)
        self.ui.press("OK", root=dialog)
        self.ui.window_gone(caption)
        target = self.reports / name
        self.ui.wait_until(target.is_file, f"report {target} to be written")
        listed = [r for r in self.processed()
                  if r.location == 1 and r.state.strip() == state.encode()]
        want = report_bytes(kind_title, 1, listed)
        got = target.read_bytes()
        check(got == want, f"report {name} differs:\n got  {got!r}\n want {want!r}")

    def settle_all_ambiguous(self):
        step("settle the remaining NL/358 receptions with Apply To All Instances")
        self.choose_row("Logged Stations", lambda r: r["Time"].strip() == "0300", "NL at 0300")
        self.choose_row("Possible Matches", lambda r: r["City "] == "Signal Hill", "Signal Hill")
        self.ui.find("label", "Signal Hill, Canada")
        self.ui.set_checked("Apply To All Instances Of This Callsign", True)
        self.ui.press("Add To Log")
        self.wait_rows("Logged Stations", 0, "every NL settled")
        self.ui.absent("push button", starting_with("Show Ambiguous Stations"))
        box = self.ui.find("check box", "Apply To All Instances Of This Callsign")
        self.ui.wait_until(lambda: not checked(box) and not enabled(box),
                           "check box 'Apply To All Instances Of This Callsign' should be "
                           "unchecked and disabled after Add To Log")
        self.expect_log([(APH_396, 1, "0200", "20010102", "unique beacon"),
                         (4477, 1, "0100", "20010101", "first NL"),
                         (5728, 1, "0300", "20010103", "second NL"),
                         (5728, 1, "0600", "20010106", "third NL")], "after Add To Log for all")
        self.expect_states({("NL", "0300"): "OK ", ("NL", "0600"): "OK "},
                           "after Add To Log for all")

    def settle_unresolved(self):
        step("Show Unresolved Stations and settle AB from the prefix candidates")
        self.ui.press("Show Unresolved Stations (2)")
        self.ui.find("label", "Unresolved Stations")
        _, rows = self.wait_rows("Logged Stations", 2, "AB and QQQ")
        check([r["Ident"].strip() for r in rows] == ["AB", "QQQ"],
              f"'Logged Stations' should list AB then QQQ (sorted by ident): {rows}")
        self.choose_row("Logged Stations", lambda r: r["Ident"].strip() == "AB", "AB")
        self.ui.find("label", "AB - 999")
        # Every beacon whose ident begins with AB and whose country is known.
        beacons = self.query(
            "SELECT n.Beacon_ID, n.Ident FROM NDBInformation n, CountryCode c "
            "WHERE n.Country = c.CountryShort")
        want = sorted(b for b, ident in beacons if ident.upper().startswith("AB"))
        _, candidates = self.wait_rows("Possible Matches", len(want), "the AB* beacons")
        check(sorted(int(r["Beacon_ID"]) for r in candidates) == want,
              f"'Possible Matches' should list beacons {want}: {candidates}")
        self.choose_row("Possible Matches", lambda r: r["Beacon_ID"] == str(AB_360), "Abakan")
        self.ui.find("label", "AB, 360, Abakan")
        self.ui.press("Add To Log")
        _, rows = self.wait_rows("Logged Stations", 1, "only QQQ left")
        check(rows[0]["Ident"].strip() == "QQQ", f"'Logged Stations' should keep QQQ: {rows}")
        self.ui.find("push button", "Show Unresolved Stations (1)")
        self.ui.find("label", "Unresolved Stations")
        self.expect_log([(APH_396, 1, "0200", "20010102", "unique beacon"),
                         (4477, 1, "0100", "20010101", "first NL"),
                         (5728, 1, "0300", "20010103", "second NL"),
                         (5728, 1, "0600", "20010106", "third NL"),
                         (AB_360, 1, "0500", "20010105", "prefix AB")], "after settling AB")
        self.expect_states({("AB", "0500"): "OK ", ("QQQ", "0400"): "MIS"}, "after settling AB")

    def another_location_and_start_over(self):
        step("Process Another Listening Location, back to 'Home Base', Start Over")
        self.ui.press("Process Another Listening Location")
        self.ui.find("label", "Select location you'd like to match with the new database.")
        self.location_buttons({1: True, 2: True, 3: False})
        self.ui.set_checked("Home Base", role="radio button")
        # Matched already: straight to step two, in the unresolved view.
        self.ui.find("label", "Unresolved Stations")
        _, rows = self.wait_rows("Logged Stations", 1, "QQQ")
        check(rows[0]["Ident"].strip() == "QQQ", f"'Logged Stations' should list QQQ: {rows}")
        before = {r.record_no: r.raw for r in self.processed()}
        self.ui.press("Start Over")
        self.confirm("Are you sure you want to recreate log#1?", "Yes")
        self.ui.find("label", "Select location you'd like to match with the new database.")
        self.expect_log([], "after Start Over of location 1")
        # Start Over puts the location's receptions back to UNP (the rows
        # logged for them are gone) and leaves other locations alone.
        for r in self.processed():
            old = before[r.record_no]
            want = old[:99] + (b"UNP" if r.location == 1 else old[99:])
            check(r.raw == want,
                  f"after Start Over, processed.dat record {r.record_no} is {r.raw!r}")
        check((self.zolt / "ndbdata1.ndf").is_file(), "Start Over left no compacted copy")
        self.location_buttons({1: True, 2: True})
        self.expect_enabled("push button", "START MATCHING", False)

    def second_run(self):
        self.start()
        step("second start: Start New Project answered No, then Continue With Existing Project")
        self.expect_enabled("push button", "Continue With Existing Project", True)
        settings = (self.zolt / "settings.ini").read_bytes()
        processed = (self.zolt / "processed.dat").read_bytes()
        self.ui.press("Start New Project")
        self.confirm("This action will delete any of your previous work. "
                     "Are you sure you want to continue ?", "No")
        self.ui.find("push button", "Continue With Existing Project")
        check((self.zolt / "settings.ini").read_bytes() == settings,
              "Start New Project answered No changed settings.ini")
        check((self.zolt / "processed.dat").read_bytes() == processed,
              "Start New Project answered No changed processed.dat")
        self.ui.press("Continue With Existing Project")
        self.ui.find("label", "Select location you'd like to match with the new database.")
        self.location_buttons({1: True, 2: True, 3: False})

        step("match 'Cabin' (A-PH read as APH, one beacon)")
        self.choose_unmatched_location("Cabin")
        self.ui.press("START MATCHING")
        self.ui.find("label", "Logged Stations")
        self.wait_rows("Logged Stations", 0, "nothing left at 'Cabin'")
        cabin = [(APH_396, 2, "1200", "20020202", "dash in the callsign")]
        self.expect_log(cabin, "after matching Cabin")
        self.expect_states({("APH", "1200"): "OK "}, "after matching Cabin")
        self.ui.press("Process Another Listening Location")
        self.location_buttons({1: True, 2: False})

        step("FINALIZE, confirmed")
        self.ui.press("FINALIZE")
        self.confirm("This action will close your current work and prepare database for use "
                     "with ZOLT 6.4, are you sure you want to continue ?", "Yes")
        self.ui.find("label", starting_with("All your logs have been converted."))
        self.expect_enabled("push button", "Continue With Existing Project", False)
        for name in ("processed.dat", "settings.ini", "ndbdata1.ndf"):
            check(not (self.zolt / name).exists(), f"FINALIZE left {name} in Documents/ZOLT")
        self.expect_log(cabin, "after FINALIZE")
        self.expect_beacon_list("after FINALIZE")
        self.exit_program()

    def third_run(self):
        self.start()
        step("third start: no project left")
        self.ui.find("push button", "Start New Project")
        self.expect_enabled("push button", "Continue With Existing Project", False)
        self.ui.absent("label", starting_with("All your logs have been converted."))
        check(not (self.zolt / "processed.dat").exists(),
              "a start without a project made processed.dat")
        self.exit_program()

    def run(self):
        self.lay_out()
        self.first_start()
        self.start_new_project()
        self.step_zero()
        self.match_location_one()
        self.settle_one_ambiguous()
        self.save_report("Ambiguous Station Report Save...", "AmbiguousStations_Location1.txt",
                         "AmbiguousStations_Location1.txt",
                         "AMBIGUOUS STATION REPORT FOR LOCATION ", "AMB")
        self.settle_all_ambiguous()
        self.settle_unresolved()
        self.save_report("Unresolved Station Report Save...", "UnresolvedStations_Location1.txt",
                         "left-over stations.txt", "UNRESOLVED STATION REPORT FOR LOCATION ", "MIS")
        self.another_location_and_start_over()
        self.exit_program()
        self.second_run()
        self.third_run()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--converter", required=True)
    parser.add_argument("--root", required=True, help="an empty temporary folder")
    args = parser.parse_args()
    started = time.monotonic()
    walk = Walk(args.converter, args.root)
    try:
        walk.run()
    except WalkError as error:
        print(f"e2e: FAILED: {error}", file=sys.stderr, flush=True)
        tail = ""
        if walk.process_log.exists():
            tail = walk.process_log.read_text(errors="replace")[-2000:]
        if tail.strip():
            print(f"--- converter output ---\n{tail}", file=sys.stderr)
        return 1
    except Exception:
        import traceback
        traceback.print_exc()
        print("e2e: FAILED: unexpected error (see the trace above)", file=sys.stderr)
        return 1
    finally:
        walk.stop()
    print(f"e2e: PASSED: the whole walk in {time.monotonic() - started:.1f} s", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

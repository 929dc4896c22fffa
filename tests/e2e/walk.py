# SPDX-License-Identifier: GPL-2.0-or-later
"""End-to-end walk of the built converter, driven through the accessibility bus.

run-walk.sh provides the virtual display and the buses. The walk lays out a
temporary home and a folder of old backups, converts them as a user would,
and after each step checks what reached the disk: the working file, the
settings file, the report and the database rows. Exit code 0 when every
step passed, 1 with a message naming the step and the widget or file.
"""

import argparse
import os
import re
import shutil
import sqlite3
import struct
import subprocess
import sys
import time
from pathlib import Path

from atspi_driver import Driver, WalkError, children


def labels_under(root):
    """Every label below `root`, shown or not."""
    found, stack = [], [root]
    while stack:
        acc = stack.pop()
        if acc.getRoleName() == "label":
            found.append(acc)
        stack.extend(children(acc))
    return found


LOCATION_STEP = "Select location you'd like to match with the new database."
NEW_PROJECT_PROMPT = ("This action will delete any of your previous work. "
                      "Are you sure you want to continue ?")
FINALIZE_PROMPT = ("This action will close your current work and prepare database for use "
                   "with ZOLT 6.4, are you sure you want to continue ?")
# FINALIZE with the five receptions of MATCHED still waiting.
WAITING = ("5 receptions are still waiting (ambiguous, unresolved or not yet matched) and will "
           "not be converted; Save To File on step two keeps a list of the ambiguous and "
           "unresolved ones.\n\n")
LEFT_UNCONVERTED = ("The conversion is finished, but 5 receptions were left unconverted. Run ZOLT "
                    "6.4 and verify all your data is present. If all OK, this utility can be "
                    "uninstalled from your computer, otherwise hit START NEW PROJECT to restart "
                    "the conversion from scratch.")
APPLY_ALL = "Apply To All Instances Of This Callsign"
APH_396, NYALA, SIGNAL_HILL, ABAKAN = 1, 4477, 5728, 7  # Beacon_IDs of the shipped list

# The old log of location 1: three receptions of NL/358 (three beacons share
# it), one of the only APH on 396, one of nothing known and one whose ident
# only begins a few beacons' idents.
LOG = [("NL", "358", "0100", "20010101", "first NL"),
       ("APH", "396", "0200", "20010102", "unique beacon"),
       ("NL", "358", "0300", "20010103", "second NL"),
       ("QQQ", "999", "0400", "20010104", "nowhere at all"),
       ("AB", "999", "0500", "20010105", "prefix AB"),
       ("NL", "358", "0600", "20010106", "third NL")]
APH_ROW = (APH_396, 1, "0200", "20010102", "unique beacon")
# The demo backups of examples/: their location 1 ("Home Base" here) infers
# its home from 100-odd beacons; 8 of its waiting receptions, in 6 distinct
# callsign/frequency pairs, have a suggested pick (BNR on 334 among them, and
# WNA on 389.0, typed otherwise than the listener's own beacon WNA on 389).
DEMO = Path(__file__).resolve().parents[2] / "examples" / "backup"
SUGGESTED_PROMPT = ("This will log 8 receptions of 6 distinct callsign/frequency pairs, each to "
                    "its suggested pick, the candidate clearly nearest to a home inferred from "
                    "the 114 beacons logged here, near 41.4\u00b0 N 83.0\u00b0 W (you have not "
                    "typed one). Receptions without a clear suggestion stay waiting. Are you "
                    "sure you want to continue ?")
UNDO_SUGGESTED_PROMPT = ("This will undo Add Suggested Picks: 8 receptions return to waiting. "
                         "Are you sure you want to continue ?")
LOG_ROWS = ("SELECT Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, ReceptionComments "
            "FROM NDBLog")
MATCHED = {("NL", "0100"): "AMB", ("APH", "0200"): "OK", ("NL", "0300"): "AMB",
           ("QQQ", "0400"): "MIS", ("AB", "0500"): "MIS", ("NL", "0600"): "AMB"}


def step(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", flush=True)


def check(condition, text):
    if not condition:
        raise WalkError(text)


def pad(text, width):
    return text.encode("cp1252")[:width].ljust(width, b" ")


class Walk:
    def __init__(self, converter, root):
        self.converter = Path(converter)
        self.pristine = self.converter.parent / "ndbdata.ndf"
        self.root = Path(root)
        self.home = self.root / "home"
        self.zolt = self.home / "Documents" / "ZOLT"
        self.cwd = self.root / "work"  # the converter starts here, beside the backups
        self.backups = self.cwd / "backup"
        self.process = None
        self.log = self.root / "converter.log"
        self.ui = Driver(time.monotonic() + 120, self.ended)

    def lay_out(self):
        check(self.pristine.is_file(), f"no ndbdata.ndf beside the converter {self.converter}")
        (self.home / "Documents").mkdir(parents=True)
        (self.home / ".wine").mkdir()
        self.backups.mkdir(parents=True)
        # Inside the first run's folder: the folder list shows both at one depth.
        shutil.copytree(DEMO, self.backups / "demo")
        (self.backups / "log0.bak").write_bytes(b"".join(
            pad(c, 7) + pad(f, 6) + pad(t, 4) + pad(d, 8) + pad(m, 60) for c, f, t, d, m in LOG))
        (self.home / ".wine" / "user.reg").write_text(
            "WINE REGISTRY Version 2\n\n[Software\\\\ZOLT6.1\\\\ListeningLocations] 1700000000\n"
            "\"Location(0)\"=\"Home Base\"\n\n")

    # ---- the program -----------------------------------------------------

    def launch(self, log):
        env = dict(os.environ, HOME=str(self.home), XDG_CONFIG_HOME=str(self.home / ".config"),
                   LC_ALL="C.UTF-8")
        env.pop("WINEPREFIX", None)
        with open(log, "ab") as out:
            return subprocess.Popen([str(self.converter)], cwd=self.cwd, env=env,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=out)

    def start(self):
        step("start the converter")
        self.process = self.launch(self.log)
        self.ui.attach(self.process.pid)
        self.ui.window("Database Converter")

    def second_start_refused(self):
        step("a second start on the same files is refused and touches nothing")
        listing = sorted((p.name, p.read_bytes()) for p in self.zolt.iterdir())
        log = self.root / "second.log"
        second = self.launch(log)
        try:
            ui = Driver(time.monotonic() + 30, lambda: None)
            ui.attach(second.pid)
            box = ui.window("Database Converter")
            ui.press("OK", root=box)
            code = second.wait(10)
        finally:
            if second.poll() is None:
                second.kill()
                second.wait()
        said = log.read_text(errors="replace")
        check(code == 1, f"the second start ended with exit code {code}, want 1")
        check("already running" in said, f"the second start said: {said!r}")
        now = sorted((p.name, p.read_bytes()) for p in self.zolt.iterdir())
        check(now == listing, "the second start changed the files in Documents/ZOLT")

    def ended(self):
        code = self.process.poll() if self.process else None
        return None if code is None else f"the converter ended unexpectedly (exit code {code})"

    def exit_program(self):
        step("Exit")
        self.ui.press("Exit")
        process, self.process = self.process, None  # its end is expected now
        try:
            code = process.wait(10)
        except subprocess.TimeoutExpired:
            self.process = process
            raise WalkError("the converter did not end within 10 s of pressing Exit") from None
        check(code == 0, f"the converter ended with exit code {code} after Exit")

    # ---- files and database ----------------------------------------------

    def states(self):
        data = (self.zolt / "processed.dat").read_bytes()
        check(len(data) % 102 == 0, f"processed.dat is {len(data)} bytes, not whole records")
        records = [data[i:i + 102] for i in range(0, len(data), 102)]
        check(all(struct.unpack_from("<h", r)[0] == 1 for r in records),
              "processed.dat holds a record of another location than 1")
        return {(r[4:14].decode().strip(), r[24:29].decode().strip()): r[99:102].decode().strip()
                for r in records}

    def settled(self):
        data = (self.zolt / "processed.dat").read_bytes()
        return sum(1 for i in range(0, len(data) - 101, 102)
                   if struct.unpack_from("<h", data, i)[0] == 1 and data[i + 99:i + 102] == b"OK ")

    def expect_states(self, expected, when):
        states = self.states()
        check(states == expected, f"{when}: processed.dat states are {states}, want {expected}")

    def query(self, sql, database=None):
        # Read-only and closed at once, so the converter's compaction never meets a reader.
        connection = sqlite3.connect(f"file:{database or self.zolt / 'ndbdata.ndf'}?mode=ro",
                                     uri=True)
        try:
            return connection.execute(sql).fetchall()
        finally:
            connection.close()

    def expect_log(self, expected, when):
        rows = self.query("SELECT Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
                          "ReceptionComments FROM NDBLog")
        check(sorted(rows) == sorted(expected), f"{when}: NDBLog holds {rows}, want {expected}")

    # ---- widgets ----------------------------------------------------------

    def confirm(self, prompt):
        box = self.ui.window("Confirm")
        self.ui.find("label", prompt, root=box)
        self.ui.press("Yes", root=box)
        self.ui.window_gone("Confirm")

    def wait_rows(self, name, count):
        """The on-screen tree `name` once it holds `count` rows; returns the rows."""
        seen = []

        def ready():
            seen[:] = [self.ui.rows(self.ui.find("tree", name))]
            return len(seen[0]) == count

        try:
            self.ui.wait_until(ready, f"tree {name!r} should hold {count} rows")
            return seen[0]
        except WalkError as error:
            raise WalkError(f"{error}; it holds {seen[0] if seen else 'nothing'}") from None

    def choose_row(self, role, name, column, value):
        """Selects the row of list `name` whose `column` reads `value`, ignoring padding."""
        table = self.ui.find(role, name)

        def index():
            cells = [r.get(column, "").strip() for r in self.ui.rows(table)]
            return cells.index(value) + 1 if value in cells else None

        what = f"{role} {name!r}, row {column} = {value!r}"
        self.ui.select_row(table, self.ui.wait_until(index, f"no row in {what}") - 1, what)

    def match_home_base(self):
        self.ui.set_checked("Home Base", role="radio button")
        self.ui.press("START MATCHING")
        self.wait_rows("Logged Stations", 3)
        self.expect_log([APH_ROW], "after START MATCHING")
        self.expect_states(MATCHED, "after START MATCHING")

    # ---- the steps ---------------------------------------------------------

    def first_run(self):
        self.start()
        check((self.zolt / "ndbdata.ndf").read_bytes() == self.pristine.read_bytes(),
              "first start: Documents/ZOLT/ndbdata.ndf is not a copy of the shipped database")

        self.second_start_refused()

        step("Start New Project, then step zero: open the backup folder, START CONVERSION")
        self.ui.press("Start New Project")
        self.confirm(NEW_PROJECT_PROMPT)
        self.expect_log([], "after Start New Project")
        self.choose_row("list", "Folders", "0", "backup")
        self.ui.wait_until(lambda: [r["0"] for r in self.ui.rows(self.ui.find("list", "Files"))]
                           == ["log0.bak"], "list 'Files' should show log0.bak")
        self.ui.press("START CONVERSION")
        self.ui.find("label", LOCATION_STEP)
        settings = (self.zolt / "settings.ini").read_bytes()
        want = (str(self.backups) + os.sep).encode() + b"\r\n"
        check(settings == want, f"settings.ini holds {settings!r}, want {want!r}")
        self.expect_states({k: "UNP" for k in MATCHED}, "after START CONVERSION")

        step("choose 'Home Base', START MATCHING")
        self.match_home_base()

        step("settle NL at 0100 with Add To Log (this instance only)")
        self.choose_row("tree", "Logged Stations", "Time", "0100")
        self.ui.find("label", "NL - 358")
        self.wait_rows("Possible Matches", 3)
        self.choose_row("tree", "Possible Matches", "City", "Nyala")
        self.ui.press("Add To Log")
        self.wait_rows("Logged Stations", 2)
        nyala = (NYALA, 1, "0100", "20010101", "first NL")
        self.expect_log([APH_ROW, nyala], "after Add To Log")
        self.expect_states({**MATCHED, ("NL", "0100"): "OK"}, "after Add To Log")

        step("settle the other NL receptions with Apply To All Instances")
        self.choose_row("tree", "Logged Stations", "Time", "0300")
        self.choose_row("tree", "Possible Matches", "City", "Signal Hill")
        self.ui.set_checked(APPLY_ALL)
        self.ui.press("Add To Log")
        self.wait_rows("Logged Stations", 0)
        all_nl = [APH_ROW, nyala, (SIGNAL_HILL, 1, "0300", "20010103", "second NL"),
                  (SIGNAL_HILL, 1, "0600", "20010106", "third NL")]
        self.expect_log(all_nl, "after Add To Log for all instances")
        settled = {**MATCHED, **{("NL", t): "OK" for t in ("0100", "0300", "0600")}}
        self.expect_states(settled, "after Add To Log for all instances")

        step("Show Unresolved Stations, settle AB from the candidates")
        self.ui.press("Show Unresolved Stations (2)")
        self.wait_rows("Logged Stations", 2)
        self.choose_row("tree", "Logged Stations", "Ident", "AB")
        self.choose_row("tree", "Possible Matches", "City", "Abakan")
        self.ui.press("Add To Log")
        rows = self.wait_rows("Logged Stations", 1)
        check(rows[0]["Ident"].strip() == "QQQ", f"'Logged Stations' should keep QQQ: {rows}")
        self.expect_log(all_nl + [(ABAKAN, 1, "0500", "20010105", "prefix AB")],
                        "after settling AB")
        self.expect_states({**settled, ("AB", "0500"): "OK"}, "after settling AB")

        step("Save To File: the unresolved report")
        self.ui.press("Save To File")
        dialog = self.ui.window("Unresolved Station Report Save...")
        self.ui.press("OK", root=dialog)
        self.ui.window_gone("Unresolved Station Report Save...")
        # It opens in Documents, not in the folder the converter was started in.
        report = self.home / "Documents" / "UnresolvedStations_Location1.txt"
        self.ui.wait_until(report.is_file, f"report {report} to be written")
        # The main window bears the same title: the box is known by its text.
        self.ui.find("label", f"The report was saved to {report}.")
        self.ui.press("OK")
        want = (b"UNRESOLVED STATION REPORT FOR LOCATION 1\r\n\r\n"
                + b"".join(pad(h, 15) for h in ("Station ID", "Frequency", "Time", "Date",
                                                "Comments")) + b"\r\n"
                + pad("QQQ", 15) + pad("999", 15) + pad("0400", 15) + pad("20010104", 15)
                + b"nowhere at all \r\n")
        check(report.read_bytes() == want, f"report differs: {report.read_bytes()!r}")

        step("Start Over, then match 'Home Base' again")
        self.ui.press("Start Over")
        self.confirm("Are you sure you want to recreate log#1?")
        self.ui.find("label", LOCATION_STEP)
        self.expect_log([], "after Start Over")
        self.expect_states({k: "UNP" for k in MATCHED}, "after Start Over")
        self.match_home_base()

        step("Process Another Listening Location")
        self.ui.press("Process Another Listening Location")
        self.ui.find("label", LOCATION_STEP)
        self.expect_log([APH_ROW], "after Process Another Listening Location")
        self.expect_states(MATCHED, "after Process Another Listening Location")
        self.exit_program()

    def second_run(self):
        self.start()
        step("Continue With Existing Project, FINALIZE")
        self.ui.press("Continue With Existing Project")
        self.ui.find("label", LOCATION_STEP)
        self.expect_states(MATCHED, "after Continue With Existing Project")
        decided = self.query("SELECT How FROM ConverterDecision")
        check(decided == [("unique match",)],
              f"after Exit and Continue the decision record holds {decided}")
        self.ui.press("FINALIZE")
        self.confirm(WAITING + FINALIZE_PROMPT)
        self.ui.find("label", LEFT_UNCONVERTED)
        left = [n for n in ("processed.dat", "settings.ini", "ndbdata1.ndf")
                if (self.zolt / n).exists()]
        check(not left, f"FINALIZE left {left} in Documents/ZOLT")
        self.expect_log([APH_ROW], "after FINALIZE")
        # NOT INDEXED: the index on Ident needs a collation only the converter has.
        beacons = "SELECT count(*), sum(Beacon_ID) FROM NDBInformation NOT INDEXED"
        check(self.query(beacons) == self.query(beacons, self.pristine),
              "after FINALIZE the beacon list differs from the shipped one")
        schema = "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name"
        check(self.query(schema) == self.query(schema, self.pristine),
              "after FINALIZE the database's tables, columns or indexes differ from the shipped "
              "ones")
        self.suggested_picks()
        self.exit_program()

    def suggested_picks(self):
        step("demo backups: distances, the suggested pick, Add Suggested Picks")
        self.ui.press("Start New Project")
        self.confirm(NEW_PROJECT_PROMPT)
        self.choose_row("list", "Folders", "0", "backup")
        self.choose_row("list", "Folders", "0", "demo")
        self.ui.press("START CONVERSION")
        self.ui.find("label", LOCATION_STEP)
        self.ui.set_checked("Home Base", role="radio button")
        self.ui.press("START MATCHING")
        self.wait_rows("Logged Stations", 11)
        logged = self.query("SELECT count(*) FROM NDBLog")[0][0]
        self.choose_row("tree", "Logged Stations", "Ident", "BNR")
        rows = self.wait_rows("Possible Matches", 2)
        distances = [r.get("Distance", "") for r in rows]
        # Whole kilometres, grouped as the locale groups digits ("11,618").
        check(all(re.fullmatch(r"\d{1,3}([,.\u00a0\u202f ]?\d{3})*", d) for d in distances),
              f"'Possible Matches' distances: {rows}")
        self.choose_row("tree", "Possible Matches", "City", "Benton Ridge")
        self.ui.find("label", "Benton Ridge, United States of America (suggested pick)")
        processed_before = (self.zolt / "processed.dat").read_bytes()
        log_before = sorted(self.query(LOG_ROWS))
        self.ui.press("Add Suggested Picks")
        self.confirm(SUGGESTED_PROMPT)
        self.wait_rows("Logged Stations", 6)
        self.ui.find("push button", "Show Ambiguous Stations (6)")
        now = self.query("SELECT count(*) FROM NDBLog")[0][0]
        check(now == logged + 8, f"Add Suggested Picks logged {now - logged} rows, want 8")

        step("Show Logged Stations: every settled reception, the beacon and how it was decided")
        settled = self.settled()
        self.ui.press(f"Show Logged Stations ({settled})")
        rows = self.wait_rows("Logged Stations", settled)
        hows = [r.get("How", "") for r in rows]
        check(hows.count("suggested") == 8, f"'How' of the logged view: {hows}")
        check(set(hows) <= {"unique match", "own beacon", "suggested"}, f"'How': {set(hows)}")
        self.choose_row("tree", "Logged Stations", "How", "suggested")
        self.wait_rows("Logged Beacon", 1)

        step("Undo Last Action: Add Suggested Picks is undone, byte for byte")
        self.ui.press("Undo Last Action")
        self.confirm(UNDO_SUGGESTED_PROMPT)
        self.wait_rows("Logged Stations", settled - 8)
        check((self.zolt / "processed.dat").read_bytes() == processed_before,
              "after Undo processed.dat differs from before Add Suggested Picks")
        log_after = sorted(self.query(LOG_ROWS))
        check(log_after == log_before, "after Undo NDBLog differs from before Add Suggested Picks")
        self.ui.find("push button", f"Show Logged Stations ({settled - 8})")

        step("View Map opens the location's map; its Close button closes it")
        self.ui.press("View Map")
        map_window = self.ui.window("Map of Home Base")
        # A screen reader reads the figures themselves: the line's name is
        # its text, not a word standing in for it.
        self.ui.wait_until(
            lambda: any(" receptions of " in (label.name or "")
                        for label in labels_under(map_window)),
            "the map's figures line is not readable by its words")
        self.ui.press("Close the map", root=map_window)
        self.ui.window_gone("Map of Home Base")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--converter", required=True)
    parser.add_argument("--root", required=True, help="an empty temporary folder")
    args = parser.parse_args()
    started = time.monotonic()
    walk = Walk(args.converter, args.root)
    try:
        walk.lay_out()
        walk.first_run()
        walk.second_run()
    except WalkError as error:
        print(f"e2e: FAILED: {error}", file=sys.stderr)
        output = walk.log.read_text(errors="replace")[-2000:] if walk.log.exists() else ""
        if output.strip():
            print(f"--- converter output ---\n{output}", file=sys.stderr)
        return 1
    finally:
        if walk.process:  # run-walk.sh stops the rest of its process group
            walk.process.kill()
    print(f"e2e: PASSED in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())

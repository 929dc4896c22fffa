#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The exported log read back by readers this project did not write, through
the command line as a script would run it: no display, a temporary home
folder whose working folder holds only the database (as after FINALIZE).

CSV: Python's csv module. KML: xml.etree. ADIF: no reader of it is packaged
for Debian, so read_adif below reads it by the format's own rule, every value
taken by its stated length, never by looking for the next "<".

    readback.py CONVERTER PRISTINE_DATABASE
"""
import csv
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

CONVERTER = PRISTINE = None

KML = "{http://www.opengis.net/kml/2.2}"
HEADER = ["location", "location_name", "ident", "frequency_khz", "date", "time_utc", "comment",
          "beacon_ident", "beacon_frequency_khz", "beacon_city", "beacon_province",
          "beacon_country", "latitude", "longitude", "distance_km", "bearing_deg", "how",
          "date_as_logged", "home"]
# Every sign a file format can trip over, and Windows-1252 letters as the
# converter stores them (UTF-8 in the database).
NASTY = 'Loud, "clear" <b> & more\r\nnext line: é ß € Æ'
LOCATION_NAME = "Home & <Lake>"
FORMULA_NAME = "=2+3 Portable; beach"
# Texts a spreadsheet would run as formulas, or retype.
FORMULAS = ["=1+1", '=HYPERLINK("http://example.invalid","x")', "=cmd|' /C calc'!A0",
            "+1", "-5 dB", "@SUM(1)", "\tTab first", "\rCR first"]


def read_adif(data):
    """Header fields and records of an .adi file, values by their lengths."""
    text = data.decode("ascii")  # an .adi file holds ASCII only
    pos, header, records, current, in_header = 0, {}, [], {}, not text.startswith("<")
    tag = re.compile(r"<([^:<>]+)(?::(\d+)(?::([^>]*))?)?>")
    while True:
        m = tag.search(text, pos)
        if not m:
            break
        name = m.group(1).upper()
        if m.group(2) is None:
            pos = m.end()
            if name == "EOH":
                in_header = False
            elif name == "EOR":
                records.append(current)
                current = {}
            else:
                raise AssertionError("a tag without a length: " + name)
            continue
        length = int(m.group(2))
        value = text[m.end():m.end() + length]
        assert len(value) == length, name
        (header if in_header else current)[name] = value
        pos = m.end() + length
    assert not current, "a record without <EOR>"
    return header, records


def adif_degrees(hemisphere, degrees):
    """ADIF's XDDD MM.MMM, worked out here from whole degrees and minutes."""
    whole = int(degrees)
    return "%s%03d %06.3f" % (hemisphere, whole, (degrees - whole) * 60)


class Project:
    """A home folder whose Documents/ZOLT holds a copy of the pristine
    database with a few logged receptions."""

    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="zolt-export-")
        self.work = os.path.join(self.home, "Documents", "ZOLT")
        os.makedirs(self.work)
        self.db = os.path.join(self.work, "ndbdata.ndf")
        shutil.copy(PRISTINE, self.db)
        wine = os.path.join(self.home, "wine")
        os.makedirs(wine)
        with open(os.path.join(wine, "user.reg"), "w", encoding="utf-8") as reg:
            reg.write('WINE REGISTRY Version 2\n\n[Software\\\\ZOLT6.1\\\\ListeningLocations]\n'
                      '"Location(0)"="%s"\n"Location(3)"="%s"\n' % (LOCATION_NAME, FORMULA_NAME))
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        self.env.update(HOME=self.home, WINEPREFIX=wine,
                        XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                        LC_ALL="de_DE.UTF-8")  # a decimal comma must not reach the files

    def log(self, rows, own=()):
        """rows: (beacon_id, location, time, date, comment); own: NewBeacons rows."""
        with sqlite3.connect(self.db) as db:
            for ident, country, state, city, freq, lat, lon in own:
                db.execute("INSERT INTO NewBeacons (Ident, Country, State, City, frequency, "
                           "Latitude, Longitude) VALUES (?,?,?,?,?,?,?)",
                           (ident, country, state, city, freq, lat, lon))
            db.executemany("INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, "
                           "ReceptionDate, ReceptionComments) VALUES (?,?,?,?,?)", rows)

    def run(self, *args):
        return subprocess.run([CONVERTER, *args], env=self.env, capture_output=True,
                              text=True, timeout=60)

    def listing(self):
        return sorted(os.listdir(self.home)) + sorted(os.listdir(self.work))

    def path(self, name):
        return os.path.join(self.home, name)


class ExportReadBack(unittest.TestCase):
    def setUp(self):
        self.p = Project()
        self.addCleanup(shutil.rmtree, self.p.home)
        # Location 1 writes the month first, location 2 the day first.
        self.p.log([
            (2, 1, "0632", "12/24/99", NASTY),            # GL 398 Aalborg
            (3, 1, "2359", "05/09/97", ""),               # ML 324 Aarhus
            (2, 1, "0700", "12/31/49", "pivot"),          # two-digit year 49: 2049
            (20001, 1, "930", "01/01/50", "own beacon"),  # the listener's own ZUT
            (3, 1, "0100", "summer99", "no date"),
            (68, 2, "1200", "24/12/99", "day first"),
        ], own=[("ZUT", "CAN", "ON", "Temagami Lake", 263.0, "47.0631", "-79.7925")])
        with open(os.path.join(self.p.work, "settings.ini"), "w", newline="") as s:
            s.write("/nowhere/\r\nHome1=JO57fa\r\n")

    def export(self, name, *args):
        target = self.p.path(name)
        r = self.p.run("--export", target, *args)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")
        with open(target, "rb") as f:
            return f.read(), r.stdout

    def csv_rows(self, data, encoding="utf-8"):
        rows = list(csv.reader(data.decode(encoding).splitlines(keepends=True)))
        self.assertEqual(rows[0], HEADER)
        return [dict(zip(HEADER, r)) for r in rows[1:]]

    def test_csv(self):
        data, out = self.export("log.csv", "--location", "1")
        self.assertIn("5 receptions of 1 location written to ", out)
        self.assertIn("1 has no readable date", out)
        # Every record ends in CR LF; the comment's own CR LF is inside quotes.
        self.assertTrue(data.endswith(b"\r\n"))
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""))
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"))
        with open(self.p.path("log.csv"), newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], HEADER)
        got = [dict(zip(HEADER, r)) for r in rows[1:]]
        self.assertEqual(len(got), 5)
        nasty = got[0]
        self.assertEqual(nasty["comment"], NASTY)
        self.assertEqual(nasty["location_name"], LOCATION_NAME)
        self.assertEqual((nasty["date"], nasty["time_utc"]), ("1999-12-24", "06:32"))
        self.assertEqual((nasty["beacon_ident"], nasty["beacon_frequency_khz"],
                          nasty["beacon_city"], nasty["beacon_province"],
                          nasty["beacon_country"]), ("GL", "398", "Aalborg", "", "Denmark"))
        self.assertEqual((nasty["latitude"], nasty["longitude"]), ("57.08382", "9.68009"))
        self.assertRegex(nasty["distance_km"], r"^\d+\.\d$")
        self.assertRegex(nasty["bearing_deg"], r"^\d+\.\d$")
        self.assertEqual(nasty["home"], "typed")
        # The date as logged is marked as text for spreadsheets; --csv-raw
        # gives it exactly.
        logged = ["12/24/99", "05/09/97", "12/31/49", "01/01/50", "summer99"]
        self.assertEqual([(g["date"], g["date_as_logged"]) for g in got],
                         list(zip(["1999-12-24", "1997-05-09", "2049-12-31", "1950-01-01", ""],
                                  ["'" + d for d in logged])))
        raw, _ = self.export("raw.csv", "--location", "1", "--csv-raw")
        self.assertEqual([g["date_as_logged"] for g in self.csv_rows(raw)], logged)
        own = got[3]
        self.assertEqual((own["ident"], own["beacon_ident"], own["beacon_city"],
                          own["beacon_province"], own["beacon_country"], own["latitude"],
                          own["longitude"], own["time_utc"]),
                         ("ZUT", "ZUT", "Temagami Lake", "ON", "Canada", "47.0631", "-79.7925",
                          "09:30"))

    def test_csv_for_spreadsheets(self):
        # Location 4, named like a formula, logged comments that are formulas.
        self.p.log([(68, 4, "1200", "24/12/99", text) for text in FORMULAS] +
                   [(68, 4, "2400", "24/12/99", "midnight"), (68, 4, "", "24/12/99", "")])
        plain, _ = self.export("plain.csv", "--location", "4")
        rows = self.csv_rows(plain)
        self.assertEqual(len(rows), len(FORMULAS) + 2)
        for row, text in zip(rows, FORMULAS):
            self.assertEqual(row["comment"], "'" + text)
            self.assertEqual(row["location_name"], "'" + FORMULA_NAME)
        # Numbers, dates and times that read stay as they are; a time that does
        # not read is marked as text like the date as logged.
        for row in rows:
            self.assertEqual((row["latitude"], row["date"]), ("52.88805", "1999-12-24"))
        self.assertEqual([r["time_utc"] for r in rows[-3:]], ["12:00", "'2400", ""])
        # A negative longitude is a number, never guarded.
        self.p.log([(20001, 4, "1200", "24/12/99", "west")],
                   own=[("ZUT", "CAN", "ON", "Lake", 263.0, "47.0631", "-79.7925")])
        west = self.csv_rows(self.export("west.csv", "--location", "4")[0])[-1]
        self.assertEqual((west["comment"], west["longitude"]), ("west", "-79.7925"))

        raw = self.csv_rows(self.export("raw.csv", "--location", "4", "--csv-raw")[0])
        self.assertEqual([r["comment"] for r in raw[:len(FORMULAS)]], FORMULAS)
        self.assertEqual(raw[0]["location_name"], FORMULA_NAME)

        excel, out = self.export("excel.csv", "--location", "4", "--csv-excel")
        self.assertTrue(excel.startswith(b"\xef\xbb\xbf"))
        self.assertIn("written to", out)
        self.assertEqual(self.csv_rows(excel, "utf-8-sig"), self.csv_rows(
            self.export("plain.csv", "--location", "4")[0]))

    def test_adif(self):
        # The 630 m band (FHA 473), a date ADIF cannot hold, times it cannot.
        self.p.log([(2090, 1, "1200", "12/24/99", "<CALL:4>FAKE"),
                    (2090, 1, "1200", "05/01/1899", "too early"),
                    (2090, 1, "", "12/24/99", "no time"),
                    (2090, 1, "24:00", "12/24/99", "midnight")])
        data, out = self.export("log.adi", "--location", "1", "--station-callsign", "DE-1234")
        self.assertIn("5 receptions of 1 location written to ", out)
        self.assertIn("4 are in the CSV only: 1 without a readable date, 1 dated before 1930 "
                      "(ADIF holds no earlier date) and 2 without a usable time", out)
        header, records = read_adif(data)
        self.assertEqual(header["ADIF_VER"], "3.1.0")
        self.assertEqual(header["PROGRAMID"], "zolt-converter")
        self.assertIn("PROGRAMVERSION", header)
        self.assertRegex(header["CREATED_TIMESTAMP"], r"^\d{8} \d{6}$")
        self.assertEqual([r["QSO_DATE"] for r in records],
                         ["19991224", "19970509", "20491231", "19500101", "19991224"])
        for r in records:
            self.assertGreaterEqual(r["QSO_DATE"], "19300101")
            self.assertRegex(r["TIME_ON"], r"^([01]\d|2[0-3])[0-5]\d$")
            self.assertEqual((r["STATION_CALLSIGN"], r["OPERATOR"]), ("DE-1234", "DE-1234"))
        first = records[0]
        self.assertEqual((first["CALL"], first["FREQ"], first["MODE"], first["SWL"],
                          first["TIME_ON"], first["QTH"], first["COUNTRY"]),
                         ("GL", "0.398", "CW", "Y", "0632", "Aalborg", "Denmark"))
        self.assertNotIn("BAND", first)  # 398 kHz lies in no amateur band
        self.assertEqual(first["COMMENT"], 'Loud, "clear" [b] & more  next line: e ss EUR AE')
        self.assertEqual((first["LAT"], first["LON"]),
                         (adif_degrees("N", 57.08382), adif_degrees("E", 9.68009)))
        self.assertEqual(first["GRIDSQUARE"], "JO47uc")
        # Home is the centre of the typed locator's subsquare.
        self.assertEqual((first["MY_GRIDSQUARE"], first["MY_LAT"], first["MY_LON"]),
                         ("JO57fa", adif_degrees("N", 57 + 1 / 48), adif_degrees("E", 10 + 11 / 24)))
        self.assertEqual(first["APP_ZOLT-CONVERTER_LOCATION"], "1")
        self.assertEqual(first["APP_ZOLT-CONVERTER_LOCATION_NAME"], "Home & [Lake]")
        self.assertRegex(first["DISTANCE"], r"^\d+\.\d$")
        own = records[3]
        self.assertEqual((own["CALL"], own["FREQ"], own["QTH"], own["LAT"], own["LON"]),
                         ("ZUT", "0.263", "Temagami Lake", adif_degrees("N", 47.0631),
                          adif_degrees("W", 79.7925)))
        band = records[4]
        self.assertEqual((band["CALL"], band["FREQ"], band["BAND"], band["COMMENT"]),
                         ("FHA", "0.473", "630m", "[CALL:4]FAKE"))
        # A reader that takes every "<" for a field finds the same records.
        self.assertEqual(data.count(b"<CALL:"), len(records))
        # Every reception, also those ADIF cannot hold, is in the CSV.
        rows = self.csv_rows(self.export("all.csv", "--location", "1")[0])
        self.assertEqual(len(rows), 9)

    def test_kml(self):
        data, out = self.export("log.kml", "--date-order", "mdy")
        self.assertIn("4 beacons of 6 receptions of 2 locations written to ", out)
        root = ET.fromstring(data)
        self.assertEqual(root.tag, KML + "kml")
        folders = root.findall(f"{KML}Document/{KML}Folder")
        self.assertEqual([f.findtext(KML + "name") for f in folders],
                         [LOCATION_NAME, "Location 2"])
        marks = {m.findtext(KML + "name"): m for m in folders[0].findall(KML + "Placemark")}
        self.assertEqual(sorted(marks), ["GL 398 kHz", "Home \u2013 " + LOCATION_NAME,
                                         "ML 324 kHz", "ZUT 263 kHz"])
        point = marks["GL 398 kHz"].findtext(f"{KML}Point/{KML}coordinates")
        self.assertEqual(point, "9.680090,57.083820,0")
        for mark in marks.values():
            self.assertRegex(mark.findtext(f"{KML}Point/{KML}coordinates"),
                             r"^-?\d+\.\d{6},-?\d+\.\d{6},0$")
        # An HTML fragment, one line per fact, for a viewer's balloon.
        gl = marks["GL 398 kHz"].findtext(KML + "description")
        self.assertEqual(gl.split("<br>")[0], "Aalborg, Denmark")
        self.assertIn("<br>2 receptions<br>", gl)
        self.assertIn("First heard 1999-12-24", gl)
        self.assertIn("Last heard 2049-12-31", gl)
        self.assertNotIn("\n", gl)
        self.assertIn("One of your own beacons", marks["ZUT 263 kHz"].findtext(KML + "description"))
        self.assertIn("from your locator JO57fa",
                      marks["Home \u2013 " + LOCATION_NAME].findtext(KML + "description"))
        # Home is unknown at location 2 (one beacon, no entry): no placemark for it.
        self.assertEqual([m.findtext(KML + "name") for m in folders[1].findall(KML + "Placemark")],
                         ["AHL 290 kHz"])

        # A beacon without a position is listed, not placed, and counted.
        self.p.log([(20002, 2, "1200", "24/12/99", "")],
                   own=[("QQ", "CAN", "ON", "Nowhere", 400.0, "north", "")])
        data, out = self.export("log.kml", "--location", "2")
        self.assertIn("1 beacon has no known position and is listed without a place on the map",
                      out)
        marks = ET.fromstring(data).findall(f".//{KML}Placemark")
        self.assertEqual([m.find(f"{KML}Point") is None for m in marks], [False, True])

    def test_home_only_where_typed(self):
        # Location 3: five Danish beacons, enough to infer a home, none typed.
        self.p.log([(b, 3, "1200", "12/24/99", "") for b in (2, 3, 4, 695, 696)])
        data, out = self.export("three.csv", "--location", "3")
        self.assertIn("No home was typed for location 3", out)
        for row in self.csv_rows(data):
            self.assertEqual((row["home"], row["distance_km"], row["bearing_deg"]),
                             ("inferred", "", ""))
        _, records = read_adif(self.export("three.adi", "--location", "3")[0])
        self.assertEqual(len(records), 5)
        for r in records:
            for field in ("MY_GRIDSQUARE", "MY_LAT", "MY_LON", "DISTANCE"):
                self.assertNotIn(field, r)
        root = ET.fromstring(self.export("three.kml", "--location", "3")[0])
        names = [m.findtext(KML + "name") for m in root.iter(KML + "Placemark")]
        self.assertEqual(len(names), 5)
        self.assertFalse([n for n in names if n.startswith("Home")])

    def test_date_orders(self):
        # Each location's order is found alone: both read right in one file.
        data, out = self.export("both.csv")
        self.assertIn("6 receptions of 2 locations", out)
        dates = {(r["location"], r["date_as_logged"]): r["date"] for r in self.csv_rows(data)}
        self.assertEqual(dates[("1", "'05/09/97")], "1997-05-09")
        self.assertEqual(dates[("2", "'24/12/99")], "1999-12-24")
        # Location 2 adds a date either order reads, location 3 mixes both.
        self.p.log([(68, 2, "1200", "05.06.97", ""), (68, 3, "1200", "24/12/99", ""),
                    (68, 3, "1200", "12/24/99", ""), (68, 3, "1200", "05/06/97", "")])
        before = self.p.listing()
        r = self.p.run("--export", self.p.path("mixed.csv"))
        self.assertEqual(r.returncode, 1)
        self.assertIn("location 3 are mixed", r.stderr)
        self.assertIn("--date-order 3=dmy", r.stderr)
        self.assertNotIn("location 2", r.stderr)
        self.assertEqual(self.p.listing(), before)
        for args, expected in ((["--date-order", "3=dmy"], ("1997-06-05", "1997-06-05")),
                               (["--date-order", "3=mdy"], ("1997-06-05", "1997-05-06")),
                               (["--date-order", "mdy"], ("1997-05-06", "1997-05-06")),
                               (["--date-order", "mdy", "--date-order", "2=dmy"],
                                ("1997-06-05", "1997-05-06")),
                               (["--location", "2"], ("1997-06-05", None))):
            data, _ = self.export("orders.csv", *args)
            dates = {r["location"]: r["date"] for r in self.csv_rows(data)
                     if r["date_as_logged"] in ("'05.06.97", "'05/06/97")}
            self.assertEqual((dates.get("2"), dates.get("3")), expected, args)

    def test_command_line_failures(self):
        help_ = self.p.run("--help")
        self.assertEqual(help_.returncode, 0)
        for option in ("--export FILE", "--location N", "--date-order mdy|dmy",
                       "--date-order N=mdy|dmy", "--csv-raw", "--csv-excel",
                       "--station-callsign CALL"):
            self.assertIn(option, help_.stdout)
        plain_file = self.p.path("plain")
        with open(plain_file, "w") as f:
            f.write("x")
        cases = [
            (["--export"], 2, "--export needs a value"),
            (["--export", "x.csv", "--bogus"], 2, "--bogus"),
            (["--export", "x.csv", "--location", "17"], 2, "1 to 16"),
            (["--export", "x.csv", "--date-order", "ymd"], 2, "mdy"),
            (["--export", "x.csv", "--date-order", "2=ymd"], 2, "mdy"),
            (["--export", "x.csv", "--date-order", "17=dmy"], 2, "1 to 16"),
            (["--export", "x.csv", "--date-order", "2=dmy", "--date-order", "2=mdy"], 2,
             "location 2 twice"),
            (["--export", "x.csv", "--date-order", "dmy", "--date-order", "mdy"], 2, "twice"),
            (["--export", "x.adi", "--csv-raw"], 2, ".csv file"),
            (["--export", "x.kml", "--csv-excel"], 2, ".csv file"),
            (["--export", "x.csv", "--station-callsign", "DE1"], 2, ".adi file"),
            (["--export", "x.adi", "--station-callsign", " "], 2, "listener number"),
            (["--location", "1"], 2, "--export FILE"),
            (["--export", self.p.path("log.txt")], 2, ".csv, .adi or .kml"),
            (["--exprot", self.p.path("log.csv")], 2, "unknown option '--exprot'"),
            (["--export", self.p.path("a.csv"), "--export", self.p.path("b.csv")], 2,
             "given more than once"),
            (["--export", os.path.join(plain_file, "log.csv"), "--location", "1"], 1,
             os.path.join(plain_file, "log.csv")),
            (["--export", self.p.path("x" * 300 + ".csv"), "--location", "1"], 1,
             "x" * 300 + ".csv"),
            (["--export", self.p.path("empty.csv"), "--location", "9"], 1,
             "no logged receptions"),
        ]
        for args, code, message in cases:
            before = self.p.listing()
            r = self.p.run(*args)
            self.assertEqual(r.returncode, code, (args, r.stderr))
            self.assertIn(message, r.stderr, args)
            self.assertEqual(r.stdout, "", args)
            self.assertEqual(self.p.listing(), before, args)
        os.remove(self.p.db)
        r = self.p.run("--export", self.p.path("log.csv"))
        self.assertEqual(r.returncode, 1)
        self.assertIn("ndbdata.ndf does not exist", r.stderr)


if __name__ == "__main__":
    CONVERTER, PRISTINE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)

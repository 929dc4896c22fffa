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
          "date_as_logged"]
# Every sign a file format can trip over, and Windows-1252 letters as the
# converter stores them (UTF-8 in the database).
NASTY = 'Loud, "clear" <b> & more\r\nnext line: é ß € Æ'
LOCATION_NAME = "Home & <Lake>"


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
                      '"Location(0)"="%s"\n' % LOCATION_NAME)
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

    def test_csv(self):
        data, out = self.export("log.csv", "--location", "1")
        self.assertIn("5 receptions of 1 location written to ", out)
        self.assertIn("1 has no readable date", out)
        # Every record ends in CR LF; the comment's own CR LF is inside quotes.
        self.assertTrue(data.endswith(b"\r\n"))
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""))
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
        self.assertEqual([(g["date"], g["date_as_logged"]) for g in got],
                         [("1999-12-24", "12/24/99"), ("1997-05-09", "05/09/97"),
                          ("2049-12-31", "12/31/49"), ("1950-01-01", "01/01/50"),
                          ("", "summer99")])
        own = got[3]
        self.assertEqual((own["ident"], own["beacon_ident"], own["beacon_city"],
                          own["beacon_province"], own["beacon_country"], own["latitude"],
                          own["longitude"], own["time_utc"]),
                         ("ZUT", "ZUT", "Temagami Lake", "ON", "Canada", "47.0631", "-79.7925",
                          "09:30"))

    def test_adif(self):
        data, out = self.export("log.adi", "--location", "1")
        self.assertIn("4 receptions of 1 location written to ", out)
        self.assertIn("1 without a readable date is in the CSV only", out)
        header, records = read_adif(data)
        self.assertEqual(header["ADIF_VER"], "3.1.0")
        self.assertEqual(header["PROGRAMID"], "zolt-converter")
        self.assertIn("PROGRAMVERSION", header)
        self.assertRegex(header["CREATED_TIMESTAMP"], r"^\d{8} \d{6}$")
        self.assertEqual([r["QSO_DATE"] for r in records],
                         ["19991224", "19970509", "20491231", "19500101"])
        first = records[0]
        self.assertEqual((first["CALL"], first["FREQ"], first["MODE"], first["SWL"],
                          first["TIME_ON"], first["QTH"], first["COUNTRY"]),
                         ("GL", "0.398", "CW", "Y", "0632", "Aalborg", "Denmark"))
        self.assertEqual(first["COMMENT"], 'Loud, "clear" <b> & more  next line: e ss EUR AE')
        self.assertEqual((first["LAT"], first["LON"]),
                         (adif_degrees("N", 57.08382), adif_degrees("E", 9.68009)))
        self.assertEqual(first["GRIDSQUARE"], "JO47uc")
        # Home is the centre of the typed locator's subsquare.
        self.assertEqual((first["MY_GRIDSQUARE"], first["MY_LAT"], first["MY_LON"]),
                         ("JO57fa", adif_degrees("N", 57 + 1 / 48), adif_degrees("E", 10 + 11 / 24)))
        self.assertEqual(first["APP_ZOLT-CONVERTER_LOCATION"], "1")
        self.assertEqual(first["APP_ZOLT-CONVERTER_LOCATION_NAME"], LOCATION_NAME)
        self.assertRegex(first["DISTANCE"], r"^\d+\.\d$")
        own = records[3]
        self.assertEqual((own["CALL"], own["FREQ"], own["QTH"], own["LAT"], own["LON"]),
                         ("ZUT", "0.263", "Temagami Lake", adif_degrees("N", 47.0631),
                          adif_degrees("W", 79.7925)))

    def test_kml(self):
        data, out = self.export("log.kml", "--date-order", "mdy")
        self.assertIn("4 beacons of 6 receptions of 2 locations written to ", out)
        root = ET.fromstring(data)
        self.assertEqual(root.tag, KML + "kml")
        folders = root.findall(f"{KML}Document/{KML}Folder")
        self.assertEqual([f.findtext(KML + "name") for f in folders],
                         [LOCATION_NAME, "Location 2"])
        marks = {m.findtext(KML + "name"): m for m in folders[0].findall(KML + "Placemark")}
        self.assertEqual(sorted(marks), ["GL 398 kHz", "Home", "ML 324 kHz", "ZUT 263 kHz"])
        lon, lat, _ = map(float, marks["GL 398 kHz"].findtext(f"{KML}Point/{KML}coordinates")
                          .split(","))
        self.assertEqual((lat, lon), (57.08382, 9.68009))
        gl = marks["GL 398 kHz"].findtext(KML + "description")
        self.assertIn("Aalborg, Denmark", gl)
        self.assertIn("2 receptions", gl)
        self.assertIn("First heard 1999-12-24", gl)
        self.assertIn("Last heard 2049-12-31", gl)
        self.assertIn("One of your own beacons", marks["ZUT 263 kHz"].findtext(KML + "description"))
        self.assertIn("from your locator JO57fa", marks["Home"].findtext(KML + "description"))
        # Home is unknown at location 2 (one beacon, no entry): no placemark for it.
        self.assertEqual([m.findtext(KML + "name") for m in folders[1].findall(KML + "Placemark")],
                         ["AHL 290 kHz"])

    def test_date_orders(self):
        mixed = self.p.path("mixed.csv")
        before = self.p.listing()
        r = self.p.run("--export", mixed)
        self.assertEqual(r.returncode, 1)
        self.assertIn("--date-order", r.stderr)
        self.assertIn("24/12/99", r.stderr)
        self.assertEqual(self.p.listing(), before)
        for args, date in ((["--location", "2"], "1999-12-24"),
                           (["--date-order", "dmy"], "1997-09-05"),
                           (["--date-order", "mdy"], "1997-05-09")):
            data, _ = self.export("orders.csv", *args)
            rows = list(csv.DictReader(data.decode("utf-8").splitlines(), HEADER))[1:]
            self.assertIn(date, [row["date"] for row in rows], args)

    def test_command_line_failures(self):
        help_ = self.p.run("--help")
        self.assertEqual(help_.returncode, 0)
        for option in ("--export FILE", "--location N", "--date-order mdy|dmy"):
            self.assertIn(option, help_.stdout)
        plain_file = self.p.path("plain")
        with open(plain_file, "w") as f:
            f.write("x")
        cases = [
            (["--export"], 2, "--export needs a value"),
            (["--export", "x.csv", "--bogus"], 2, "--bogus"),
            (["--export", "x.csv", "--location", "17"], 2, "1 to 16"),
            (["--export", "x.csv", "--date-order", "ymd"], 2, "mdy"),
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

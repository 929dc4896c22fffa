// SPDX-License-Identifier: GPL-2.0-or-later
#include "db/Schema.h"

#include <string>

namespace zolt {

void createSchema(Database& db) {
    // Ident compares without regard to letter case, as the old engine did,
    // through SQLite's own NOCASE so that any program can read the file;
    // callers leave trailing blanks off the idents they look up. The index
    // serves the look-ups by ident and frequency.
    db.executeScript(R"sql(
CREATE TABLE NDBInformation (
    Beacon_ID INTEGER PRIMARY KEY,
    Ident TEXT COLLATE NOCASE,
    Frequency REAL,
    City TEXT,
    State TEXT,
    Country TEXT,
    Latitude REAL,
    Longitude REAL
);
CREATE INDEX NDBInformation_IdentFrequency ON NDBInformation (Ident, Frequency);
CREATE TABLE CountryCode (
    CountryShort TEXT PRIMARY KEY,
    CountryLong TEXT
);
CREATE TABLE NDBLog (
    Log_ID INTEGER PRIMARY KEY AUTOINCREMENT,
    Beacon_ID INTEGER NOT NULL,
    loggedlocation INTEGER,
    ReceptionTime TEXT,
    ReceptionDate TEXT,
    ReceptionComments TEXT
);
CREATE TABLE NewBeacons (
    newbeacon_ID INTEGER PRIMARY KEY AUTOINCREMENT,
    Ident TEXT,
    Country TEXT,
    State TEXT,
    City TEXT,
    frequency REAL,
    Power TEXT,
    PowerClass TEXT,
    Latitude TEXT,
    Longitude TEXT,
    AsOf TEXT,
    Cycle TEXT,
    usb TEXT,
    lsb TEXT,
    DAID TEXT,
    GenNotes TEXT
);
)sql");
    db.executeScript("PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";");
}

}  // namespace zolt

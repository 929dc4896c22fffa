// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Geo.h"
#include "core/OldDates.h"
#include "engine/MatchingRun.h"

// The converted log handed over to other programs: every NDBLog row with what
// is known of its beacon and its listening location, and the text formats
// that need no XML (CSV for spreadsheets, ADIF for logbooks). The map format
// is written in app/, where an XML writer is at hand.
namespace zolt {

// One logged reception. Texts are UTF-8.
struct ExportedReception {
    std::int64_t logId = 0;
    std::int64_t beaconId = 0;
    int location = 0;
    // As the listener logged it where the working file still tells (the
    // ident and frequency typed in the old log), else the beacon's own.
    std::string ident, frequency;
    std::string time, date, comment;  // as stored in the log
    bool ownBeacon = false;           // one of the listener's own (NewBeacons)
    bool beaconKnown = false;         // false: Beacon_ID names no beacon
    std::string beaconIdent, beaconFrequency, beaconCity, beaconProvince, beaconCountry;
    std::optional<LatLon> position;
    std::optional<double> distanceKm, bearingDeg;  // from the location's home
    std::string how;                               // how it was decided, where known
};

struct ExportedLocation {
    int number = 0;
    std::string name;  // from the old program's registry; empty when unnamed
    std::optional<LatLon> home;
    std::string homeText;  // how home is known: "Home: near 55.6° N 12.6° E, inferred from …"
};

struct ExportedLog {
    std::vector<ExportedLocation> locations;    // those with receptions, ascending
    std::vector<ExportedReception> receptions;  // by location, then as logged
};

struct ExportSource {
    ProjectPaths paths;
    int location = 0;  // 1 … 16, or 0 for every location
    // Location names by number (index 1 … 16); empty for unnamed ones.
    std::array<std::string, kLocationCount + 1> names;
    // Log_ID -> how the row was decided; rows without an entry leave it empty.
    std::unordered_map<std::int64_t, std::string> howByLogId;
};

// Reads the log from the database (and, while it exists, the working file for
// the idents as logged). Works with the database alone, as after FINALIZE.
// Throws EngineError naming the database and the reason.
ExportedLog readExportedLog(const ExportSource& source);

// Only the receptions and the location of `location` (0 keeps everything).
ExportedLog onlyLocation(const ExportedLog& log, int location);

DateOrderDetector detectDateOrder(const ExportedLog& log);

// RFC 4180: comma separated, CR LF, quotes doubled, UTF-8, one header line.
std::string writeCsv(const ExportedLog& log, DateOrder order);

struct AdifHeader {
    std::string programVersion;
    std::string createdTimestamp;  // "YYYYMMDD HHMMSS", UTC
};
// ADIF 3.1 (.adi), ASCII. Receptions whose date does not read are left out;
// `leftOut` receives their number.
std::string writeAdif(const ExportedLog& log, DateOrder order, const AdifHeader& header,
                      int* leftOut = nullptr);

// A comment or name as ASCII for the ADIF file: Windows-1252's letters lose
// their accents ("é" e, "ß" ss, "Æ" AE), a few signs become words or their
// nearest ASCII ("€" EUR, "°" deg, "–" -), line breaks and tabs become
// blanks, and anything else becomes "?".
std::string asciiFolded(std::string_view utf8);

// A Maidenhead locator of six characters ("JO62qm").
std::string locatorOf(LatLon position);

// ADIF's "XDDD MM.MMM" for a latitude (N/S) or a longitude (E/W).
std::string adifLocation(double degrees, bool latitude);

// "3,120": thousands grouped as the messages write them.
std::string groupedNumber(long long n);

// One beacon of a location's map: its receptions counted, first and last
// heard among the dates that read.
struct MappedBeacon {
    const ExportedReception* first = nullptr;  // its first reception, for the beacon's fields
    int receptions = 0;
    std::optional<CalendarDate> firstHeard, lastHeard;
};
// The distinct beacons logged at `location`, in the order first logged.
std::vector<MappedBeacon> mappedBeacons(const ExportedLog& log, int location, DateOrder order);

// Texts of the export's closing message.
struct ExportCounts {
    int written = 0;     // receptions in the file
    int locations = 0;   // locations they come from
    int unreadable = 0;  // receptions whose date did not read
    int beacons = 0;     // placemarks of beacons (map only)
};
enum class ExportFormat { Csv, Adif, Kml };
// "3,120 receptions of 4 locations written to /x/log.adi; 12 without a
// readable date are in the CSV only."
std::string exportSummary(ExportFormat format, const ExportCounts& counts,
                          const std::string& target);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Geo.h"
#include "core/OldDates.h"
#include "engine/HomePosition.h"
#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

// The converted log handed over to other programs: every NDBLog row with what
// is known of its beacon and its listening location, and the text formats
// CSV for spreadsheets and ADIF for logbooks (the map's KML: engine/KmlExport.h).
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
    std::optional<double> distanceKm, bearingDeg;  // from the location's typed home
    std::string how;                               // how it was decided, where known
};

struct ExportedLocation {
    int number = 0;
    std::string name;  // from the old program's registry; empty when unnamed
    // The listener's position, only where the listener typed it: an inferred
    // one is a guess, and another program must not take it for theirs.
    std::optional<LatLon> home;
    LocationHome::Source homeSource = LocationHome::Source::Unknown;
    std::string homeText;  // how home is known: "Home: near 55.6° N 12.6° E, inferred from …"
};

// "Location 2" or its name, as the files call a location.
std::string locationTitle(const ExportedLocation& place);
// "location 2" or "location 2 (Cabin at the lake)", as messages call it.
std::string locationLabel(const ExportedLocation& place);

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

// How the dates of each location are read. One listener may have written
// the month first at one location and the day first at another.
struct DateOrders {
    DateOrders(DateOrder every = DateOrder::MonthFirst) : every(every) {}
    DateOrder every;                      // locations without an order of their own
    std::map<int, DateOrder> byLocation;  // location -> its order
    DateOrder of(int location) const;
};

// Each location's dates, looked at apart.
std::map<int, DateOrderDetector> detectDateOrders(const ExportedLog& log);

// What the listener said about the dates: one order for every location,
// and one per location, which wins over it.
struct DateOrderChoice {
    std::optional<DateOrder> every;
    std::map<int, DateOrder> byLocation;
};
struct ResolvedDateOrders {
    DateOrders orders;
    // Locations the choice leaves open: mixed ones cannot be read until the
    // listener says how; undecided ones are read month first.
    std::vector<int> mixed, undecided;
};
// The order of every location of `log`: the choice, else what its dates show.
ResolvedDateOrders resolveDateOrders(const ExportedLog& log, const DateOrderChoice& choice);

struct ExportOptions {
    DateOrders dates;
    // CSV: the exact text, without the apostrophe that keeps a spreadsheet
    // from running a cell beginning with = + - @ as a formula.
    bool csvExactText = false;
    bool csvByteOrderMark = false;  // the flavour Excel and LibreOffice read as UTF-8
    std::string stationCallsign;    // ADIF STATION_CALLSIGN and OPERATOR; empty: none
};

// A CSV cell as a spreadsheet shows it and never runs: text beginning with
// = + - @, a tab or a CR gets a leading apostrophe.
std::string spreadsheetSafe(std::string_view text);

// RFC 4180: comma separated, CR LF, quotes doubled, UTF-8, one header line.
std::string writeCsv(const ExportedLog& log, const ExportOptions& options);

// Texts of the export's closing message.
struct ExportCounts {
    int written = 0;     // receptions in the file
    int locations = 0;   // locations they come from
    int unreadable = 0;  // receptions whose date did not read
    int beacons = 0;     // placemarks of beacons (map only)
    int early = 0;       // ADIF: dated before 1930, which ADIF cannot hold
    int noTime = 0;      // ADIF: no usable time (empty, 24:00, …)
    int unplaced = 0;    // map: beacons without a position, listed but not on the map
};

struct AdifHeader {
    std::string programVersion;
    std::string createdTimestamp;  // "YYYYMMDD HHMMSS", UTC
};
// ADIF 3.1 (.adi), ASCII. A reception ADIF cannot hold as a contact (a date
// that does not read or lies before 1930, no usable time) is left out;
// `counts` receives what was written and what was left out, and why.
std::string writeAdif(const ExportedLog& log, const ExportOptions& options,
                      const AdifHeader& header, ExportCounts* counts = nullptr);

// Why ADIF cannot hold a reception as a contact, if it cannot.
enum class AdifGap { None, UnreadableDate, Early, NoTime };
AdifGap adifGap(const ExportedReception& r, DateOrder order);
// The receptions ADIF leaves out, by reason (unreadable, early, noTime).
ExportCounts adifGaps(const ExportedLog& log, const DateOrders& orders);

// ADIF's band of a frequency in kHz ("630m"); empty outside every band.
std::string adifBand(double kHz);

// A text field for the .adi file: ASCII, and no "<" or ">", which several
// logbook programs take for the start of a field wherever they stand.
std::string adifText(std::string_view utf8);

// A comment or name as ASCII for the ADIF file: Windows-1252's letters lose
// their accents ("é" e, "ß" ss, "Æ" AE), a few signs become words or their
// nearest ASCII ("€" EUR, "°" deg, "–" -), line breaks and tabs become
// blanks, and anything else becomes "?".
std::string asciiFolded(std::string_view utf8);

// A Maidenhead locator of six characters ("JO62qm").
std::string locatorOf(LatLon position);

// ADIF's "XDDD MM.MMM" for a latitude (N/S) or a longitude (E/W).
std::string adifLocation(double degrees, bool latitude);

// "3,120": thousands grouped as the map file writes them, whatever the
// locale (messages use shownNumber).
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

// The map's beacons, and those of them without a position, which are listed
// but have no place on the map.
struct MapCounts {
    int beacons = 0, unplaced = 0;
};
MapCounts mapCounts(const ExportedLog& log);

enum class ExportFormat { Csv, Adif, Kml };
// "1 without a readable date is in the CSV only", "3 are in the CSV only: 1
// …, 1 … and 1 …"; empty when ADIF holds every reception.
std::string leftOutOfAdif(const ExportCounts& counts);
// "2 beacons have no known position and are listed without a place on the map".
std::string offTheMap(const ExportCounts& counts);
// "3,120 receptions of 4 locations written to /x/log.adi; 12 without a
// readable date are in the CSV only."
std::string exportSummary(ExportFormat format, const ExportCounts& counts,
                          const std::string& target);

}  // namespace zolt

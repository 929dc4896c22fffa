// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/LogExport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <system_error>
#include <utility>

#include "core/Cp1252.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "core/Utf8.h"
#include "db/Database.h"
#include "engine/CandidateLookup.h"
#include "engine/UserBeacons.h"
#include "work/Records.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

struct BeaconFacts {
    std::string ident, frequency, city, province, country;
    std::optional<LatLon> position;
};

std::optional<LatLon> onTheGlobe(double lat, double lon) {
    if (!std::isfinite(lat) || !std::isfinite(lon) || std::fabs(lat) > 90.0 ||
        std::fabs(lon) > 180.0) {
        return std::nullopt;
    }
    return LatLon{lat, lon};
}

// "XXX" is how the old program and the shipped list write "country unknown".
std::string unlessNone(std::string text, std::string_view none) {
    return text == none ? std::string() : text;
}

// The old program filled each blank of a province with "XX" ("XXXX" for
// none at all): the candidate lists show it without them, and so do the files.
std::string provinceText(const Statement& s, int column) { return removeXX(s.columnText(column)); }

std::string columnText(const Statement& s, int column) { return std::string(s.columnText(column)); }

// Text of a cell whatever its type: a REAL frequency reads "404", not "404.0".
std::string cellText(const Statement& s, int column) {
    switch (s.columnType(column)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER:
            return std::to_string(s.columnInt64(column));
        case SQLITE_FLOAT:
            return shortestDecimal(s.columnDouble(column));
        default:
            return columnText(s, column);
    }
}

std::optional<double> cellNumber(const Statement& s, int column) {
    const int type = s.columnType(column);
    if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) return std::nullopt;
    return s.columnDouble(column);
}

// The beacons of the shipped list, or the listener's own (`own`), by their
// number in the log: an own beacon's lies above every listed one. An own
// beacon keeps its position as the text the old beacon file held; what does
// not read as degrees stays off the map, as on the window's map.
std::unordered_map<std::int64_t, BeaconFacts> beaconsOf(Database& db, bool own) {
    std::unordered_map<std::int64_t, BeaconFacts> beacons;
    Statement s = db.prepare(std::string("SELECT t.") + (own ? "newbeacon_ID" : "Beacon_ID") +
                             ", t.Ident, t.Frequency, t.City, t.State, coalesce(c.CountryLong, "
                             "t.Country), t.Latitude, t.Longitude FROM " +
                             (own ? "NewBeacons" : "NDBInformation") +
                             " AS t LEFT JOIN CountryCode AS c ON c.CountryShort = t.Country");
    while (s.step()) {
        BeaconFacts b{own ? trimBlanks(columnText(s, 1)) : columnText(s, 1),
                      cellText(s, 2),
                      columnText(s, 3),
                      provinceText(s, 4),
                      unlessNone(columnText(s, 5), "XXX"),
                      std::nullopt};
        if (own) {
            b.position = ownBeaconPosition(cellText(s, 6), cellText(s, 7));
        } else if (const auto lat = cellNumber(s, 6), lon = cellNumber(s, 7); lat && lon) {
            b.position = onTheGlobe(*lat, *lon);
        }
        beacons.emplace(s.columnInt64(0) + (own ? kUserBeaconOffset : 0), std::move(b));
    }
    return beacons;
}

std::string receptionKey(long long location, std::string_view time, std::string_view date,
                         std::string_view comment) {
    std::string key = std::to_string(location);
    key.reserve(key.size() + 3 + time.size() + date.size() + comment.size());
    for (const auto part : {time, date, comment}) {
        key += '\x1f';
        key += part;
    }
    return key;
}

using IdentAndFrequency = std::pair<std::string, std::string>;

// The log rows do not keep the ident and frequency the listener typed, only
// the beacon they were settled against. While the working file exists its
// settled records say what was typed: a row whose time, date and comment
// belong to settled records of one ident and frequency was logged for them.
std::unordered_map<std::string, std::vector<IdentAndFrequency>> loggedAs(const fs::path& processed,
                                                                         int onlyLocation) {
    std::unordered_map<std::string, std::vector<IdentAndFrequency>> typed;
    std::error_code ec;
    if (!fs::is_regular_file(processed, ec)) return typed;
    const std::string bytes = readWholeFile(processed);
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    typed.reserve(count);
    // Most fields are plain ASCII and need no conversion: the buffers hold
    // the few that do.
    std::string time, date, comment, ident, frequency;
    for (std::size_t i = 0; i < count; ++i) {
        const ProcessedRecordView r{
            std::string_view(bytes).substr(i * ProcessedRecord::kLength, ProcessedRecord::kLength)};
        if (onlyLocation != 0 && r.location() != onlyLocation) continue;
        if (trimmedView(r.state()) != trimmedView(state::OK)) continue;
        auto& pairs = typed[receptionKey(r.location(), cp1252ToUtf8(trimmedView(r.time()), time),
                                         cp1252ToUtf8(trimmedView(r.date()), date),
                                         cp1252ToUtf8(trimmedView(r.comment()), comment))];
        IdentAndFrequency pair{std::string(cp1252ToUtf8(trimmedView(r.ident()), ident)),
                               std::string(cp1252ToUtf8(trimmedView(r.frequency()), frequency))};
        if (std::find(pairs.begin(), pairs.end(), pair) == pairs.end()) pairs.push_back(pair);
    }
    return typed;
}

// The typed pair of a row: the only one its key has, or among several the
// one that names its beacon; nullptr when the file cannot tell.
const IdentAndFrequency* typedPairOf(const std::vector<IdentAndFrequency>* pairs,
                                     const ExportedReception& r) {
    if (!pairs || pairs->empty()) return nullptr;
    if (pairs->size() == 1) return &pairs->front();
    for (const auto& pair : *pairs) {
        if (equalsAsciiNoCase(pair.first, r.beaconIdent) &&
            leadingNumber(pair.second) == leadingNumber(r.beaconFrequency)) {
            return &pair;
        }
    }
    return nullptr;
}

void appendCsvField(std::string& out, std::string_view value) {
    const std::string clean = withoutControls(value);
    if (clean.find_first_of(",\"\r\n") == std::string::npos) {
        out += clean;
        return;
    }
    out += '"';
    for (char c : clean) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// What a spreadsheet reads as a number and nothing else: a sign, digits,
// at most one point.
bool isPlainNumber(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    bool digit = false, point = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

// One CSV cell and how a spreadsheet is kept from reading more into it.
struct Cell {
    enum Kind {
        Text,      // runs as a formula when it begins with = + - @
        Number,    // a number, date or time; the typed text where it does not read
        AsLogged,  // the old log's own text, which a spreadsheet would retype
    };
    std::string text;
    Kind kind = Text;

    std::string forSpreadsheets() const {
        switch (kind) {
            case Text:
                break;
            case Number:
                // A negative longitude stays a number; only a typed text
                // that does not read as one is guarded.
                if (isPlainNumber(text)) return text;
                break;
            case AsLogged:
                // A leading apostrophe is how a spreadsheet marks a cell as
                // text: "05/09/97" must not become a date, nor "0075" 75.
                return text.empty() ? text : "'" + text;
        }
        return spreadsheetSafe(text);
    }
};

const char* homeKind(LocationHome::Source source) {
    switch (source) {
        case LocationHome::Source::Entered:
            return "typed";
        case LocationHome::Source::Inferred:
            return "inferred";
        case LocationHome::Source::Unknown:
            break;
    }
    return "unknown";
}

std::string timeText(std::string_view logged) {
    const auto minutes = readOldTime(logged);
    if (!minutes) return std::string(logged);
    std::string out = "00:00";
    out[0] = static_cast<char>('0' + *minutes / 60 / 10);
    out[1] = static_cast<char>('0' + *minutes / 60 % 10);
    out[3] = static_cast<char>('0' + *minutes % 60 / 10);
    out[4] = static_cast<char>('0' + *minutes % 60 % 10);
    return out;
}

void appendAdifField(std::string& out, std::string_view name, std::string_view value) {
    if (value.empty()) return;
    out += '<';
    out += name;
    out += ':';
    out += std::to_string(value.size());
    out += '>';
    out += value;
    out += ' ';
}

// kHz as ADIF's MHz, to the hertz, without trailing zeros: 135.7 kHz is
// "0.1357", never a binary fraction's "0.13569999999999999".
std::string megahertz(double kHz) {
    std::string out = fixedDecimal(kHz / 1000.0, 6);
    while (!out.empty() && out.back() == '0') out.pop_back();
    if (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

constexpr int kAdifFirstYear = 1930;

// Counts a reception ADIF leaves out; false for one it holds.
bool countGap(ExportCounts& counts, AdifGap gap) {
    switch (gap) {
        case AdifGap::None:
            return false;
        case AdifGap::UnreadableDate:
            ++counts.unreadable;
            break;
        case AdifGap::Early:
            ++counts.early;
            break;
        case AdifGap::NoTime:
            ++counts.noTime;
            break;
    }
    return true;
}

constexpr std::string_view kAdifProgramId = "zolt-converter";
constexpr std::string_view kAdifLocationField = "APP_ZOLT-CONVERTER_LOCATION";
constexpr std::string_view kAdifLocationNameField = "APP_ZOLT-CONVERTER_LOCATION_NAME";

}  // namespace

ExportedLog readExportedLog(const ExportSource& source) {
    ExportedLog log;
    Database db(source.paths.DatabasePath, Database::Mode::ReadOnly);
    // One read transaction: the window may append rows meanwhile, and the
    // file must not show half of an action.
    db.executeScript("BEGIN");
    const auto listed = beaconsOf(db, false);
    const auto own = beaconsOf(db, true);

    Statement rows =
        db.prepare(source.location == 0
                       ? "SELECT Log_ID, Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
                         "ReceptionComments FROM NDBLog ORDER BY loggedlocation, Log_ID"
                       : "SELECT Log_ID, Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
                         "ReceptionComments FROM NDBLog WHERE loggedlocation = ? ORDER BY Log_ID");
    if (source.location != 0) rows.bindInt64(1, source.location);
    while (rows.step()) {
        ExportedReception r;
        r.logId = rows.columnInt64(0);
        r.beaconId = rows.columnInt64(1);
        r.location = static_cast<int>(rows.columnInt64(2));
        r.time = cellText(rows, 3);
        r.date = cellText(rows, 4);
        r.comment = cellText(rows, 5);
        // The list's numbers come first: an own beacon's number lies above
        // every listed one, so a listed beacon is never taken for one.
        const BeaconFacts* facts = nullptr;
        if (const auto it = listed.find(r.beaconId); it != listed.end()) {
            facts = &it->second;
        } else if (const auto mine = own.find(r.beaconId); mine != own.end()) {
            facts = &mine->second;
            r.ownBeacon = true;
        }
        if (facts) {
            r.beaconKnown = true;
            r.beaconIdent = facts->ident;
            r.beaconFrequency = facts->frequency;
            r.beaconCity = facts->city;
            r.beaconProvince = facts->province;
            r.beaconCountry = facts->country;
            r.position = facts->position;
        }
        if (const auto how = source.howByLogId.find(r.logId); how != source.howByLogId.end()) {
            r.how = how->second;
        }
        log.receptions.push_back(std::move(r));
    }
    db.executeScript("COMMIT");

    const auto typed = loggedAs(source.paths.ProcessedPath, source.location);
    for (auto& r : log.receptions) {
        const auto it = typed.find(receptionKey(r.location, r.time, r.date, r.comment));
        if (const auto* pair = typedPairOf(it == typed.end() ? nullptr : &it->second, r)) {
            r.ident = pair->first;
            r.frequency = pair->second;
        } else {
            r.ident = r.beaconIdent;
            r.frequency = r.beaconFrequency;
        }
    }

    std::map<int, std::size_t> seen;
    for (const auto& r : log.receptions) seen.emplace(r.location, 0);
    for (const auto& [number, unused] : seen) {
        ExportedLocation place;
        place.number = number;
        if (number >= 1 && number <= kLocationCount) {
            place.name = source.names[static_cast<std::size_t>(number)];
            const LocationHome home = locationHome(source.paths, number);
            place.homeSource = home.source;
            if (home.source == LocationHome::Source::Entered) place.home = home.position;
            place.homeText = describeHome(home);
        }
        log.locations.push_back(std::move(place));
    }
    for (auto& r : log.receptions) {
        const auto place = std::find_if(log.locations.begin(), log.locations.end(),
                                        [&](const auto& l) { return l.number == r.location; });
        if (place->home && r.position) {
            r.distanceKm = greatCircleKm(*place->home, *r.position);
            r.bearingDeg = initialBearingDeg(*place->home, *r.position);
        }
    }
    return log;
}

std::string locationTitle(const ExportedLocation& place) {
    return place.name.empty() ? "Location " + std::to_string(place.number) : place.name;
}

std::string locationLabel(const ExportedLocation& place) {
    std::string text = "location " + std::to_string(place.number);
    return place.name.empty() ? text : text + " (" + place.name + ")";
}

ExportedLog onlyLocation(const ExportedLog& log, int location) {
    if (location == 0) return log;
    ExportedLog out;
    for (const auto& l : log.locations) {
        if (l.number == location) out.locations.push_back(l);
    }
    for (const auto& r : log.receptions) {
        if (r.location == location) out.receptions.push_back(r);
    }
    return out;
}

DateOrder DateOrders::of(int location) const {
    const auto it = byLocation.find(location);
    return it == byLocation.end() ? every : it->second;
}

std::map<int, DateOrderDetector> detectDateOrders(const ExportedLog& log) {
    std::map<int, DateOrderDetector> detectors;
    for (const auto& l : log.locations) detectors[l.number];
    for (const auto& r : log.receptions) detectors[r.location].add(r.date);
    return detectors;
}

ResolvedDateOrders resolveDateOrders(const ExportedLog& log, const DateOrderChoice& choice) {
    ResolvedDateOrders out;
    for (const auto& [location, dates] : detectDateOrders(log)) {
        DateOrder order = dates.suggested();
        if (const auto it = choice.byLocation.find(location); it != choice.byLocation.end()) {
            order = it->second;
        } else if (choice.every) {
            order = *choice.every;
        } else if (dates.finding() == DateOrderDetector::Finding::Mixed) {
            out.mixed.push_back(location);
        } else if (dates.finding() == DateOrderDetector::Finding::Undecided) {
            out.undecided.push_back(location);
        }
        out.orders.byLocation[location] = order;
    }
    return out;
}

std::string spreadsheetSafe(std::string_view text) {
    if (text.empty() || std::string_view("=+-@\t\r").find(text.front()) == std::string_view::npos) {
        return std::string(text);
    }
    return "'" + std::string(text);
}

std::string writeCsv(const ExportedLog& log, const ExportOptions& options) {
    std::string out = options.csvByteOrderMark ? "\xEF\xBB\xBF" : "";
    out +=
        "location,location_name,ident,frequency_khz,date,time_utc,comment,beacon_ident,"
        "beacon_frequency_khz,beacon_city,beacon_province,beacon_country,latitude,longitude,"
        "distance_km,bearing_deg,how,date_as_logged,home\r\n";
    out.reserve(out.size() + log.receptions.size() * 170);
    std::map<int, const ExportedLocation*> places;
    for (const auto& l : log.locations) places[l.number] = &l;
    for (const auto& r : log.receptions) {
        const auto date = readOldDate(r.date, options.dates.of(r.location));
        const auto place = places.find(r.location);
        const ExportedLocation* l = place == places.end() ? nullptr : place->second;
        const bool timeReads = readOldTime(r.time).has_value();
        const Cell cells[] = {
            {std::to_string(r.location), Cell::Number},
            {l ? l->name : std::string()},
            {r.ident},
            {r.frequency, Cell::Number},
            {date ? isoDate(*date) : std::string(), Cell::Number},
            {timeText(r.time), timeReads ? Cell::Number : Cell::AsLogged},
            {r.comment},
            {r.beaconIdent},
            {r.beaconFrequency, Cell::Number},
            {r.beaconCity},
            {r.beaconProvince},
            {r.beaconCountry},
            {r.position ? shortestDecimal(r.position->lat) : std::string(), Cell::Number},
            {r.position ? shortestDecimal(r.position->lon) : std::string(), Cell::Number},
            {r.distanceKm ? fixedDecimal(*r.distanceKm, 1) : std::string(), Cell::Number},
            {r.bearingDeg ? fixedDecimal(*r.bearingDeg, 1) : std::string(), Cell::Number},
            {r.how},
            {r.date, Cell::AsLogged},
            {homeKind(l ? l->homeSource : LocationHome::Source::Unknown)},
        };
        bool first = true;
        for (const auto& cell : cells) {
            if (!first) out += ',';
            first = false;
            appendCsvField(out, options.csvExactText ? cell.text : cell.forSpreadsheets());
        }
        out += "\r\n";
    }
    return out;
}

std::string writeAdif(const ExportedLog& log, const ExportOptions& options,
                      const AdifHeader& header, ExportCounts* counts) {
    std::string out = "Receptions of radio beacons, exported by " + std::string(kAdifProgramId) +
                      " (ADIF 3.1)\r\n";
    appendAdifField(out, "ADIF_VER", "3.1.0");
    appendAdifField(out, "PROGRAMID", kAdifProgramId);
    appendAdifField(out, "PROGRAMVERSION", adifText(header.programVersion));
    appendAdifField(out, "CREATED_TIMESTAMP", header.createdTimestamp);
    out += "<EOH>\r\n";
    out.reserve(out.size() + log.receptions.size() * 300);

    struct Mine {
        std::string grid, lat, lon, number, name;
    };
    std::map<int, Mine> mine;
    for (const auto& l : log.locations) {
        Mine m{{}, {}, {}, std::to_string(l.number), adifText(l.name)};
        if (l.home) {
            m.grid = locatorOf(*l.home);
            m.lat = adifLocation(l.home->lat, true);
            m.lon = adifLocation(l.home->lon, false);
        }
        mine[l.number] = std::move(m);
    }
    const std::string station = adifText(trimBlanks(options.stationCallsign));

    ExportCounts tally;
    std::set<int> places;
    for (const auto& r : log.receptions) {
        // Logbooks take a record without QSO_DATE or TIME_ON for no contact
        // at all, and ADIF holds no date before 1930: such receptions stay in
        // the CSV, which keeps every one as logged, rather than be given a
        // date or time nobody logged.
        if (countGap(tally, adifGap(r, options.dates.of(r.location)))) continue;
        const auto date = readOldDate(r.date, options.dates.of(r.location));
        ++tally.written;
        places.insert(r.location);
        const std::string& ident = r.beaconKnown ? r.beaconIdent : r.ident;
        const std::string& kHz = r.beaconKnown ? r.beaconFrequency : r.frequency;
        appendAdifField(out, "CALL", adifText(ident));
        const double frequency = leadingNumber(kHz);
        if (frequency > 0) {
            appendAdifField(out, "FREQ", megahertz(frequency));
            appendAdifField(out, "BAND", adifBand(frequency));
        }
        appendAdifField(out, "MODE", "CW");
        appendAdifField(out, "SWL", "Y");
        std::string iso = isoDate(*date);
        iso.erase(std::remove(iso.begin(), iso.end(), '-'), iso.end());
        appendAdifField(out, "QSO_DATE", iso);
        std::string hhmm = timeText(r.time);
        hhmm.erase(2, 1);
        appendAdifField(out, "TIME_ON", hhmm);
        appendAdifField(out, "STATION_CALLSIGN", station);
        appendAdifField(out, "OPERATOR", station);
        appendAdifField(out, "COMMENT", adifText(r.comment));
        appendAdifField(out, "QTH", adifText(r.beaconCity));
        appendAdifField(out, "COUNTRY", adifText(r.beaconCountry));
        if (r.position) {
            appendAdifField(out, "LAT", adifLocation(r.position->lat, true));
            appendAdifField(out, "LON", adifLocation(r.position->lon, false));
            appendAdifField(out, "GRIDSQUARE", locatorOf(*r.position));
        }
        if (r.distanceKm) appendAdifField(out, "DISTANCE", fixedDecimal(*r.distanceKm, 1));
        if (const auto m = mine.find(r.location); m != mine.end()) {
            appendAdifField(out, "MY_GRIDSQUARE", m->second.grid);
            appendAdifField(out, "MY_LAT", m->second.lat);
            appendAdifField(out, "MY_LON", m->second.lon);
            appendAdifField(out, kAdifLocationField, m->second.number);
            appendAdifField(out, kAdifLocationNameField, m->second.name);
        }
        out += "<EOR>\r\n";
    }
    tally.locations = static_cast<int>(places.size());
    if (counts) {
        counts->written = tally.written;
        counts->locations = tally.locations;
        counts->unreadable = tally.unreadable;
        counts->early = tally.early;
        counts->noTime = tally.noTime;
    }
    return out;
}

AdifGap adifGap(const ExportedReception& r, DateOrder order) {
    const auto date = readOldDate(r.date, order);
    if (!date) return AdifGap::UnreadableDate;
    if (date->year < kAdifFirstYear) return AdifGap::Early;
    if (!readOldTime(r.time)) return AdifGap::NoTime;
    return AdifGap::None;
}

ExportCounts adifGaps(const ExportedLog& log, const DateOrders& orders) {
    ExportCounts counts;
    for (const auto& r : log.receptions) countGap(counts, adifGap(r, orders.of(r.location)));
    return counts;
}

std::string adifBand(double kHz) {
    // ADIF's band table, as far as a receiver of beacons reaches.
    static constexpr struct {
        double low, high;
        const char* name;
    } kBands[] = {
        {135.7, 137.8, "2190m"}, {472, 479, "630m"},    {501, 504, "560m"},
        {1800, 2000, "160m"},    {3500, 4000, "80m"},   {5060, 5450, "60m"},
        {7000, 7300, "40m"},     {10100, 10150, "30m"}, {14000, 14350, "20m"},
        {18068, 18168, "17m"},   {21000, 21450, "15m"}, {24890, 24990, "12m"},
        {28000, 29700, "10m"},   {50000, 54000, "6m"},  {70000, 71000, "4m"},
        {144000, 148000, "2m"},
    };
    for (const auto& band : kBands) {
        if (kHz >= band.low && kHz <= band.high) return band.name;
    }
    return {};
}

std::string adifText(std::string_view utf8) {
    std::string out = asciiFolded(utf8);
    for (char& c : out) {
        if (c == '<') c = '[';
        if (c == '>') c = ']';
    }
    return out;
}

std::string asciiFolded(std::string_view utf8) {
    // Latin-1's upper half from U+00A0, then the letters and signs that
    // Windows-1252 puts at 0x80-0x9F.
    static constexpr const char* kLatin1[96] = {
        " ",   "!",   "c",   "L",   "?", "Y", "|",  "S",  "\"", "(c)", "a",  "<<", "-", "-",
        "(R)", "-",   "deg", "+/-", "2", "3", "'",  "u",  "P",  ".",   ",",  "1",  "o", ">>",
        "1/4", "1/2", "3/4", "?",   "A", "A", "A",  "A",  "A",  "A",   "AE", "C",  "E", "E",
        "E",   "E",   "I",   "I",   "I", "I", "D",  "N",  "O",  "O",   "O",  "O",  "O", "x",
        "O",   "U",   "U",   "U",   "U", "Y", "TH", "ss", "a",  "a",   "a",  "a",  "a", "a",
        "ae",  "c",   "e",   "e",   "e", "e", "i",  "i",  "i",  "i",   "d",  "n",  "o", "o",
        "o",   "o",   "o",   "/",   "o", "u", "u",  "u",  "u",  "y",   "th", "y"};
    static const std::map<char32_t, const char*> kWindows = {
        {U'\u20AC', "EUR"}, {U'\u201A', ","},  {U'\u0192', "f"}, {U'\u201E', "\""},
        {U'\u2026', "..."}, {U'\u2020', "+"},  {U'\u2021', "+"}, {U'\u02C6', "^"},
        {U'\u2030', "%."},  {U'\u0160', "S"},  {U'\u2039', "<"}, {U'\u0152', "OE"},
        {U'\u017D', "Z"},   {U'\u2018', "'"},  {U'\u2019', "'"}, {U'\u201C', "\""},
        {U'\u201D', "\""},  {U'\u2022', "*"},  {U'\u2013', "-"}, {U'\u2014', "-"},
        {U'\u02DC', "~"},   {U'\u2122', "TM"}, {U'\u0161', "s"}, {U'\u203A', ">"},
        {U'\u0153', "oe"},  {U'\u017E', "z"},  {U'\u0178', "Y"}};
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const auto c = nextUtf8(utf8, pos);
        if (!c) {
            out += '?';
        } else if (*c == '\t' || *c == '\r' || *c == '\n') {
            out += ' ';
        } else if (*c >= 0x20 && *c < 0x7F) {
            out += static_cast<char>(*c);
        } else if (*c >= 0xA0 && *c <= 0xFF) {
            out += kLatin1[*c - 0xA0];
        } else if (const auto it = kWindows.find(*c); it != kWindows.end()) {
            out += it->second;
        } else if (*c < 0x20 || *c == 0x7F) {
            out += ' ';
        } else {
            out += '?';
        }
    }
    return out;
}

std::string locatorOf(LatLon position) {
    // Shifted to start at the south pole and the antimeridian; the last
    // fraction of a degree stays inside the grid's last square.
    const double lon = std::clamp(position.lon + 180.0, 0.0, 359.999999);
    const double lat = std::clamp(position.lat + 90.0, 0.0, 179.999999);
    std::string out(6, ' ');
    out[0] = static_cast<char>('A' + static_cast<int>(lon / 20));
    out[1] = static_cast<char>('A' + static_cast<int>(lat / 10));
    out[2] = static_cast<char>('0' + static_cast<int>(std::fmod(lon, 20.0) / 2));
    out[3] = static_cast<char>('0' + static_cast<int>(std::fmod(lat, 10.0)));
    out[4] = static_cast<char>('a' + static_cast<int>(std::fmod(lon, 2.0) * 12));
    out[5] = static_cast<char>('a' + static_cast<int>(std::fmod(lat, 1.0) * 24));
    return out;
}

std::string adifLocation(double degrees, bool latitude) {
    const char hemisphere = latitude ? (degrees < 0 ? 'S' : 'N') : (degrees < 0 ? 'W' : 'E');
    // Whole thousandths of a minute first, so that 59.9996' carries into the
    // next degree instead of reading 60.000.
    const long long thousandths = std::llround(std::fabs(degrees) * 60000.0);
    const long long whole = thousandths / 60000;
    const long long minutes = thousandths % 60000;
    std::string out(1, hemisphere);
    const std::string d = std::to_string(whole);
    out += std::string(3 - std::min<std::size_t>(3, d.size()), '0') + d + ' ';
    const std::string m = std::to_string(minutes / 1000);
    const std::string f = std::to_string(minutes % 1000);
    out += std::string(2 - std::min<std::size_t>(2, m.size()), '0') + m + '.';
    out += std::string(3 - std::min<std::size_t>(3, f.size()), '0') + f;
    return out;
}

std::string groupedNumber(long long n) { return groupedDigits(n, ","); }

std::vector<MappedBeacon> mappedBeacons(const ExportedLog& log, int location, DateOrder order) {
    std::vector<MappedBeacon> beacons;
    std::unordered_map<std::int64_t, std::size_t> index;
    for (const auto& r : log.receptions) {
        if (r.location != location) continue;
        const auto [it, added] = index.emplace(r.beaconId, beacons.size());
        if (added) beacons.push_back({&r, 0, std::nullopt, std::nullopt});
        MappedBeacon& b = beacons[it->second];
        ++b.receptions;
        if (const auto date = readOldDate(r.date, order)) {
            if (!b.firstHeard || *date < *b.firstHeard) b.firstHeard = date;
            if (!b.lastHeard || *b.lastHeard < *date) b.lastHeard = date;
        }
    }
    return beacons;
}

MapCounts mapCounts(const ExportedLog& log) {
    // The date order only tells first and last heard: any will do here.
    MapCounts counts;
    for (const auto& place : log.locations) {
        for (const auto& beacon : mappedBeacons(log, place.number, DateOrder::MonthFirst)) {
            ++counts.beacons;
            counts.unplaced += beacon.first->position ? 0 : 1;
        }
    }
    return counts;
}

std::string leftOutOfAdif(const ExportCounts& counts) {
    std::vector<std::string> why;
    if (counts.unreadable > 0) {
        why.push_back(shownNumber(counts.unreadable) + " without a readable date");
    }
    if (counts.early > 0) {
        why.push_back(shownNumber(counts.early) +
                      " dated before 1930 (ADIF holds no earlier date)");
    }
    if (counts.noTime > 0) {
        why.push_back(shownNumber(counts.noTime) +
                      " without a usable time (empty, 24:00 or other text)");
    }
    const int left = counts.unreadable + counts.early + counts.noTime;
    const std::string verb = left == 1 ? " is" : " are";
    if (why.size() == 1) return why.front() + verb + " in the CSV only";
    std::string text;
    for (std::size_t i = 0; i < why.size(); ++i) {
        text += (i == 0 ? shownNumber(left) + verb + " in the CSV only: "
                        : (i + 1 == why.size() ? " and " : ", ")) +
                why[i];
    }
    return text;
}

std::string offTheMap(const ExportCounts& counts) {
    const int n = counts.unplaced;
    return shownCount(n, "beacon has", "beacons have") + " no known position and " +
           (n == 1 ? "is" : "are") + " listed without a place on the map";
}

std::string exportSummary(ExportFormat format, const ExportCounts& counts,
                          const std::string& target) {
    std::string text;
    if (format == ExportFormat::Kml)
        text = shownCount(counts.beacons, "beacon", "beacons") + " of ";
    text += shownCount(counts.written, "reception", "receptions") + " of " +
            shownCount(counts.locations, "location", "locations") + " written to " + target;
    const auto verb = [](int n, const char* one, const char* many) {
        return std::string(n == 1 ? one : many);
    };
    switch (format) {
        case ExportFormat::Csv:
            if (counts.unreadable > 0) {
                const int n = counts.unreadable;
                text += "; " + shownNumber(n) + verb(n, " has", " have") +
                        " no readable date and keep" + verb(n, "s", "") +
                        " the date as logged in the column date_as_logged";
            }
            break;
        case ExportFormat::Adif:
            if (const std::string left = leftOutOfAdif(counts); !left.empty()) {
                text += "; " + left;
            }
            break;
        case ExportFormat::Kml:
            if (counts.unreadable > 0) {
                const int n = counts.unreadable;
                text += "; " + shownNumber(n) + " without a readable date count" +
                        verb(n, "s", "") + " as receptions but not for first and last heard";
            }
            if (counts.unplaced > 0) text += "; " + offTheMap(counts);
            break;
    }
    return text + ".";
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/HomePosition.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <variant>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/LocationMap.h"
#include "engine/LogStore.h"
#include "engine/Project.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

// homes.ini holds one line per location with an entry, "Home3=JO62qm".
// Earlier versions kept the same lines in settings.ini below the folder line,
// where reading the folder never looked.
constexpr std::string_view kHomeKey = "Home";

fs::path settingsFile(const ProjectPaths& paths) { return paths.WorkFolder / kSettingsFile; }
fs::path homesFile(const ProjectPaths& paths) { return paths.WorkFolder / kHomesFile; }

// The location a line is the entry of, and its text; 0 for any other line.
// Read tolerantly: key in any letter case, blanks around the parts.
int entryLocation(std::string_view line, std::string_view* text = nullptr) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return 0;
    const std::string_view key = trimmedSpaceTab(line.substr(0, equals));
    if (key.size() <= kHomeKey.size() ||
        !equalsAsciiNoCase(key.substr(0, kHomeKey.size()), kHomeKey)) {
        return 0;
    }
    int location = 0;
    for (char c : key.substr(kHomeKey.size())) {
        if (c < '0' || c > '9' || location > kLocationCount) return 0;
        location = location * 10 + (c - '0');
    }
    if (location < 1 || location > kLocationCount) return 0;
    if (text) *text = trimmedSpaceTab(line.substr(equals + 1));
    return location;
}

std::string locationText(int location) { return "location " + std::to_string(location); }

}  // namespace

std::string describeHome(const LocationHome& home) {
    if (!home.position) {
        if (home.beaconCount < kMinBeaconsForInference) {
            return "Home: unknown (fewer than " + std::to_string(kMinBeaconsForInference) +
                   " beacons logged)";
        }
        // Said plainly, with what would help: a guess is never offered.
        const std::string count = shownNumber(home.beaconCount);
        constexpr std::string_view kAsk =
            " Type your locator (or latitude, longitude) below and press Set Home.";
        if (home.medianKm > kMaxMedianSpreadKm) {
            return "Home: unknown. The " + count +
                   " beacons logged here lie too far apart to show where you listened: half "
                   "of them are more than " +
                   formatKm(home.medianKm) + " from their centre." + std::string(kAsk);
        }
        if (home.nearestKm > kMaxNearestKm) {
            return "Home: unknown. The " + count +
                   " beacons logged here do not gather around one place: the point between "
                   "them lies " +
                   formatKm(home.nearestKm) + " from the nearest of them." + std::string(kAsk);
        }
        return "Home: unknown. The " + count + " beacons logged here point to no one place." +
               std::string(kAsk);
    }
    const std::string where = formatLatLon(*home.position, 1);
    if (home.source == LocationHome::Source::Inferred) {
        return "Home: near " + where + ", inferred from " +
               shownCount(home.beaconCount, "beacon", "beacons");
    }
    // A typed position already says where it is; repeating it would only
    // show the same place twice.
    constexpr std::string_view kTyped = "your position ";
    if (home.describe.starts_with(kTyped)) {
        return "Home: " + home.describe.substr(kTyped.size()) + ", as you entered it";
    }
    return "Home: " + where + ", from " + home.describe;
}

std::string describeHomeUsed(const LocationHome& home) {
    if (!home.position) return {};
    const std::string where = formatLatLon(*home.position, 1);
    if (home.source == LocationHome::Source::Inferred) {
        return "a home inferred from the " + shownCount(home.beaconCount, "beacon", "beacons") +
               " logged here, near " + where + " (you have not typed one)";
    }
    return "your home at " + where + " (you typed " + home.describe + ")";
}

namespace {

// loggedBeacons, with the texts left empty unless `texts`: the home needs
// positions only, and reading every beacon's texts costs more than the rest.
std::vector<LoggedBeacon> distinctLogged(LogStore& store, int location, bool texts) {
    Database& db = store.db();
    // Two plain scans joined here: grouping tens of thousands of log rows in
    // SQL costs several times what reading them does, and step two asks
    // for this every time a location is opened.
    std::vector<std::int64_t> logged = store.loggedBeaconIds(location);
    std::sort(logged.begin(), logged.end());

    // User beacons carry numbers above the list's and have no row in
    // NDBInformation, so they drop out, as do beacons without a position.
    // The country is the long name where CountryCode knows it: a beacon the
    // matching run logged at once need not have a row there.
    const DbResult beacons = db.query(
        texts ? "SELECT b.Beacon_ID, b.Latitude, b.Longitude, b.Ident, b.Frequency, b.City, "
                "coalesce(c.CountryLong, b.Country) FROM NDBInformation AS b "
                "LEFT JOIN CountryCode AS c ON c.CountryShort = b.Country ORDER BY b.Beacon_ID"
              : "SELECT Beacon_ID, Latitude, Longitude FROM NDBInformation ORDER BY Beacon_ID");
    std::vector<LoggedBeacon> found;
    auto next = logged.begin();
    for (const auto& row : beacons.rows) {
        const auto* id = std::get_if<std::int64_t>(&row.at(0));
        if (!id) continue;
        next = std::lower_bound(next, logged.end(), *id);
        const auto last = std::upper_bound(next, logged.end(), *id);
        if (next == last) continue;
        const int receptions = static_cast<int>(last - next);
        next = last;
        const auto latitude = std::get_if<double>(&row.at(1));
        const auto longitude = std::get_if<double>(&row.at(2));
        if (!latitude || !longitude) continue;  // REAL columns: a number is a double
        // A position off the globe is a damaged row, not a place to average in.
        const LatLon position{*latitude, *longitude};
        if (!std::isfinite(position.lat) || !std::isfinite(position.lon) ||
            std::fabs(position.lat) > 90.0 || std::fabs(position.lon) > 180.0) {
            continue;
        }
        LoggedBeacon b;
        b.beaconId = *id;
        if (texts) {
            b.ident = dbValueText(row.at(3));
            b.frequency = dbValueText(row.at(4));
            b.city = dbValueText(row.at(5));
            b.country = dbValueText(row.at(6));
        }
        b.position = position;
        b.receptions = receptions;
        found.push_back(std::move(b));
    }
    return found;
}

}  // namespace

std::vector<LoggedBeacon> loggedBeacons(const ProjectPaths& paths, int location) {
    LogStore store(paths, LogStore::Mode::Read);
    return distinctLogged(store, location, /*texts=*/true);
}

namespace {

bool isFile(const fs::path& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec);
}

// The lines holding the entries: homes.ini's where it exists, else the entry
// lines an earlier version left in settings.ini.
std::vector<std::string> entryLines(const ProjectPaths& paths) {
    if (isFile(homesFile(paths))) return nonBlankLines(readWholeFile(homesFile(paths)));
    if (!isFile(settingsFile(paths))) return {};
    std::vector<std::string> lines;
    for (auto& line : splitSettings(readWholeFile(settingsFile(paths))).more) {
        if (entryLocation(line) != 0) lines.push_back(std::move(line));
    }
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += line + "\r\n";
    return bytes;
}

}  // namespace

std::string readHomeEntry(const ProjectPaths& paths, int location) {
    if (location < 1 || location > kLocationCount) return {};
    std::string entry;
    // Should a hand-edited file name a location twice, the last line wins,
    // as it would in any ini reader.
    for (const auto& line : entryLines(paths)) {
        std::string_view text;
        if (entryLocation(line, &text) == location) entry = std::string(text);
    }
    return entry;
}

void writeHomeEntry(const ProjectPaths& paths, int location, std::string_view text) {
    const fs::path file = homesFile(paths);
    const std::string what = "Could not store the home position of " + locationText(location) +
                             " in " + describePath(file);
    if (location < 1 || location > kLocationCount) {
        throw EngineError(what + ": there is no such listening location.");
    }
    const std::string entry(trimmedSpaceTab(text));
    if (!entry.empty()) {
        const auto parsed = parseHomeEntry(entry);
        if (const auto* message = std::get_if<std::string>(&parsed)) throw EngineError(*message);
    }
    // A home is typed for a location of the project under way.
    if (!readSettings(paths)) {
        throw EngineError(what + ": there is no project yet (no backup folder has been chosen).");
    }
    std::vector<std::string> kept;
    for (auto& line : entryLines(paths)) {
        if (entryLocation(line) != location) kept.push_back(std::move(line));
    }
    if (!entry.empty())
        kept.push_back(std::string(kHomeKey) + std::to_string(location) + "=" + entry);
    replaceFileAtomically(file, joinLines(kept));
}

void keepHomeEntries(const ProjectPaths& paths) {
    if (isFile(homesFile(paths))) return;
    const std::vector<std::string> lines = entryLines(paths);
    if (!lines.empty()) replaceFileAtomically(homesFile(paths), joinLines(lines));
}

namespace {

// The home an entry gives, the logged beacons read once. `strict`: an entry
// that does not read throws; otherwise (a file edited by hand) it is passed
// over, so that the logged beacons can still say where the listener was.
LocationHome homeFor(LogStore& store, int location, std::string_view text, bool strict,
                     bool withInferred) {
    LocationHome home;
    const std::vector<LoggedBeacon> beacons = distinctLogged(store, location, /*texts=*/false);
    home.beaconCount = static_cast<int>(beacons.size());
    // Each beacon counts once however often it was heard: a beacon logged
    // every night for years says no more about where the listener sat than
    // one logged once.
    const auto centre = [&]() -> std::optional<LatLon> {
        if (home.beaconCount < kMinBeaconsForInference) return std::nullopt;
        std::vector<LatLon> points;
        points.reserve(beacons.size());
        for (const auto& b : beacons) points.push_back(b.position);
        const auto found = robustCentre(points);
        if (!found) return std::nullopt;
        // A centre is a home only where the beacons gather around it.
        std::vector<double> km;
        km.reserve(points.size());
        for (const auto& p : points) km.push_back(greatCircleKm(*found, p));
        const auto middle = km.begin() + static_cast<std::ptrdiff_t>(km.size() / 2);
        std::nth_element(km.begin(), middle, km.end());
        home.medianKm = *middle;
        home.nearestKm = *std::min_element(km.begin(), km.end());
        if (home.medianKm > kMaxMedianSpreadKm || home.nearestKm > kMaxNearestKm) {
            return std::nullopt;
        }
        return found;
    };

    const std::string entry(trimmedSpaceTab(text));
    if (!entry.empty()) {
        const auto parsed = parseHomeEntry(entry);
        if (const auto* typed = std::get_if<HomeEntry>(&parsed)) {
            home.source = LocationHome::Source::Entered;
            home.position = typed->position;
            home.entered = entry;
            home.describe = typed->describe;
            if (withInferred) home.inferred = centre();
            return home;
        }
        if (strict) throw EngineError(std::get<std::string>(parsed));
    }
    home.inferred = centre();
    home.position = home.inferred;
    if (home.position) home.source = LocationHome::Source::Inferred;
    return home;
}

}  // namespace

LocationHome locationHome(const ProjectPaths& paths, int location) {
    const std::string entry = readHomeEntry(paths, location);
    LogStore store(paths, LogStore::Mode::Read);
    return homeFor(store, location, entry, false, false);
}

LocationHome locationHome(LogStore& store, const ProjectPaths& paths, int location) {
    return homeFor(store, location, readHomeEntry(paths, location), false, false);
}

LocationHome previewHomeEntry(const ProjectPaths& paths, int location, std::string_view text) {
    LogStore store(paths, LogStore::Mode::Read);
    return homeFor(store, location, text, true, true);
}

std::optional<double> farFromInferredKm(const LocationHome& home) {
    if (home.source != LocationHome::Source::Entered || !home.position || !home.inferred ||
        home.beaconCount < kMinBeaconsForInference) {
        return std::nullopt;
    }
    const double km = greatCircleKm(*home.position, *home.inferred);
    if (km <= kFarFromInferredKm) return std::nullopt;
    return km;
}

}  // namespace zolt

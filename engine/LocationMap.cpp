// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/LocationMap.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/LogStore.h"
#include "engine/UserBeacons.h"

namespace zolt {
namespace {

std::optional<double> numberOf(const DbValue& value) {
    if (const auto* d = std::get_if<double>(&value)) return *d;
    if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
    return std::nullopt;
}

std::string beaconName(const LoggedBeacon& b) {
    std::string text = b.ident + " " + b.frequency + " kHz";
    for (const std::string* part : {&b.city, &b.country}) {
        if (!part->empty()) text += ", " + *part;
    }
    return text;
}

}  // namespace

LocationMapScene makeLocationMapScene(int location, LocationHome home,
                                      std::vector<LoggedBeacon> beacons,
                                      std::optional<LoggedTotals> totals) {
    LocationMapScene scene;
    scene.location = location;
    scene.home = std::move(home);
    scene.beacons = std::move(beacons);

    LocationMapFigures& f = scene.figures;
    f.placed = static_cast<int>(scene.beacons.size());
    if (totals) {
        f.receptions = totals->receptions;
        f.beacons = totals->beacons;
    } else {
        f.beacons = f.placed;
        for (const LoggedBeacon& b : scene.beacons) f.receptions += b.receptions;
    }

    if (!scene.home.position || scene.beacons.empty()) return scene;
    const LatLon centre = *scene.home.position;
    scene.distanceKm.reserve(scene.beacons.size());
    scene.bearingDeg.reserve(scene.beacons.size());
    for (const LoggedBeacon& b : scene.beacons) {
        scene.distanceKm.push_back(greatCircleKm(centre, b.position));
        scene.bearingDeg.push_back(initialBearingDeg(centre, b.position));
    }
    // The first of equals wins, so the answer does not depend on how the
    // standard library breaks ties.
    const auto far = std::max_element(scene.distanceKm.begin(), scene.distanceKm.end());
    f.farthest = static_cast<int>(far - scene.distanceKm.begin());
    f.farthestKm = *far;

    std::vector<double> sorted = scene.distanceKm;
    const std::size_t mid = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(mid),
                     sorted.end());
    double median = sorted[mid];
    if (sorted.size() % 2 == 0) {
        const double below =
            *std::max_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(mid));
        median = (below + median) / 2;
    }
    f.medianKm = median;
    return scene;
}

std::vector<LoggedBeacon> ownLoggedBeacons(const ProjectPaths& paths, int location) {
    const DbResult rows = LogStore(paths, LogStore::Mode::Read).ownBeaconsCountedAt(location);
    std::vector<LoggedBeacon> own;
    for (const auto& row : rows.rows) {
        const auto position = ownBeaconPosition(dbValueText(row.at(5)), dbValueText(row.at(6)));
        if (!position) continue;
        LoggedBeacon b;
        b.beaconId = std::get<std::int64_t>(row.at(0)) + kUserBeaconOffset;
        b.ident = dbValueText(row.at(1));
        b.frequency = dbValueText(row.at(2));
        b.city = dbValueText(row.at(3));
        b.country = dbValueText(row.at(4));
        b.position = *position;
        b.receptions = static_cast<int>(numberOf(row.at(7)).value_or(0));
        b.own = true;
        own.push_back(std::move(b));
    }
    return own;
}

LocationMapScene loadLocationMapScene(const ProjectPaths& paths, int location) {
    LocationHome home = locationHome(paths, location);
    std::vector<LoggedBeacon> beacons = loggedBeacons(paths, location);
    // Their positions are known though the list does not hold them: they are
    // drawn, marked as the listener's own.
    for (LoggedBeacon& b : ownLoggedBeacons(paths, location)) beacons.push_back(std::move(b));

    // The dots are the beacons with a position; the counts cover the whole
    // log, so a listener with many beacons of their own sees why fewer dots
    // than beacons appear.
    const DbResult result = LogStore(paths, LogStore::Mode::Read).loggedTotals(location);
    LoggedTotals totals;
    if (result.rowCount() == 1) {
        totals.receptions = static_cast<int>(numberOf(result.rows[0].at(0)).value_or(0));
        totals.beacons = static_cast<int>(numberOf(result.rows[0].at(1)).value_or(0));
    }
    return makeLocationMapScene(location, std::move(home), std::move(beacons), totals);
}

std::string formatKm(double km) {
    if (!std::isfinite(km) || km < 0) km = 0;
    return shownNumber(std::llround(km)) + " km";
}

std::string compassPoint(double bearingDeg) {
    static constexpr const char* kPoints[16] = {"N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE",
                                                "S", "SSW", "SW", "WSW", "W", "WNW", "NW", "NNW"};
    if (!std::isfinite(bearingDeg)) return "";
    double b = std::fmod(bearingDeg, 360.0);
    if (b < 0) b += 360.0;
    const int index = static_cast<int>(std::floor(b / 22.5 + 0.5)) % 16;
    return kPoints[index];
}

std::string describeFigures(const LocationMapScene& scene) {
    const LocationMapFigures& f = scene.figures;
    if (f.receptions == 0) return "No receptions logged at this location yet.";

    std::string text = shownCount(f.receptions, "reception", "receptions") + " of " +
                       shownCount(f.beacons, "beacon", "beacons") + " logged";
    if (f.placed != f.beacons) text += ", " + shownNumber(f.placed) + " of them on the map";

    if (!scene.home.position) {
        text += " \xC2\xB7 distances unknown: no home position";
    } else if (f.farthest >= 0 && f.farthestKm && f.medianKm) {
        const LoggedBeacon& far = scene.beacons.at(static_cast<std::size_t>(f.farthest));
        text += " \xC2\xB7 farthest: " + beaconName(far) + ", " + formatKm(*f.farthestKm);
        text += " \xC2\xB7 median distance " + formatKm(*f.medianKm);
    }
    return text;
}

}  // namespace zolt

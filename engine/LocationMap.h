// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Geo.h"
#include "engine/HomePosition.h"
#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

// What the map of a listening location shows, before any drawing: where the
// listener sat, the beacons heard there and how often, and the few figures a
// listener asks first (how far, how far usually). The window projects and
// draws it; everything here is plain data that tests can check without a
// screen.
namespace zolt {

// The world outline file the map draws, kept beside the pristine database.
inline constexpr const char* kLandOutlineFile = "land-110m.txt";

struct LocationMapFigures {
    int receptions = 0;  // NDBLog rows of the location
    int beacons = 0;     // distinct beacons among them
    int placed = 0;      // of those, the ones with a position (the dots)
    // Index into LocationMapScene::beacons of the farthest beacon, or -1 when
    // the home position is unknown or nothing is placed.
    int farthest = -1;
    std::optional<double> farthestKm;
    // Median of the placed beacons' distances from home (each beacon once,
    // however often heard); none when home is unknown.
    std::optional<double> medianKm;
};

struct LocationMapScene {
    int location = 0;
    LocationHome home;  // the map's centre when it has a position
    // Placed beacons, as loggedBeacons lists them, then the listener's own
    // beacons logged here whose typed position reads (own = true).
    std::vector<LoggedBeacon> beacons;
    // Per beacon, from home; both empty when home is unknown.
    std::vector<double> distanceKm;
    std::vector<double> bearingDeg;
    LocationMapFigures figures;

    const std::optional<LatLon>& centre() const { return home.position; }
};

// Counts of the whole log of a location, user beacons included.
struct LoggedTotals {
    int receptions = 0;
    int beacons = 0;
};

// Builds the scene from what the engine knows about a location. Without
// `totals` the counts are those of `beacons` alone.
LocationMapScene makeLocationMapScene(int location, LocationHome home,
                                      std::vector<LoggedBeacon> beacons,
                                      std::optional<LoggedTotals> totals = std::nullopt);

// The listener's own beacons logged at `location` whose position, typed in
// the old version as text ("47.0631", "-79.7925"), reads as a place on Earth.
std::vector<LoggedBeacon> ownLoggedBeacons(const ProjectPaths& paths, int location);

// The scene of `location` read from the project's database.
LocationMapScene loadLocationMapScene(const ProjectPaths& paths, int location);

// The line under the map, UTF-8, e.g. "312 receptions of 130 beacons logged ·
// farthest: ABC 344 kHz, Perth, Australia, 13,402 km · median distance 812 km".
std::string describeFigures(const LocationMapScene& scene);

// "1,234 km": whole kilometres with a comma between thousands, whatever the
// user's locale, like every other figure the converter prints.
std::string formatKm(double km);

// "NE", "SSW": the nearest of the sixteen compass points to a bearing.
std::string compassPoint(double bearingDeg);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Geo.h"
#include "engine/MatchingRun.h"

namespace zolt {

// Where a listening location lies: the listener's own entry wins; otherwise
// the centre of the beacons already logged there, once there are enough of
// them that a handful heard at night cannot pull it away.
struct LocationHome {
    enum class Source { Unknown, Entered, Inferred };
    Source source = Source::Unknown;
    std::optional<LatLon> position;
    std::string entered;   // the entry as the listener typed it (Source::Entered)
    std::string describe;  // from the entry: "your locator JO65" / "your position …"
    int beaconCount = 0;   // distinct positioned beacons logged at the location
    // Where the logged beacons point, beside a typed entry (previewHomeEntry
    // fills it; an inferred home is its own centre).
    std::optional<LatLon> inferred;
};

inline constexpr int kMinBeaconsForInference = 5;

// A typed home farther than this from where the location's beacons were
// heard is more likely a slip (a locator of another continent) than a move.
inline constexpr double kFarFromInferredKm = 3000.0;

// The line step two shows, e.g. "Home: near 55.6° N 12.6° E, inferred from
// 143 beacons", "Home: 52.5° N 13.0° E, from your locator JO62" or
// "Home: unknown (fewer than 5 beacons logged)". UTF-8.
std::string describeHome(const LocationHome& home);

// A beacon of NDBInformation logged at a location, with how often (UTF-8).
struct LoggedBeacon {
    std::int64_t beaconId = 0;
    std::string ident, frequency, city, country;
    LatLon position;
    int receptions = 0;
    bool own = false;  // one of the listener's own beacons (NewBeacons)
};

// The NDBLog rows of `location` joined to NDBInformation, one entry per
// beacon with a position (user beacons have none), ordered by Beacon_ID.
std::vector<LoggedBeacon> loggedBeacons(const ProjectPaths& paths, int location);

// The listener's own entry for `location` (1 … 16) kept in settings.ini
// beside the backup folder line; empty when there is none.
std::string readHomeEntry(const ProjectPaths& paths, int location);

// Validates `text` (a Maidenhead locator or latitude/longitude in degrees)
// and stores it; blank text removes the entry. An invalid entry throws
// EngineError with a sentence saying what is accepted, and nothing is
// written. settings.ini keeps its first line, the backup folder, as it is.
void writeHomeEntry(const ProjectPaths& paths, int location, std::string_view text);

// The entry when there is one, else the inferred position, else unknown.
LocationHome locationHome(const ProjectPaths& paths, int location);

// The home that storing `text` for `location` would give, read before
// anything is stored: blank text gives the inferred home, an entry that does
// not read throws as writeHomeEntry does. `inferred` is filled whenever
// enough beacons are logged.
LocationHome previewHomeEntry(const ProjectPaths& paths, int location, std::string_view text);

// How far a typed home lies from the centre its logged beacons point to,
// when that is more than kFarFromInferredKm; none otherwise.
std::optional<double> farFromInferredKm(const LocationHome& home);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Geo.h"
#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

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
    // fills it; an inferred home is its own centre). None when they do not
    // gather around one place.
    std::optional<LatLon> inferred;
    // How the logged beacons lie around their centre (km): half of them
    // within medianKm, the nearest at nearestKm. Set wherever a centre was
    // found, also one turned down as implausible.
    double medianKm = 0, nearestKm = 0;
};

inline constexpr int kMinBeaconsForInference = 5;

// Whether the logged beacons gather around one place, so that their centre
// can stand for the listener's home. A non-directional beacon's rated range
// is tens to a few hundred kilometres, and a listener's night-time catches
// reach 1,000 to 2,000 km; a log heard from one place therefore has half
// its beacons well within 1,500 km. Half of them farther out means logs of
// several places (or a worldwide list) whose centre may lie in an ocean.
inline constexpr double kMaxMedianSpreadKm = 1500.0;
// Every listener hears some beacons near home: a centre with no logged
// beacon within 500 km is a point between clusters, not a place anybody
// listened from.
inline constexpr double kMaxNearestKm = 500.0;

// A typed home farther than this from where the location's beacons were
// heard is more likely a slip (a locator of another continent) than a move.
inline constexpr double kFarFromInferredKm = 3000.0;

// The line step two shows, e.g. "Home: near 55.6° N 12.6° E, inferred from
// 143 beacons", "Home: 52.5° N 13.0° E, from your locator JO62" or
// "Home: unknown (fewer than 5 beacons logged)"; an unknown home says why
// and asks for the locator. UTF-8.
std::string describeHome(const LocationHome& home);

// The home distances are measured from, for a question that acts on it:
// "your home at 52.5° N 13.4° E (you typed your locator JO62qm)" or "a home
// inferred from the 143 beacons logged here, near 55.6° N 12.6° E (you have
// not typed one)". Empty when the home is unknown. UTF-8.
std::string describeHomeUsed(const LocationHome& home);

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

// The listener's own entry for `location` (1 … 16); empty when there is
// none. The entries are the listener's, not one project's: they live in
// homes.ini of the working folder, which FINALIZE and Start New Project
// keep. A working folder of an earlier version has them in settings.ini
// below the backup folder line; they are read from there until homes.ini
// exists.
std::string readHomeEntry(const ProjectPaths& paths, int location);

// Validates `text` (a Maidenhead locator or latitude/longitude in degrees)
// and stores it in homes.ini; blank text removes the entry. An invalid entry
// throws EngineError with a sentence saying what is accepted, and nothing is
// written. settings.ini is left as it is.
void writeHomeEntry(const ProjectPaths& paths, int location, std::string_view text);

// Before settings.ini is removed: entries an earlier version kept there are
// copied into homes.ini, unless it already exists.
void keepHomeEntries(const ProjectPaths& paths);

// The entry when there is one, else the inferred position, else unknown.
LocationHome locationHome(const ProjectPaths& paths, int location);
// The same through a store already open.
class LogStore;
LocationHome locationHome(LogStore& store, const ProjectPaths& paths, int location);

// The home that storing `text` for `location` would give, read before
// anything is stored: blank text gives the inferred home, an entry that does
// not read throws as writeHomeEntry does. `inferred` is filled whenever
// enough beacons are logged.
LocationHome previewHomeEntry(const ProjectPaths& paths, int location, std::string_view text);

// How far a typed home lies from the centre its logged beacons point to,
// when that is more than kFarFromInferredKm; none otherwise.
std::optional<double> farFromInferredKm(const LocationHome& home);

}  // namespace zolt

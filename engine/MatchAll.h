// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

namespace zolt {

// The locations Match All Locations would match: every location with a
// reception not yet matched (UNP), in ascending order.
struct MatchAllPlan {
    struct Location {
        int location = 0;
        int receptions = 0;  // all of the location's receptions
        int waiting = 0;     // of them not yet matched (UNP)
        // Where its records stand when they stand together (1-based), so
        // that loading it need not read the whole file again; 0 otherwise.
        std::size_t first = 0;
    };
    std::vector<Location> locations;

    long long receptions() const;
    long long waiting() const;
};

// Reads processed.dat once. A missing file plans nothing.
MatchAllPlan planMatchAll(const std::filesystem::path& processedPath);

// What the run did for one location (location 0: the totals).
struct LocationMatchSummary {
    int location = 0;
    int receptions = 0;
    int logged = 0;      // written to the log at once
    int ownBeacons = 0;  // of them against the listener's own beacons
    int ambiguous = 0;
    int unresolved = 0;
};

struct MatchAllResult {
    std::vector<LocationMatchSummary> matched;  // in the order matched
    LocationMatchSummary totals;
    bool cancelled = false;  // stopped on request before a location was stored
    int failedLocation = 0;  // 0: no failure
    std::string failure;     // the reason, when failedLocation is set

    bool completed() const { return !cancelled && failedLocation == 0; }
};

// Called before each reception: which location, how many receptions of the
// whole plan have been reached (1-based) and how many there are. Returning
// false stops the run; the location under way is then left unmatched.
using MatchAllProgress = std::function<bool(int location, long long reached, long long total)>;

// Matches the planned locations in order, each exactly as the matching run
// of one location does, each in its own transaction with its states: a
// failure or a stop leaves every location matched whole or not at all. The
// first failure ends the run; the locations matched before it stay matched.
MatchAllResult runMatchAll(const ProjectPaths& paths, const MatchAllPlan& plan,
                           const MatchAllProgress& progress = {});

}  // namespace zolt

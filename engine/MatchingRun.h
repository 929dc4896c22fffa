// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <functional>

#include "work/LocationStates.h"

namespace zolt {

struct ProjectPaths {
    std::filesystem::path WorkFolder;     // holds the files below
    std::filesystem::path DatabasePath;   // WorkFolder / ndbdata.ndf
    std::filesystem::path ProcessedPath;  // WorkFolder / processed.dat
    std::filesystem::path BackupFolder;   // the old backups (never written)
};

// Called before each reception with its 1-based number; `percent` is
// i / count × 100. Returning false cancels the run.
using MatchProgress = std::function<bool(int i, int count, float percent)>;

struct MatchOutcome {
    bool cancelled = false;
    int logged = 0;       // rows appended to NDBLog
    int ambiguous = 0;    // AMB
    int unresolved = 0;   // MIS
    int userBeacons = 0;  // receptions logged against a user beacon
};

// The matching run of the loaded location: every entry becomes AMB (several
// beacons with its ident and frequency), OK (one beacon, or a user beacon;
// a row is appended to NDBLog) or MIS. All rows of the run (NDBLog and
// NewBeacons) go into one transaction that is committed just before the new
// states replace processed.dat; a cancelled or failed run changes neither,
// and `set` keeps its old states.
MatchOutcome runMatching(const ProjectPaths& paths, WorkingSet& set,
                         const MatchProgress& progress = {});

}  // namespace zolt

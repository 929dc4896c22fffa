// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

namespace zolt {

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

class Database;

// The listed beacons (NDBInformation), read in one pass, answering what
// "SELECT Beacon_ID FROM NDBInformation WHERE Ident = ? AND Frequency = ?"
// answers without a query per reception. The comparison is the columns':
// Ident by NOCASE (ASCII letters fold, every other byte is itself, and a NUL
// ends the comparison of the bytes, after which only the lengths count),
// Frequency by numeric value; a text or blob where a number belongs, or a
// blob where text belongs, never matches.
class ListedBeacons {
  public:
    explicit ListedBeacons(Database& db);

    struct Match {
        int count = 0;              // 0, 1, or 2 for two or more
        std::int64_t beaconId = 0;  // Beacon_ID of the first, in table order
    };
    // `ident` is the looked-up text in UTF-8, without trailing blanks.
    Match find(std::string_view ident, double frequency) const;

  private:
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const {
            return std::hash<std::string_view>{}(key);
        }
    };
    std::unordered_map<std::string, Match, KeyHash, std::equal_to<>> beacons_;
};

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "engine/MatchingRun.h"
#include "engine/UserBeacons.h"

// The matching run done step by step as the old program did it: two queries
// per reception, each prepared afresh from concatenated SQL text, every row
// stored on its own, and for every reception without a listed beacon a full
// read of ndb.dat and a walk of all NewBeacons rows. It is the yardstick of
// the benchmark and the reference the engine's results are checked against;
// it is not part of the product (idents with an apostrophe break it, as they
// broke the old program).
namespace zolt::literal {

// The old look-up: reads `backupFolder`/ndb.dat record by record, walks
// NewBeacons, adds a missing beacon and takes the table's row count as its
// number. Opens and closes its own connection. `UserBeaconID` of `previous`
// is kept when nothing is found, as the old module-wide variable was.
UserBeaconLookup lookupUserBeacon(const std::filesystem::path& backupFolder,
                                  const std::filesystem::path& databasePath, std::string_view ident,
                                  std::string_view frequency,
                                  const UserBeaconLookup& previous = {});

// The whole run on `set`, including the record-by-record state write-back
// into processed.dat at the end.
MatchOutcome runMatching(const ProjectPaths& paths, WorkingSet& set);

// Writes every entry's state into its record of processed.dat in place.
void saveWorkStates(const std::filesystem::path& processedPath, const WorkingSet& set);

}  // namespace zolt::literal

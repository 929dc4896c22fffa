// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Helpers for tests of the engine layer: a scratch project with its own copy
// of the pristine database.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "DbTestUtil.h"
#include "engine/AddToLog.h"
#include "engine/CandidateLookup.h"
#include "engine/MatchingRun.h"
#include "engine/UserBeacons.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"

namespace zolt::test {

// A project under `root`: work/ with a copy of the pristine database, and an
// empty backup/ folder.
inline ProjectPaths makeProject(const std::filesystem::path& root) {
    const ProjectPaths paths{root / "work", root / "work" / "ndbdata.ndf",
                             root / "work" / "processed.dat", root / "backup"};
    std::filesystem::create_directories(paths.WorkFolder);
    std::filesystem::create_directories(paths.BackupFolder);
    copyPristineDatabase(paths.DatabasePath);
    return paths;
}

// ndb.dat holding one own beacon: WUT on 499 as stored, which the old file's
// shift by 2 makes "USR" on 277.
inline void writeOwnBeaconFile(const ProjectPaths& paths) {
    std::string beacon(UserBeaconRecord::kLength, ' ');
    beacon.replace(0, 3, "WUT");
    beacon.replace(42, 3, "499");
    writeFile(paths.BackupFolder / "ndb.dat", beacon);
}

// The first listed beacon of an ident and frequency.
inline std::int32_t listedBeacon(const ProjectPaths& paths, const std::string& ident,
                                 const std::string& frequency) {
    return static_cast<std::int32_t>(
        exactCandidates(paths.DatabasePath, ident, frequency).at(0).beaconId);
}

// The reception at `position` of processed.dat as the window selects it, with
// `beacon` chosen for it.
inline Selection selectionAt(const ProjectPaths& paths, int position, std::int32_t beacon) {
    const auto r = readProcessedRecord(paths.ProcessedPath, static_cast<std::size_t>(position));
    return {r.Ident, r.Frequency, r.Time, r.Date, r.Comment, beacon};
}

// Every NDBLog row, sorted: for comparisons that must not depend on Log_ID.
inline std::vector<LogRow> sortedLogRows(const std::filesystem::path& database) {
    auto rows = logRows(database);
    std::sort(rows.begin(), rows.end(), [](const LogRow& a, const LogRow& b) {
        return std::tie(a.beaconId, a.location, a.time, a.date, a.comment) <
               std::tie(b.beaconId, b.location, b.time, b.date, b.comment);
    });
    return rows;
}

// Appends one NDBLog row.
inline void logRow(const std::filesystem::path& database, std::int64_t beaconId, int location,
                   const std::string& time, const std::string& date, const std::string& comment) {
    Database(database)
        .prepare(
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
            "ReceptionComments) VALUES (?, ?, ?, ?, ?)")
        .bind({beaconId, std::int64_t{location}, time, date, comment})
        .execute();
}

// The matching run of each of `locations`.
inline void matchLocations(const ProjectPaths& paths, const std::vector<int>& locations) {
    for (int location : locations) {
        WorkingSet set = loadWorkingSet(paths.ProcessedPath, location);
        runMatching(paths, set);
    }
}

// The demo backups (examples/backup) imported into the project.
inline void importDemoBackups(const ProjectPaths& paths) {
    std::filesystem::copy(std::filesystem::path(ZOLT_SOURCE_DIR) / "examples" / "backup",
                          paths.BackupFolder,
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    buildProcessedFile(paths.BackupFolder, paths.ProcessedPath, LogSource::Backups);
}

}  // namespace zolt::test

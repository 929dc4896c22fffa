// SPDX-License-Identifier: GPL-2.0-or-later
// The working file processed.dat after an accident: the first part of the
// input is the file, the second the NDBLog rows the project already holds
// (fuzz::addLoggedRows), the rest the old logs of its backup folder. It is
// checked as start-up checks it, loaded and saved location by location, and
// where it is not sound rebuilt from the backups; a rebuilt file is sound.

#include <cstdlib>

#include "core/EngineError.h"
#include "engine/WorkingFileRebuild.h"
#include "fuzz/FuzzUtil.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;
using namespace zolt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::splitParts(fuzz::asText(data, size), 5);
    const ProjectPaths paths = fuzz::freshProject("workingfile");
    fuzz::writeFile(paths.ProcessedPath, parts[0]);
    if (parts.size() > 1) fuzz::addLoggedRows(paths.DatabasePath, parts[1]);
    if (parts.size() > 2) fuzz::writeOldLogs(paths.BackupFolder, {parts.begin() + 2, parts.end()});

    const WorkingFileHealth health = assessWorkingFile(paths);
    (void)scanLocationStates(paths.ProcessedPath);
    for (int location = 1; location <= kLocationCount; ++location) {
        try {
            WorkingSet set = loadWorkingSet(paths.ProcessedPath, location);
            if (health.check.sound() && !set.entries.empty()) {
                // Saving the states as loaded changes nothing on disk.
                const std::string before = fuzz::readFile(paths.ProcessedPath);
                saveWorkStates(paths.ProcessedPath, set);
                if (fuzz::readFile(paths.ProcessedPath) != before) std::abort();
            }
        } catch (const EngineError&) {
            if (health.check.sound()) std::abort();  // a sound file loads
        }
    }
    if (health.problem.empty()) {
        // Start-up's own look, which removes a file too short for one record.
        try {
            (void)checkPendingWork(paths.ProcessedPath, paths.BackupFolder, true);
        } catch (const EngineError&) {
            if (health.check.sound()) std::abort();
        }
        return 0;
    }
    try {
        const RebuildOutcome outcome = rebuildWorkingFile(paths);
        const WorkingFileCheck check = checkWorkingFile(paths.ProcessedPath, paths.BackupFolder);
        if (!check.sound() || check.records != outcome.records ||
            check.pending + outcome.settled != outcome.records) {
            std::abort();
        }
    } catch (const EngineError&) {
        // Refused: rows that cannot be told apart, or backups beyond the limits.
    }
    return 0;
}

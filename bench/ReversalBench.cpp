// SPDX-License-Identifier: GPL-2.0-or-later
#include "bench/ReversalBench.h"
#include "bench/Timing.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/TextFields.h"
#include "engine/AddToLog.h"
#include "engine/DecisionRecord.h"
#include "engine/Reversal.h"
#include "work/LocationStates.h"
#include "work/Records.h"

namespace fs = std::filesystem;

namespace zolt::bench {

bool runReversalBench(const ProjectPaths& project, int location, const fs::path& scratch) {
    constexpr double kAddTarget = 1.0, kReverseTarget = 0.1, kViewDataTarget = 0.3;
    constexpr std::size_t kReturned = 5000;
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    ProjectPaths paths = project;
    paths.WorkFolder = scratch;
    paths.DatabasePath = scratch / project.DatabasePath.filename();
    paths.ProcessedPath = scratch / project.ProcessedPath.filename();
    fs::copy_file(project.DatabasePath, paths.DatabasePath);
    fs::copy_file(project.ProcessedPath, paths.ProcessedPath);

    bool met = true;
    WorkingSet set = loadWorkingSet(paths.ProcessedPath, location);
    // Add To Log for all instances of the first ambiguous reception's pair.
    for (const auto& entry : set.entries) {
        if (trimBlanks(entry.state) != "AMB") continue;
        const Selection selection{entry.ident, entry.frequency, entry.time,
                                  entry.date,  entry.comment,   1};
        const auto start = Clock::now();
        const int rows = addToLog(paths, set, selection, true);
        const double seconds = secondsSince(start);
        std::printf("Add To Log, all %d instances of a pair: ", rows);
        met = report("time", seconds, kAddTarget) && met;
        break;
    }

    std::vector<int> positions;
    auto start = Clock::now();
    {
        const auto logged = readLoggedReceptions(paths, location, LatLon{50.0, 10.0});
        std::printf("logged view data: %zu receptions: ", logged.size());
        met = report("time", secondsSince(start), kViewDataTarget) && met;
        for (std::size_t i = 0; i < logged.size() && positions.size() < kReturned; i += 2) {
            positions.push_back(logged[i].position);
        }
    }
    const std::string before = readWholeFile(paths.ProcessedPath);
    start = Clock::now();
    const int returned = returnToWaiting(paths, set, positions);
    std::printf("Return To Waiting of %d receptions: ", returned);
    met = report("engine time", secondsSince(start), kReverseTarget) && met;

    start = Clock::now();
    const UndoOffer undone = undoLastAction(paths, set);
    std::printf("Undo of %s, %d receptions: ", undone.action.c_str(), undone.receptions);
    met = report("engine time", secondsSince(start), kReverseTarget) && met;
    const bool same = readWholeFile(paths.ProcessedPath) == before;
    std::printf("processed.dat after the undo equals it before the return: %s\n",
                same ? "yes" : "NO");
    return met && same;
}

}  // namespace zolt::bench

// SPDX-License-Identifier: GPL-2.0-or-later
#include "bench/ReversalBench.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/Timing.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/AddToLog.h"
#include "engine/DecisionRecord.h"
#include "engine/HomePosition.h"
#include "engine/LocationSession.h"
#include "engine/ProcessedBytes.h"
#include "engine/Reversal.h"
#include "engine/StepTwoLists.h"
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

bool runSessionBench(const ProjectPaths& project, int location) {
    constexpr double kChooseTarget = 0.05, kClickTarget = 1.0;
    LocationSession session(project);
    bool met = true;
    // What one step costs: its time, the database opens and the reads of
    // processed.dat it took.
    const auto step = [&](const char* what, double target, const auto& action) {
        const std::uint64_t opens = Database::opens(), reads = ProcessedBytes::reads();
        const auto start = Clock::now();
        action();
        const double seconds = secondsSince(start);
        std::printf("session: %s (%llu database open(s), %llu read(s) of processed.dat): ", what,
                    static_cast<unsigned long long>(Database::opens() - opens),
                    static_cast<unsigned long long>(ProcessedBytes::reads() - reads));
        return report("time", seconds, target);
    };
    met = step("choosing a matched location", kChooseTarget, [&] { session.choose(location); }) &&
          met;
    step("the logged receptions wanted", kClickTarget, [&] { session.wantLogged(true); });
    if (session.logged().empty()) return met;
    const std::vector<int> returned = session.returnedWith({session.logged().front().position});
    step("Return To Waiting of one reception", kClickTarget,
         [&] { session.returnToWaiting(returned); });
    step("Undo of it", kClickTarget, [&] { session.undoLastAction(); });

    // The same two clicks as the window makes them today, one engine call
    // after the other, for comparison (loadWorkingSet's own read of
    // processed.dat is not counted).
    WorkingSet set = loadWorkingSet(project.ProcessedPath, location);
    const auto refill = [&] {
        (void)readStepTwoLists(project.ProcessedPath, location);
        const LocationHome home = locationHome(project, location);
        (void)nextUndo(project, location);
        (void)readLoggedReceptions(project, location, home.position);
    };
    step("free functions: Return To Waiting of one reception", kClickTarget, [&] {
        const auto positions = returnedWith(project, location, returned);
        returnToWaiting(project, set, positions);
        refill();
    });
    step("free functions: Undo of it", kClickTarget, [&] {
        (void)nextUndo(project, location);
        undoLastAction(project, set);
        refill();
    });
    return met;
}

}  // namespace zolt::bench

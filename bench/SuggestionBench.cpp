// SPDX-License-Identifier: GPL-2.0-or-later
#include "bench/SuggestionBench.h"
#include "bench/Timing.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "core/Geo.h"
#include "core/TextFields.h"
#include "engine/HomePosition.h"
#include "engine/SuggestedPicks.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;

namespace zolt::bench {
namespace {

const char* verdict(double seconds, double target) { return metOrNot(seconds <= target); }

std::string describeSource(const LocationHome& home) {
    switch (home.source) {
        case LocationHome::Source::Entered:
            return "entered";
        case LocationHome::Source::Inferred:
            return "inferred from " + std::to_string(home.beaconCount) + " beacons";
        default:
            return "unknown";
    }
}

// A copy of the project's database and processed.dat in `folder`, so that a
// measurement that logs leaves the original as it was.
ProjectPaths copyOfProject(const ProjectPaths& project, const fs::path& folder) {
    fs::create_directories(folder);
    ProjectPaths copy = project;
    copy.WorkFolder = folder;
    copy.DatabasePath = folder / project.DatabasePath.filename();
    copy.ProcessedPath = folder / project.ProcessedPath.filename();
    fs::copy_file(project.DatabasePath, copy.DatabasePath);
    fs::copy_file(project.ProcessedPath, copy.ProcessedPath);
    return copy;
}

}  // namespace

void runSuggestionBench(const char* label, const ProjectPaths& project, int location,
                        const fs::path& scratch) {
    constexpr double kSuggestTarget = 0.05, kAddTarget = 1.0;
    fs::remove_all(scratch);
    const ProjectPaths paths = copyOfProject(project, scratch);

    // The window holds the working set already: what the button costs on top
    // is the home and the suggestions.
    WorkingSet set = loadWorkingSet(paths.ProcessedPath, location);
    const int waiting = set.ambCount + set.misCount;
    auto start = Clock::now();
    const LocationHome home = locationHome(paths, location);
    const double homeTime = secondsSince(start);
    const SuggestedPickPlan plan = planSuggestedPicks(paths, set, home.position);
    const double suggestTime = secondsSince(start);
    std::printf("suggested picks, %s: home %s%s%s; %zu picks for %d receptions\n", label,
                describeSource(home).c_str(), home.position ? " at " : "",
                home.position ? formatLatLon(*home.position).c_str() : "", plan.picks.size(),
                plan.receptions);
    std::printf(
        "suggestions (position + picks for %d waiting receptions): %.3f s (position %.3f, "
        "picks %.3f) (target %.2f s) %s\n",
        waiting, suggestTime, homeTime, suggestTime - homeTime, kSuggestTarget,
        verdict(suggestTime, kSuggestTarget));

    // The worst case first, on its own copy: a suggestion for every waiting
    // reception, as a listener whose every pair has a clear nearest would get.
    {
        const ProjectPaths all = copyOfProject(paths, scratch / "every-pair");
        WorkingSet allSet = set;
        SuggestedPickPlan everyPair;
        std::set<std::pair<std::string, std::string>> seen;
        for (const auto& e : allSet.entries) {
            const std::string code = trimBlanks(e.state);
            if (code != "AMB" && code != "MIS") continue;
            if (!seen.insert({trimBlanks(e.ident), trimBlanks(e.frequency)}).second) continue;
            everyPair.picks.push_back({e.ident, e.frequency, 1, 0});
        }
        start = Clock::now();
        const int added = addSuggestedPicks(all, allSet, everyPair);
        const double addTime = secondsSince(start);
        std::printf(
            "add suggested picks, every waiting pair given a pick: %d receptions in %.3f s "
            "(target %.0f s) %s\n",
            added, addTime, kAddTarget, verdict(addTime, kAddTarget));
    }

    start = Clock::now();
    const int added = addSuggestedPicks(paths, set, plan);
    const double addTime = secondsSince(start);
    std::printf("add suggested picks: %d receptions in %.3f s (target %.0f s) %s\n", added, addTime,
                kAddTarget, verdict(addTime, kAddTarget));
}

void runListenerSuggestionBench(const fs::path& pristine, const fs::path& folder,
                                GeneratorOptions options, LatLon listener) {
    options.listener = listener;
    const fs::path backup = folder / "backup";
    const ProjectPaths project{folder / "work", folder / "work" / "ndbdata.ndf",
                               folder / "work" / "processed.dat", backup};
    fs::create_directories(project.WorkFolder);
    fs::copy_file(pristine, project.DatabasePath, fs::copy_options::overwrite_existing);
    writeBenchmarkBackups(pristine, backup, options);
    buildProcessedFile(backup, project.ProcessedPath, LogSource::Backups);
    WorkingSet set = loadWorkingSet(project.ProcessedPath, options.location);
    runMatching(project, set);
    const std::string label = "listener near " + formatLatLon(listener);
    runSuggestionBench(label.c_str(), project, options.location, folder / "suggest");
}

}  // namespace zolt::bench

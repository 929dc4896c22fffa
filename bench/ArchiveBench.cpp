// SPDX-License-Identifier: GPL-2.0-or-later
#include "bench/ArchiveBench.h"
#include "bench/Timing.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdio>

#include "bench/DataGenerator.h"
#include "engine/MatchAll.h"
#include "engine/Project.h"
#include "engine/Report.h"
#include "engine/StepTwoLists.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;

namespace zolt::bench {
namespace {

// What a whole archive may take.
constexpr double kImportTarget = 0.3;
constexpr double kStartUpCheckTarget = 0.1;
constexpr double kSelectTarget = 0.05;
constexpr double kMatchAllTarget = 1.5;
constexpr double kPeakMemoryTargetMb = 200.0;

bool reportArchive(const char* what, double seconds, double target) {
    const bool met = seconds <= target;
    std::printf("archive: %s: %.3f s (target: at most %.3f s) %s\n", what, seconds, target,
                metOrNot(met));
    return met;
}

}  // namespace

Archive writeArchiveBackups(const fs::path& pristine, const fs::path& folder, int perLocation) {
    Archive archive{folder / "backup", folder / "work"};
    for (int location = 1; location <= kLocationCount; ++location) {
        GeneratorOptions options;
        options.receptions = perLocation;
        options.location = location;
        options.logSeed = 0xA5C1u + static_cast<std::uint64_t>(location);
        writeBenchmarkBackups(pristine, archive.backup, options);
    }
    fs::create_directories(archive.work);
    return archive;
}

bool runArchiveBench(const fs::path& pristine, const fs::path& folder, int perLocation) {
    auto start = Clock::now();
    const Archive archive = writeArchiveBackups(pristine, folder, perLocation);
    const ProjectPaths paths{archive.work, archive.work / "ndbdata.ndf",
                             archive.work / "processed.dat", archive.backup};
    fs::copy_file(pristine, paths.DatabasePath, fs::copy_options::overwrite_existing);
    std::printf("archive: %d locations of %d receptions generated in %.3f s\n", kLocationCount,
                perLocation, secondsSince(start));
    bool met = true;

    start = Clock::now();
    const int imported =
        buildProcessedFile(paths.BackupFolder, paths.ProcessedPath, LogSource::Backups);
    const double importTime = secondsSince(start);
    std::printf("archive: import (buildProcessedFile): %d records, %.1f MB\n", imported,
                static_cast<double>(fs::file_size(paths.ProcessedPath)) / 1e6);
    met &= reportArchive("import", importTime, kImportTarget);

    start = Clock::now();
    const PendingWork pending = checkPendingWork(paths.ProcessedPath, paths.BackupFolder, true);
    met &=
        reportArchive("start-up state check (checkPendingWork)", secondsSince(start), kStartUpCheckTarget);
    start = Clock::now();
    const auto states = scanLocationStates(paths.ProcessedPath);
    met &= reportArchive("location states (scanLocationStates)", secondsSince(start), kStartUpCheckTarget);
    if (pending != PendingWork::WorkLeft || !hasPendingWork(states[15])) {
        std::printf("archive: the imported project shows no work left\n");
        met = false;
    }

    // The last location: its records stand at the end of the file.
    start = Clock::now();
    WorkingSet last = loadWorkingSet(paths.ProcessedPath, kLocationCount);
    met &= reportArchive("selecting an unmatched location (loadWorkingSet)", secondsSince(start),
                  kSelectTarget);

    start = Clock::now();
    const MatchAllPlan plan = planMatchAll(paths.ProcessedPath);
    const MatchAllResult result = runMatchAll(paths, plan);
    const double matchAllTime = secondsSince(start);
    std::printf(
        "archive: Match All Locations: %zu locations, %d receptions, %d logged (%d own "
        "beacons), %d AMB, %d MIS%s\n",
        result.matched.size(), result.totals.receptions, result.totals.logged,
        result.totals.ownBeacons, result.totals.ambiguous, result.totals.unresolved,
        result.completed() ? "" : (" - FAILED: " + result.failure).c_str());
    met &= result.completed();
    met &= reportArchive("Match All Locations, engine time", matchAllTime, kMatchAllTarget);

    // A matched location: its working set and the step-two lists.
    start = Clock::now();
    last = loadWorkingSet(paths.ProcessedPath, kLocationCount);
    const StepTwoLists lists = readStepTwoLists(paths.ProcessedPath, kLocationCount);
    met &= reportArchive("selecting a matched location (loadWorkingSet + readStepTwoLists)",
                  secondsSince(start), kSelectTarget);
    std::printf("archive: location %d lists %zu ambiguous, %zu unresolved\n", kLocationCount,
                lists.ambiguous.size(), lists.unresolved.size());

    start = Clock::now();
    const std::string ambiguous =
        buildReport(paths.ProcessedPath, ReportKind::Ambiguous, kLocationCount);
    const std::string unresolved =
        buildReport(paths.ProcessedPath, ReportKind::Unresolved, kLocationCount);
    met &= reportArchive("both reports of a location", secondsSince(start), kSelectTarget);

    start = Clock::now();
    saveWorkStates(paths.ProcessedPath, last);
    met &= reportArchive("saving a location's states", secondsSince(start), kSelectTarget);

#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS usage{};
    GetProcessMemoryInfo(GetCurrentProcess(), &usage, sizeof usage);
    const double peakMb = static_cast<double>(usage.PeakWorkingSetSize) / (1024.0 * 1024.0);
#else
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
    const bool memoryMet = peakMb <= kPeakMemoryTargetMb;
    std::printf("archive: peak memory: %.1f MB (target: at most %.0f MB) %s\n", peakMb,
                kPeakMemoryTargetMb, metOrNot(memoryMet));
    met &= memoryMet;
    std::printf("archive targets: %s\n", met ? "all met" : "NOT all met");
    return met;
}

}  // namespace zolt::bench

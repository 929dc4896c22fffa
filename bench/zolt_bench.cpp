// SPDX-License-Identifier: GPL-2.0-or-later
// Times the import and the matching run of one large location, the engine's
// run against the run done step by step as the old program did it, and
// checks that both leave the same rows and states. Each timed figure is printed
// with its target, and a last line says which targets were met.
//
// Then the same for the largest project, sixteen full locations, with Match
// All Locations (--no-archive leaves that out).
//
//   zolt-bench [--receptions N] [--folder DIR] [--database FILE] [--no-literal] [--no-archive]

#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ArchiveBench.h"
#include "bench/DataGenerator.h"
#include "bench/LiteralRun.h"
#include "bench/ReversalBench.h"
#include "bench/SuggestionBench.h"
#include "bench/Timing.h"
#include "core/FileUtil.h"
#include "db/Database.h"
#include "engine/CandidateLookup.h"
#include "engine/MatchingRun.h"
#include "engine/StepTwoLists.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"
#include "work/Records.h"

namespace fs = std::filesystem;
using zolt::bench::Clock;
using zolt::bench::metOrNot;
using zolt::bench::secondsSince;

namespace {

// What the benchmark's location may take: the import and the engine run at
// most so many seconds, the whole benchmark less memory than this.
constexpr double kImportTarget = 0.030;
constexpr double kEngineRunTarget = 0.100;
constexpr double kPeakMemoryTargetMb = 64.0;

long peakKilobytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The data behind the step-two lists, read from processed.dat once.
std::size_t readLists(const fs::path& processed, int location) {
    const auto lists = zolt::readStepTwoLists(processed, location);
    return lists.ambiguous.size() + lists.unresolved.size();
}

std::vector<std::vector<zolt::DbValue>> tableRows(const fs::path& database, const char* sql) {
    zolt::Database db(database, zolt::Database::Mode::ReadOnly);
    return db.prepare(sql).query().rows;
}

struct RunTimes {
    double load = 0, run = 0, lists = 0;
    double total() const { return load + run + lists; }
};

}  // namespace

int main(int argc, char** argv) {
    int receptions = 32767;
    fs::path folder;
    fs::path pristine = ZOLT_NDBDATA;
    bool literal = true;
    bool archive = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--receptions" && i + 1 < argc) {
            receptions = std::atoi(argv[++i]);
        } else if (arg == "--folder" && i + 1 < argc) {
            folder = argv[++i];
        } else if (arg == "--database" && i + 1 < argc) {
            pristine = argv[++i];
        } else if (arg == "--no-literal") {
            literal = false;
        } else if (arg == "--no-archive") {
            archive = false;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--receptions N] [--folder DIR] [--database FILE] "
                         "[--no-literal] [--no-archive]\n",
                         argv[0]);
            return 2;
        }
    }
    bool ownFolder = false;
    if (folder.empty()) {
        std::string pattern = (fs::temp_directory_path() / "zolt-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = pattern;
        ownFolder = true;
    }

    int status = 0;
    try {
        const fs::path backup = folder / "backup";
        zolt::ProjectPaths engine{folder / "engine", folder / "engine" / "ndbdata.ndf",
                                  folder / "engine" / "processed.dat", backup};
        zolt::ProjectPaths old{folder / "literal", folder / "literal" / "ndbdata.ndf",
                               folder / "literal" / "processed.dat", backup};
        for (const auto* p : {&engine, &old}) {
            fs::create_directories(p->WorkFolder);
            fs::copy_file(pristine, p->DatabasePath, fs::copy_options::overwrite_existing);
        }

        zolt::bench::GeneratorOptions options;
        options.receptions = receptions;
        auto start = Clock::now();
        const auto made = zolt::bench::writeBenchmarkBackups(pristine, backup, options);
        std::printf(
            "data: %d receptions (%d unique, %d ambiguous, %d user beacon, %d unlisted), "
            "%d ndb.dat records, generated in %.3f s\n",
            made.receptions, made.unique, made.ambiguous, made.userBeacon, made.unlisted,
            made.userBeaconRecords, secondsSince(start));

        start = Clock::now();
        const int imported =
            zolt::buildProcessedFile(backup, engine.ProcessedPath, zolt::LogSource::Backups);
        const double importTime = secondsSince(start);
        std::printf("import (buildProcessedFile): %d records in %.3f s (target: at most %.3f s)\n",
                    imported, importTime, kImportTarget);
        fs::copy_file(engine.ProcessedPath, old.ProcessedPath,
                      fs::copy_options::overwrite_existing);

        RunTimes fast;
        start = Clock::now();
        zolt::WorkingSet set = zolt::loadWorkingSet(engine.ProcessedPath, 1);
        fast.load = secondsSince(start);
        start = Clock::now();
        const zolt::MatchOutcome outcome = zolt::runMatching(engine, set);
        fast.run = secondsSince(start);
        start = Clock::now();
        const std::size_t listed = readLists(engine.ProcessedPath, 1);
        fast.lists = secondsSince(start);
        std::printf(
            "engine run: %.3f s (load %.3f, match+save %.3f, lists %.3f); "
            "%d logged (%d user beacon), %d AMB, %d MIS, %zu listed (target: at most %.3f s)\n",
            fast.total(), fast.load, fast.run, fast.lists, outcome.logged, outcome.userBeacons,
            outcome.ambiguous, outcome.unresolved, listed, kEngineRunTarget);
        std::printf("peak memory after import and engine run: %.1f MB\n",
                    static_cast<double>(peakKilobytes()) / 1024.0);

        {
            // One look-up per listed reception, as selecting each in turn does.
            const auto records = zolt::readProcessedFile(engine.ProcessedPath);
            int lookups = 0;
            std::size_t candidates = 0;
            start = Clock::now();
            for (const auto& rec : records) {
                const std::string code = rec.State.substr(0, 3);
                if (code == "AMB") {
                    candidates +=
                        zolt::exactCandidates(engine.DatabasePath, rec.Ident, rec.Frequency).size();
                    ++lookups;
                } else if (code == "MIS") {
                    candidates += zolt::prefixCandidates(engine.DatabasePath, rec.Ident).size();
                    ++lookups;
                }
                if (lookups == 1000) break;
            }
            const double lookupTime = secondsSince(start);
            std::printf("candidate look-ups: %d in %.3f s (%.2f ms each, %zu candidates)\n",
                        lookups, lookupTime, lookups ? lookupTime * 1000.0 / lookups : 0.0,
                        candidates);
        }

        if (literal) {
            RunTimes slow;
            start = Clock::now();
            zolt::WorkingSet oldSet = zolt::loadWorkingSet(old.ProcessedPath, 1);
            slow.load = secondsSince(start);
            start = Clock::now();
            const zolt::MatchOutcome oldOutcome = zolt::literal::runMatching(old, oldSet);
            slow.run = secondsSince(start);
            start = Clock::now();
            readLists(old.ProcessedPath, 1);
            slow.lists = secondsSince(start);
            std::printf(
                "literal run: %.3f s (load %.3f, match+save %.3f, lists %.3f); "
                "%d logged (%d user beacon), %d AMB, %d MIS\n",
                slow.total(), slow.load, slow.run, slow.lists, oldOutcome.logged,
                oldOutcome.userBeacons, oldOutcome.ambiguous, oldOutcome.unresolved);
            std::printf("speed-up (literal / engine): %.1fx\n", slow.total() / fast.total());

            const char* logSql =
                "SELECT Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
                "ReceptionComments FROM NDBLog ORDER BY Log_ID";
            const char* newSql = "SELECT * FROM NewBeacons ORDER BY newbeacon_ID";
            const bool sameLog =
                tableRows(engine.DatabasePath, logSql) == tableRows(old.DatabasePath, logSql);
            const bool sameNew =
                tableRows(engine.DatabasePath, newSql) == tableRows(old.DatabasePath, newSql);
            const bool sameStates =
                zolt::readWholeFile(engine.ProcessedPath) == zolt::readWholeFile(old.ProcessedPath);
            std::printf("same results: NDBLog %s, NewBeacons %s, processed.dat %s\n",
                        sameLog ? "yes" : "NO", sameNew ? "yes" : "NO", sameStates ? "yes" : "NO");
            if (!sameLog || !sameNew || !sameStates) status = 1;
        }
        // Suggested picks: on the engine's project after its run, whose
        // beacons are drawn from the whole world, and on data of a listener
        // who hears mostly the beacons around one place.
        zolt::bench::runSuggestionBench("worldwide data", engine, 1, folder / "suggest");
        const bool reversalMet = zolt::bench::runReversalBench(engine, 1, folder / "reverse");
        zolt::bench::runListenerSuggestionBench(pristine, folder / "listener", options,
                                                {50.0, 10.0});
        const double peakMb = static_cast<double>(peakKilobytes()) / 1024.0;
        std::printf("peak memory (whole benchmark): %.1f MB (target: below %.0f MB)\n", peakMb,
                    kPeakMemoryTargetMb);
        std::printf("targets: import %s, engine run %s, peak memory %s, reversal %s\n",
                    metOrNot(importTime <= kImportTarget),
                    metOrNot(fast.total() <= kEngineRunTarget),
                    metOrNot(peakMb < kPeakMemoryTargetMb), metOrNot(reversalMet));
        if (archive && !zolt::bench::runArchiveBench(pristine, folder / "archive", 32767)) {
            status = 1;
        }
        if (archive) {
            // The archive's project, as the archive run left it: every
            // location matched.
            const fs::path work = folder / "archive" / "work";
            const zolt::ProjectPaths project{work, work / "ndbdata.ndf", work / "processed.dat",
                                             folder / "archive" / "backup"};
            if (!zolt::bench::runSessionBench(project, zolt::kLocationCount)) status = 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolt-bench: %s\n", e.what());
        status = 1;
    }
    if (ownFolder) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    } else {
        std::printf("files kept in %s\n", folder.c_str());
    }
    return status;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// A whole archive: sixteen locations, more receptions than RecordNo can
// count, through import, rebuild, Match All Locations, lists, reports, state
// save and reset, checked against each location converted on its own.
#include <gtest/gtest.h>

#include <array>

#include "EngineTestUtil.h"
#include "bench/DataGenerator.h"
#include "engine/MatchAll.h"
#include "engine/Project.h"
#include "engine/Report.h"
#include "engine/StepTwoLists.h"
#include "work/BackupImport.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

constexpr int kPerLocation = 2200;  // 16 x 2,200 = 35,200 receptions

// A location's log rows; a user beacon by its ident and frequency, since
// its number depends on which receptions found it first.
std::vector<std::vector<DbValue>> logRows(const ProjectPaths& paths, int location) {
    Database db(paths.DatabasePath, Database::Mode::ReadOnly);
    return db
        .query(
            "SELECT CASE WHEN l.Beacon_ID > 20000 THEN (SELECT n.Ident || '/' || n.frequency "
            "FROM NewBeacons n WHERE n.newbeacon_ID = l.Beacon_ID - 20000) ELSE l.Beacon_ID "
            "END, ReceptionTime, ReceptionDate, ReceptionComments FROM NDBLog l WHERE "
            "loggedlocation = " +
            std::to_string(location) + " ORDER BY Log_ID")
        .rows;
}

std::vector<std::string> listed(const std::vector<ListedReception>& rows, int offset) {
    std::vector<std::string> out;
    for (const auto& r : rows) {
        out.push_back(std::to_string(r.recordNo - offset) + r.ident + r.frequency + r.time +
                      r.date + r.comment);
    }
    return out;
}

// Only State fields differ, and every record carries its RecordNo.
void expectOnlyStatesChanged(const std::string& before, const std::string& after) {
    ASSERT_EQ(before.size(), after.size());
    for (std::size_t at = 0; at < after.size(); at += ProcessedRecord::kLength) {
        const auto record = std::string_view(after).substr(at, ProcessedRecord::kLength);
        ASSERT_EQ(record.substr(0, 99), std::string_view(before).substr(at, 99)) << at / 102 + 1;
        ASSERT_EQ(ProcessedRecordView{record}.recordNo(), recordNoFor(at / 102 + 1));
    }
}

TEST(Archive, MatchAllGivesWhatEachLocationGivesOnItsOwn) {
    TempDir dir;
    const ProjectPaths all = makeProject(dir / "all");
    for (int k = 1; k <= kLocationCount; ++k) {
        bench::GeneratorOptions options;
        options.receptions = kPerLocation;
        options.location = k;
        options.userBeacons = 200;
        options.logSeed = static_cast<std::uint64_t>(k);
        bench::writeBenchmarkBackups(pristineDatabase(), all.BackupFolder, options);
    }
    ASSERT_EQ(buildProcessedFile(all.BackupFolder, all.ProcessedPath, LogSource::Backups),
              kLocationCount * kPerLocation);
    const std::string imported = readFile(all.ProcessedPath);
    // The rebuild at start-up gives the same file.
    fs::remove(all.ProcessedPath);
    EXPECT_EQ(checkPendingWork(all.ProcessedPath, all.BackupFolder, true), PendingWork::Rebuilt);
    EXPECT_TRUE(readFile(all.ProcessedPath) == imported);
    EXPECT_EQ(checkPendingWork(all.ProcessedPath, all.BackupFolder, true), PendingWork::WorkLeft);

    const MatchAllPlan plan = planMatchAll(all.ProcessedPath);
    ASSERT_EQ(plan.locations.size(), 16u);
    EXPECT_EQ(plan.waiting(), kLocationCount * kPerLocation);
    const MatchAllResult result = runMatchAll(all, plan);
    ASSERT_TRUE(result.completed()) << result.failure;
    ASSERT_EQ(result.matched.size(), 16u);
    expectOnlyStatesChanged(imported, readFile(all.ProcessedPath));
    EXPECT_TRUE(planMatchAll(all.ProcessedPath).locations.empty());

    for (int k = 1; k <= kLocationCount; ++k) {
        SCOPED_TRACE("location " + std::to_string(k));
        const ProjectPaths one = makeProject(dir / ("one" + std::to_string(k)));
        const std::string log = "log" + std::to_string(k - 1) + ".bak";
        fs::copy_file(all.BackupFolder / log, one.BackupFolder / log);
        fs::copy_file(all.BackupFolder / "ndb.dat", one.BackupFolder / "ndb.dat");
        buildProcessedFile(one.BackupFolder, one.ProcessedPath, LogSource::Backups);
        WorkingSet alone = loadWorkingSet(one.ProcessedPath, k);
        const MatchOutcome outcome = runMatching(one, alone);

        const LocationMatchSummary& line = result.matched[static_cast<std::size_t>(k - 1)];
        EXPECT_EQ(std::tuple(line.location, line.receptions, line.logged, line.ownBeacons,
                             line.ambiguous, line.unresolved),
                  std::tuple(k, kPerLocation, outcome.logged, outcome.userBeacons,
                             outcome.ambiguous, outcome.unresolved));
        const WorkingSet matched = loadWorkingSet(all.ProcessedPath, k);
        EXPECT_EQ(states(matched), states(alone));
        EXPECT_EQ(matched.entries.front().recordNo, (k - 1) * kPerLocation + 1);
        EXPECT_EQ(logRows(all, k), logRows(one, k));
        const int offset = (k - 1) * kPerLocation;
        const StepTwoLists lists = readStepTwoLists(all.ProcessedPath, k);
        const StepTwoLists own = readStepTwoLists(one.ProcessedPath, k);
        EXPECT_EQ(listed(lists.ambiguous, offset), listed(own.ambiguous, 0));
        EXPECT_EQ(listed(lists.unresolved, offset), listed(own.unresolved, 0));
        for (const ReportKind kind : {ReportKind::Ambiguous, ReportKind::Unresolved}) {
            EXPECT_TRUE(buildReport(all.ProcessedPath, kind, k) ==
                        buildReport(one.ProcessedPath, kind, k));
        }
    }

    // Location 16 stands past record 32,767: its states are saved and reset
    // there, and no other location's change.
    WorkingSet last = loadWorkingSet(all.ProcessedPath, 16);
    const std::string matched = readFile(all.ProcessedPath);
    startOver(all, 16);
    const std::string reset = readFile(all.ProcessedPath);
    expectOnlyStatesChanged(matched, reset);
    const std::size_t lastStart = static_cast<std::size_t>(15 * kPerLocation) * 102;
    EXPECT_EQ(reset.substr(0, lastStart), matched.substr(0, lastStart));
    EXPECT_EQ(loadWorkingSet(all.ProcessedPath, 16).unpCount, kPerLocation);
    EXPECT_TRUE(logRows(all, 16).empty());
    ASSERT_EQ(planMatchAll(all.ProcessedPath).locations.size(), 1u);
    saveWorkStates(all.ProcessedPath, last);
    EXPECT_TRUE(readFile(all.ProcessedPath) == matched);
}

// Each location is its own transaction: a failure stops the run there, the
// locations before it stay matched and the rest are left as they were.
TEST(Archive, MatchAllStopsAtAFailingLocation) {
    TempDir dir;
    const ProjectPaths paths = makeProject(dir.path());
    writeProcessed(paths.ProcessedPath, {{1, "APH", "396", "UNP"},
                                         {1, "NOPE", "999", "UNP"},
                                         {2, "APH", "396", "UNP"},
                                         {2, "APH", "396", "UNP"},
                                         {3, "APH", "396", "UNP"}});
    // As location 2 begins, its second record is made to claim number 9:
    // the file changed underneath, so its states cannot be saved.
    const MatchAllResult result = runMatchAll(
        paths, planMatchAll(paths.ProcessedPath), [&](int location, long long reached, long long) {
            if (location == 2 && reached == 3) {
                std::string bytes = readFile(paths.ProcessedPath);
                bytes[3 * 102 + 2] = 9;
                writeFile(paths.ProcessedPath, bytes);
            }
            return true;
        });
    EXPECT_EQ(result.failedLocation, 2);
    EXPECT_NE(result.failure.find("processed.dat"), std::string::npos) << result.failure;
    ASSERT_EQ(result.matched.size(), 1u);
    for (int k = 1; k <= 3; ++k) {
        const bool matched = k == 1;
        EXPECT_EQ(logRows(paths, k).size(), matched ? 1u : 0u) << k;
        EXPECT_EQ(loadWorkingSet(paths.ProcessedPath, k).unpCount == 0, matched) << k;
    }
}

}  // namespace

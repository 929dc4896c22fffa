// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "EngineTestUtil.h"
#include "bench/DataGenerator.h"
#include "bench/LiteralRun.h"
#include "engine/Project.h"
#include "engine/Reversal.h"
#include "work/BackupImport.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// A record of the old beacon file holding an ident (offset 0) and a frequency (offset 42).
std::string userBeaconRecord(std::string_view ident, std::string_view frequency) {
    return bench::shiftField(ident, 42) +
           bench::shiftField(frequency, UserBeaconRecord::kLength - 42);
}

class MatchingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Beacons the shipped list lacks: odd frequencies and idents that
        // would break a statement built by concatenation. Six beacons added by
        // earlier work, so that the next one is number 7.
        Database(paths.DatabasePath)
            .executeScript(
                "INSERT INTO NDBInformation (Beacon_ID, Ident, Frequency) VALUES (90001, 'ABC', "
                "350), (90003, 'ZERO', 0), (90004, 'O''K', 351); INSERT INTO NewBeacons (Ident) "
                "VALUES ('A'), ('B'), "
                "('C'), ('D'), ('E'), ('F');");
        writeFile(paths.BackupFolder / "ndb.dat",
                  userBeaconRecord("USR", "277") + userBeaconRecord("USR2", "278"));
    }

    TempDir dir;
    ProjectPaths paths = makeProject(dir.path());
};

TEST_F(MatchingTest, DecidesEachReceptionByTheBeaconsOfItsIdentAndFrequency) {
    struct Case {
        const char* name;
        std::string ident, frequency, state;
        std::int64_t beaconId;  // 0: no row
        std::string stateBefore = "UNP";
    };
    const std::vector<Case> cases = {
        {"two listed beacons: ambiguous", "GL", "201", "AMB", 0},
        {"one listed beacon", "APH", "396", "OK", 1},
        {"a user beacon, added as number 7", "USR", "277", "OK", 20007},
        {"the same user beacon again", "USR", "277", "OK", 20007},
        {"nothing matches", "NOPE", "999", "MIS", 0},
        {"frequency with a trailing .0", "ABC", "350.0", "OK", 90001},
        {"frequency without digits reads as 0", "ZERO", "abc", "OK", 90003},
        {"letter case of the ident", "abc", "350", "OK", 90001},
        {"ident with an apostrophe", "O'K", "351", "OK", 90004},
        {"user beacon under another frequency text", "USR2", "278.0", "MIS", 0},
        {"settled earlier: never logged again", "APH", "396", "OK", 0, "OK"},
    };
    // Location 2 between neighbours whose receptions would match too.
    std::vector<Row> rows = {{1, "APH", "396", "UNP"}};
    for (const auto& c : cases) {
        rows.push_back(
            {2, c.ident, c.frequency, c.stateBefore, "0915", "20010203", "  heard " + c.ident});
    }
    rows.push_back({3, "APH", "396", "UNP"});
    writeProcessed(paths.ProcessedPath, rows);
    const std::string before = readFile(paths.ProcessedPath);

    WorkingSet set = loadWorkingSet(paths.ProcessedPath, 2);
    int calls = 0;
    const MatchOutcome outcome = runMatching(paths, set, [&](int i, int count, float percent) {
        EXPECT_EQ(i, ++calls);  // before each reception, in order
        EXPECT_EQ(count, static_cast<int>(cases.size()));
        EXPECT_FLOAT_EQ(percent, 100.0f * static_cast<float>(i) / static_cast<float>(count));
        return true;
    });
    EXPECT_EQ(calls, static_cast<int>(cases.size()));

    std::vector<LogRow> expectedRows;
    std::vector<std::string> expectedStates;
    for (const auto& c : cases) {
        if (c.beaconId)
            expectedRows.push_back({c.beaconId, 2, "0915", "20010203", "heard " + c.ident});
        expectedStates.push_back(c.state);
    }
    EXPECT_EQ(logRows(paths.DatabasePath), expectedRows);
    EXPECT_EQ(states(set), expectedStates);
    EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, 2)), expectedStates);
    EXPECT_EQ(outcome.logged, static_cast<int>(expectedRows.size()));
    EXPECT_EQ(std::tuple(outcome.ambiguous, outcome.unresolved, outcome.userBeacons),
              std::tuple(1, 2, 2));
    EXPECT_EQ(std::tuple(set.ambCount, set.misCount, set.unpCount), std::tuple(1, 2, 0));

    // Only the State bytes of location 2's records changed.
    const std::string after = readFile(paths.ProcessedPath);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        const std::size_t record = i / ProcessedRecord::kLength;
        if (record == 0 || record > cases.size() || i % ProcessedRecord::kLength < 99) {
            ASSERT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
}

TEST_F(MatchingTest, CancelledOrFailedRunChangesNothing) {
    writeProcessed(paths.ProcessedPath, {{2, "APH", "396", "UNP"},
                                         {2, "USR", "277", "UNP"},
                                         {2, "TU", "374", "UNP"},
                                         {2, "GL", "201", "UNP"}});
    // User beacon numbers past 12767 overflowed the old 16-bit sum.
    Database(paths.DatabasePath).execute("INSERT INTO NewBeacons (newbeacon_ID) VALUES (40000)");
    const auto before = snapshot(dir.path());
    const WorkingSet loaded = loadWorkingSet(paths.ProcessedPath, 2);
    const std::pair<const char*, std::function<void(WorkingSet&)>> failures[] = {
        {"cancelled at the third reception",
         [&](WorkingSet& set) {
             EXPECT_TRUE(
                 runMatching(paths, set, [](int i, int, float) { return i < 3; }).cancelled);
         }},
        {"database held by another program",
         [&](WorkingSet& set) {
             DatabaseLock lock(paths.DatabasePath);
             EXPECT_THROW(runMatching(paths, set), EngineError);
         }},
        {"processed.dat gone before the states are saved",
         [&](WorkingSet& set) {
             fs::remove(paths.ProcessedPath);
             fs::create_directory(paths.ProcessedPath);  // cannot be read as a file
             EXPECT_THROW(runMatching(paths, set), EngineError);
             fs::remove(paths.ProcessedPath);
             writeFile(paths.ProcessedPath, before.at("work/processed.dat"));
         }},
        {"receptions dropped from the set while the run took its events",
         [&](WorkingSet& set) {
             EXPECT_THROW(runMatching(paths, set,
                                      [&](int i, int, float) {
                                          if (i == 3) set.entries.pop_back();
                                          return true;
                                      }),
                          EngineError);
             set = loaded;
         }},
    };
    for (const auto& [name, run] : failures) {
        SCOPED_TRACE(name);
        WorkingSet set = loaded;
        run(set);
        EXPECT_EQ(states(set), states(loaded));
        EXPECT_EQ(snapshot(dir.path()), before);
    }
    // A full run afterwards logs each reception once.
    WorkingSet set = loaded;
    runMatching(paths, set);
    EXPECT_EQ(logRows(paths.DatabasePath), (std::vector<LogRow>{{1, 2, "1200", "20010101", ""},
                                                                {60001, 2, "1200", "20010101", ""},
                                                                {4, 2, "1200", "20010101", ""}}));
    EXPECT_EQ(states(set), (std::vector<std::string>{"OK", "OK", "OK", "AMB"}));
}

// An own-beacon file that START CONVERSION found and that is gone at START
// MATCHING is refused, naming it: its beacons would silently turn into
// unresolved receptions. A folder that never held one, or a project older
// than the record, goes on as before.
TEST_F(MatchingTest, AnOwnBeaconFileGoneSinceTheConversionStartedIsRefused) {
    const struct {
        const char* name;
        const char* atStart;        // the file the folder holds at START CONVERSION
        const char* atMatching;     // ... and at START MATCHING; nullptr: none
        bool recorded;              // false: settings.ini of an earlier version
        const char* refusedNaming;  // nullptr: the run goes on
    } cases[] = {
        {"ndb.bak removed", "ndb.bak", nullptr, true, "ndb.bak"},
        {"NDB.BAK removed", "NDB.BAK", nullptr, true, "NDB.BAK"},
        {"ndb.dat removed", "ndb.dat", nullptr, true, "ndb.dat"},
        {"ndb.dat replaced by ndb.bak", "ndb.dat", "ndb.bak", true, nullptr},
        {"still there", "ndb.bak", "ndb.bak", true, nullptr},
        {"never had one", nullptr, nullptr, true, nullptr},
        {"a project older than the record", "ndb.bak", nullptr, false, nullptr},
    };
    const std::string beacons = userBeaconRecord("USR", "277");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(paths.BackupFolder);
        fs::create_directories(paths.BackupFolder);
        if (c.atStart) writeFile(paths.BackupFolder / c.atStart, beacons);
        writeSettings(paths, paths.BackupFolder);
        if (!c.recorded)
            writeFile(paths.WorkFolder / kSettingsFile, paths.BackupFolder.string() + "/\r\n");
        if (c.atStart) fs::remove(paths.BackupFolder / c.atStart);
        if (c.atMatching) writeFile(paths.BackupFolder / c.atMatching, beacons);
        writeProcessed(paths.ProcessedPath, {{2, "USR", "277", "UNP"}, {2, "APH", "396", "UNP"}});
        const auto before = snapshot(dir.path());
        WorkingSet set = loadWorkingSet(paths.ProcessedPath, 2);
        if (c.refusedNaming) {
            expectError([&] { runMatching(paths, set); },
                        {(paths.BackupFolder / c.refusedNaming).string(), "Nothing was logged",
                         "START MATCHING"});
            EXPECT_EQ(snapshot(dir.path()), before);
            EXPECT_EQ(states(set), (std::vector<std::string>{"UNP", "UNP"}));
        } else {
            runMatching(paths, set);
            EXPECT_EQ(states(set)[0], c.atMatching ? "OK" : "MIS");
        }
    }
}

// A working file rebuilt from the backups holds logged receptions (OK) beside
// unmatched ones (UNP). Another window returns a logged one to waiting while
// this one still shows it settled: the run here decides only the unmatched
// ones, and the returned reception stays waiting instead of getting back an
// OK without its row, after which no action could log it again.
TEST_F(MatchingTest, AReceptionReturnedMeanwhileStaysWaiting) {
    writeProcessed(paths.ProcessedPath, {{2, "APH", "396", "UNP", "0900", "20010101", "logged"},
                                         {2, "ABC", "350", "UNP", "1000", "20010101", "new"}});
    WorkingSet first = loadWorkingSet(paths.ProcessedPath, 2);
    runMatching(paths, first);
    // As a rebuild leaves it: the logged reception OK, the other unmatched.
    std::string bytes = readFile(paths.ProcessedPath);
    bytes.replace(ProcessedRecord::kLength + 99, 3, "UNP");
    writeFile(paths.ProcessedPath, bytes);
    ASSERT_EQ(logRows(paths.DatabasePath).size(), 2u);
    Database(paths.DatabasePath).execute("DELETE FROM NDBLog WHERE ReceptionComments = 'new'");

    WorkingSet here = loadWorkingSet(paths.ProcessedPath, 2);
    WorkingSet elsewhere = here;
    ASSERT_EQ(returnToWaiting(paths, elsewhere, {1}), 1);
    ASSERT_EQ(states(elsewhere), (std::vector<std::string>{"AMB", "UNP"}));

    const MatchOutcome outcome = runMatching(paths, here);
    EXPECT_EQ(outcome.logged, 1);
    EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, 2)),
              (std::vector<std::string>{"AMB", "OK"}));
    EXPECT_EQ(states(here), (std::vector<std::string>{"AMB", "OK"}));
    // One row, the new reception's: the returned one waits to be logged.
    const auto rows = logRows(paths.DatabasePath);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].comment, "new");
}

// The run looks beacons up in memory instead of asking the database; every
// ident and frequency must find what the query on the columns finds.
TEST(ListedBeaconsTest, FindsWhatTheQueryFinds) {
    test::TempDir dir;
    const ProjectPaths paths = test::makeProject(dir.path());
    Database db(paths.DatabasePath);
    // Letter case, a trailing blank, letters beyond ASCII (which NOCASE does
    // not fold), NULs inside an ident, duplicates, a negative zero, a number
    // given as text, values that are no number or no text at all.
    db.executeScript(
        "DELETE FROM NDBInformation; INSERT INTO NDBInformation (Ident, Frequency) VALUES "
        "('ABC', 350), ('abc', 351), ('AbC ', 350), ('\u00C9CU', 300), ('\u00E9cu', 300), "
        "('N' || char(0) || 'A', 400), ('N' || char(0) || 'B', 400), ('DUP', 500), ('dup', 500), "
        "('ZERO', -0.0), ('X', '350'), ('TXT', 'abc'), ('INT', 277), ('MiXeD', 263.5), ('', 1), "
        "(X'424C42', 300), (NULL, 300)");

    // "|" stands for a NUL.
    const std::pair<const char*, double> lookups[] = {
        {"abc", 350},      {"ABC", 351},      {"ABC ", 350},     {"aBc", 352},     {"ABC", 350.001},
        {"\u00C9CU", 300}, {"\u00E9CU", 300}, {"\u00E9cu", 300}, {"N|A", 400},     {"n|z", 400},
        {"N", 400},        {"N|", 400},       {"DUP", 500},      {"ZERO", 0},      {"zero", -0.0},
        {"X", 350},        {"TXT", 0},        {"INT", 277},      {"mixed", 263.5}, {"BLB", 300},
        {"", 1},           {"", 0},
    };
    const ListedBeacons listed(db);
    Statement query = db.prepare(
        "SELECT Beacon_ID FROM NDBInformation WHERE Ident = ? AND Frequency = ? LIMIT 2");
    for (const auto& [text, frequency] : lookups) {
        std::string ident = text;
        std::replace(ident.begin(), ident.end(), '|', '\0');
        const DbResult rows = query.bind({ident, frequency}).query();
        const ListedBeacons::Match match = listed.find(ident, frequency);
        SCOPED_TRACE(testing::PrintToString(ident) + " " + std::to_string(frequency));
        EXPECT_EQ(match.count, static_cast<int>(rows.rowCount()));
        if (rows.rowCount() == 1) {
            EXPECT_EQ(DbValue(match.beaconId), rows.rows[0][0]);
        }
    }
}

// The engine's run and the old step-by-step run agree row for row and state
// for state on generated data with every kind of reception.
TEST(MatchingAgainstLiteralRun, SameRowsBeaconsAndStates) {
    TempDir dir;
    const fs::path backup = dir / "backup";
    bench::GeneratorOptions options;
    options.receptions = 500;
    options.userBeacons = 150;
    options.location = 5;
    const auto made = bench::writeBenchmarkBackups(pristineDatabase(), backup, options);
    ASSERT_TRUE(made.ambiguous > 0 && made.userBeacon > 0 && made.unlisted > 0);

    ProjectPaths engine = makeProject(dir / "e"), old = makeProject(dir / "o");
    engine.BackupFolder = old.BackupFolder = backup;
    for (const auto* p : {&engine, &old}) {
        ASSERT_EQ(buildProcessedFile(backup, p->ProcessedPath, LogSource::Backups), 500);
    }
    const auto backupBefore = snapshot(backup);

    WorkingSet fast = loadWorkingSet(engine.ProcessedPath, 5);
    WorkingSet slow = loadWorkingSet(old.ProcessedPath, 5);
    const auto a = runMatching(engine, fast);
    const auto b = literal::runMatching(old, slow);

    EXPECT_EQ(std::tuple(a.logged, a.ambiguous, a.unresolved, a.userBeacons),
              std::tuple(b.logged, made.ambiguous, made.unlisted, made.userBeacon));
    EXPECT_EQ(logRows(engine.DatabasePath), logRows(old.DatabasePath));
    const char* newBeacons = "SELECT * FROM NewBeacons ORDER BY newbeacon_ID";
    EXPECT_EQ(Database(engine.DatabasePath).prepare(newBeacons).query().rows,
              Database(old.DatabasePath).prepare(newBeacons).query().rows);
    EXPECT_EQ(readFile(engine.ProcessedPath), readFile(old.ProcessedPath));
    EXPECT_EQ(snapshot(backup), backupBefore);
}

}  // namespace

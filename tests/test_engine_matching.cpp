#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "DbTestUtil.h"
#include "TestUtil.h"
#include "bench/DataGenerator.h"
#include "bench/LiteralRun.h"
#include "db/Database.h"
#include "matching/MatchingRun.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;
using namespace zolt;
using test::Row;

namespace {

using test::LogRow;
using test::logRows;

// A field of the old beacon file: every byte 2 higher, padded with stored blanks.
std::string stored(std::string_view text, std::size_t width) {
    return bench::shiftField(text, width);
}

std::string userBeaconRecord(std::string_view ident, std::string_view frequency) {
    std::string r = stored(ident, 7) + stored("USA", 3) + stored("ON", 2) + stored("Home", 30) +
                    stored(frequency, 6);
    r.resize(UserBeaconRecord::kLength, ' ');
    return r;
}

std::vector<std::string> states(const WorkingSet& set) {
    std::vector<std::string> out;
    for (const auto& e : set.entries) out.push_back(e.state);
    return out;
}

class MatchingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(paths.WorkFolder);
        fs::create_directories(paths.BackupFolder);
        test::copyPristineDatabase(paths.DatabasePath);
        Database db(paths.DatabasePath);
        // Beacons the shipped list lacks: odd frequencies and idents that
        // would break a statement built by concatenation.
        auto add = db.prepare(
            "INSERT INTO NDBInformation (Beacon_ID, Ident, Frequency, City, "
            "State, Country) VALUES (?, ?, ?, 'Test', 'XX', 'USA')");
        add.bind({std::int64_t{90001}, std::string("ABC"), 350.0}).execute();
        add.bind({std::int64_t{90002}, std::string("ZHALF"), 263.5}).execute();
        add.bind({std::int64_t{90003}, std::string("ZERO"), 0.0}).execute();
        add.bind({std::int64_t{90004}, std::string("O'K"), 351.0}).execute();
        add.bind({std::int64_t{90005}, std::string("SAY\"X"), 352.0}).execute();
        // Six beacons added by earlier work, so the next one is number 7.
        for (int i = 0; i < 6; ++i) {
            db.prepare("INSERT INTO NewBeacons (Ident, frequency) VALUES ('OLD', 100)").execute();
        }
        test::writeFile(paths.BackupFolder / "ndb.dat",
                        userBeaconRecord("USR", "277") + userBeaconRecord("USR2", "278"));
    }

    test::TempDir dir;
    ProjectPaths paths{dir / "work", dir / "work" / "ndbdata.ndf", dir / "work" / "processed.dat",
                       dir / "backup"};
};

// Location 2 is matched; its neighbours carry receptions that would match too.
const std::vector<Row> kNeighbours = {
    {1, "APH", "396", "UNP"},
    {3, "APH", "396", "UNP"},
};

TEST_F(MatchingTest, DecidesEachReceptionByTheBeaconsOfItsIdentAndFrequency) {
    struct Case {
        const char* name;
        std::string ident, frequency;
        std::string state;
        std::int64_t beaconId;  // 0: no row
    };
    const std::vector<Case> cases = {
        {"two listed beacons: ambiguous", "GL", "201", "AMB", 0},
        {"one listed beacon", "APH", "396", "OK ", 1},
        {"a user beacon", "USR", "277", "OK ", 20007},
        {"the same user beacon again", "USR", "277", "OK ", 20007},
        {"nothing matches", "NOPE", "999", "MIS", 0},
        {"frequency with a trailing .0", "ABC", "350.0", "OK ", 90001},
        {"frequency after a blank", "ZHALF", " 263.5", "OK ", 90002},
        {"frequency without digits reads as 0", "ZERO", "abc", "OK ", 90003},
        {"letter case of the ident", "abc", "350", "OK ", 90001},
        {"ident with an apostrophe", "O'K", "351", "OK ", 90004},
        {"ident with a double quote", "SAY\"X", "352", "OK ", 90005},
        {"user beacon under another frequency text", "USR2", "278.0", "MIS", 0},
        {"an ambiguous pair in other case", "gl", "201", "AMB", 0},
    };
    std::vector<Row> rows = {kNeighbours[0]};
    for (const auto& c : cases) {
        rows.push_back({2, c.ident, c.frequency, "UNP", "0915", "20010203", "  heard " + c.ident});
    }
    rows.push_back(kNeighbours[1]);
    test::writeProcessed(paths.ProcessedPath, rows);

    WorkingSet set = loadWorkingSet(paths.ProcessedPath, 2);
    const MatchOutcome outcome = runMatching(paths, set);

    std::vector<LogRow> expectedRows;
    for (const auto& c : cases) {
        if (c.beaconId)
            expectedRows.push_back({c.beaconId, 2, "0915", "20010203", "heard " + c.ident});
    }
    EXPECT_EQ(logRows(paths.DatabasePath), expectedRows);
    const auto saved = loadWorkingSet(paths.ProcessedPath, 2);
    ASSERT_EQ(set.WorkCount(), static_cast<int>(cases.size()));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(set.entries[i].state, cases[i].state);
        EXPECT_EQ(saved.entries[i].state, cases[i].state);
    }
    EXPECT_EQ(outcome.logged, static_cast<int>(expectedRows.size()));
    EXPECT_EQ(outcome.ambiguous, 2);
    EXPECT_EQ(outcome.unresolved, 2);
    EXPECT_EQ(outcome.userBeacons, 2);
    EXPECT_EQ(set.ambCount, 2);
    EXPECT_EQ(set.misCount, 2);
    EXPECT_EQ(set.unpCount, 0);

    // The user beacon was added once, as number 7.
    Database db(paths.DatabasePath, Database::Mode::ReadOnly);
    EXPECT_EQ(db.query("SELECT newbeacon_ID FROM NewBeacons WHERE Ident = 'USR'").rowCount(), 1u);
    // Neither neighbour changed.
    EXPECT_EQ(loadWorkingSet(paths.ProcessedPath, 1).entries[0].state, "UNP");
    EXPECT_EQ(loadWorkingSet(paths.ProcessedPath, 3).entries[0].state, "UNP");
}

TEST_F(MatchingTest, ReportsProgressBeforeEachReceptionAndTouchesNoOtherLocation) {
    std::vector<Row> rows = kNeighbours;
    rows.insert(rows.begin() + 1, {{2, "APH", "396", "UNP"},
                                   {2, "GL", "201", "UNP"},
                                   {2, "NOPE", "1", "UNP"},
                                   {2, "TU", "374", "UNP"}});
    test::writeProcessed(paths.ProcessedPath, rows);
    const std::string before = test::readFile(paths.ProcessedPath);

    WorkingSet set = loadWorkingSet(paths.ProcessedPath, 2);
    std::vector<float> percents;
    std::vector<int> numbers;
    runMatching(paths, set, [&](int i, int count, float percent) {
        EXPECT_EQ(count, 4);
        numbers.push_back(i);
        percents.push_back(percent);
        return true;
    });
    EXPECT_EQ(percents, (std::vector<float>{25, 50, 75, 100}));
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4}));

    // Only the State bytes of location 2's records changed.
    const std::string after = test::readFile(paths.ProcessedPath);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        const std::size_t record = i / ProcessedRecord::kLength,
                          offset = i % ProcessedRecord::kLength;
        const bool location2 = record >= 1 && record <= 4;
        if (!location2 || offset < 99) {
            ASSERT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, 2)),
              (std::vector<std::string>{"OK ", "AMB", "MIS", "OK "}));
    for (const auto& row : logRows(paths.DatabasePath)) EXPECT_EQ(row.location, 2);
}

TEST_F(MatchingTest, CancelledOrFailedRunChangesNothing) {
    test::writeProcessed(paths.ProcessedPath, {{2, "APH", "396", "UNP"},
                                               {2, "USR", "277", "UNP"},
                                               {2, "TU", "374", "UNP"},
                                               {2, "GL", "201", "UNP"}});
    const auto before = test::snapshot(dir.path());
    const WorkingSet loaded = loadWorkingSet(paths.ProcessedPath, 2);

    {
        SCOPED_TRACE("cancelled at the third reception");
        WorkingSet set = loaded;
        const auto outcome = runMatching(paths, set, [](int i, int, float) { return i < 3; });
        EXPECT_TRUE(outcome.cancelled);
        EXPECT_EQ(states(set), states(loaded));
        EXPECT_EQ(test::snapshot(dir.path()), before);
    }
    {
        SCOPED_TRACE("database held by another program");
        WorkingSet set = loaded;
        zolt::test::DatabaseLock lock(paths.DatabasePath);
        EXPECT_THROW(runMatching(paths, set), EngineError);
        EXPECT_EQ(states(set), states(loaded));
        EXPECT_EQ(test::snapshot(dir.path()), before);
    }
    {
        SCOPED_TRACE("processed.dat gone before the states are saved");
        WorkingSet set = loaded;
        const std::string bytes = test::readFile(paths.ProcessedPath);
        fs::remove(paths.ProcessedPath);
        fs::create_directory(paths.ProcessedPath);  // cannot be read as a file
        EXPECT_THROW(runMatching(paths, set), EngineError);
        EXPECT_EQ(states(set), states(loaded));
        fs::remove(paths.ProcessedPath);
        test::writeFile(paths.ProcessedPath, bytes);
        EXPECT_EQ(test::snapshot(dir.path()), before);
    }
    {
        SCOPED_TRACE("a full run afterwards logs each reception once");
        WorkingSet set = loaded;
        runMatching(paths, set);
        EXPECT_EQ(logRows(paths.DatabasePath),
                  (std::vector<LogRow>{{1, 2, "1200", "20010101", ""},
                                       {20007, 2, "1200", "20010101", ""},
                                       {4, 2, "1200", "20010101", ""}}));
        EXPECT_EQ(states(set), (std::vector<std::string>{"OK ", "OK ", "OK ", "AMB"}));
    }
}

TEST_F(MatchingTest, EmptyLocationRunsNoQueryAndWritesNothing) {
    test::writeProcessed(paths.ProcessedPath, kNeighbours);
    // Even a database that could not be opened does not matter.
    fs::remove(paths.DatabasePath);
    const auto before = test::snapshot(dir.path());
    WorkingSet set = loadWorkingSet(paths.ProcessedPath, 2);
    int calls = 0;
    const auto outcome = runMatching(paths, set, [&](int, int, float) {
        ++calls;
        return true;
    });
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_EQ(outcome.logged, 0);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(test::snapshot(dir.path()), before);
}

TEST_F(MatchingTest, SettledReceptionsAreNotLoggedAgain) {
    test::writeProcessed(paths.ProcessedPath, {{2, "APH", "396", "OK"}, {2, "TU", "374", "UNP"}});
    WorkingSet set = loadWorkingSet(paths.ProcessedPath, 2);
    runMatching(paths, set);
    EXPECT_EQ(logRows(paths.DatabasePath), (std::vector<LogRow>{{4, 2, "1200", "20010101", ""}}));
    EXPECT_EQ(states(set), (std::vector<std::string>{"OK ", "OK "}));
}

// The engine's run and the old step-by-step run agree row for row and state
// for state on generated data with every kind of reception.
TEST(MatchingAgainstLiteralRun, SameRowsBeaconsAndStates) {
    test::TempDir dir;
    const fs::path backup = dir / "backup";
    bench::GeneratorOptions options;
    options.receptions = 500;
    options.userBeacons = 150;
    options.location = 5;
    const auto made = bench::writeBenchmarkBackups(test::pristineDatabase(), backup, options);
    ASSERT_GT(made.ambiguous, 0);
    ASSERT_GT(made.userBeacon, 0);
    ASSERT_GT(made.unlisted, 0);

    ProjectPaths engine{dir / "engine", dir / "engine" / "ndbdata.ndf",
                        dir / "engine" / "processed.dat", backup};
    ProjectPaths old{dir / "old", dir / "old" / "ndbdata.ndf", dir / "old" / "processed.dat",
                     backup};
    for (const auto* p : {&engine, &old}) {
        fs::create_directories(p->WorkFolder);
        test::copyPristineDatabase(p->DatabasePath);
        ASSERT_EQ(buildProcessedFile(backup, p->ProcessedPath, LogSource::Backups), 500);
    }
    const auto backupBefore = test::snapshot(backup);

    WorkingSet fast = loadWorkingSet(engine.ProcessedPath, 5);
    WorkingSet slow = loadWorkingSet(old.ProcessedPath, 5);
    const auto a = runMatching(engine, fast);
    const auto b = literal::runMatching(old, slow);

    EXPECT_EQ(a.logged, b.logged);
    EXPECT_EQ(a.ambiguous, b.ambiguous);
    EXPECT_EQ(a.unresolved, b.unresolved);
    EXPECT_EQ(a.userBeacons, b.userBeacons);
    EXPECT_EQ(a.ambiguous, made.ambiguous);
    EXPECT_EQ(a.userBeacons, made.userBeacon);
    EXPECT_EQ(a.unresolved, made.unlisted);
    EXPECT_EQ(states(fast), states(slow));
    EXPECT_EQ(logRows(engine.DatabasePath), logRows(old.DatabasePath));
    const char* newBeacons = "SELECT * FROM NewBeacons ORDER BY newbeacon_ID";
    Database ea(engine.DatabasePath, Database::Mode::ReadOnly);
    Database ob(old.DatabasePath, Database::Mode::ReadOnly);
    EXPECT_EQ(ea.prepare(newBeacons).query().rows, ob.prepare(newBeacons).query().rows);
    EXPECT_EQ(test::readFile(engine.ProcessedPath), test::readFile(old.ProcessedPath));
    EXPECT_EQ(test::snapshot(backup), backupBefore);
}

}  // namespace

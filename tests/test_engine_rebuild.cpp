// SPDX-License-Identifier: GPL-2.0-or-later
// Accidents that must neither lose a reception nor log one twice: a damaged
// working file rebuilt from the backups, two windows on one project, and a
// backup folder that has gone.
#include <gtest/gtest.h>

#include <functional>

#include "EngineTestUtil.h"
#include "core/TextFields.h"
#include "engine/AddToLog.h"
#include "engine/SuggestedPicks.h"
#include "engine/WorkingFileRebuild.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

class RebuildTest : public ::testing::Test {
  protected:
    void log(int location, const std::string& time, const std::string& comment) {
        logRow(paths.DatabasePath, 1, location, time, "20010101", comment);
    }
    std::vector<std::string> statesOf(int location) {
        return states(loadWorkingSet(paths.ProcessedPath, location));
    }

    TempDir dir;
    ProjectPaths paths = makeProject(dir.path());
};

TEST_F(RebuildTest, MarksAsSettledWhatTheLogHoldsOneRowEach) {
    // Location 1: APH twice at 0100 (logged twice in the old log), NL at 0200.
    writeLogFile(paths.BackupFolder / "log0.bak",
                 {logRecord("APH", "396", "0100", "20010101", "x"),
                  logRecord("APH", "396", "0100", "20010101", "x"),
                  logRecord("NL", "358", "0200", "20010101", "y")});
    writeLogFile(paths.BackupFolder / "log1.bak",
                 {logRecord("APH", "396", "0100", "20010101", "x")});
    const struct {
        const char* name;
        std::vector<std::tuple<int, const char*, const char*>> rows;  // location, time, comment
        std::vector<std::string> location1, location2;
        std::size_t settled;
    } cases[] = {
        {"nothing logged", {}, {"UNP", "UNP", "UNP"}, {"UNP"}, 0},
        {"one row settles one of two like receptions",
         {{1, "0100", "x"}},
         {"OK", "UNP", "UNP"},
         {"UNP"},
         1},
        {"two rows settle both",
         {{1, "0100", "x"}, {1, "0100", "x"}},
         {"OK", "OK", "UNP"},
         {"UNP"},
         2},
        {"a row of location 2 stays there", {{2, "0100", "x"}}, {"UNP", "UNP", "UNP"}, {"OK"}, 1},
        {"the comment must agree", {{1, "0200", "other"}}, {}, {}, 0},
        {"more rows than receptions", {{2, "0100", "x"}, {2, "0100", "x"}}, {}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Database(paths.DatabasePath).execute("DELETE FROM NDBLog");
        for (const auto& [location, time, comment] : c.rows) log(location, time, comment);
        writeFile(paths.ProcessedPath, "");  // emptied by an accident
        if (c.location1.empty()) {
            const auto before = snapshot(dir.path());
            expectError([&] { rebuildWorkingFile(paths); },
                        {"nothing was changed", "old logs in " + paths.BackupFolder.string()});
            EXPECT_TRUE(snapshot(dir.path()) == before);
            continue;
        }
        const RebuildOutcome outcome = rebuildWorkingFile(paths);
        EXPECT_EQ(outcome.records, 4u);
        EXPECT_EQ(outcome.settled, c.settled);
        EXPECT_EQ(statesOf(1), c.location1);
        EXPECT_EQ(statesOf(2), c.location2);
        EXPECT_TRUE(checkWorkingFile(paths.ProcessedPath, paths.BackupFolder).sound());
        EXPECT_FALSE(fs::exists(paths.WorkFolder / "processed.dat.rebuild"));
        EXPECT_TRUE(outcome.partial.empty());
    }
    // An old log cut inside a record: its whole records are rebuilt, the rest
    // is reported.
    Database(paths.DatabasePath).execute("DELETE FROM NDBLog");
    writeFile(paths.BackupFolder / "log1.bak",
              readFile(paths.BackupFolder / "log1.bak") + std::string(30, 'Q'));
    const RebuildOutcome cut = rebuildWorkingFile(paths);
    EXPECT_EQ(cut.records, 4u);
    ASSERT_EQ(cut.partial.size(), 1u);
    EXPECT_EQ(cut.partial[0].bytes, 30u);
}

TEST_F(RebuildTest, OneRowForDifferentStationsAtOneMomentCannotBeDecided) {
    writeLogFile(paths.BackupFolder / "log0.bak", {logRecord("APH", "396", "0100", "20010101"),
                                                   logRecord("NL", "358", "0100", "20010101")});
    log(1, "0100", "");
    writeProcessed(paths.ProcessedPath, {{1, "APH", "396", "OK"}});  // cut short
    const auto before = snapshot(dir.path());
    expectError([&] { rebuildWorkingFile(paths); }, {"cannot be told", "location 1 at 0100"});
    EXPECT_TRUE(snapshot(dir.path()) == before);
    // Without the backup folder nothing can be rebuilt either.
    fs::remove_all(paths.BackupFolder);
    const auto withoutBackups = snapshot(dir.path());
    expectError([&] { rebuildWorkingFile(paths); }, {paths.BackupFolder.string()});
    EXPECT_TRUE(snapshot(dir.path()) == withoutBackups);
}

// Two windows on one project: the second acts on lists that are out of date.
TEST_F(RebuildTest, ASecondWindowNeverLogsAReceptionAgain) {
    const Selection aph{padField("APH", 10),
                        padField("396", 10),
                        padField("1200", 5),
                        padField("20010101", 10),
                        "",
                        1};
    const SuggestedPickPlan plan{{{padField("APH", 10), padField("396", 10), 1, 1}}, 1};
    const struct {
        const char* name;
        const char* state;  // of the reception in both windows' lists
        std::function<void(WorkingSet&)> act;
    } cases[] = {
        {"Add To Log", "MIS", [&](WorkingSet& set) { addToLog(paths, set, aph, false); }},
        {"Add To Log for all", "MIS", [&](WorkingSet& set) { addToLog(paths, set, aph, true); }},
        {"Add Suggested Picks", "MIS",
         [&](WorkingSet& set) { addSuggestedPicks(paths, set, plan); }},
        {"START MATCHING", "UNP", [&](WorkingSet& set) { runMatching(paths, set); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Database(paths.DatabasePath).execute("DELETE FROM NDBLog");
        writeProcessed(paths.ProcessedPath, {{1, "APH", "396", c.state}});
        WorkingSet first = loadWorkingSet(paths.ProcessedPath, 1);
        WorkingSet second = loadWorkingSet(paths.ProcessedPath, 1);
        c.act(first);
        ASSERT_EQ(logRows(paths.DatabasePath).size(), 1u);
        const auto before = snapshot(dir.path());
        EXPECT_THROW(c.act(second), SettledElsewhere);
        EXPECT_TRUE(snapshot(dir.path()) == before);
    }
}

TEST_F(RebuildTest, MatchingWithoutTheBackupFolderLogsNothing) {
    writeProcessed(paths.ProcessedPath, {{1, "APH", "396", "UNP"}});
    fs::remove_all(paths.BackupFolder);  // the removable disk unplugged
    WorkingSet set = loadWorkingSet(paths.ProcessedPath, 1);
    const auto before = snapshot(dir.path());
    expectError([&] { runMatching(paths, set); }, {paths.BackupFolder.string(), "own beacons"});
    EXPECT_TRUE(snapshot(dir.path()) == before);
    EXPECT_EQ(states(set), std::vector<std::string>{"UNP"});
    // A folder without an own-beacon file is fine.
    fs::create_directories(paths.BackupFolder);
    EXPECT_EQ(runMatching(paths, set).logged, 1);
}

}  // namespace

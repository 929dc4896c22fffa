#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "DbTestUtil.h"
#include "TestUtil.h"
#include "db/Database.h"
#include "matching/AddToLog.h"
#include "work/LocationStates.h"
#include "work/TextFields.h"

namespace fs = std::filesystem;
using namespace zolt;
using test::Row;

namespace {

using test::LogRow;
using test::logRows;

std::vector<std::string> states(const WorkingSet& set) {
    std::vector<std::string> out;
    for (const auto& e : set.entries) out.push_back(trimBlanks(e.state));
    return out;
}

// Location 2 after its matching run, between neighbours with the same
// receptions that must never be touched.
const std::vector<Row> kRows = {
    {1, "XYZ", "344", "AMB", "0915", "20010203", "neighbour"},
    {2, "XYZ", "344", "AMB", "0915", "20010203", "first"},     // entry 1
    {2, "XYZ", "344", "AMB", "0915", "20010203", "second"},    // 2: the same reception again
    {2, "XYZ", "344", "AMB", "1000", "20010204", " third "},   // 3
    {2, " XYZ", " 344", "MIS", "1100", "20010205", "fourth"},  // 4: blanks around
    {2, "XYZ", "344.0", "AMB", "0915", "20010203"},            // 5: another frequency text
    {2, "xyz", "344", "AMB", "0915", "20010203"},              // 6: another letter case
    {2, "ABC", "263.5", "MIS", "1200", "20010101"},            // 7
    {2, "XYZ", "344", "OK", "0800", "20000101"},               // 8: settled earlier
    {3, "XYZ", "344", "AMB", "0915", "20010203"},
};

Selection selectEntry1() {
    return {"XYZ       ", "344       ", "0915 ", "20010203  ", " chosen comment ", 4280};
}

class AddToLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(paths.WorkFolder);
        test::copyPristineDatabase(paths.DatabasePath);
        test::writeProcessed(paths.ProcessedPath, kRows);
        set = loadWorkingSet(paths.ProcessedPath, 2);
    }
    void expectNeighboursUntouched() {
        EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, 1)), std::vector<std::string>{"AMB"});
        EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, 3)), std::vector<std::string>{"AMB"});
    }

    test::TempDir dir;
    ProjectPaths paths{dir / "work", dir / "work" / "ndbdata.ndf", dir / "work" / "processed.dat",
                       dir / "backup"};
    WorkingSet set;
};

TEST_F(AddToLogTest, SingleReceptionWritesOneRowAndSettlesEveryCopyOfIt) {
    EXPECT_EQ(addToLog(paths, set, selectEntry1(), false), 1);
    EXPECT_EQ(logRows(paths.DatabasePath),
              (std::vector<LogRow>{{4280, 2, "0915", "20010203", "chosen comment"}}));
    const std::vector<std::string> expected = {"OK", "OK", "AMB", "MIS", "AMB", "AMB", "MIS", "OK"};
    EXPECT_EQ(states(set), expected);
    EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, 2)), expected);
    EXPECT_EQ(set.ambCount, 3);
    EXPECT_EQ(set.misCount, 2);
    expectNeighboursUntouched();
}

TEST_F(AddToLogTest, AllInstancesWriteARowEachWithItsOwnTimeDateAndComment) {
    EXPECT_EQ(addToLog(paths, set, selectEntry1(), true), 4);
    EXPECT_EQ(logRows(paths.DatabasePath), (std::vector<LogRow>{
                                               {4280, 2, "0915", "20010203", "first"},
                                               {4280, 2, "0915", "20010203", "second"},
                                               {4280, 2, "1000", "20010204", "third"},
                                               {4280, 2, "1100", "20010205", "fourth"},
                                           }));
    const std::vector<std::string> expected = {"OK", "OK", "OK", "OK", "AMB", "AMB", "MIS", "OK"};
    EXPECT_EQ(states(set), expected);
    EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, 2)), expected);
    expectNeighboursUntouched();
}

TEST_F(AddToLogTest, SettledReceptionsAreNeverLoggedTwice) {
    struct Step {
        bool applyAll;
        int rows;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::size_t totalRows;
        std::vector<std::string> states;
    };
    const std::vector<std::string> allSettled = {"OK", "OK", "OK", "OK", "AMB", "AMB", "MIS", "OK"};
    const std::vector<Case> cases = {
        {"single, then all", {{false, 1}, {true, 2}}, 3, allSettled},
        {"all, then single", {{true, 4}, {false, 0}}, 4, allSettled},
        {"single twice",
         {{false, 1}, {false, 0}},
         1,
         {"OK", "OK", "AMB", "MIS", "AMB", "AMB", "MIS", "OK"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::copyPristineDatabase(paths.DatabasePath);
        test::writeProcessed(paths.ProcessedPath, kRows);
        set = loadWorkingSet(paths.ProcessedPath, 2);
        for (const auto& step : c.steps) {
            const auto before = test::snapshot(paths.WorkFolder);
            EXPECT_EQ(addToLog(paths, set, selectEntry1(), step.applyAll), step.rows);
            // Nothing to do leaves every file as it was.
            if (step.rows == 0) {
                EXPECT_EQ(test::snapshot(paths.WorkFolder), before);
            }
        }
        EXPECT_EQ(logRows(paths.DatabasePath).size(), c.totalRows);
        EXPECT_EQ(states(set), c.states);
        expectNeighboursUntouched();
    }
}

TEST_F(AddToLogTest, RefusesOrFailsWithoutChangingAnything) {
    struct Case {
        const char* name;
        Selection selection;
        bool lockDatabase;
    };
    Selection none = selectEntry1();
    none.SelectedIdent = none.SelectedFrequency = none.SelectedTime = none.SelectedDate = "";
    Selection blanks = selectEntry1();
    blanks.SelectedIdent = "          ";
    blanks.SelectedFrequency = "          ";
    blanks.SelectedTime = "     ";
    blanks.SelectedDate = "          ";
    Selection noBeacon = selectEntry1();
    noBeacon.SelectedBeaconId = 0;
    const std::vector<Case> cases = {
        {"no reception selected", none, false},
        {"only blanks selected", blanks, false},
        {"no beacon chosen", noBeacon, false},
        {"database held by another program", selectEntry1(), true},
    };
    const auto before = test::snapshot(dir.path());
    const WorkingSet loaded = set;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool applyAll : {false, true}) {
            std::optional<zolt::test::DatabaseLock> lock;
            if (c.lockDatabase) lock.emplace(paths.DatabasePath);
            EXPECT_THROW(addToLog(paths, set, c.selection, applyAll), EngineError);
            lock.reset();
            EXPECT_EQ(states(set), states(loaded));
            EXPECT_EQ(test::snapshot(dir.path()), before);
        }
    }
}

TEST_F(AddToLogTest, AReceptionWithABlankIdentCanStillBeLogged) {
    // An old callsign of dashes only is imported as a blank ident.
    test::writeProcessed(paths.ProcessedPath,
                         {{2, "", "344", "MIS", "0915", "20010203"}, {2, "", "350", "MIS"}});
    set = loadWorkingSet(paths.ProcessedPath, 2);
    Selection blankIdent{"", "344", "0915", "20010203", "", 4280};
    EXPECT_EQ(addToLog(paths, set, blankIdent, true), 1);
    EXPECT_EQ(states(set), (std::vector<std::string>{"OK", "MIS"}));
}

}  // namespace

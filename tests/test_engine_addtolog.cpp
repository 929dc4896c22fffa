// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <optional>

#include "EngineTestUtil.h"
#include "engine/AddToLog.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

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

// Entry 1 as listed, with beacon 4280 chosen for it.
const Selection kEntry1{"XYZ       ", "344       ",       "0915 ",
                        "20010203  ", " chosen comment ", 4280};

class AddToLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        paths = makeProject(dir.path());
        writeProcessed(paths.ProcessedPath, kRows);
        set = loadWorkingSet(paths.ProcessedPath, 2);
    }

    TempDir dir;
    ProjectPaths paths;
    WorkingSet set;
};

TEST_F(AddToLogTest, LogsEachReceptionOnceHoweverItIsSettled) {
    const LogRow chosen{4280, 2, "0915", "20010203", "chosen comment"},
        first{4280, 2, "0915", "20010203", "first"}, second{4280, 2, "0915", "20010203", "second"},
        third{4280, 2, "1000", "20010204", "third"}, fourth{4280, 2, "1100", "20010205", "fourth"};
    // A single reception settles every copy of it (entries 1 and 2); all
    // instances settle every entry of that ident and frequency text.
    const std::vector<std::string> single = {"OK", "OK", "AMB", "MIS", "AMB", "AMB", "MIS", "OK"};
    const std::vector<std::string> all = {"OK", "OK", "OK", "OK", "AMB", "AMB", "MIS", "OK"};
    struct Case {
        const char* name;
        std::vector<std::pair<bool, int>> steps;  // apply all, rows appended
        std::vector<LogRow> rows;
        std::vector<std::string> states;
    };
    const std::vector<Case> cases = {
        {"single: one row, the chosen comment", {{false, 1}}, {chosen}, single},
        {"all: a row each, its own time, date, comment",
         {{true, 4}},
         {first, second, third, fourth},
         all},
        {"single, then all", {{false, 1}, {true, 2}}, {chosen, third, fourth}, all},
        {"all, then single", {{true, 4}, {false, 0}}, {first, second, third, fourth}, all},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (const auto& [applyAll, rows] : c.steps) {
            const auto before = snapshot(paths.WorkFolder);
            EXPECT_EQ(addToLog(paths, set, kEntry1, applyAll), rows);
            if (rows == 0) {
                EXPECT_EQ(snapshot(paths.WorkFolder), before);
            }
        }
        EXPECT_EQ(logRows(paths.DatabasePath), c.rows);
        EXPECT_EQ(states(set), c.states);
        EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, 2)), c.states);
        EXPECT_EQ(set.ambCount, std::count(c.states.begin(), c.states.end(), "AMB"));
        EXPECT_EQ(set.misCount, std::count(c.states.begin(), c.states.end(), "MIS"));
        for (int neighbour : {1, 3}) {
            EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, neighbour)),
                      std::vector<std::string>{"AMB"});
        }
    }
}

TEST_F(AddToLogTest, RefusesOrFailsWithoutChangingAnything) {
    // A refill may leave a candidate chosen while no reception is selected.
    Selection blanks = kEntry1, noBeacon = kEntry1, tooLarge = kEntry1;
    blanks.SelectedIdent = blanks.SelectedFrequency = blanks.SelectedDate = "          ";
    blanks.SelectedTime = "     ";
    noBeacon.SelectedBeaconId = 0;
    tooLarge.SelectedBeaconId = std::int64_t{1} << 31;  // would be stored as another beacon
    enum class Obstacle { None, LockedDatabase, FolderForWorkingFile };
    const struct {
        const char* name;
        Selection selection;
        Obstacle obstacle;
        std::vector<std::string> said;  // in the message, in plain words
    } cases[] = {
        {"no reception selected", blanks, Obstacle::None, {"no reception is selected"}},
        {"no beacon chosen", noBeacon, Obstacle::None, {"no beacon is chosen"}},
        {"a beacon number the log cannot store", tooLarge, Obstacle::None,
         {"2147483648 is beyond what the log can store"}},
        {"database held by another program", kEntry1, Obstacle::LockedDatabase,
         {"in use by another program", "Nothing was logged."}},
        {"working file replaced by a folder", kEntry1, Obstacle::FolderForWorkingFile,
         {"it is not a regular file", "Nothing was logged."}},
    };
    const auto before = snapshot(dir.path());
    const WorkingSet loaded = set;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool applyAll : {false, true}) {
            std::optional<DatabaseLock> lock;
            if (c.obstacle == Obstacle::LockedDatabase) lock.emplace(paths.DatabasePath);
            const std::string bytes = readFile(paths.ProcessedPath);
            if (c.obstacle == Obstacle::FolderForWorkingFile) {
                fs::remove(paths.ProcessedPath);
                fs::create_directory(paths.ProcessedPath);
            }
            const std::string message = errorOf([&] { addToLog(paths, set, c.selection, applyAll); });
            for (const auto& part : c.said) EXPECT_NE(message.find(part), std::string::npos) << message;
            // Never the system's own words.
            for (const char* raw : {"database is locked", "Is a directory", "(database"}) {
                EXPECT_EQ(message.find(raw), std::string::npos) << message;
            }
            if (c.obstacle == Obstacle::FolderForWorkingFile) {
                fs::remove(paths.ProcessedPath);
                writeFile(paths.ProcessedPath, bytes);
            }
            lock.reset();
            EXPECT_EQ(states(set), states(loaded));
            EXPECT_EQ(snapshot(dir.path()), before);
        }
    }
}

TEST_F(AddToLogTest, AReceptionWithABlankIdentCanStillBeLogged) {
    // An old callsign of dashes only is imported as a blank ident.
    writeProcessed(paths.ProcessedPath,
                   {{2, "", "344", "MIS", "0915", "20010203"}, {2, "", "350", "MIS"}});
    set = loadWorkingSet(paths.ProcessedPath, 2);
    EXPECT_EQ(addToLog(paths, set, {"", "344", "0915", "20010203", "", 4280}, true), 1);
    EXPECT_EQ(states(set), (std::vector<std::string>{"OK", "MIS"}));
}

}  // namespace

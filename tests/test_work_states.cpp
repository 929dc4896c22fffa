// Location colours, the working set, the state write-back and the start-up check.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "work/EngineError.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::Row;
using zolt::test::TempDir;

namespace {

std::vector<Row> rowsOf(int location, const std::vector<std::string>& states) {
    std::vector<Row> rows;
    for (const auto& s : states) rows.push_back({location, "ID", "350", s});
    return rows;
}

}  // namespace

TEST(LocationStates, ColourOfOneLocation) {
    struct Case {
        std::vector<std::string> states;  // of location 3, in file order
        bool enabled;
        LocationColour colour;
    };
    const Case cases[] = {
        {{"UNP", "UNP"}, true, LocationColour::LightRed},
        {{"MIS", "OK"}, true, LocationColour::Yellow},
        {{"OK", "AMB"}, true, LocationColour::Yellow},
        {{"OK", "OK"}, false, LocationColour::ButtonFace},
        {{"MIS", "UNP"}, true, LocationColour::Yellow},  // the first pending record decides
        {{"OK", "UNP", "MIS"}, true, LocationColour::LightRed},
        {{}, false, LocationColour::ButtonFace},
    };
    TempDir dir;
    const auto path = dir / "processed.dat";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.states));
        // Neighbours in other states must not leak into location 3.
        auto rows = rowsOf(2, {"UNP"});
        for (const auto& r : rowsOf(3, c.states)) rows.push_back(r);
        for (const auto& r : rowsOf(4, {"MIS"})) rows.push_back(r);
        test::writeProcessed(path, rows);

        const auto buttons = scanLocationStates(path);
        EXPECT_EQ(buttons[2].enabled, c.enabled);
        EXPECT_EQ(buttons[2].colour, c.colour);
        EXPECT_EQ(buttons[1].colour, LocationColour::LightRed);
        EXPECT_EQ(buttons[3].colour, LocationColour::Yellow);
        for (int k : {1, 5, 16}) EXPECT_FALSE(buttons[static_cast<std::size_t>(k - 1)].enabled);
    }
}

TEST(LocationStates, MissingFileDisablesAllAndCreatesNothing) {
    TempDir dir;
    for (const auto& b : scanLocationStates(dir / "processed.dat")) {
        EXPECT_FALSE(b.enabled);
        EXPECT_EQ(b.colour, LocationColour::ButtonFace);
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(LocationStates, LocationsWithoutAButtonAreIgnored) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeProcessed(path,
                         {{0, "A", "1", "UNP"}, {17, "B", "2", "UNP"}, {16, "C", "3", "AMB"}});
    const auto buttons = scanLocationStates(path);
    for (int k = 1; k <= 15; ++k) EXPECT_FALSE(buttons[static_cast<std::size_t>(k - 1)].enabled);
    EXPECT_EQ(buttons[15].colour, LocationColour::Yellow);
}

TEST(LocationStates, LoadWorkingSet) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeProcessed(path, {
                                   {1, "A", "350", "UNP"},
                                   {2, "AB", "263.5", "AMB", "0930", "19991231", "first"},
                                   {2, "CD", "400", "MIS"},
                                   {2, "EF", "401", "OK"},
                                   {2, "GH", "402", "AMB"},
                                   {3, "X", "1", "UNP"},
                               });
    const auto set = loadWorkingSet(path, 2);
    EXPECT_EQ(set.location, 2);
    ASSERT_EQ(set.WorkCount(), 4);
    EXPECT_EQ(set.ambCount, 2);
    EXPECT_EQ(set.misCount, 1);
    EXPECT_EQ(set.unpCount, 0);

    const auto& first = set.entries[0];
    EXPECT_EQ(first.location, 2);
    EXPECT_EQ(first.recordNo, 2);
    EXPECT_EQ(first.ident, "AB        ");
    EXPECT_EQ(first.frequency, "263.5     ");
    EXPECT_EQ(first.time, "0930 ");
    EXPECT_EQ(first.date, "19991231  ");
    EXPECT_EQ(first.comment, "first" + std::string(55, ' '));
    EXPECT_EQ(set.entries[2].state, "OK ");
    EXPECT_EQ(set.entries[3].recordNo, 5);

    EXPECT_EQ(loadWorkingSet(path, 9).WorkCount(), 0);
    EXPECT_THROW(loadWorkingSet(dir / "missing.dat", 1), EngineError);
    EXPECT_FALSE(fs::exists(dir / "missing.dat"));
}

TEST(LocationStates, SaveChangesOnlyTheStateBytes) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    auto rows = rowsOf(1, {"UNP"});
    for (const auto& r : rowsOf(2, {"UNP", "UNP", "UNP", "UNP", "UNP"})) rows.push_back(r);
    test::writeProcessed(path, rows);
    // A fragment at the end is carried over untouched.
    test::writeFile(path, test::readFile(path) + "tail");
    const std::string before = test::readFile(path);

    auto set = loadWorkingSet(path, 2);
    ASSERT_EQ(set.WorkCount(), 5);
    set.entries[1].state = "OK";    // record 3 of the file
    set.entries[3].state = " MIS";  // record 5, stray blank trimmed
    saveWorkStates(path, set);

    std::string expected = before;
    expected.replace(2 * 102 + 99, 3, "OK ");
    expected.replace(4 * 102 + 99, 3, "MIS");
    EXPECT_EQ(test::readFile(path), expected);
    EXPECT_EQ(test::snapshot(dir.path()).size(), 1u);
}

TEST(LocationStates, PreparedStatesLandOnlyOnCommit) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeProcessed(path, rowsOf(1, {"UNP", "UNP"}));
    const std::string before = test::readFile(path);
    auto set = loadWorkingSet(path, 1);
    set.entries[0].state = "AMB";
    {
        auto pending = prepareWorkStates(path, set);
        EXPECT_EQ(test::readFile(path), before);
    }
    EXPECT_EQ(test::snapshot(dir.path()),
              (std::map<std::string, std::string>{{"processed.dat", before}}));
    prepareWorkStates(path, set)->commit();
    EXPECT_EQ(readProcessedRecord(path, 1).State, "AMB");
    EXPECT_EQ(readProcessedRecord(path, 2).State, "UNP");
}

TEST(LocationStates, UnknownRecordNumberChangesNothing) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeProcessed(path, rowsOf(1, {"UNP", "UNP", "UNP"}));
    const auto snapshot = test::snapshot(dir.path());

    const int numbers[] = {0, 4, -1};
    for (int number : numbers) {
        SCOPED_TRACE(number);
        auto set = loadWorkingSet(path, 1);
        set.entries[0].state = "OK";  // a valid change that must not land either
        set.entries[2].recordNo = number;
        EXPECT_THROW(saveWorkStates(path, set), EngineError);
        EXPECT_EQ(test::snapshot(dir.path()), snapshot);
    }

    // A record whose stored number differs from its place: the file changed underneath.
    std::string bytes;
    bytes += test::processedRecord(1, 1, "A", "1", "UNP").encode();
    bytes += test::processedRecord(1, 7, "B", "1", "UNP").encode();
    test::writeFile(path, bytes);
    WorkingSet set;
    set.location = 1;
    set.entries.push_back(WorkEntry{1, 2, "", "", "", "", "", "OK"});
    EXPECT_THROW(saveWorkStates(path, set), EngineError);
    EXPECT_EQ(test::readFile(path), bytes);
}

TEST(LocationStates, CheckPendingWork) {
    enum class File { Absent, Empty, Fragment, AllOk, OneMis };
    struct Case {
        const char* name;
        File file;
        bool project;
        PendingWork result;
        bool fileAfter;
    };
    const Case cases[] = {
        {"finished project", File::AllOk, true, PendingWork::NothingLeft, true},
        {"work left", File::OneMis, true, PendingWork::WorkLeft, true},
        {"nothing ever imported", File::Empty, true, PendingWork::NothingImported, false},
        {"less than one record", File::Fragment, true, PendingWork::NothingImported, false},
        {"lost processed.dat", File::Absent, true, PendingWork::Rebuilt, true},
        {"no project, no file", File::Absent, false, PendingWork::NoProject, false},
        {"no project, empty file", File::Empty, false, PendingWork::NoProject, true},
        {"no project, finished file", File::AllOk, false, PendingWork::NoProject, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto path = dir / "processed.dat";
        const auto backups = dir / "backups";
        fs::create_directory(backups);
        test::writeLogFile(backups / "log1.dat",
                           {test::logRecord("AB", "350"), test::logRecord("CD", "351")});
        switch (c.file) {
            case File::Absent:
                break;
            case File::Empty:
                test::writeFile(path, "");
                break;
            case File::Fragment:
                test::writeFile(path, std::string(101, 'x'));
                break;
            case File::AllOk:
                test::writeProcessed(path, rowsOf(1, {"OK", "OK"}));
                break;
            case File::OneMis:
                test::writeProcessed(path, rowsOf(1, {"OK", "MIS"}));
                break;
        }
        const auto before = test::snapshot(dir.path());

        EXPECT_EQ(checkPendingWork(path, backups, c.project), c.result);
        EXPECT_EQ(fs::exists(path), c.fileAfter);
        if (c.result == PendingWork::Rebuilt) {
            const auto set = loadWorkingSet(path, 2);
            EXPECT_EQ(set.WorkCount(), 2);
            EXPECT_EQ(set.unpCount, 2);
        } else if (c.fileAfter) {
            EXPECT_EQ(test::snapshot(dir.path()), before);
        }
    }
}

TEST(LocationStates, RebuildWithoutBackupFolderFails) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    EXPECT_THROW(checkPendingWork(path, dir / "gone", true), EngineError);
    EXPECT_THROW(checkPendingWork(path, fs::path(), true), EngineError);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(LocationStates, ADamagedWorkingFileIsNeverTakenForAFinishedProject) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    // Every record settled but one whose state is not a state at all.
    test::writeProcessed(path, {{1, "AB", "350", "OK"}, {1, "CD", "351", "x?z"}});
    const auto before = test::snapshot(dir.path());
    try {
        checkPendingWork(path, dir.path(), true);
        ADD_FAILURE() << "a damaged file passed the check";
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("record 2"), std::string::npos);
    }
    EXPECT_EQ(test::snapshot(dir.path()), before);
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Location colours, the working set, the state write-back and the start-up check.
#include "DbTestUtil.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::Row;
using Files = std::map<std::string, std::string>;

namespace {

std::vector<Row> rowsOf(int location, const std::vector<std::string>& states) {
    std::vector<Row> rows;
    for (const auto& s : states) rows.push_back({location, "ID", "350", s});
    return rows;
}

TEST(LocationStates, StateOfOneLocation) {
    using enum LocationState;
    const struct {
        std::vector<std::string> states;  // of location 3, in file order
        LocationState state;
    } cases[] =
        {
            {{"UNP", "UNP"}, NotMatched},       {{"MIS", "OK"}, WorkLeft},
            {{"OK", "AMB"}, WorkLeft},          {{"OK", "OK"}, NothingPending},
            {{"MIS", "UNP"}, WorkLeft},  // the first pending record decides
            {{"OK", "UNP", "MIS"}, NotMatched}, {{}, NothingPending},
        };
    test::TempDir dir;
    const auto path = dir / "processed.dat";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.states));
        // Neighbours in other states must not leak into location 3; records
        // of locations outside 1 … 16 (0, 17) are ignored.
        auto rows = rowsOf(3, c.states);
        rows.insert(rows.begin(), {{2, "A", "1", "UNP"},
                                   {4, "B", "1", "MIS"},
                                   {0, "C", "1", "UNP"},
                                   {17, "D", "1", "UNP"},
                                   {16, "E", "1", "AMB"}});
        test::writeProcessed(path, rows);
        const auto states = scanLocationStates(path);
        EXPECT_EQ(states[2], c.state);
        EXPECT_EQ(hasPendingWork(states[2]), c.state != NothingPending);
        EXPECT_EQ(std::tuple(states[1], states[3], states[15]),
                  std::tuple(NotMatched, WorkLeft, WorkLeft));
        EXPECT_EQ(std::tuple(states[0], states[4], states[14]),
                  std::tuple(NothingPending, NothingPending, NothingPending));
    }
    // A missing file leaves nothing pending and is not created.
    for (const auto state : scanLocationStates(dir / "missing.dat")) {
        EXPECT_EQ(state, NothingPending);
    }
    EXPECT_FALSE(fs::exists(dir / "missing.dat"));
}

TEST(LocationStates, LoadWorkingSetTakesTheLocationsRecordsAtFullWidth) {
    test::TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeProcessed(path, {{1, "A", "350", "UNP"},
                                {2, "AB", "263.5", "AMB", "0930", "19991231", "first"},
                                {2, "CD", "400", "MIS"},
                                {3, "X", "1", "UNP"},
                                {2, "EF", "401", "OK"}});
    const auto set = loadWorkingSet(path, 2);
    ASSERT_EQ(set.WorkCount(), 3);
    EXPECT_EQ(std::tuple(set.ambCount, set.misCount, set.unpCount), std::tuple(1, 1, 0));
    const auto& e = set.entries[0];
    EXPECT_EQ(std::tuple(e.location, e.recordNo, set.entries[2].recordNo), std::tuple(2, 2, 5));
    EXPECT_EQ(e.ident + e.frequency + e.time + e.date + e.comment + e.state,
              "AB        263.5     0930 19991231  first" + std::string(55, ' ') + "AMB");
    EXPECT_THROW(loadWorkingSet(dir / "missing.dat", 1), EngineError);
    EXPECT_FALSE(fs::exists(dir / "missing.dat"));
}

TEST(LocationStates, SaveChangesOnlyTheStateBytesAndOnlyOnCommit) {
    test::TempDir dir;
    const auto path = dir / "processed.dat";
    auto rows = rowsOf(1, {"UNP"});
    for (const auto& r : rowsOf(2, {"UNP", "UNP", "UNP", "UNP", "UNP"})) rows.push_back(r);
    test::writeProcessed(path, rows);
    // A fragment at the end is carried over untouched.
    test::writeFile(path, test::readFile(path) + "tail");
    const std::string before = test::readFile(path);

    auto set = loadWorkingSet(path, 2);
    set.entries[1].state = "OK";    // record 3 of the file
    set.entries[3].state = " MIS";  // record 5, stray blank trimmed
    { auto dropped = prepareWorkStates(path, set); }
    EXPECT_EQ(test::snapshot(dir.path()), (Files{{"processed.dat", before}}));
    saveWorkStates(path, set);
    std::string expected = before;
    expected.replace(2 * 102 + 99, 3, "OK ");
    expected.replace(4 * 102 + 99, 3, "MIS");
    EXPECT_EQ(test::snapshot(dir.path()), (Files{{"processed.dat", expected}}));
}

TEST(LocationStates, UnknownRecordNumberChangesNothing) {
    test::TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeProcessed(path, rowsOf(1, {"UNP", "UNP", "UNP"}));
    std::string bytes = test::readFile(path);
    for (int number : {0, 4, -1, 3}) {
        SCOPED_TRACE(number);
        auto set = loadWorkingSet(path, 1);
        set.entries[0].state = "OK";  // a valid change that must not land either
        set.entries[2].recordNo = number;
        // Number 3 is there, but the file changed underneath: it is now record 7.
        if (number == 3) bytes[2 * 102 + 2] = 7;
        test::writeFile(path, bytes);
        EXPECT_THROW(saveWorkStates(path, set), EngineError);
        EXPECT_EQ(test::snapshot(dir.path()), (Files{{"processed.dat", bytes}}));
    }
}

TEST(LocationStates, CheckPendingWork) {
    const auto record = [](int number, const char* state) {
        return test::processedRecord(1, number, "AB", "350", state).encode();
    };
    const std::string absent = "<absent>";
    const struct {
        const char* name;
        std::string file;
        bool project;
        PendingWork result;
        bool fileAfter;
    } cases[] = {
        {"finished", record(1, "OK") + record(2, "OK"), true, PendingWork::NothingLeft, true},
        {"work left", record(1, "OK") + record(2, "MIS"), true, PendingWork::WorkLeft, true},
        {"ambiguous left", record(1, "AMB") + record(2, "OK"), true, PendingWork::WorkLeft, true},
        {"unmatched left", record(1, "UNP"), true, PendingWork::WorkLeft, true},
        {"nothing ever imported", "", true, PendingWork::NothingImported, false},
        {"less than one record", std::string(101, 'x'), true, PendingWork::NothingImported, false},
        {"lost processed.dat", absent, true, PendingWork::Rebuilt, true},
        {"no project, finished file", record(1, "OK"), false, PendingWork::NoProject, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const auto path = dir / "processed.dat";
        fs::create_directory(dir / "backups");
        test::writeLogFile(dir / "backups" / "log1.dat",
                           {test::logRecord("AB", "350"), test::logRecord("CD", "351")});
        if (c.file != absent) test::writeFile(path, c.file);
        const auto before = test::snapshot(dir.path());
        EXPECT_EQ(checkPendingWork(path, dir / "backups", c.project), c.result);
        EXPECT_EQ(fs::exists(path), c.fileAfter);
        if (c.result == PendingWork::Rebuilt) {
            EXPECT_EQ(loadWorkingSet(path, 2).unpCount, 2);
        } else if (c.fileAfter) {
            EXPECT_EQ(test::snapshot(dir.path()), before);
        }
    }
    // A rebuild without its backup folder fails and creates nothing.
    test::TempDir dir;
    EXPECT_THROW(checkPendingWork(dir / "processed.dat", dir / "gone", true), EngineError);
    EXPECT_THROW(checkPendingWork(dir / "processed.dat", fs::path(), true), EngineError);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace

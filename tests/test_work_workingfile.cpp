// SPDX-License-Identifier: GPL-2.0-or-later
// The working file checked before it is trusted: damage that would let a
// project pass for finished, and receptions settled on disk meanwhile.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "work/WorkingFileCheck.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

std::string record(int location, int number, const char* state = "UNP") {
    return test::processedRecord(location, number, "AB", "350", state).encode();
}

TEST(WorkingFileCheck, FindsWhatWouldPassForAFinishedProject) {
    const std::string three = record(1, 1) + record(2, 2, "OK") + record(2, 3, "AMB");
    const std::string swapped = record(1, 2) + record(2, 1, "OK") + record(2, 3, "AMB");
    std::string badState = three;
    badState.replace(2 * 102 + 99, 3, "XYZ");
    const struct {
        const char* name;
        std::string file;
        int backupReceptions;  // in log0.bak; -1: no old logs in the folder
        std::string problem;   // part of the problem; empty: sound
        std::size_t pending;
    } cases[] = {
        {"sound", three, 3, "", 2},
        {"sound, logs moved away", three, -1, "", 2},
        {"empty", "", -1, "", 0},
        {"cut inside a record", three.substr(0, 250), 3, "250 bytes long", 0},
        {"cut at a record boundary", three.substr(0, 204), 3, "while the old logs", 1},
        {"records swapped", swapped, 3, "carries the number 2", 0},
        {"locations out of order", record(2, 1) + record(1, 2), 2, "follows records of location 2",
         0},
        {"no such location", record(17, 1), 1, "location 17", 0},
        {"state not one of the four", badState, 3, "record 3 holds no valid state", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        fs::create_directory(dir / "backups");
        if (c.backupReceptions >= 0) {
            test::writeLogFile(
                dir / "backups" / "log0.bak",
                std::vector<LogBackupRecord>(static_cast<std::size_t>(c.backupReceptions),
                                             test::logRecord("AB", "350")));
        }
        test::writeFile(dir / "processed.dat", c.file);
        const auto before = test::snapshot(dir.path());
        const WorkingFileCheck check = checkWorkingFile(dir / "processed.dat", dir / "backups");
        EXPECT_EQ(check.problem.empty(), c.problem.empty()) << check.problem;
        EXPECT_NE(check.problem.find(c.problem), std::string::npos) << check.problem;
        if (c.problem.empty()) {
            EXPECT_EQ(check.pending, c.pending);
        }
        EXPECT_EQ(test::snapshot(dir.path()), before);
    }
    test::TempDir dir;
    EXPECT_FALSE(checkWorkingFile(dir / "processed.dat", dir.path()).exists);
}

TEST(WorkingFileCheck, RecordNumbersPast32767WrapAsSixteenBits) {
    test::TempDir dir;
    std::string file;
    for (int n = 1; n <= 32769; ++n) file += record(1, n);  // 32768 -> -32768, 32769 -> -32767
    test::writeFile(dir / "processed.dat", file);
    EXPECT_TRUE(checkWorkingFile(dir / "processed.dat", {}).sound());
    file.replace(32767 * 102 + 2, 2, std::string("\x00\x80", 2));  // record 32768 as 32768
    file.replace(32768 * 102 + 2, 2, std::string("\x00\x80", 2));  // and 32769 claiming it too
    test::writeFile(dir / "processed.dat", file);
    EXPECT_NE(checkWorkingFile(dir / "processed.dat", {}).problem.find("record 32769"),
              std::string::npos);
}

TEST(WorkingFileCheck, OldLogsAreFoundWithoutRegardToLetterCase) {
    test::TempDir dir;
    const std::pair<const char*, bool> cases[] = {
        {"ndb.bak", false}, {"log16.bak", false}, {"LOG15.DAT", true}, {"log0.bak", true}};
    for (const auto& [name, holds] : cases) {
        test::TempDir folder;
        test::writeFile(folder / name, "");
        EXPECT_EQ(holdsOldLogs(folder.path()), holds) << name;
    }
    EXPECT_FALSE(holdsOldLogs(dir / "gone"));
}

TEST(WorkingFileCheck, AReceptionSettledOnDiskIsNeverSettledAgain) {
    test::TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeFile(path, record(1, 1, "AMB") + record(1, 2, "OK") + record(1, 3, "MIS"));
    WorkingSet set = loadWorkingSet(path, 1);
    for (auto& entry : set.entries) entry.state = "AMB";  // as a stale window saw them
    const std::string bytes = test::readFile(path);
    EXPECT_NO_THROW(requireWaiting(path, bytes, set.entries[0]));
    EXPECT_THROW(requireWaiting(path, bytes, set.entries[1]), SettledElsewhere);
    EXPECT_NO_THROW(requireWaiting(path, bytes, set.entries[2]));
    WorkEntry beyond = set.entries[2];
    beyond.recordNo = 4;  // a number the file does not hold is the state save's to report
    EXPECT_NO_THROW(requireWaiting(path, bytes, beyond));
}

}  // namespace

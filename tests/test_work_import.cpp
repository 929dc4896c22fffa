// SPDX-License-Identifier: GPL-2.0-or-later
// Building processed.dat from the old logs of the backup folder.
#include "DbTestUtil.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

// A backup folder and a work folder side by side.
struct Folders {
    test::TempDir root;
    fs::path backups = root / "backups";
    fs::path processed = root / "processed.dat";
    Folders() { fs::create_directory(backups); }
};

TEST(BackupImport, CleanIdent) {
    const std::pair<const char*, const char*> cases[] = {
        {"AB-CD  ", "ABCD      "}, {"ABC;2  ", "ABC       "}, {"-------", "          "},
        {"ab-c   ", "abc       "}, {";ABC   ", "          "}, {"A-B;C-D", "AB        "},
        {"ABCDEFG", "ABCDEFG   "}, {"A B    ", "A B       "},
    };
    for (const auto& [callsign, ident] : cases) EXPECT_EQ(cleanIdent(callsign), ident) << callsign;
}

// A record with a callsign or a frequency is kept with its fields; one never
// typed (NULs) or without both is skipped and gives its number back.
TEST(BackupImport, RecordsAreNumberedInLogOrderAndSkippedOnesGiveTheirNumberBack) {
    Folders f;
    test::writeLogFile(f.backups / "log0.bak",
                       {test::logRecord("A-1", "350", "0930", "19991231", "caf\xE9"),
                        test::logRecord("", "", "1200", "20010101", "only a comment"),
                        LogBackupRecord::decode(std::string(85, '\0')),
                        test::logRecord(std::string("AB\0", 3), "350"),
                        test::logRecord("-------", "351"), test::logRecord("ABC", "")});
    // Names from a Windows disk are found whatever their letter case.
    test::writeLogFile(f.backups / "LOG16.BAK", {test::logRecord("NO", "999")});  // no location 17
    test::writeLogFile(f.backups / "LOG15.BAK", {test::logRecord("", "352")});
    // A log with a partial record at the end contributes its whole records.
    test::writeFile(f.backups / "Log7.Bak",
                    test::logRecord("MID", "353").encode() + std::string(40, 'x'));

    EXPECT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups), 5);
    EXPECT_EQ(
        test::readFile(f.processed),
        test::processedRecord(1, 1, "A1", "350", "UNP", "0930", "19991231", "caf\xE9").encode() +
            test::processedRecord(1, 2, "", "351", "UNP").encode() +
            test::processedRecord(1, 3, "ABC", "", "UNP").encode() +
            test::processedRecord(8, 4, "MID", "353", "UNP").encode() +
            test::processedRecord(16, 5, "", "352", "UNP").encode());
}

// An import starts afresh: earlier states do not survive it, and an empty
// folder leaves an empty file.
TEST(BackupImport, AnImportReplacesEarlierWorkWhole) {
    Folders f;
    test::writeLogFile(f.backups / "log0.bak",
                       {test::logRecord("AB", "350"), test::logRecord("CD", "351")});
    buildProcessedFile(f.backups, f.processed, LogSource::Backups);
    const std::string first = test::readFile(f.processed);
    auto set = loadWorkingSet(f.processed, 1);
    for (auto& entry : set.entries) entry.state = "OK";
    saveWorkStates(f.processed, set);
    buildProcessedFile(f.backups, f.processed, LogSource::Backups);
    EXPECT_EQ(test::readFile(f.processed), first);

    fs::remove(f.backups / "log0.bak");
    EXPECT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups), 0);
    EXPECT_EQ(test::readFile(f.processed), "");
}

TEST(BackupImport, RebuildPrefersDatAndFallsBackToBakAndNeitherWritesThere) {
    Folders f;
    for (const auto& [name, callsign] : std::map<std::string, std::string>{{"log0.dat", "DAT0"},
                                                                           {"log0.bak", "BAK0"},
                                                                           {"LOG1.BAK", "BAK1"},
                                                                           {"log2.dat", "DAT2"}}) {
        test::writeLogFile(f.backups / name, {test::logRecord(callsign, "350")});
    }
    test::writeFile(f.backups / "ndb.bak", "old beacons");
    const auto before = test::snapshot(f.backups);
    const std::pair<LogSource, std::vector<std::string>> cases[] = {
        {LogSource::WorkLogs, {"DAT0      ", "BAK1      ", "DAT2      "}},
        {LogSource::Backups, {"BAK0      ", "BAK1      "}},
    };
    for (const auto& [source, expected] : cases) {
        buildProcessedFile(f.backups, f.processed, source);
        std::vector<std::string> idents;
        for (const auto& r : readProcessedFile(f.processed)) idents.push_back(r.Ident);
        EXPECT_EQ(idents, expected);
        EXPECT_EQ(test::snapshot(f.backups), before);  // the backup folder is never written
    }
}

TEST(BackupImport, UnusableFolderOrTargetIsNamedAndChangesNothing) {
    Folders f;
    test::writeLogFile(f.backups / "log0.bak", {test::logRecord("AB", "350")});
    test::writeFile(f.processed, "earlier work");
    test::writeFile(f.root / "plain", "not a folder");
    const struct {
        fs::path folder, processed;
        std::string reason, named;
    } cases[] = {
        {f.root / "missing", f.processed, "does not exist", (f.root / "missing").string()},
        {f.root / "plain", f.processed, "is not a folder", (f.root / "plain").string()},
        {fs::path(), f.processed, "no backup folder", ""},
        {f.backups, f.root / "plain" / "processed.dat", "", "processed.dat"},
    };
    const auto before = test::snapshot(f.root.path());
    for (const auto& c : cases) {
        test::expectError([&] { buildProcessedFile(c.folder, c.processed, LogSource::WorkLogs); },
                          {c.reason, c.named});
        EXPECT_EQ(test::snapshot(f.root.path()), before);
    }
}

// `total` receptions spread over the sixteen logs, or all in `onlyLog`.
void writeManyReceptions(const fs::path& folder, int total, int onlyLog = -1) {
    const std::string one = test::logRecord("NDB-1", "350.5").encode();
    for (int n = 0; n < kLocationCount; ++n) {
        std::string bytes;
        if (onlyLog < 0) {
            for (int i = n; i < total; i += kLocationCount) bytes += one;
        } else if (n == onlyLog) {
            for (int i = 0; i < total; ++i) bytes += one;
        }
        test::writeFile(folder / ("log" + std::to_string(n) + ".bak"), bytes);
    }
}

TEST(BackupImport, ProjectsBeyondTheLimitsAreRefusedBeforeAnythingIsWritten) {
    const struct {
        const char* name;
        int total, onlyLog;
        std::vector<std::string> named;  // the count and the limit
        bool workingFile;  // false: right after Start New Project, none yet
    } cases[] = {
        {"one reception too many in all", kMaxProcessedRecords + 1, -1, {"524273", "524272"}, true},
        {"a location beyond the working set", kMaxWorkingSet + 1, 4, {"100001", "100000", "log4"},
         true},
        {"beyond the working set, no working file yet", kMaxWorkingSet + 1, 4, {"100001"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folders f;
        writeManyReceptions(f.backups, c.total, c.onlyLog);
        if (c.workingFile) test::writeProcessed(f.processed, {{1, "OLD", "350", "MIS"}});
        const auto before = test::snapshot(f.root.path());
        const auto error = test::errorOf(
            [&] { buildProcessedFile(f.backups, f.processed, LogSource::Backups); });
        for (const auto& part : c.named) EXPECT_NE(error.find(part), std::string::npos) << error;
        // What it says of the working file is true.
        EXPECT_EQ(error.find("was left as it was") != std::string::npos, c.workingFile) << error;
        EXPECT_EQ(error.find("no working file was made") != std::string::npos, !c.workingFile)
            << error;
        EXPECT_EQ(test::snapshot(f.root.path()), before);
    }
}

// Up to 32,767 records RecordNo is the record's number, as it always was;
// beyond, it holds the number's low 16 bits, and a log of more than 32,767
// records is taken whole.
TEST(BackupImport, RecordNoIsThePositionsLow16Bits) {
    Folders f;
    writeManyReceptions(f.backups, kMaxRecordNo);
    ASSERT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups), kMaxRecordNo);
    std::string expected;
    int number = 0;
    for (int n = 0; n < kLocationCount; ++n) {
        for (int i = n; i < kMaxRecordNo; i += kLocationCount) {
            expected += test::processedRecord(n + 1, ++number, "NDB1", "350.5", "UNP")
                            .encode();
        }
    }
    EXPECT_TRUE(test::readFile(f.processed) == expected) << "not byte for byte as before";

    writeManyReceptions(f.backups, kMaxProcessedRecords);
    ASSERT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups),
              kMaxProcessedRecords);
    const std::pair<std::size_t, int> numbers[] = {
        {32767, 32767}, {32768, -32768}, {65535, -1}, {65536, 0}, {65537, 1}, {524272, -16}};
    for (const auto& [position, recordNo] : numbers) {
        EXPECT_EQ(readProcessedRecord(f.processed, position).RecordNo, recordNo) << position;
    }
    const auto last = loadWorkingSet(f.processed, 16).entries.back();
    EXPECT_EQ(std::tuple(last.recordNo, last.location), std::tuple(kMaxProcessedRecords, 16));

    writeManyReceptions(f.backups, kMaxRecordNo + 2, 7);
    const auto whole = loadWorkingSet(
        f.processed, (buildProcessedFile(f.backups, f.processed, LogSource::Backups), 8));
    EXPECT_EQ(whole.WorkCount(), kMaxRecordNo + 2);
}

}  // namespace

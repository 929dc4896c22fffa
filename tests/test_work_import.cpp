// SPDX-License-Identifier: GPL-2.0-or-later
// Building processed.dat from the old logs of the backup folder.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <tuple>

#include "TestUtil.h"
#include "core/EngineError.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::TempDir;

namespace {

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EngineError& e) {
        return e.what();
    }
    return "no error";
}

// A backup folder and a work folder side by side.
struct Folders {
    TempDir root;
    fs::path backups = root / "backups";
    fs::path processed = root / "processed.dat";
    Folders() { fs::create_directory(backups); }
};

}  // namespace

TEST(BackupImport, CleanIdent) {
    const std::pair<const char*, const char*> cases[] = {
        {"AB-CD  ", "ABCD      "}, {"ABC;2  ", "ABC       "}, {"-------", "          "},
        {"ab-c   ", "abc       "}, {";ABC   ", "          "}, {"A-B;C-D", "AB        "},
        {"ABCDEFG", "ABCDEFG   "}, {"A B    ", "A B       "},
    };
    for (const auto& [callsign, ident] : cases) EXPECT_EQ(cleanIdent(callsign), ident) << callsign;
}

// More kept and skipped records are in the numbering test below.
TEST(BackupImport, ConvertKeepsARecordWithACallsignOrAFrequency) {
    const std::pair<LogBackupRecord, bool> cases[] = {
        {test::logRecord("", "350"), true},
        {test::logRecord("ABC", ""), true},
        {test::logRecord(std::string("AB\0", 3), "350"), false},  // never typed
    };
    for (const auto& [old, kept] : cases) {
        ProcessedRecord out;
        EXPECT_EQ(convertLogRecord(old, 4, 9, out), kept) << old.Callsign;
    }
}

TEST(BackupImport, ConvertCopiesTheFields) {
    ProcessedRecord out;
    ASSERT_TRUE(convertLogRecord(test::logRecord("AB-CD", "263.5", "0930", "19991231", "caf\xE9"),
                                 16, 7, out));
    EXPECT_EQ(out.encode(),
              test::processedRecord(16, 7, "ABCD", "263.5", "UNP", "0930", "19991231", "caf\xE9")
                  .encode());
}

TEST(BackupImport, RecordsAreNumberedInLogOrderAndSkippedOnesGiveTheirNumberBack) {
    Folders f;
    test::writeLogFile(
        f.backups / "log0.bak",
        {test::logRecord("A-1", "350"),
         test::logRecord("", "", "1200", "20010101", "only a comment"),
         LogBackupRecord::decode(std::string(85, '\0')), test::logRecord("-------", "351")});
    // Names from a Windows disk are found whatever their letter case.
    test::writeLogFile(f.backups / "LOG16.BAK", {test::logRecord("NO", "999")});  // no location 17
    test::writeLogFile(f.backups / "LOG15.BAK", {test::logRecord("Z;9", "352")});
    // A log with a partial record at the end contributes its whole records.
    test::writeFile(f.backups / "Log7.Bak",
                    test::logRecord("MID", "353").encode() + std::string(40, 'x'));

    EXPECT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups), 4);
    EXPECT_EQ(fs::file_size(f.processed), 4u * 102u);
    const auto records = readProcessedFile(f.processed);
    const std::vector<std::tuple<int, std::string, std::string>> expected = {
        {1, "A1        ", "350       "},
        {1, "          ", "351       "},
        {8, "MID       ", "353       "},
        {16, "Z         ", "352       "},
    };
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].RecordNo, static_cast<int>(i + 1));
        EXPECT_EQ(std::tuple(records[i].Location, records[i].Ident, records[i].Frequency),
                  expected[i]);
    }
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
    test::writeLogFile(f.backups / "log0.dat", {test::logRecord("DAT0", "350")});
    test::writeLogFile(f.backups / "log0.bak", {test::logRecord("BAK0", "350")});
    test::writeLogFile(f.backups / "LOG1.BAK", {test::logRecord("BAK1", "351")});
    test::writeLogFile(f.backups / "log2.dat", {test::logRecord("DAT2", "352")});
    test::writeFile(f.backups / "ndb.bak", "old beacons");
    const auto before = test::snapshot(f.backups);

    struct Case {
        LogSource source;
        std::vector<std::string> idents;
    };
    const Case cases[] = {
        {LogSource::WorkLogs, {"DAT0      ", "BAK1      ", "DAT2      "}},
        {LogSource::Backups, {"BAK0      ", "BAK1      "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source == LogSource::WorkLogs ? "rebuild" : "import");
        buildProcessedFile(f.backups, f.processed, c.source);
        std::vector<std::string> idents;
        for (const auto& r : readProcessedFile(f.processed)) idents.push_back(r.Ident);
        EXPECT_EQ(idents, c.idents);
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
        const auto message =
            errorOf([&] { buildProcessedFile(c.folder, c.processed, LogSource::WorkLogs); });
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_NE(message.find(c.named), std::string::npos) << message;
        EXPECT_EQ(test::snapshot(f.root.path()), before);
    }
}

namespace {

// `total` receptions spread over the sixteen logs.
void writeManyReceptions(const fs::path& folder, int total) {
    const std::string one =
        test::logRecord("NDB-1", "350.5", "1200", "20010101", "a comment long enough to matter")
            .encode();
    for (int n = 0; n < kLocationCount; ++n) {
        const int count = total / kLocationCount + (n < total % kLocationCount ? 1 : 0);
        std::string bytes;
        bytes.reserve(one.size() * static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) bytes += one;
        test::writeFile(folder / ("log" + std::to_string(n) + ".bak"), bytes);
    }
}

}  // namespace

TEST(BackupImport, TooManyReceptionsAreRefusedAndTheLargestProjectFits) {
    Folders f;
    writeManyReceptions(f.backups, kMaxProcessedRecords + 1);
    test::writeProcessed(f.processed, {{1, "OLD", "350", "MIS"}});
    const auto before = test::snapshot(f.root.path());
    const auto message =
        errorOf([&] { buildProcessedFile(f.backups, f.processed, LogSource::Backups); });
    EXPECT_NE(message.find("32768 receptions"), std::string::npos) << message;
    EXPECT_NE(message.find("32767"), std::string::npos) << message;
    EXPECT_EQ(test::snapshot(f.root.path()), before);

    writeManyReceptions(f.backups, 32767);
    EXPECT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups), 32767);
    EXPECT_EQ(fs::file_size(f.processed), 32767u * 102u);
    const auto last = readProcessedRecord(f.processed, 32767);
    EXPECT_EQ(std::tuple(last.RecordNo, last.Location), std::tuple(32767, 16));
}

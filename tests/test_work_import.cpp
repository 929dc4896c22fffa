// Building processed.dat from the old logs of the backup folder.
#include <gtest/gtest.h>

#include <functional>

#include "TestUtil.h"
#include "work/BackupImport.h"
#include "work/EngineError.h"
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
    return "";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
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
    struct Case {
        const char* callsign;
        const char* ident;
    };
    const Case cases[] = {
        {"AB-CD  ", "ABCD      "}, {"ABC;2  ", "ABC       "}, {"-------", "          "},
        {"ab-c   ", "abc       "}, {";ABC   ", "          "}, {"A-B;C-D", "AB        "},
        {"ABCDEFG", "ABCDEFG   "}, {"A B    ", "A B       "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.callsign);
        EXPECT_EQ(cleanIdent(c.callsign), c.ident);
    }
}

TEST(BackupImport, ConvertKeepsOrSkips) {
    const std::string nul7(7, '\0');
    struct Case {
        const char* name;
        LogBackupRecord old;
        bool kept;
    };
    const Case cases[] = {
        {"plain", test::logRecord("NDB", "350"), true},
        {"seven dashes", test::logRecord("-------", "350"), true},
        {"blank callsign, frequency given", test::logRecord("", "350"), true},
        {"callsign, blank frequency", test::logRecord("ABC", ""), true},
        {"blank callsign and frequency, comment",
         test::logRecord("", "", "1200", "20010101", "heard it"), false},
        {"never written", LogBackupRecord::decode(std::string(85, '\0')), false},
        {"NUL in callsign", test::logRecord(std::string("AB\0", 3), "350"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessedRecord out;
        EXPECT_EQ(convertLogRecord(c.old, 4, 9, out), c.kept);
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

TEST(BackupImport, OnlyLog3GivesTwoRecordsOfLocation4) {
    Folders f;
    test::writeLogFile(f.backups / "log3.bak",
                       {test::logRecord("AB", "350"), test::logRecord("CD", "400")});
    EXPECT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups), 2);
    ASSERT_EQ(fs::file_size(f.processed), 204u);
    const auto records = readProcessedFile(f.processed);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(records[i].Location, 4);
        EXPECT_EQ(records[i].RecordNo, i + 1);
        EXPECT_EQ(records[i].State, "UNP");
    }
}

TEST(BackupImport, SkippedRecordsGiveTheirNumberBack) {
    Folders f;
    test::writeLogFile(
        f.backups / "log0.bak",
        {test::logRecord("A-1", "350"),
         test::logRecord("", "", "1200", "20010101", "only a comment"),
         LogBackupRecord::decode(std::string(85, '\0')), test::logRecord("-------", "351")});
    test::writeLogFile(f.backups / "log15.bak", {test::logRecord("Z;9", "352")});
    // A log with a partial record at the end contributes its whole records.
    test::writeFile(f.backups / "log7.bak",
                    test::logRecord("MID", "353").encode() + std::string(40, 'x'));

    EXPECT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups), 4);
    const auto records = readProcessedFile(f.processed);
    struct Expected {
        int location;
        const char* ident;
        const char* frequency;
    };
    const Expected expected[] = {
        {1, "A1        ", "350       "},
        {1, "          ", "351       "},
        {8, "MID       ", "353       "},
        {16, "Z         ", "352       "},
    };
    ASSERT_EQ(records.size(), std::size(expected));
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].RecordNo, static_cast<int>(i + 1));
        EXPECT_EQ(records[i].Location, expected[i].location);
        EXPECT_EQ(records[i].Ident, expected[i].ident);
        EXPECT_EQ(records[i].Frequency, expected[i].frequency);
    }
}

TEST(BackupImport, UpperCaseNamesAreFound) {
    Folders f;
    test::writeLogFile(f.backups / "LOG3.BAK", {test::logRecord("UP", "350")});
    test::writeLogFile(f.backups / "Log0.Bak", {test::logRecord("MIX", "350")});
    EXPECT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups), 2);
    const auto records = readProcessedFile(f.processed);
    EXPECT_EQ(records[0].Location, 1);
    EXPECT_EQ(records[1].Location, 4);
}

TEST(BackupImport, BackupFolderIsNeverWritten) {
    Folders f;
    test::writeLogFile(f.backups / "log2.bak", {test::logRecord("AB", "350")});
    test::writeLogFile(f.backups / "log5.dat", {test::logRecord("CD", "351")});
    test::writeFile(f.backups / "ndb.bak", "old beacons");
    const auto before = test::snapshot(f.backups);
    for (auto source : {LogSource::Backups, LogSource::WorkLogs}) {
        buildProcessedFile(f.backups, f.processed, source);
        EXPECT_EQ(test::snapshot(f.backups), before);
    }
}

TEST(BackupImport, SecondImportStartsAfresh) {
    Folders f;
    test::writeLogFile(f.backups / "log0.bak",
                       {test::logRecord("AB", "350"), test::logRecord("CD", "351")});
    buildProcessedFile(f.backups, f.processed, LogSource::Backups);
    const std::string first = test::readFile(f.processed);

    auto set = loadWorkingSet(f.processed, 1);
    for (auto& entry : set.entries) entry.state = "OK";
    saveWorkStates(f.processed, set);
    ASSERT_NE(test::readFile(f.processed), first);

    buildProcessedFile(f.backups, f.processed, LogSource::Backups);
    EXPECT_EQ(test::readFile(f.processed), first);
    EXPECT_EQ(test::snapshot(f.root.path()).size(), 3u);  // backups, its log, processed.dat
}

TEST(BackupImport, EmptyFolderGivesEmptyFile) {
    Folders f;
    test::writeFile(f.processed, "earlier work");
    EXPECT_EQ(buildProcessedFile(f.backups, f.processed, LogSource::Backups), 0);
    EXPECT_EQ(fs::file_size(f.processed), 0u);
    EXPECT_TRUE(fs::is_empty(f.backups));
}

TEST(BackupImport, RebuildPrefersDatAndFallsBackToBak) {
    Folders f;
    test::writeLogFile(f.backups / "log0.dat", {test::logRecord("DAT0", "350")});
    test::writeLogFile(f.backups / "log0.bak", {test::logRecord("BAK0", "350")});
    test::writeLogFile(f.backups / "LOG1.BAK", {test::logRecord("BAK1", "351")});
    test::writeLogFile(f.backups / "log2.dat", {test::logRecord("DAT2", "352")});

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
    }
}

TEST(BackupImport, UnusableBackupFolder) {
    Folders f;
    test::writeFile(f.processed, "earlier work");
    test::writeFile(f.root / "plain", "not a folder");
    struct Case {
        fs::path folder;
        const char* reason;
    };
    const Case cases[] = {
        {f.root / "missing", "does not exist"},
        {f.root / "plain", "is not a folder"},
        {fs::path(), "no backup folder"},
    };
    const auto before = test::snapshot(f.root.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.string());
        const auto message =
            errorOf([&] { buildProcessedFile(c.folder, f.processed, LogSource::WorkLogs); });
        EXPECT_TRUE(contains(message, c.reason)) << message;
        EXPECT_TRUE(contains(message, c.folder.string())) << message;
        EXPECT_EQ(test::snapshot(f.root.path()), before);
    }
}

TEST(BackupImport, UnwritableProcessedPathChangesNothing) {
    Folders f;
    test::writeLogFile(f.backups / "log0.bak", {test::logRecord("AB", "350")});
    test::writeFile(f.root / "blocker", "plain");
    const auto before = test::snapshot(f.root.path());
    const auto message = errorOf([&] {
        buildProcessedFile(f.backups, f.root / "blocker" / "processed.dat", LogSource::Backups);
    });
    EXPECT_TRUE(contains(message, "processed.dat")) << message;
    EXPECT_EQ(test::snapshot(f.root.path()), before);
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

TEST(BackupImport, TheLargestProjectFitsTheRecordNumbers) {
    Folders f;
    writeManyReceptions(f.backups, kMaxProcessedRecords);
    const int count = buildProcessedFile(f.backups, f.processed, LogSource::Backups);
    EXPECT_EQ(count, kMaxProcessedRecords);
    EXPECT_EQ(fs::file_size(f.processed), 32767u * 102u);
    const auto last = readProcessedRecord(f.processed, 32767);
    EXPECT_EQ(last.RecordNo, 32767);
    EXPECT_EQ(last.Location, 16);
}

TEST(BackupImport, TooManyReceptionsAreRefused) {
    Folders f;
    writeManyReceptions(f.backups, kMaxProcessedRecords + 1);
    test::writeProcessed(f.processed, {{1, "OLD", "350", "MIS"}});
    const auto before = test::snapshot(f.root.path());
    const auto message =
        errorOf([&] { buildProcessedFile(f.backups, f.processed, LogSource::Backups); });
    EXPECT_TRUE(contains(message, "32768 receptions")) << message;
    EXPECT_TRUE(contains(message, "32767")) << message;
    EXPECT_EQ(test::snapshot(f.root.path()), before);
}

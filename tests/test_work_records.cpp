// SPDX-License-Identifier: GPL-2.0-or-later
// The two fixed-record layouts and the whole-file readers and writer.
#include <gtest/gtest.h>

#include <random>

#include "TestUtil.h"
#include "core/EngineError.h"
#include "work/Records.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::TempDir;

TEST(Records, LayoutsPadAndCutEveryFieldAtItsOffset) {
    // Little-endian int16s, then the texts padded with blanks.
    EXPECT_EQ(
        test::processedRecord(4, 258, "ABCD", "350.5", "OK", "1234", "20010203", "nice").encode(),
        std::string("\4\0\2\1", 4) + "ABCD      350.5     1234 20010203  nice" +
            std::string(56, ' ') + "OK ");
    EXPECT_EQ(test::logRecord("ABCDE", "263.5", "0930", "19991231", std::string(60, 'c')).encode(),
              "ABCDE  263.5 093019991231" + std::string(60, 'c'));

    ProcessedRecord r;
    r.Ident = "ABCDEFGHIJKLMN";  // longer than 10
    r.Comment = std::string(70, 'x');
    r.State = "OK";
    EXPECT_EQ(r.encode(), std::string(4, '\0') + "ABCDEFGHIJ" + std::string(25, ' ') +
                              std::string(60, 'x') + "OK ");
    LogBackupRecord old;
    old.Callsign = "ABCDE";
    EXPECT_EQ(old.encode(), "ABCDE" + std::string(80, ' '));
}

// Any bytes survive decode and encode: NUL-filled slots, high Windows-1252
// characters and odd integers alike.
TEST(Records, ArbitraryBytesRoundTrip) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::string processed(102, '\0'), log(85, '\0');
        for (auto& c : processed) c = static_cast<char>(random() & 0xFF);
        for (auto& c : log) c = static_cast<char>(random() & 0xFF);
        EXPECT_EQ(ProcessedRecord::decode(processed).encode(), processed);
        EXPECT_EQ(LogBackupRecord::decode(log).encode(), log);
    }
    EXPECT_EQ(ProcessedRecord::decode(std::string(102, '\0')).encode(), std::string(102, '\0'));
}

TEST(Records, PendingStates) {
    const std::pair<std::string_view, bool> cases[] = {
        {"UNP", true},  {"AMB", true},  {"MIS", true},
        {"OK ", false}, {" MIS", true}, {"unp", false},
        {"", false},    {"XYZ", false}, {std::string_view("\0\0\0", 3), false}};
    for (const auto& [stored, pending] : cases) {
        EXPECT_EQ(isPendingState(stored), pending) << std::string(stored);
    }
}

TEST(Records, WriteReplacesTheFileAndWholeRecordsReadBack) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeFile(path, std::string(500, 'o'));
    const std::vector<ProcessedRecord> records = {
        test::processedRecord(1, 1, "ABC", "350", "UNP"),
        test::processedRecord(1, 2, "\xC9T\xC9", "263.5", "OK", "0000", "20020202", "caf\xE9"),
        test::processedRecord(16, 3, "", "", "MIS"),
    };
    writeProcessedFile(path, records);
    EXPECT_EQ(test::snapshot(dir.path()).size(), 1u);
    EXPECT_EQ(fs::file_size(path), 306u);
    const auto back = readProcessedFile(path);
    ASSERT_EQ(back.size(), 3u);
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].encode(), records[i].encode());
        EXPECT_EQ(readProcessedRecord(path, i + 1).encode(), records[i].encode());
    }
    // A partial last record, however long, is no record.
    test::writeFile(path, test::readFile(path) + std::string(101, 'z'));
    EXPECT_EQ(readProcessedFile(path).size(), 3u);
    test::writeFile(dir / "log0.bak", std::string(2 * 85 - 1, 'z'));
    EXPECT_EQ(readLogFile(dir / "log0.bak").size(), 1u);
    for (std::size_t number : {0u, 4u, 40000u}) {
        EXPECT_THROW(readProcessedRecord(path, number), EngineError) << number;
    }
}

TEST(Records, MissingOrUnusableFilesAreErrorsAndNothingIsCreated) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    EXPECT_THROW(readProcessedFile(path), EngineError);
    EXPECT_TRUE(readProcessedFile(path, true).empty());
    EXPECT_THROW(readProcessedRecord(path, 1), EngineError);
    EXPECT_THROW(readLogFile(dir / "log0.bak"), EngineError);
    EXPECT_TRUE(fs::is_empty(dir.path()));
    fs::create_directory(path);
    EXPECT_THROW(readProcessedFile(path, true), EngineError);  // there, but not a file
}

// The two fixed-record layouts and the whole-file readers and writer.
#include <gtest/gtest.h>

#include <random>

#include "TestUtil.h"
#include "work/EngineError.h"
#include "work/Records.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::TempDir;

namespace {

std::string bytesOf(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

}  // namespace

TEST(Records, ProcessedRecordLayout) {
    const auto r = test::processedRecord(4, 258, "ABCD", "350.5", "OK", "1234", "20010203", "nice");
    const std::string bytes = r.encode();
    ASSERT_EQ(bytes.size(), 102u);
    EXPECT_EQ(bytes.substr(0, 4), bytesOf({4, 0, 2, 1}));  // little-endian int16s
    EXPECT_EQ(bytes.substr(4, 10), "ABCD      ");
    EXPECT_EQ(bytes.substr(14, 10), "350.5     ");
    EXPECT_EQ(bytes.substr(24, 5), "1234 ");
    EXPECT_EQ(bytes.substr(29, 10), "20010203  ");
    EXPECT_EQ(bytes.substr(39, 60), "nice" + std::string(56, ' '));
    EXPECT_EQ(bytes.substr(99, 3), "OK ");
}

TEST(Records, LogRecordLayout) {
    const auto r = test::logRecord("ABCDE", "263.5", "0930", "19991231", std::string(70, 'c'));
    const std::string bytes = r.encode();
    ASSERT_EQ(bytes.size(), 85u);
    EXPECT_EQ(bytes.substr(0, 7), "ABCDE  ");
    EXPECT_EQ(bytes.substr(7, 6), "263.5 ");
    EXPECT_EQ(bytes.substr(13, 4), "0930");
    EXPECT_EQ(bytes.substr(17, 8), "19991231");
    EXPECT_EQ(bytes.substr(25), std::string(60, 'c'));
}

TEST(Records, FieldsArePaddedAndCutOnEncode) {
    ProcessedRecord r;
    r.Ident = "ABCDEFGHIJKLMN";  // longer than 10
    r.Comment = std::string(70, 'x');
    r.State = "OK";
    const auto back = ProcessedRecord::decode(r.encode());
    EXPECT_EQ(back.Ident, "ABCDEFGHIJ");
    EXPECT_EQ(back.Frequency, std::string(10, ' '));
    EXPECT_EQ(back.Comment, std::string(60, 'x'));
    EXPECT_EQ(back.State, "OK ");

    LogBackupRecord old;
    old.Callsign = "ABCDE";
    EXPECT_EQ(LogBackupRecord::decode(old.encode()).Callsign, "ABCDE  ");
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
    struct Case {
        std::string_view stored;
        bool pending;
    };
    const Case cases[] = {{"UNP", true},  {"AMB", true},  {"MIS", true},
                          {"OK ", false}, {" MIS", true}, {"unp", false},
                          {"", false},    {"XYZ", false}, {std::string_view("\0\0\0", 3), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.stored));
        EXPECT_EQ(isPendingState(c.stored), c.pending);
    }
}

TEST(Records, WholeRecordsOnly) {
    TempDir dir;
    struct Case {
        std::size_t records;
        std::size_t extraBytes;
    };
    const Case cases[] = {{0, 0}, {0, 101}, {2, 1}, {1, 0}, {3, 101}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.records << " records + " << c.extraBytes);
        std::string bytes;
        for (std::size_t i = 0; i < c.records; ++i) {
            bytes += test::processedRecord(1, static_cast<int>(i + 1), "A", "1", "UNP").encode();
        }
        bytes += std::string(c.extraBytes, 'z');
        test::writeFile(dir / "processed.dat", bytes);
        EXPECT_EQ(readProcessedFile(dir / "processed.dat").size(), c.records);
    }

    const Case logCases[] = {{0, 0}, {0, 84}, {1, 0}, {2, 1}};
    for (const auto& c : logCases) {
        SCOPED_TRACE(testing::Message() << c.records << " log records + " << c.extraBytes);
        std::string bytes;
        for (std::size_t i = 0; i < c.records; ++i) bytes += test::logRecord("A", "1").encode();
        bytes += std::string(c.extraBytes, 'z');
        test::writeFile(dir / "log0.bak", bytes);
        EXPECT_EQ(readLogFile(dir / "log0.bak").size(), c.records);
    }
}

TEST(Records, MissingFile) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    EXPECT_THROW(readProcessedFile(path), EngineError);
    EXPECT_TRUE(readProcessedFile(path, true).empty());
    EXPECT_THROW(readLogFile(dir / "log0.bak"), EngineError);
    EXPECT_TRUE(test::snapshot(dir.path()).empty());  // nothing created
    fs::create_directory(path);
    EXPECT_THROW(readProcessedFile(path, true), EngineError);  // there, but not a file
}

TEST(Records, WriteAndReadBack) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeFile(path, std::string(500, 'o'));
    const std::vector<ProcessedRecord> records = {
        test::processedRecord(1, 1, "ABC", "350", "UNP"),
        test::processedRecord(1, 2, "\xC9T\xC9", "263.5", "OK", "0000", "20020202", "caf\xE9"),
        test::processedRecord(16, 3, "", "", "MIS"),
    };
    writeProcessedFile(path, records);
    EXPECT_EQ(fs::file_size(path), 306u);

    const auto back = readProcessedFile(path);
    ASSERT_EQ(back.size(), 3u);
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].encode(), records[i].encode());
        EXPECT_EQ(readProcessedRecord(path, i + 1).encode(), records[i].encode());
    }
    EXPECT_EQ(test::snapshot(dir.path()).size(), 1u);
}

TEST(Records, ReadProcessedRecordOutOfRange) {
    TempDir dir;
    const auto path = dir / "processed.dat";
    test::writeProcessed(path, {{1, "A", "1", "UNP"}, {1, "B", "2", "UNP"}});
    test::writeFile(path, test::readFile(path) + std::string(101, 'z'));  // 205 bytes
    for (std::size_t number : {0u, 3u, 40000u}) {
        SCOPED_TRACE(number);
        EXPECT_THROW(readProcessedRecord(path, number), EngineError);
    }
    EXPECT_EQ(readProcessedRecord(path, 2).Ident, "B         ");
    EXPECT_THROW(readProcessedRecord(dir / "missing.dat", 1), EngineError);
}

TEST(Records, WriteFailureLeavesNothingBehind) {
    TempDir dir;
    test::writeFile(dir / "blocker", "plain");
    const auto before = test::snapshot(dir.path());
    EXPECT_THROW(writeProcessedFile(dir / "blocker" / "processed.dat",
                                    {test::processedRecord(1, 1, "A", "1", "UNP")}),
                 EngineError);
    EXPECT_EQ(test::snapshot(dir.path()), before);
}

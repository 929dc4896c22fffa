// SPDX-License-Identifier: GPL-2.0-or-later
// The two fixed-record layouts the old program reads and writes.
#include <gtest/gtest.h>

#include <random>

#include "TestUtil.h"

using namespace zolt;

// Little-endian int16s, then the texts padded with blanks or cut at their widths.
TEST(Records, LayoutsPadAndCutEveryFieldAtItsOffset) {
    EXPECT_EQ(
        test::processedRecord(4, 258, "ABCD", "350.5", "OK", "1234", "20010203", "nice").encode(),
        std::string("\4\0\2\1", 4) + "ABCD      350.5     1234 20010203  nice" +
            std::string(56, ' ') + "OK ");
    EXPECT_EQ(test::logRecord("ABCDE", "263.5", "0930", "19991231", std::string(60, 'c')).encode(),
              "ABCDE  263.5 093019991231" + std::string(60, 'c'));
    ProcessedRecord r;
    r.Ident = "ABCDEFGHIJKLMN";  // longer than 10
    r.Comment = std::string(70, 'x');
    EXPECT_EQ(r.encode(), std::string(4, '\0') + "ABCDEFGHIJ" + std::string(25, ' ') +
                              std::string(60, 'x') + "   ");
}

// Any bytes survive decode and encode: NUL-filled slots, high Windows-1252
// characters and odd integers alike.
TEST(Records, ArbitraryBytesRoundTrip) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::string processed(102, '\0'), log(85, '\0');
        for (auto* bytes : {&processed, &log}) {
            for (auto& c : *bytes) c = round == 0 ? '\0' : static_cast<char>(random() & 0xFF);
        }
        EXPECT_EQ(ProcessedRecord::decode(processed).encode(), processed);
        EXPECT_EQ(LogBackupRecord::decode(log).encode(), log);
    }
}

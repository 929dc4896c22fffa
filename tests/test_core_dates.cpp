// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the old log's free-text dates and times, and telling from a whole
// log which way round its listener wrote them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/OldDates.h"

using namespace zolt;

namespace {

std::string read(const char* text, DateOrder order) {
    const auto date = readOldDate(text, order);
    return date ? isoDate(*date) : "unreadable";
}

TEST(OldDates, ReadInEitherOrder) {
    const struct {
        const char* text;
        const char* monthFirst;
        const char* dayFirst;
    } cases[] = {
        {"12/24/99", "1999-12-24", "1999-12-24"},  // only month first fits
        {"24/12/99", "1999-12-24", "1999-12-24"},  // only day first fits
        {"05/09/97", "1997-05-09", "1997-09-05"},  // the order decides
        {"1/5/03", "2003-01-05", "2003-05-01"},
        {"24.12.1999", "1999-12-24", "1999-12-24"},
        {" 1/ 5/99 ", "1999-01-05", "1999-05-01"},   // blanks as typed in a fixed field
        {"1999/12/24", "1999-12-24", "1999-12-24"},  // year first knows its order
        // Two-digit years on both sides of the pivot.
        {"01/01/49", "2049-01-01", "2049-01-01"},
        {"01/01/50", "1950-01-01", "1950-01-01"},
        {"12/31/00", "2000-12-31", "2000-12-31"},
        // Leap days.
        {"02/29/00", "2000-02-29", "2000-02-29"},
        {"29/02/00", "2000-02-29", "2000-02-29"},
        {"02/29/99", "unreadable", "unreadable"},
        {"29/02/1900", "unreadable", "unreadable"},
        // Not a date either way.
        {"13/13/99", "unreadable", "unreadable"},
        {"02/30/99", "unreadable", "unreadable"},
        {"00/10/99", "unreadable", "unreadable"},
        {"", "unreadable", "unreadable"},
        {"summer99", "unreadable", "unreadable"},
        {"12/24", "unreadable", "unreadable"},
        {"12/24/9", "unreadable", "unreadable"},
        {"12/24/99x", "unreadable", "unreadable"},
        {"122499", "unreadable", "unreadable"},
        {"12//24/99", "unreadable", "unreadable"},
        {"123/4/99", "unreadable", "unreadable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(read(c.text, DateOrder::MonthFirst), c.monthFirst);
        EXPECT_EQ(read(c.text, DateOrder::DayFirst), c.dayFirst);
    }
}

TEST(OldDates, TimesReadAsHoursAndMinutes) {
    const struct {
        const char* text;
        int minutes;  // -1: unreadable
    } cases[] = {
        {"0000", 0},
        {"2359", 23 * 60 + 59},
        {"0632", 6 * 60 + 32},
        {"930", 9 * 60 + 30},
        {"09:30", 570},
        {"9:30", 570},
        {"0632 ", 392},
        {"2400", -1},
        {"1260", -1},
        {"", -1},
        {"12", -1},
        {"12345", -1},
        {"ab12", -1},
        {":930", -1},
        {"93:0", -1},
        {"-100", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(readOldTime(c.text).value_or(-1), c.minutes);
    }
}

TEST(OldDates, TheLogsDatesTellTheirOrder) {
    using F = DateOrderDetector::Finding;
    const struct {
        std::vector<const char*> dates;
        F finding;
        DateOrder suggested;
    } cases[] = {
        {{"05/09/97", "01/02/03"}, F::Undecided, DateOrder::MonthFirst},
        {{}, F::Undecided, DateOrder::MonthFirst},
        {{"05/09/97", "12/24/99"}, F::MonthFirst, DateOrder::MonthFirst},
        {{"05/09/97", "24/12/99", "31.01.02"}, F::DayFirst, DateOrder::DayFirst},
        {{"24/12/99", "12/24/99"}, F::Mixed, DateOrder::MonthFirst},
        // Dates that fit no order, or name their year first, are no evidence.
        {{"13/13/99", "31/02/99", "1999/12/24", "junk", "05/09/97"},
         F::Undecided,
         DateOrder::MonthFirst},
    };
    for (const auto& c : cases) {
        DateOrderDetector detector;
        for (const char* d : c.dates) detector.add(d);
        EXPECT_EQ(detector.finding(), c.finding) << ::testing::PrintToString(c.dates);
        EXPECT_EQ(detector.suggested(), c.suggested) << ::testing::PrintToString(c.dates);
    }
    DateOrderDetector mixed;
    for (const char* d : {"05/09/97", " 24/12/99", "12/24/99", "25/12/99"}) mixed.add(d);
    EXPECT_EQ(mixed.dayFirstExample(), "24/12/99");
    EXPECT_EQ(mixed.monthFirstExample(), "12/24/99");
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The old log's Date and Time fields are free text typed by the listener: most
// wrote month/day/year, many Europeans day/month/year, nearly all with a
// two-digit year. Reading them as dates needs the order, which only the log as
// a whole can tell.
namespace zolt {

enum class DateOrder { MonthFirst, DayFirst };

struct CalendarDate {
    int year = 0, month = 0, day = 0;
    bool operator==(const CalendarDate&) const = default;
    auto operator<=>(const CalendarDate&) const = default;
};

// A date of the old log: three numbers separated by "/", "-", "." or blanks,
// the year last with two or four digits ("12/24/99", "24.12.1999", "1/5/03"),
// or four digits first for year-month-day ("1999/12/24"). Two-digit years
// 50-99 are 1950-1999, 00-49 are 2000-2049. `order` decides a date that reads
// either way (05/09/97); a date that only one order can read (24/12/99 under
// month first) is read that way, since no other reading exists. nullopt for
// anything else, and for days a month does not have (02/30/99).
std::optional<CalendarDate> readOldDate(std::string_view text, DateOrder order);

// "1999-12-24".
std::string isoDate(CalendarDate date);

// A time of the old log as minutes after midnight: HHMM from 0000 to 2359;
// "930" (a leading zero left off) and "09:30" read too. nullopt otherwise.
std::optional<int> readOldTime(std::string_view text);

// What a set of dates says about their order. A date whose first number is
// above 12 can only be day first; one whose second number is above 12 only
// month first. Dates of both kinds in one log are mixed: the listener must
// say how to read the rest. Dates of neither kind decide nothing, and month
// first, the old program's own habit, is assumed until the listener says
// otherwise.
class DateOrderDetector {
  public:
    void add(std::string_view text);

    enum class Finding { Undecided, MonthFirst, DayFirst, Mixed };
    Finding finding() const;
    // The order to offer first: the one found, month first otherwise.
    DateOrder suggested() const;
    // The first date seen of each kind, to show the listener ("24/12/99").
    const std::string& dayFirstExample() const { return dayFirstExample_; }
    const std::string& monthFirstExample() const { return monthFirstExample_; }

  private:
    int dayFirst_ = 0, monthFirst_ = 0;
    std::string dayFirstExample_, monthFirstExample_;
};

// A number that sorts the receptions by when they were heard: the date, then
// the time where it reads; -1 when the date does not read.
long long receptionSortKey(std::string_view date, std::string_view time, DateOrder order);

}  // namespace zolt

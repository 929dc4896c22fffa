// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/OldDates.h"

#include <array>

namespace zolt {
namespace {

struct Numbers {
    std::array<int, 3> value{};
    std::array<int, 3> digits{};
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\0' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Three runs of one to four digits, each pair apart by one separator mark
// or by blanks alone; nothing else may stand in the text.
std::optional<Numbers> threeNumbers(std::string_view text) {
    text = trimmed(text);
    Numbers out;
    std::size_t i = 0;
    for (int n = 0; n < 3; ++n) {
        if (n > 0) {
            const std::size_t start = i;
            while (i < text.size() && isBlank(text[i])) ++i;
            if (i < text.size() && (text[i] == '/' || text[i] == '-' || text[i] == '.')) {
                ++i;
                while (i < text.size() && isBlank(text[i])) ++i;
            } else if (i == start) {
                return std::nullopt;
            }
        }
        int digits = 0, value = 0;
        while (i < text.size() && isDigit(text[i]) && digits < 5) {
            value = value * 10 + (text[i] - '0');
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 4) return std::nullopt;
        out.value[n] = value;
        out.digits[n] = digits;
    }
    if (i != text.size()) return std::nullopt;
    return out;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysIn(int month, int year) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

std::optional<CalendarDate> valid(int year, int month, int day) {
    if (month < 1 || month > 12 || day < 1 || day > daysIn(month, year)) return std::nullopt;
    return CalendarDate{year, month, day};
}

std::optional<int> fullYear(int value, int digits) {
    if (digits == 2) return value >= 50 ? 1900 + value : 2000 + value;
    // A four-digit year stands as written; one or three digits are no year
    // anyone writes, more likely a slip of the keyboard.
    if (digits == 4 && value >= 1000) return value;
    return std::nullopt;
}

bool yearFirst(const Numbers& n) { return n.digits[0] == 4; }

}  // namespace

std::optional<CalendarDate> readOldDate(std::string_view text, DateOrder order) {
    const auto n = threeNumbers(text);
    if (!n) return std::nullopt;
    if (yearFirst(*n)) {
        if (n->digits[1] > 2 || n->digits[2] > 2) return std::nullopt;
        return valid(n->value[0], n->value[1], n->value[2]);
    }
    if (n->digits[0] > 2 || n->digits[1] > 2) return std::nullopt;
    const auto year = fullYear(n->value[2], n->digits[2]);
    if (!year) return std::nullopt;
    const auto monthFirst = valid(*year, n->value[0], n->value[1]);
    const auto dayFirst = valid(*year, n->value[1], n->value[0]);
    if (order == DateOrder::MonthFirst) return monthFirst ? monthFirst : dayFirst;
    return dayFirst ? dayFirst : monthFirst;
}

std::string isoDate(CalendarDate date) {
    std::string out(10, '0');
    auto put = [&out](std::size_t at, int value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            out[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
    };
    put(0, date.year, 4);
    out[4] = '-';
    put(5, date.month, 2);
    out[7] = '-';
    put(8, date.day, 2);
    return out;
}

std::optional<int> readOldTime(std::string_view text) {
    text = trimmed(text);
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // One colon between hours and two digits of minutes.
        if (c == ':' && i > 0 && i + 3 == text.size()) continue;
        if (!isDigit(c)) return std::nullopt;
        digits += c;
    }
    if (digits.size() < 3 || digits.size() > 4) return std::nullopt;
    const int value = std::stoi(digits);
    const int hours = value / 100, minutes = value % 100;
    if (hours > 23 || minutes > 59) return std::nullopt;
    return hours * 60 + minutes;
}

void DateOrderDetector::add(std::string_view text) {
    const auto n = threeNumbers(text);
    if (!n || yearFirst(*n) || n->digits[0] > 2 || n->digits[1] > 2) return;
    const auto year = fullYear(n->value[2], n->digits[2]);
    if (!year) return;
    const int first = n->value[0], second = n->value[1];
    // Only a date that is a real date in its one order counts: 13/13/99 or
    // 31/02/99 are slips that say nothing about the listener's habit.
    if (first > 12 && second <= 12 && valid(*year, second, first)) {
        if (dayFirst_++ == 0) dayFirstExample_ = std::string(trimmed(text));
    } else if (second > 12 && first <= 12 && valid(*year, first, second)) {
        if (monthFirst_++ == 0) monthFirstExample_ = std::string(trimmed(text));
    }
}

DateOrderDetector::Finding DateOrderDetector::finding() const {
    if (dayFirst_ > 0 && monthFirst_ > 0) return Finding::Mixed;
    if (dayFirst_ > 0) return Finding::DayFirst;
    if (monthFirst_ > 0) return Finding::MonthFirst;
    return Finding::Undecided;
}

DateOrder DateOrderDetector::suggested() const {
    return finding() == Finding::DayFirst ? DateOrder::DayFirst : DateOrder::MonthFirst;
}

long long receptionSortKey(std::string_view date, std::string_view time, DateOrder order) {
    const auto day = readOldDate(date, order);
    if (!day) return -1;
    const long long days = (day->year * 100LL + day->month) * 100LL + day->day;
    return days * 1440 + readOldTime(time).value_or(0);
}

}  // namespace zolt

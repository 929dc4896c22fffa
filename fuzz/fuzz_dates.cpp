// SPDX-License-Identifier: GPL-2.0-or-later
// The old log's Date and Time fields as typed, and the date-order detection
// the export runs over the whole log: each line of the input is one
// reception's "date|time".

#include <cstdlib>

#include "core/OldDates.h"
#include "fuzz/FuzzUtil.h"

using namespace zolt;

namespace {

void readOne(std::string_view date, std::string_view time) {
    for (const DateOrder order : {DateOrder::MonthFirst, DateOrder::DayFirst}) {
        const auto read = readOldDate(date, order);
        if (read) {
            if (read->month < 1 || read->month > 12 || read->day < 1 || read->day > 31) {
                std::abort();
            }
            // The ISO form reads back as the same date, whatever the order.
            if (readOldDate(isoDate(*read), order) != read) std::abort();
        }
        const long long key = receptionSortKey(date, time, order);
        if ((key < 0) != !read) std::abort();
    }
    const auto minutes = readOldTime(time);
    if (minutes && (*minutes < 0 || *minutes >= 24 * 60)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input = fuzz::asText(data, size);
    DateOrderDetector detector;
    while (!input.empty()) {
        const std::size_t end = std::min(input.find('\n'), input.size());
        const std::string_view line = input.substr(0, end);
        input.remove_prefix(std::min(end + 1, input.size()));
        const std::size_t bar = line.find('|');
        const std::string_view date = line.substr(0, bar);
        const std::string_view time =
            bar == std::string_view::npos ? std::string_view() : line.substr(bar + 1);
        readOne(date, time);
        detector.add(date);
    }
    const auto finding = detector.finding();
    const DateOrder suggested = detector.suggested();
    if (finding == DateOrderDetector::Finding::DayFirst && suggested != DateOrder::DayFirst) {
        std::abort();
    }
    if (finding == DateOrderDetector::Finding::Mixed &&
        (detector.dayFirstExample().empty() || detector.monthFirstExample().empty())) {
        std::abort();
    }
    return 0;
}

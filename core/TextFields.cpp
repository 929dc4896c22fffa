// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/TextFields.h"

#include <atomic>
#include <charconv>
#include <cmath>

namespace zolt {

std::string trimBlanks(std::string_view text) { return std::string(trimmedView(text)); }

std::string_view trimmedView(std::string_view text) {
    std::size_t first = 0, end = text.size();
    while (first < end && text[first] == ' ') ++first;
    while (end > first && text[end - 1] == ' ') --end;
    return text.substr(first, end - first);
}

std::string_view trimmedSpaceTab(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

bool equalsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsAsciiNoCase(text.substr(0, prefix.size()), prefix);
}

std::string padField(std::string_view text, std::size_t width) {
    std::string out(text.substr(0, width));
    out.resize(width, ' ');
    return out;
}

double leadingNumber(std::string_view text) {
    std::string digits;
    bool seenSign = false, seenPoint = false, seenDigit = false;
    for (char c : text) {
        if (c == ' ') continue;
        if (c >= '0' && c <= '9') {
            digits += c;
            seenDigit = true;
        } else if ((c == '+' || c == '-') && !seenSign && !seenDigit && !seenPoint) {
            digits += c;
            seenSign = true;
        } else if (c == '.' && !seenPoint) {
            digits += c;
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit) return 0.0;
    // A lone trailing point ("350.") still reads as 350.
    double value = 0.0;
    const char* begin = digits.data();
    if (*begin == '+') ++begin;
    std::from_chars(begin, digits.data() + digits.size(), value);
    return value == 0.0 ? 0.0 : value;  // no negative zero in texts
}

std::string shortestDecimal(double value) {
    if (!std::isfinite(value) || value == 0.0) return "0";
    // Fixed notation, shortest digits that read back as the same double. Not
    // printf: the window's locale may use a decimal comma, and SQL text must not.
    char buf[512];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (result.ec != std::errc()) return "0";
    return std::string(buf, result.ptr);
}

std::string fixedDecimal(double value, int places) {
    // Empty past 63 characters, far beyond any value a file of ours holds.
    char buf[64];
    const auto result =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, places);
    return result.ec == std::errc() ? std::string(buf, result.ptr) : std::string();
}

std::string groupedDigits(long long n, std::string_view separator) {
    // Through unsigned: the smallest long long has no positive counterpart.
    const unsigned long long magnitude =
        n < 0 ? 0ull - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    const std::string digits = std::to_string(magnitude);
    std::string out = n < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
        out += digits[i];
    }
    return out;
}

namespace {
std::atomic<NumberFormat> shownFormat{nullptr};
}  // namespace

void setShownNumberFormat(NumberFormat format) { shownFormat.store(format); }

std::string shownNumber(long long n) {
    const NumberFormat format = shownFormat.load();
    return format ? format(n) : groupedDigits(n, ",");
}

std::string shownCount(long long n, std::string_view one, std::string_view many) {
    return shownNumber(n) + " " + std::string(n == 1 ? one : many);
}

std::string withoutControls(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t' && c != '\r' && c != '\n') c = ' ';
    }
    return out;
}

}  // namespace zolt

#include "work/TextFields.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace zolt {

std::string trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
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
    if (!std::isfinite(value)) return "0";
    if (value == 0.0) return "0";
    char buf[64];
    // Shortest text that reads back as the same double, then without exponent.
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, value);
        if (std::strtod(buf, nullptr) == value) break;
    }
    std::string text = buf;
    if (text.find_first_of("eE") == std::string::npos) return text;
    // Exponent form: fall back to fixed notation and strip trailing zeros.
    std::snprintf(buf, sizeof buf, "%.10f", value);
    text = buf;
    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0') text.pop_back();
        if (!text.empty() && text.back() == '.') text.pop_back();
    }
    return text;
}

}  // namespace zolt

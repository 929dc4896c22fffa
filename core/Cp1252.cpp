// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/Cp1252.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "core/Utf8.h"

namespace zolt {
namespace {

// Code points of bytes 0x80 … 0x9F; the five unassigned bytes keep their C1
// control so that any byte sequence survives a round trip.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t codePointOf(unsigned char byte) {
    return (byte >= 0x80 && byte <= 0x9F) ? kHigh[byte - 0x80] : char32_t{byte};
}

const std::unordered_map<char32_t, unsigned char>& reverseHigh() {
    static const auto table = [] {
        std::unordered_map<char32_t, unsigned char> map;
        for (unsigned i = 0; i < kHigh.size(); ++i) map.emplace(kHigh[i], 0x80 + i);
        return map;
    }();
    return table;
}

bool isAscii(std::string_view bytes) {
    // Eight bytes at a time: any high bit in the word is a byte past ASCII.
    std::size_t i = 0;
    std::uint64_t high = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, sizeof word);
        high |= word;
    }
    for (; i < bytes.size(); ++i) high |= static_cast<unsigned char>(bytes[i]);
    return (high & 0x8080808080808080u) == 0;
}

}  // namespace

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) appendUtf8(out, codePointOf(static_cast<unsigned char>(c)));
    return out;
}

std::string_view cp1252ToUtf8(std::string_view bytes, std::string& buffer) {
    if (isAscii(bytes)) return bytes;
    buffer.clear();
    for (char c : bytes) appendUtf8(buffer, codePointOf(static_cast<unsigned char>(c)));
    return buffer;
}

std::string utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::optional<char32_t> decoded = nextUtf8(utf8, i);
        if (!decoded) {
            out += '?';
            continue;
        }
        const char32_t cp = *decoded;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
        } else if (auto it = reverseHigh().find(cp); it != reverseHigh().end()) {
            out += static_cast<char>(it->second);
        } else {
            out += '?';
        }
    }
    return out;
}

}  // namespace zolt

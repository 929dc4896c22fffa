// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/LandOutline.h"

#include <charconv>
#include <string>
#include <string_view>

#include "core/EngineError.h"
#include "core/FileUtil.h"

namespace zolt {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

[[noreturn]] void badLine(const std::filesystem::path& file, std::size_t lineNo,
                          const std::string& reason) {
    throw EngineError("Could not load the world map outline from " + describePath(file) +
                      ": line " + std::to_string(lineNo) + " " + reason + ".");
}

// Parses one ring line; the caller has skipped comments and empty lines.
LandRing parseRing(std::string_view line, const std::filesystem::path& file, std::size_t lineNo) {
    std::vector<int> values;
    values.reserve(line.size() / 5);
    const char* p = line.data();
    const char* const end = p + line.size();
    while (true) {
        while (p != end && isBlank(*p)) ++p;
        if (p == end) break;
        int v = 0;
        const auto [next, ec] = std::from_chars(p, end, v);
        if (ec != std::errc() || (next != end && !isBlank(*next))) {
            badLine(file, lineNo, "is not a list of whole numbers");
        }
        values.push_back(v);
        p = next;
    }
    if (values.size() % 2 != 0) {
        badLine(file, lineNo,
                "holds an odd number of values (" + std::to_string(values.size()) +
                    "), so one longitude has no latitude");
    }
    if (values.size() < 6) badLine(file, lineNo, "has fewer than three points");

    LandRing ring;
    ring.reserve(values.size() / 2);
    for (std::size_t i = 0; i < values.size(); i += 2) {
        const int lon = values[i];
        const int lat = values[i + 1];
        if (lon < -18000 || lon > 18000 || lat < -9000 || lat > 9000) {
            badLine(file, lineNo,
                    "has the point " + std::to_string(lon) + " " + std::to_string(lat) +
                        ", which lies outside longitude -180..180 or latitude -90..90 "
                        "(the values are hundredths of a degree)");
        }
        ring.push_back(LatLon{lat / 100.0, lon / 100.0});
    }
    return ring;
}

}  // namespace

std::vector<LandRing> loadLandOutline(const std::filesystem::path& file) {
    const std::string text = readWholeFile(file);
    std::vector<LandRing> rings;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        const std::string_view line(text.data() + pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos || line[first] == '#') continue;
        rings.push_back(parseRing(line, file, lineNo));
    }
    if (rings.empty()) {
        throw EngineError("Could not load the world map outline from " + describePath(file) +
                          ": it holds no coastline rings.");
    }
    return rings;
}

}  // namespace zolt

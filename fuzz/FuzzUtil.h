// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// What the fuzz targets share: a scratch folder of this process where each
// input becomes real files, a way to cut one input into several files, and a
// small beacon database to match against.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/MatchingRun.h"
#include "work/LocationStates.h"

namespace zolt::fuzz {

// Between the files of one input. The dictionaries name it, so the fuzzer
// adds and removes files as readily as it changes their bytes.
inline constexpr std::string_view kPartMark = "\n@@\n";

std::string_view asText(const std::uint8_t* data, std::size_t size);

// The input cut at each kPartMark into at most `most` parts (the last part
// keeps any further marks); at least one part, maybe empty.
std::vector<std::string_view> splitParts(std::string_view input, std::size_t most);

// `name` under the process's scratch folder, emptied (made anew) each call.
// The scratch folder lives in memory where the system offers that
// (/dev/shm), so that the database's syncs cost little.
std::filesystem::path freshFolder(std::string_view name);

void writeFile(const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const std::filesystem::path& path);

// Writes each part as an old log into `folder`: the part's first byte picks
// the location (log0 … log15) and, by its top bit, the name's letter case
// (LOG3.BAK as copied from another disk); the rest is the file. Empty parts
// write nothing. Returns the files written.
std::vector<std::filesystem::path> writeOldLogs(const std::filesystem::path& folder,
                                                const std::vector<std::string_view>& parts);

// Appends NDBLog rows, one per line of `rows`: "location|time|date|comment",
// against the listed beacons in turn, as a project already matched holds them.
void addLoggedRows(const std::filesystem::path& database, std::string_view rows);

// A project in freshFolder(name): work/ with a small beacon database (the
// schema and a few beacons, some of them sharing ident and frequency) and an
// empty backup/ folder.
ProjectPaths freshProject(std::string_view name);

// The beacons of that database, for the seeds and dictionaries.
struct SmallBeacon {
    const char* ident;
    double frequency;
    double latitude, longitude;
};
const std::vector<SmallBeacon>& smallBeacons();

}  // namespace zolt::fuzz

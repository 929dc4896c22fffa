// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

namespace zolt::bench {

// The largest project: sixteen full old logs of `perLocation` receptions
// each, written into `folder/backup` and converted into `folder/work`.
struct Archive {
    std::filesystem::path backup;
    std::filesystem::path work;
};
Archive writeArchiveBackups(const std::filesystem::path& pristine,
                            const std::filesystem::path& folder, int perLocation);

// Times the import, the start-up state check, selecting a location, Match
// All Locations and the reports on such an archive, each printed with its
// target; returns whether every target was met.
bool runArchiveBench(const std::filesystem::path& pristine, const std::filesystem::path& folder,
                     int perLocation);

}  // namespace zolt::bench

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

namespace zolt {

// Where a project's files lie: the working folder the converter owns and the
// backups it was imported from.
struct ProjectPaths {
    std::filesystem::path WorkFolder;     // holds the files below
    std::filesystem::path DatabasePath;   // WorkFolder / ndbdata.ndf
    std::filesystem::path ProcessedPath;  // WorkFolder / processed.dat
    std::filesystem::path BackupFolder;   // the old backups (never written)
};

}  // namespace zolt

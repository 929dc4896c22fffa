// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Helpers for tests of the engine layer: a scratch project with its own copy
// of the pristine database.

#include <filesystem>

#include "DbTestUtil.h"
#include "engine/MatchingRun.h"
#include "work/LocationStates.h"

namespace zolt::test {

// A project under `root`: work/ with a copy of the pristine database, and an
// empty backup/ folder.
inline ProjectPaths makeProject(const std::filesystem::path& root) {
    const ProjectPaths paths{root / "work", root / "work" / "ndbdata.ndf",
                             root / "work" / "processed.dat", root / "backup"};
    std::filesystem::create_directories(paths.WorkFolder);
    std::filesystem::create_directories(paths.BackupFolder);
    copyPristineDatabase(paths.DatabasePath);
    return paths;
}

}  // namespace zolt::test

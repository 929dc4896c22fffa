// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"
#include "work/WorkingFileCheck.h"

namespace zolt {

// What start-up, Continue, FINALIZE and each location choice must know about
// processed.dat before they trust it.
struct WorkingFileHealth {
    WorkingFileCheck check;
    std::int64_t logged = 0;  // NDBLog rows; counted only where it decides
    // Empty when the file may be used (or is handled as before: missing or
    // empty with nothing logged). Otherwise a sentence naming the file and
    // what is wrong with it.
    std::string problem;
};
WorkingFileHealth assessWorkingFile(const ProjectPaths& paths);

struct RebuildOutcome {
    std::size_t records = 0;  // receptions in the new working file
    std::size_t settled = 0;  // of them marked OK: NDBLog already holds them
    std::vector<PartialRecord> partial;
};

// Builds processed.dat anew from the .bak logs of the backup folder and marks
// as settled (OK) every reception that NDBLog already holds for its location:
// the same time, date and comment, one row settling one reception. Where the
// rows cannot be told apart (more rows than receptions, or one row for
// receptions that differ in ident or frequency), nothing is changed and
// EngineError says which. Every other reception is UNP, to be matched again.
RebuildOutcome rebuildWorkingFile(const ProjectPaths& paths);

}  // namespace zolt

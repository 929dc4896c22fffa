// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

namespace zolt::bench {

// Times, on a copy of a project after its matching run: Add To Log for all
// instances of a pair, the data of the logged view, Return To Waiting of
// 5,000 logged receptions and the Undo of it. Prints each figure with its
// target; returns whether all were met.
bool runReversalBench(const ProjectPaths& project, int location,
                      const std::filesystem::path& scratch);

// Times, on a matched project (the archive), the location session: choosing
// `location`, then a Return To Waiting of one logged reception and its Undo
// with the logged receptions on screen, each with the database opens and
// reads of processed.dat it took. Returns whether the choice met its target.
bool runSessionBench(const ProjectPaths& project, int location);

}  // namespace zolt::bench

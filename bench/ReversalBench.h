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

}  // namespace zolt::bench

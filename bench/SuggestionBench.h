// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

#include "bench/DataGenerator.h"
#include "engine/MatchingRun.h"
#include "work/LocationStates.h"

namespace zolt::bench {

// Times what Add Suggested Picks costs on a location after its matching run:
// the location's home and the suggestions for every waiting reception, then
// settling them. Works on a copy of the project in `scratch`, so that the
// project itself stays as the run left it. Prints its figures under `label`.
void runSuggestionBench(const char* label, const ProjectPaths& project, int location,
                        const std::filesystem::path& scratch);

// The same on data generated with `options` around a listener at `listener`
// (a project of its own in `folder`, matched by the engine first).
void runListenerSuggestionBench(const std::filesystem::path& pristine,
                                const std::filesystem::path& folder, GeneratorOptions options,
                                LatLon listener);

}  // namespace zolt::bench

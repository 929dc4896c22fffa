// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

namespace zolt {

// The reception selected in the upper list and the candidate chosen below
// (raw Windows-1252 field texts at full width, as listed).
struct Selection {
    std::string SelectedIdent, SelectedFrequency, SelectedTime, SelectedDate, SelectedComment;
    std::int64_t SelectedBeaconId = 0;
};

// Logs the chosen beacon for the selected reception (applyAll false: one row;
// every entry with the same ident, frequency, date and time becomes OK) or for
// every entry with the same ident and frequency (one row each). Entries that
// are already OK are skipped. Rows and states land together or not at all.
// Returns the number of rows appended.
int addToLog(const ProjectPaths& paths, WorkingSet& set, const Selection& selection, bool applyAll);

// What a logging action that failed before its commit says it kept.
inline constexpr std::string_view kNothingLogged = "Nothing was logged.";

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/DecisionRecord.h"
#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

namespace zolt {

// The reception selected in the upper list and the candidate chosen below
// (raw Windows-1252 field texts at full width, as listed).
struct Selection {
    std::string SelectedIdent, SelectedFrequency, SelectedTime, SelectedDate, SelectedComment;
    std::int32_t SelectedBeaconId = 0;
};

// Logs the chosen beacon for the selected reception (applyAll false: one row;
// every entry with the same ident, frequency, date and time becomes OK) or for
// every entry with the same ident and frequency (one row each). Entries that
// are already OK are skipped. Rows and states land together or not at all.
// Returns the number of rows appended.
int addToLog(const ProjectPaths& paths, WorkingSet& set, const Selection& selection, bool applyAll);

// What a logging action that failed before its commit says it kept.
inline constexpr std::string_view kNothingLogged = "Nothing was logged.";

// A reception to append to NDBLog: its beacon and its fields (raw
// Windows-1252, trimmed).
struct ReceptionRow {
    std::int64_t beaconId = 0;
    std::string time, date, comment;
};

// Appends `rows` for the location of `settled` and writes the states of the
// entries in `settled` back to processed.dat, together: whatever can refuse
// the state write refuses before the commit, and the states are journaled
// with the rows (engine/StateJournal.h), so that a kill in between is
// completed later instead of leaving the receptions to be logged again. Only
// the settled entries are written, so that a working set gone stale never
// puts back states that changed on disk since. `decisions`, when given, are
// recorded in the same transaction (engine/DecisionRecord.h).
void logAndSaveStates(const ProjectPaths& paths, const std::vector<ReceptionRow>& rows,
                      const WorkingSet& settled, const PendingDecisions* decisions = nullptr);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

// Reversing decisions: Return To Waiting takes chosen receptions out of the
// log, Undo Last Action reverses a location's latest action. Both change the
// log, the record (engine/DecisionRecord.h) and processed.dat together: the
// new processed.dat is written and flushed before the commit and renamed
// right after it, as Add To Log does.

namespace zolt {

// Puts the OK receptions at `positions` (1-based, of the loaded location)
// back among the waiting ones: their rows leave NDBLog and each gets back
// the state it had before it was settled. A reception settled by the run
// (or logged before the record existed) becomes AMB when the beacon list
// offers candidates with its ident and frequency, else MIS. Receptions that
// share one row (the same reception twice in the old log) go together.
// `set` is reloaded afterwards. Returns the number of receptions returned.
int returnToWaiting(const ProjectPaths& paths, WorkingSet& set, const std::vector<int>& positions);

// The positions Return To Waiting would return for `positions`: those and
// every reception sharing a row with one of them.
std::vector<int> returnedWith(const ProjectPaths& paths, int location,
                              const std::vector<int>& positions);

// The action Undo would reverse next, for the prompt and the button.
struct UndoOffer {
    std::string action;  // "Add To Log", "Add Suggested Picks", "Return To Waiting"
    int receptions = 0;  // receptions whose state it changes back
};
std::optional<UndoOffer> nextUndo(const ProjectPaths& paths, int location);

// Reverses the latest Add To Log, Add Suggested Picks or Return To Waiting
// of the loaded location that is not undone yet: processed.dat gets back its
// bytes of before the action and NDBLog its rows (under new Log_IDs where
// rows come back). Refuses, changing nothing, when the record no longer
// agrees with the log or processed.dat. `set` is reloaded afterwards.
UndoOffer undoLastAction(const ProjectPaths& paths, WorkingSet& set);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <algorithm>
#include <cstdint>
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
// The same from receptions already paired with their rows (anything with a
// `position` and a `logId`, 0 for none), in their order: a row is taken out
// whole, so every reception it settled goes with a chosen one.
template <typename Logged>
std::vector<const Logged*> returnedWithRows(const std::vector<Logged>& logged,
                                            const std::vector<int>& positions) {
    std::vector<int> chosen(positions);
    std::sort(chosen.begin(), chosen.end());
    const auto isChosen = [&](int position) {
        return std::binary_search(chosen.begin(), chosen.end(), position);
    };
    std::vector<std::int64_t> rows;
    for (const auto& r : logged) {
        if (r.logId != 0 && isChosen(r.position)) rows.push_back(r.logId);
    }
    std::sort(rows.begin(), rows.end());
    std::vector<const Logged*> result;
    for (const auto& r : logged) {
        if (isChosen(r.position) ||
            (r.logId != 0 && std::binary_search(rows.begin(), rows.end(), r.logId))) {
            result.push_back(&r);
        }
    }
    return result;
}

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

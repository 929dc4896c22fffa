// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/AddToLog.h"

#include "engine/LocationActions.h"
#include "engine/ProcessedBytes.h"

namespace zolt {

int addToLog(const ProjectPaths& paths, WorkingSet& set, const Selection& selection,
             bool applyAll) {
    AddToLogAction action(set, selection, applyAll);
    if (action.empty()) return 0;
    std::optional<LogStore> store;
    const Performed performed = perform(action, paths, set.location, store);
    // The caller's states change only once rows and file are stored.
    performed.written.applyTo(set);
    return action.rows();
}

}  // namespace zolt

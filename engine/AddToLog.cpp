// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/AddToLog.h"

#include "engine/LocationActions.h"
#include "engine/ProcessedBytes.h"

namespace zolt {

int addToLog(const ProjectPaths& paths, WorkingSet& set, const Selection& selection,
             bool applyAll) {
    AddToLogAction action(set, selection, applyAll);
    if (action.empty()) return 0;
    performOn(action, paths, set);
    return action.rows();
}

}  // namespace zolt

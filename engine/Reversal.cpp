// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/Reversal.h"

#include "engine/LocationActions.h"
#include "engine/LogStore.h"
#include "engine/ProcessedBytes.h"

namespace zolt {

std::vector<int> returnedWith(const ProjectPaths& paths, int location,
                              const std::vector<int>& positions) {
    const ProcessedBytes processed(paths.ProcessedPath, ProcessedBytes::How::Copied);
    LogStore store(paths, LogStore::Mode::Read);
    const auto logged =
        store.pairLogged(workingSetOf(paths.ProcessedPath, processed.bytes(), location));
    std::vector<int> result;
    for (const PairedReception* r : returnedWithRows(logged, positions)) {
        result.push_back(r->position);
    }
    return result;
}

int returnToWaiting(const ProjectPaths& paths, WorkingSet& set, const std::vector<int>& positions) {
    ReturnAction action(set.location, positions);
    if (positions.empty()) {
        action.check(paths);
        return 0;
    }
    std::optional<LogStore> store;
    Performed performed = perform(action, paths, set.location, store);
    // The set as the file now holds it.
    set = *performed.after(paths, set.location);
    return action.returned();
}

std::optional<UndoOffer> nextUndo(const ProjectPaths& paths, int location) {
    LogStore store(paths, LogStore::Mode::Read);
    return undoOffer(store, location);
}

UndoOffer undoLastAction(const ProjectPaths& paths, WorkingSet& set) {
    UndoAction action(set.location);
    std::optional<LogStore> store;
    Performed performed = perform(action, paths, set.location, store);
    set = *performed.after(paths, set.location);
    return action.undone();
}

}  // namespace zolt

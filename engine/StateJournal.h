// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <string_view>

#include "core/EngineError.h"
#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

// An action that logs rows commits them and then writes the new states into
// processed.dat. A process killed in between would leave the rows logged and
// the receptions still waiting, to be logged a second time. So the states to
// be written go into the database in the rows' own transaction (the table
// ConverterStateWrite of engine/DecisionRecord.h) and are cleared once they
// are on disk; whatever is still there when the project is next looked at,
// or when the next action begins, is written first. Writing them again is
// harmless: only State bytes change, to what the committed rows say.

namespace zolt {

// The journal's statements are LogStore's (engine/LogStore.h): it commits an
// action's transaction with its states journaled (LogStore::commit) and
// completes what a kill left (LogStore::completeStateWrites).

// Runs `action(committing)` of an action that ends in LogStore::commit and
// sets `committing` just before it: a failure before that point rolled
// everything back and ends with `kept` ("Nothing was logged."); one after it
// says itself what is stored.
template <typename Action>
auto keptUnlessCommitting(std::string_view kept, Action&& action) {
    bool committing = false;
    try {
        return action(committing);
    } catch (const EngineError&) {
        if (committing) throw;
        sayingWhatWasKept(kept, [] { throw; });
        throw;
    }
}

// Writes every journaled state write into processed.dat and removes it from
// the journal, with a connection and transaction of its own, for start-up and
// each location choice; an action does it in its own transaction first.
// Only reads unless something is journaled; a database that cannot be read
// at all is left for the next action.
bool completeStateWrites(const ProjectPaths& paths);

// Forgets the journal without writing it, for a processed.dat built anew
// from the backups and the log rows. Does nothing when it is empty.
void discardStateWrites(const ProjectPaths& paths);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/StateJournal.h"

#include "core/EngineError.h"
#include "engine/LogStore.h"

namespace zolt {

bool completeStateWrites(const ProjectPaths& paths) {
    try {
        LogStore store(paths, LogStore::Mode::Read);
        if (!store.hasStateWrites()) return false;
    } catch (const EngineError&) {
        // The database cannot be read now (another program holds it): the
        // look goes on without it. Every action completes the journal in
        // its own transaction before it reads the file, and one that finds
        // the database held stops with its own message.
        return false;
    }
    LogStore store(paths, LogStore::Mode::Write);
    const bool any = store.completeStateWrites(paths.ProcessedPath);
    store.commit();
    return any;
}

void discardStateWrites(const ProjectPaths& paths) {
    {
        LogStore store(paths, LogStore::Mode::Read);
        if (!store.hasStateWrites()) return;
    }
    // Outside a transaction, as one statement.
    Database db(paths.DatabasePath);
    LogStore(db).discardStateWrites();
}

}  // namespace zolt

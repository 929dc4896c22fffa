// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/StateJournal.h"

#include <string>
#include <utility>
#include <vector>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "db/Database.h"
#include "engine/DecisionRecord.h"

namespace zolt {
namespace {

bool hasStateWrites(Database& db) {
    const auto count = [&db](std::string_view sql) {
        return std::get<std::int64_t>(db.prepare(sql).query().rows.at(0).at(0));
    };
    return count("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                 "name = 'ConverterStateWrite'") > 0 &&
           count("SELECT count(*) FROM ConverterStateWrite") > 0;
}

}  // namespace

void commitWithStates(Database& db, Transaction& transaction, PendingStates& states,
                      std::string_view keptOnFailure) {
    const StateStretch& stretch = states.stretch();
    std::int64_t writeId = 0;
    const auto journalAndCommit = [&] {
        if (!stretch.states.empty()) {
            ensureDecisionRecord(db);
            db.prepare(
                  "INSERT INTO ConverterStateWrite (loggedlocation, FirstPosition, States, "
                  "FileSize, Fingerprint) VALUES (?, ?, ?, ?, ?)")
                .bindInt64(1, stretch.location)
                .bindInt64(2, stretch.first)
                .bindBlob(3, stretch.states)
                .bindInt64(4, static_cast<std::int64_t>(stretch.fileSize))
                .bindInt64(5, static_cast<std::int64_t>(stretch.fingerprint))
                .execute();
            writeId = db.lastInsertRowId();
        }
        transaction.commit();
    };
    if (keptOnFailure.empty()) {
        journalAndCommit();
    } else {
        sayingWhatWasKept(keptOnFailure, journalAndCommit);
    }
    reachStateWritePoint(StateWritePoint::AfterCommit);
    try {
        states.commit();
    } catch (const EngineError& error) {
        if (writeId == 0) throw;
        throw EngineError(std::string(error.what()) + " The change is stored in the database " +
                          db.path().string() +
                          "; the receptions' states are written when the location is next "
                          "chosen.");
    }
    reachStateWritePoint(StateWritePoint::AfterWrite);
    if (writeId == 0) return;
    try {
        db.prepare("DELETE FROM ConverterStateWrite WHERE Write_ID = ?")
            .bindInt64(1, writeId)
            .execute();
    } catch (const EngineError&) {
        // Rows and states are stored: the action succeeded. Left in the
        // journal, the states are merely written once more later.
    }
}

bool completeStateWrites(Database& db, const std::filesystem::path& processedPath) {
    if (!hasStateWrites(db)) return false;
    std::vector<StateStretch> writes;
    {
        Statement rows = db.prepare(
            "SELECT loggedlocation, FirstPosition, States, FileSize, Fingerprint "
            "FROM ConverterStateWrite ORDER BY Write_ID");
        while (rows.step()) {
            StateStretch s;
            s.location = static_cast<int>(rows.columnInt64(0));
            s.first = static_cast<int>(rows.columnInt64(1));
            s.states = rows.columnBlob(2);
            s.fileSize = static_cast<std::uint64_t>(rows.columnInt64(3));
            s.fingerprint = static_cast<std::uint64_t>(rows.columnInt64(4));
            writes.push_back(std::move(s));
        }
    }
    for (const StateStretch& s : writes) {
        try {
            applyStateStretch(processedPath, s);
        } catch (const EngineError& error) {
            throw EngineError(std::string(error.what()) + " Those states go with receptions " +
                              "that the database " + db.path().string() +
                              " has already logged; nothing was changed.");
        }
    }
    db.executeScript("DELETE FROM ConverterStateWrite");
    return true;
}

bool completeStateWrites(const ProjectPaths& paths) {
    try {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        if (!hasStateWrites(db)) return false;
    } catch (const EngineError&) {
        // The database cannot be read now (another program holds it): the
        // look goes on without it. Every action completes the journal in
        // its own transaction before it reads the file, and one that finds
        // the database held stops with its own message.
        return false;
    }
    Database db(paths.DatabasePath);
    Transaction transaction(db);
    const bool any = completeStateWrites(db, paths.ProcessedPath);
    transaction.commit();
    return any;
}

void discardStateWrites(const ProjectPaths& paths) {
    {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        if (!hasStateWrites(db)) return;
    }
    Database db(paths.DatabasePath);
    db.executeScript("DELETE FROM ConverterStateWrite");
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/AddToLog.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/StateJournal.h"
#include "work/Records.h"
#include "work/WorkingFileCheck.h"

namespace zolt {

void logAndSaveStates(const ProjectPaths& paths, const std::vector<ReceptionRow>& rows,
                      const WorkingSet& settled, const PendingDecisions* decisions) {
    // Until the commit a failure rolls everything back, and says so.
    std::optional<Database> db;
    std::optional<Transaction> transaction;
    std::unique_ptr<PendingStates> pendingStates;
    sayingWhatWasKept(kNothingLogged, [&] {
        db.emplace(paths.DatabasePath);
        transaction.emplace(*db);
        // A state write that a kill cut short goes first; what it settles is
        // then refused below rather than logged again.
        completeStateWrites(*db, paths.ProcessedPath);
        // Inside the transaction: another window may have settled them meanwhile.
        requireStillWaiting(paths.ProcessedPath, settled);
        Statement appendLog = db->prepare(
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
            "ReceptionComments) VALUES (?, ?, ?, ?, ?)");
        for (const auto& row : rows) {
            appendLog
                .bind({row.beaconId, std::int64_t{settled.location}, cp1252ToUtf8(row.time),
                       cp1252ToUtf8(row.date), cp1252ToUtf8(row.comment)})
                .execute();
        }
        if (decisions) storeDecisions(*db, settled.location, *decisions);
        pendingStates = prepareWorkStates(paths.ProcessedPath, settled);
    });
    commitWithStates(*db, *transaction, *pendingStates, kNothingLogged);
}

int addToLog(const ProjectPaths& paths, WorkingSet& set, const Selection& selection,
             bool applyAll) {
    const std::string ident = trimBlanks(selection.SelectedIdent);
    const std::string frequency = trimBlanks(selection.SelectedFrequency);
    const std::string date = trimBlanks(selection.SelectedDate);
    const std::string time = trimBlanks(selection.SelectedTime);

    // After a refill the candidate list may still offer a beacon while no
    // reception is selected; logging then would store a row with empty time
    // and date, or settle every reception with an empty ident.
    if (ident.empty() && frequency.empty() && date.empty() && time.empty()) {
        throw EngineError("Nothing was added to the log: no reception is selected.");
    }
    if (selection.SelectedBeaconId == 0) {
        throw EngineError("Nothing was added to the log: no beacon is chosen for the reception.");
    }
    if (set.location < 1 || set.location > kLocationCount) {
        throw EngineError("Nothing was added to the log: no listening location is selected.");
    }

    // Settle a copy; the caller's states change only once rows and file are stored.
    WorkingSet updated = set;
    std::vector<ReceptionRow> rows;
    PendingDecisions decisions(action::kAddToLog);
    WorkingSet settledOnly;
    settledOnly.location = updated.location;
    for (auto& entry : updated.entries) {
        // An entry already settled has its row; a second one would log the
        // same reception twice.
        if (trimBlanks(entry.state) == trimBlanks(state::OK)) continue;
        if (trimBlanks(entry.ident) != ident || trimBlanks(entry.frequency) != frequency) {
            continue;
        }
        if (applyAll) {
            decisions.settle(rows.size(), how::kPickedForAll, entry);
            rows.push_back({selection.SelectedBeaconId, trimBlanks(entry.time),
                            trimBlanks(entry.date), trimBlanks(entry.comment)});
        } else if (trimBlanks(entry.date) != date || trimBlanks(entry.time) != time) {
            continue;
        } else {
            decisions.settle(0, how::kPicked, entry);
        }
        entry.state = state::OK;
        settledOnly.entries.push_back(entry);
    }
    const bool settled = !settledOnly.entries.empty();
    // One row for the selected reception, however many entries it settles
    // (the same reception logged twice in the old log).
    if (!applyAll && settled) {
        rows.push_back(
            {selection.SelectedBeaconId, time, date, trimBlanks(selection.SelectedComment)});
    }
    if (!settled) return 0;

    recountStates(updated);

    decisions.rows = rows.size();
    logAndSaveStates(paths, rows, settledOnly, &decisions);
    set = std::move(updated);
    return static_cast<int>(rows.size());
}

}  // namespace zolt

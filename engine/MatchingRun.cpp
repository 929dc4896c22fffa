// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/MatchingRun.h"

#include <string>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/UserBeacons.h"
#include "work/Records.h"

namespace zolt {
namespace {

std::int64_t beaconIdOf(const DbValue& cell) {
    if (const auto* id = std::get_if<std::int64_t>(&cell)) return *id;
    if (const auto* real = std::get_if<double>(&cell)) return static_cast<std::int64_t>(*real);
    return static_cast<std::int64_t>(leadingNumber(dbValueText(cell)));
}

}  // namespace

MatchOutcome runMatching(const ProjectPaths& paths, WorkingSet& set,
                         const MatchProgress& progress) {
    MatchOutcome outcome;
    const int count = set.WorkCount();
    if (count > 0 && (set.location < 1 || set.location > kLocationCount)) {
        throw EngineError("The matching run cannot start: no listening location is selected.");
    }

    // Nothing to match and no state to save: the database and processed.dat
    // are left alone.
    if (count == 0) return outcome;

    // The run works on a copy: the caller's states change only once the rows
    // and processed.dat have both been stored.
    WorkingSet updated = set;

    Database db(paths.DatabasePath);
    Transaction transaction(db);

    // Asking for at most two rows tells apart none, exactly one and several
    // beacons with this ident and frequency, which is all the decision needs.
    Statement findBeacon = db.prepare(
        "SELECT Beacon_ID FROM NDBInformation WHERE Ident = ? AND Frequency = ? LIMIT 2");
    Statement appendLog = db.prepare(
        "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
        "ReceptionComments) VALUES (?, ?, ?, ?, ?)");
    UserBeaconIndex userBeacons(paths.BackupFolder, db);

    auto logReception = [&](std::int64_t beaconId, const WorkEntry& entry) {
        appendLog
            .bind({beaconId, std::int64_t{updated.location}, cp1252ToUtf8(trimBlanks(entry.time)),
                   cp1252ToUtf8(trimBlanks(entry.date)), cp1252ToUtf8(trimBlanks(entry.comment))})
            .execute();
        ++outcome.logged;
    };

    for (int i = 1; i <= count; ++i) {
        if (progress) {
            const float percent = static_cast<float>(i) / static_cast<float>(count) * 100.0f;
            if (!progress(i, count, percent)) {
                // Leaving by return drops the transaction: every row of the
                // run is rolled back, and neither processed.dat nor `set`
                // has been touched.
                outcome = MatchOutcome{};
                outcome.cancelled = true;
                return outcome;
            }
        }
        WorkEntry& entry = updated.entries[static_cast<std::size_t>(i - 1)];
        // An entry already settled has its log row; matching it again would
        // log the reception a second time.
        if (trimBlanks(entry.state) == trimBlanks(state::OK)) continue;

        const std::string ident = trimBlanks(entry.ident);
        const double frequency = leadingNumber(entry.frequency);
        const DbResult beacons = findBeacon.bind({cp1252ToUtf8(ident), frequency}).query();

        if (beacons.rowCount() > 1) {
            entry.state = state::AMB;
            ++outcome.ambiguous;
        } else if (beacons.rowCount() == 1) {
            logReception(beaconIdOf(beacons.rows[0][0]), entry);
            entry.state = state::OK;
        } else {
            const UserBeaconLookup user =
                userBeacons.LookupUserBeacon(ident, trimBlanks(entry.frequency));
            if (user.UserBeaconFound) {
                // 32-bit sum: user beacons above 12767 keep a usable number
                // instead of wrapping around as a 16-bit sum would.
                logReception(std::int64_t{user.UserBeaconID} + kUserBeaconOffset, entry);
                entry.state = state::OK;
                ++outcome.userBeacons;
            } else {
                entry.state = state::MIS;
                ++outcome.unresolved;
            }
        }
    }

    recountStates(updated);
    // The new processed.dat is written and flushed before the rows are
    // committed, and renamed into place right after, so that a failure of
    // either leaves the database and the file as they were.
    auto pendingStates = prepareWorkStates(paths.ProcessedPath, updated);
    transaction.commit();
    pendingStates->commit();
    set = std::move(updated);
    return outcome;
}

}  // namespace zolt

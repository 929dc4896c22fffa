// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/MatchingRun.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/AddToLog.h"
#include "engine/DecisionRecord.h"
#include "engine/Project.h"
#include "engine/StateJournal.h"
#include "engine/UserBeacons.h"
#include "work/Records.h"
#include "work/WorkingFileCheck.h"

namespace zolt {
namespace {

// The hash key of an ident and a frequency: the frequency's bytes first (a
// fixed width, so no two pairs run into one key), then the ident in a form in
// which texts NOCASE calls equal are equal byte for byte: ASCII letters
// lower-cased, and every byte after the first NUL made a NUL, since NOCASE
// stops comparing bytes there and only the lengths count.
void makeKey(std::string& key, std::string_view ident, double frequency) {
    // 0 and -0 are one number to SQLite.
    if (frequency == 0.0) frequency = 0.0;
    key.resize(sizeof frequency + ident.size());
    char* out = key.data();
    std::memcpy(out, &frequency, sizeof frequency);
    out += sizeof frequency;
    bool afterNul = false;
    for (const char c : ident) {
        afterNul = afterNul || c == '\0';
        *out++ = afterNul ? '\0' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
}

// Appends the run's NDBLog rows many to a statement: the cost of running a
// statement, AUTOINCREMENT's update of sqlite_sequence included, is then
// shared by all its rows. The rows of one statement are stored in the order
// of its VALUES, so each gets the Log_ID it would get inserted on its own.
class LogAppender {
  public:
    // `location` is a number the caller has checked (1 … 16); it stands in
    // the statement's text, as it is the same in every row.
    LogAppender(Database& db, int location)
        : many_(db.prepare(insertSql(kRows, location))), one_(db.prepare(insertSql(1, location))) {}

    void append(std::int64_t beaconId, std::string_view time, std::string_view date,
                std::string_view comment) {
        Row& row = rows_[pending_++];
        row.beaconId = beaconId;
        row.time.assign(time);
        row.date.assign(date);
        row.comment.assign(comment);
        if (pending_ == kRows) flush();
    }

    // Stores the rows still waiting; due before the transaction is committed.
    void flush() {
        if (pending_ == kRows) {
            bindRows(many_, 0, kRows);
            many_.execute();
        } else {
            for (std::size_t r = 0; r < pending_; ++r) bindRows(one_, r, 1).execute();
        }
        pending_ = 0;
    }

  private:
    static constexpr std::size_t kRows = 64;

    struct Row {
        std::int64_t beaconId = 0;
        std::string time, date, comment;  // UTF-8
    };

    static std::string insertSql(std::size_t rows, int location) {
        const std::string values = "(?, " + std::to_string(location) + ", ?, ?, ?)";
        std::string sql =
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
            "ReceptionComments) VALUES " +
            values;
        for (std::size_t r = 1; r < rows; ++r) sql += ", " + values;
        return sql;
    }

    // The texts are bound where they stand in rows_, which keeps them until
    // the statement has run.
    Statement& bindRows(Statement& statement, std::size_t first, std::size_t count) {
        for (std::size_t r = 0; r < count; ++r) {
            const Row& row = rows_[first + r];
            const int base = static_cast<int>(r * 4);
            statement.bindInt64(base + 1, row.beaconId)
                .bindTextInPlace(base + 2, row.time)
                .bindTextInPlace(base + 3, row.date)
                .bindTextInPlace(base + 4, row.comment);
        }
        return statement;
    }

    Statement many_, one_;
    std::array<Row, kRows> rows_;
    std::size_t pending_ = 0;
};

}  // namespace

ListedBeacons::ListedBeacons(Database& db) {
    Statement rows = db.prepare("SELECT Beacon_ID, Ident, Frequency FROM NDBInformation");
    std::string key;
    while (rows.step()) {
        // Only what can compare equal at all: Ident stored as text, Frequency
        // as a number (the REAL column gives every number it holds as a real).
        const int frequencyType = rows.columnType(2);
        if (rows.columnType(1) != SQLITE_TEXT ||
            (frequencyType != SQLITE_FLOAT && frequencyType != SQLITE_INTEGER)) {
            continue;
        }
        makeKey(key, rows.columnText(1), rows.columnDouble(2));
        Match& match = beacons_[key];
        // Beacon_ID is the table's row number, so always an integer.
        if (match.count == 0) match.beaconId = rows.columnInt64(0);
        if (match.count < 2) ++match.count;
    }
}

ListedBeacons::Match ListedBeacons::find(std::string_view ident, double frequency) const {
    std::string key;
    makeKey(key, ident, frequency);
    const auto found = beacons_.find(std::string_view(key));
    return found == beacons_.end() ? Match{} : found->second;
}

namespace {

// The run; `committing` is set once it hands its rows to the commit, which
// then says itself what was kept when it fails.
MatchOutcome matchLocation(const ProjectPaths& paths, WorkingSet& set,
                           const MatchProgress& progress, bool& committing) {
    MatchOutcome outcome;
    const int count = set.WorkCount();
    if (count > 0 && (set.location < 1 || set.location > kLocationCount)) {
        throw EngineError("The matching run cannot start: no listening location is selected.");
    }

    // Nothing to match and no state to save: the database and processed.dat
    // are left alone.
    if (count == 0) return outcome;
    requireBackupFolder(paths.BackupFolder);
    requireOwnBeaconFile(paths);

    Database db(paths.DatabasePath);
    // Room for every page the run writes: a cache that overflows writes
    // pages out (and syncs the journal) before the commit, which costs time
    // though it stays safe. Only this connection's limit; pages are taken as
    // they are used.
    db.executeScript("PRAGMA cache_size = -16384");
    Transaction transaction(db);
    // A state write that a kill cut short goes first, so that the check
    // below sees what it settled.
    completeStateWrites(db, paths.ProcessedPath);

    const ListedBeacons listed(db);
    LogAppender appendLog(db, set.location);
    UserBeaconIndex userBeacons(paths.BackupFolder, db);

    // The caller's set changes only once the rows and processed.dat have both
    // been stored; until then the new states are kept here (empty: unchanged).
    std::vector<std::string_view> newStates(static_cast<std::size_t>(count));
    std::string identBuffer, timeBuffer, dateBuffer, commentBuffer;

    PendingDecisions decisions(action::kMatchingRun);
    auto logReception = [&](std::int64_t beaconId, const WorkEntry& entry, std::string_view how) {
        decisions.settle(static_cast<std::size_t>(outcome.logged), how, entry);
        appendLog.append(beaconId, cp1252ToUtf8(trimmedView(entry.time), timeBuffer),
                         cp1252ToUtf8(trimmedView(entry.date), dateBuffer),
                         cp1252ToUtf8(trimmedView(entry.comment), commentBuffer));
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
            // The run reads the set as it goes; one that changed under it
            // (through the window, while it took its events) is not saved.
            if (set.WorkCount() != count) {
                throw EngineError(
                    "The matching run stopped because the receptions of the location changed "
                    "while it ran; nothing was logged and no state was saved.");
            }
        }
        const WorkEntry& entry = set.entries[static_cast<std::size_t>(i - 1)];
        std::string_view& newState = newStates[static_cast<std::size_t>(i - 1)];
        // An entry already settled has its log row; matching it again would
        // log the reception a second time.
        if (trimmedView(entry.state) == trimmedView(state::OK)) continue;

        const std::string_view ident = trimmedView(entry.ident);
        const ListedBeacons::Match beacons =
            listed.find(cp1252ToUtf8(ident, identBuffer), leadingNumber(entry.frequency));

        if (beacons.count > 1) {
            newState = state::AMB;
            ++outcome.ambiguous;
        } else if (beacons.count == 1) {
            logReception(beacons.beaconId, entry, how::kUniqueMatch);
            newState = state::OK;
        } else {
            const UserBeaconLookup user =
                userBeacons.LookupUserBeacon(ident, trimmedView(entry.frequency));
            if (user.UserBeaconFound) {
                // 32-bit sum: user beacons above 12767 keep a usable number
                // instead of wrapping around as a 16-bit sum would.
                logReception(std::int64_t{user.UserBeaconID} + kUserBeaconOffset, entry,
                             how::kOwnBeacon);
                newState = state::OK;
                ++outcome.userBeacons;
            } else {
                newState = state::MIS;
                ++outcome.unresolved;
            }
        }
    }
    appendLog.flush();
    // Still inside the transaction: what another window settled meanwhile is
    // never logged a second time.
    requireStillWaiting(paths.ProcessedPath, set, newStates);
    decisions.rows = static_cast<std::size_t>(outcome.logged);
    storeDecisions(db, set.location, decisions);

    // Entries the run left alone keep their state.
    std::vector<bool> changed(newStates.size());
    for (std::size_t i = 0; i < newStates.size(); ++i) {
        changed[i] = !newStates[i].empty();
        if (!changed[i]) newStates[i] = set.entries[i].state;
    }

    // Whatever can refuse the state write refuses before the commit; the
    // states go into the journal with the rows, so that a kill before they
    // are on disk is completed later rather than logged again.
    auto pendingStates = prepareWorkStates(paths.ProcessedPath, set, newStates);
    committing = true;
    commitWithStates(db, transaction, *pendingStates, kNothingLogged);
    for (std::size_t i = 0; i < newStates.size(); ++i) {
        if (changed[i]) set.entries[i].state = newStates[i];
    }
    recountStates(set);
    return outcome;
}

}  // namespace

MatchOutcome runMatching(const ProjectPaths& paths, WorkingSet& set,
                         const MatchProgress& progress) {
    return keptUnlessCommitting(kNothingLogged, [&](bool& committing) {
        return matchLocation(paths, set, progress, committing);
    });
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/Reversal.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/DecisionRecord.h"
#include "engine/StateJournal.h"
#include "work/Records.h"

namespace zolt {
namespace {

void checkLocation(int location, std::string_view what) {
    if (location < 1 || location > kLocationCount) {
        throw EngineError(std::string(what) + ": no listening location is selected.");
    }
}

// The record at `position` as it must be for a change to apply: of this
// location, carrying its own number, in `expected` state. Anything else
// means the file was changed or replaced since the record was written.
bool recordAgrees(std::string_view bytes, int position, int location, std::string_view expected) {
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    if (position < 1 || static_cast<std::size_t>(position) > count) return false;
    const ProcessedRecordView r{
        bytes.substr(static_cast<std::size_t>(position - 1) * ProcessedRecord::kLength,
                     ProcessedRecord::kLength)};
    return r.location() == location && r.recordNo() == static_cast<std::int16_t>(position) &&
           trimmedView(r.state()) == trimmedView(expected);
}

// A working set of just the entries whose states change, for the state save.
WorkEntry entryAt(int location, int position, std::string_view newState) {
    WorkEntry entry;
    entry.location = static_cast<std::int16_t>(location);
    entry.recordNo = position;
    entry.state = std::string(newState);
    return entry;
}

// Stores the states with the same safety as Add To Log: journaled with the
// rows, written after the commit, and the set read back.
void commitAndReload(const ProjectPaths& paths, Database& db, Transaction& transaction,
                     WorkingSet& changed, WorkingSet& set, std::string_view kept,
                     bool& committing) {
    auto pending = prepareWorkStates(paths.ProcessedPath, changed);
    committing = true;
    commitWithStates(db, transaction, *pending, kept);
    set = loadWorkingSet(paths.ProcessedPath, set.location);
}

// Latest action of the location that Undo may reverse: the matching run is
// the floor, nothing before it is offered.
struct LastAction {
    std::int64_t id = 0;
    std::string kind;
};
std::optional<LastAction> lastAction(Database& db, int location) {
    if (!hasDecisionRecord(db)) return std::nullopt;
    Statement read = db.prepare(
        "SELECT Action_ID, Kind FROM ConverterAction WHERE loggedlocation = ? "
        "ORDER BY Action_ID DESC LIMIT 1");
    read.bind({std::int64_t{location}});
    if (!read.step()) return std::nullopt;
    LastAction last{read.columnInt64(0), std::string(read.columnText(1))};
    read.step();
    if (last.kind == action::kMatchingRun) return std::nullopt;
    return last;
}

std::int64_t countOf(Database& db, std::string_view sql, std::int64_t id) {
    Statement read = db.prepare(sql);
    read.bind({id});
    read.step();
    const std::int64_t n = read.columnInt64(0);
    read.step();
    return n;
}

}  // namespace

std::vector<int> returnedWith(const ProjectPaths& paths, int location,
                              const std::vector<int>& positions) {
    const std::string bytes = readWholeFile(paths.ProcessedPath);
    Database db(paths.DatabasePath, Database::Mode::ReadOnly);
    const auto logged = pairLoggedReceptions(db, bytes, location);
    std::vector<int> result;
    for (const PairedReception* r : returnedWithRows(logged, positions)) {
        result.push_back(r->position);
    }
    return result;
}

namespace {

constexpr std::string_view kNothingReturned = "Nothing was returned to waiting.";
constexpr std::string_view kNothingUndone = "Nothing was changed.";

int returnOnce(const ProjectPaths& paths, WorkingSet& set, const std::vector<int>& positions,
               bool& committing) {
    const int location = set.location;
    checkLocation(location, "Nothing was returned to waiting");
    if (positions.empty()) return 0;

    Database db(paths.DatabasePath);
    Transaction transaction(db);
    // A state write that a kill cut short goes first: the pairing reads the file.
    completeStateWrites(db, paths.ProcessedPath);
    const std::string bytes = readWholeFile(paths.ProcessedPath);
    const auto logged = pairLoggedReceptions(db, bytes, location);
    std::unordered_map<int, const PairedReception*> byPosition;
    for (const auto& r : logged) byPosition.emplace(r.position, &r);

    std::set<std::int64_t> rows;
    for (int position : positions) {
        const auto found = byPosition.find(position);
        if (found == byPosition.end()) {
            throw EngineError(
                "Nothing was returned to waiting: reception " + std::to_string(position) + " of " +
                describePath(paths.ProcessedPath) + " is no longer logged for this location.");
        }
        if (found->second->logId != 0) rows.insert(found->second->logId);
    }
    const std::vector<const PairedReception*> returning = returnedWithRows(logged, positions);

    ensureDecisionRecord(db);
    db.prepare("INSERT INTO ConverterAction (loggedlocation, Kind) VALUES (?, ?)")
        .bind({std::int64_t{location}, std::string(action::kReturnToWaiting)})
        .execute();
    const std::int64_t actionId = db.lastInsertRowId();

    // Which list a reception settled by the run goes to: the ambiguous one
    // when the exact look-up would offer it a candidate.
    Statement candidates = db.prepare(
        "SELECT count(*) FROM NDBInformation, CountryCode "
        "WHERE NDBInformation.Country=CountryCode.CountryShort AND Ident = ? AND Frequency = ?");
    Statement keep = db.prepare(
        "INSERT INTO ConverterReturned (Action_ID, Position, RowGroup, HadRow, Beacon_ID, "
        "ReceptionTime, ReceptionDate, ReceptionComments, How, PreviousState, DecidedBy, "
        "StateAfter) SELECT ?, ?, ?, ?, Beacon_ID, ReceptionTime, ReceptionDate, "
        "ReceptionComments, ?, ?, ?, ? FROM NDBLog WHERE Log_ID = ?");
    Statement keepWithoutRow = db.prepare(
        "INSERT INTO ConverterReturned (Action_ID, Position, RowGroup, HadRow, How, "
        "PreviousState, DecidedBy, StateAfter) VALUES (?, ?, 0, 0, ?, ?, ?, ?)");
    Statement forget = db.prepare("DELETE FROM ConverterDecision WHERE rowid = ?");

    WorkingSet changed;
    changed.location = location;
    std::string ident;
    for (const PairedReception* r : returning) {
        std::string after(trimmedView(r->previousState));
        if (after != state::AMB && after != state::MIS) {
            const ProcessedRecordView record{std::string_view(bytes).substr(
                static_cast<std::size_t>(r->position - 1) * ProcessedRecord::kLength,
                ProcessedRecord::kLength)};
            const std::string_view raw = record.ident();
            const std::string_view stored = raw.substr(0, raw.find_last_not_of(' ') + 1);
            candidates.bindText(1, cp1252ToUtf8(stored, ident))
                .bindDouble(2, leadingNumber(record.frequency()));
            candidates.step();
            const bool listed = candidates.columnInt64(0) > 0;
            candidates.step();
            after = std::string(listed ? state::AMB : state::MIS);
        }
        const bool recorded = r->actionId != 0;
        DbValue how, previous, decidedBy;
        if (recorded) {
            how = r->how;
            previous = r->previousState;
            decidedBy = r->actionId;
        }
        if (r->logId != 0) {
            keep.bind({actionId, std::int64_t{r->position}, r->logId, std::int64_t{1}, how,
                       previous, decidedBy, after, r->logId})
                .execute();
        } else {
            keepWithoutRow
                .bind({actionId, std::int64_t{r->position}, how, previous, decidedBy, after})
                .execute();
        }
        if (recorded) forget.bind({r->decisionRowId}).execute();
        changed.entries.push_back(entryAt(location, r->position, after));
    }
    Statement remove = db.prepare("DELETE FROM NDBLog WHERE Log_ID = ?");
    for (std::int64_t id : rows) remove.bind({id}).execute();

    commitAndReload(paths, db, transaction, changed, set, kNothingReturned, committing);
    return static_cast<int>(returning.size());
}

}  // namespace

int returnToWaiting(const ProjectPaths& paths, WorkingSet& set, const std::vector<int>& positions) {
    return keptUnlessCommitting(kNothingReturned, [&](bool& committing) {
        return returnOnce(paths, set, positions, committing);
    });
}

std::optional<UndoOffer> nextUndo(const ProjectPaths& paths, int location) {
    Database db(paths.DatabasePath, Database::Mode::ReadOnly);
    const auto last = lastAction(db, location);
    if (!last) return std::nullopt;
    const bool returned = last->kind == action::kReturnToWaiting;
    const std::int64_t n = countOf(db,
                                   returned ? "SELECT count(*) FROM ConverterReturned WHERE "
                                              "Action_ID = ?"
                                            : "SELECT count(*) FROM ConverterDecision WHERE "
                                              "Action_ID = ?",
                                   last->id);
    return UndoOffer{last->kind, static_cast<int>(n)};
}

namespace {

UndoOffer undoOnce(const ProjectPaths& paths, WorkingSet& set, bool& committing) {
    const int location = set.location;
    checkLocation(location, "Nothing was undone");
    Database db(paths.DatabasePath);
    Transaction transaction(db);
    completeStateWrites(db, paths.ProcessedPath);
    const auto last = lastAction(db, location);
    if (!last) {
        throw EngineError("Nothing was undone: this location has no action left to undo.");
    }
    const std::string bytes = readWholeFile(paths.ProcessedPath);
    const std::string refused = "Undo of " + last->kind + " refused: ";
    const std::string unchanged = " Nothing was changed.";
    const std::vector<DbValue> byAction{last->id};

    WorkingSet changed;
    changed.location = location;
    if (last->kind == action::kReturnToWaiting) {
        struct Kept {
            int position;
            std::int64_t group;
            bool hadRow;
            std::optional<std::string> how, previous;
            std::int64_t decidedBy;
            std::string after;
            std::vector<DbValue> row;  // Beacon_ID, time, date, comments as stored
        };
        std::vector<Kept> kept;
        {
            const DbResult read =
                db.prepare(
                      "SELECT Position, RowGroup, HadRow, How, PreviousState, DecidedBy, "
                      "StateAfter, Beacon_ID, ReceptionTime, ReceptionDate, ReceptionComments "
                      "FROM ConverterReturned WHERE Action_ID = ? ORDER BY RowGroup, Position")
                    .bind(byAction)
                    .query();
            for (const auto& r : read.rows) {
                Kept k{
                    static_cast<int>(std::get<std::int64_t>(r[0])),
                    std::get<std::int64_t>(r[1]),
                    std::get<std::int64_t>(r[2]) != 0,
                    std::nullopt,
                    std::nullopt,
                    std::holds_alternative<std::int64_t>(r[5]) ? std::get<std::int64_t>(r[5]) : 0,
                    dbValueText(r[6]),
                    {r[7], r[8], r[9], r[10]}};
                if (!std::holds_alternative<std::monostate>(r[3])) k.how = dbValueText(r[3]);
                if (!std::holds_alternative<std::monostate>(r[4])) k.previous = dbValueText(r[4]);
                kept.push_back(std::move(k));
            }
        }
        for (const auto& k : kept) {
            if (!recordAgrees(bytes, k.position, location, k.after)) {
                throw EngineError(refused + "reception " + std::to_string(k.position) + " of " +
                                  describePath(paths.ProcessedPath) +
                                  " is no longer waiting as Return To Waiting left it." +
                                  unchanged);
            }
        }
        // Each row comes back once, in its old order, for all the receptions
        // it settled; their decisions come back with it.
        Statement restore = db.prepare(
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
            "ReceptionComments) VALUES (?, ?, ?, ?, ?)");
        Statement decide = db.prepare(
            "INSERT INTO ConverterDecision (Position, loggedlocation, Log_ID, How, "
            "PreviousState, Action_ID) VALUES (?, ?, ?, ?, ?, ?)");
        std::int64_t group = -1, logId = 0;
        for (const auto& k : kept) {
            if (k.hadRow && k.group != group) {
                group = k.group;
                restore.bind({k.row[0], std::int64_t{location}, k.row[1], k.row[2], k.row[3]})
                    .execute();
                logId = db.lastInsertRowId();
            }
            if (k.how && k.hadRow) {
                decide
                    .bind({std::int64_t{k.position}, std::int64_t{location}, logId, *k.how,
                           k.previous.value_or(std::string()), k.decidedBy})
                    .execute();
            }
            changed.entries.push_back(entryAt(location, k.position, state::OK));
        }
        db.prepare("DELETE FROM ConverterReturned WHERE Action_ID = ?").bind(byAction).execute();
    } else {
        struct Settled {
            int position;
            std::int64_t logId;
            std::string previous;
        };
        std::vector<Settled> settled;
        std::set<std::int64_t> rows;
        {
            Statement read = db.prepare(
                "SELECT Position, Log_ID, PreviousState FROM ConverterDecision "
                "WHERE Action_ID = ? ORDER BY Position");
            read.bind(byAction);
            while (read.step()) {
                settled.push_back({static_cast<int>(read.columnInt64(0)), read.columnInt64(1),
                                   std::string(read.columnText(2))});
                rows.insert(settled.back().logId);
            }
        }
        Statement present =
            db.prepare("SELECT count(*) FROM NDBLog WHERE Log_ID = ? AND loggedlocation = ?");
        std::size_t missing = 0;
        for (std::int64_t id : rows) {
            present.bind({id, std::int64_t{location}});
            present.step();
            missing += present.columnInt64(0) == 0;
            present.step();
        }
        if (missing > 0) {
            throw EngineError(
                refused + "the database " + paths.DatabasePath.string() + " no longer holds " +
                std::to_string(missing) + " of the " + std::to_string(rows.size()) +
                " log rows it appended (they were removed outside the converter)." + unchanged);
        }
        for (const auto& s : settled) {
            if (!recordAgrees(bytes, s.position, location, state::OK)) {
                throw EngineError(refused + "reception " + std::to_string(s.position) + " of " +
                                  describePath(paths.ProcessedPath) + " is no longer logged as " +
                                  last->kind + " left it." + unchanged);
            }
        }
        Statement remove = db.prepare("DELETE FROM NDBLog WHERE Log_ID = ?");
        for (std::int64_t id : rows) remove.bind({id}).execute();
        db.prepare("DELETE FROM ConverterDecision WHERE Action_ID = ?").bind(byAction).execute();
        for (const auto& s : settled) {
            changed.entries.push_back(entryAt(location, s.position, s.previous));
        }
    }
    db.prepare("DELETE FROM ConverterAction WHERE Action_ID = ?").bind(byAction).execute();
    const UndoOffer undone{last->kind, static_cast<int>(changed.entries.size())};
    commitAndReload(paths, db, transaction, changed, set, kNothingUndone, committing);
    return undone;
}

}  // namespace

UndoOffer undoLastAction(const ProjectPaths& paths, WorkingSet& set) {
    return keptUnlessCommitting(kNothingUndone,
                                [&](bool& committing) { return undoOnce(paths, set, committing); });
}

}  // namespace zolt

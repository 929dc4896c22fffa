// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/LogStore.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/TextFields.h"
#include "engine/UserBeacons.h"

namespace zolt {
namespace {

// Columns without a declared type keep a copied NDBLog value exactly as it
// was stored, number or text.
constexpr std::string_view kCreateSql = R"sql(
CREATE TABLE IF NOT EXISTS ConverterAction (
    Action_ID INTEGER PRIMARY KEY,
    loggedlocation INTEGER NOT NULL,
    Kind TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS ConverterDecision (
    Position INTEGER NOT NULL,
    loggedlocation INTEGER NOT NULL,
    Log_ID INTEGER NOT NULL,
    How TEXT NOT NULL,
    PreviousState TEXT NOT NULL,
    Action_ID INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS ConverterReturned (
    Action_ID INTEGER NOT NULL,
    Position INTEGER NOT NULL,
    RowGroup INTEGER NOT NULL,
    HadRow INTEGER NOT NULL,
    Beacon_ID,
    ReceptionTime,
    ReceptionDate,
    ReceptionComments,
    How TEXT,
    PreviousState TEXT,
    DecidedBy INTEGER,
    StateAfter TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS ConverterStateWrite (
    Write_ID INTEGER PRIMARY KEY,
    loggedlocation INTEGER NOT NULL,
    FirstPosition INTEGER NOT NULL,
    States BLOB NOT NULL,
    FileSize INTEGER NOT NULL,
    Fingerprint INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS ConverterLogByLocation ON NDBLog (loggedlocation);
)sql";

// Everything the converter adds to the logbook's database, the index too:
// after FINALIZE the schema is the pristine database's again.
constexpr std::string_view kDropSql =
    "DROP INDEX IF EXISTS ConverterLogByLocation; DROP TABLE IF EXISTS ConverterStateWrite; "
    "DROP TABLE IF EXISTS ConverterReturned; DROP TABLE IF EXISTS ConverterDecision; "
    "DROP TABLE IF EXISTS ConverterAction;";

// Rows appended by one statement: the cost of running a statement,
// AUTOINCREMENT's update of sqlite_sequence included, is then shared by all
// its rows. The rows of one statement are stored in the order of its VALUES,
// so each gets the Log_ID it would get inserted on its own.
constexpr std::size_t kRowsPerStatement = 64;

std::string repeatedValues(std::string_view head, const std::string& values, std::size_t rows) {
    std::string sql = std::string(head) + values;
    for (std::size_t r = 1; r < rows; ++r) sql += ", " + values;
    return sql;
}

std::string utf8Trimmed(std::string_view raw) { return cp1252ToUtf8(trimmedView(raw)); }

std::int64_t countOf(Statement& statement) {
    statement.step();
    const std::int64_t n = statement.columnInt64(0);
    statement.step();
    return n;
}

}  // namespace

// Statements run more than once in an action, prepared on first use.
struct LogStore::Statements {
    std::unique_ptr<Statement> appendMany, appendOne, restoreRow, deleteRow, rowPresent,
        addUserBeacon, addDecision, deleteDecision, keepReturned, keepReturnedWithoutRow,
        listedCount;
    int appendLocation = 0;
};

LogStore::LogStore(const ProjectPaths& paths, Mode mode, int cacheKib)
    : owned_(std::make_unique<Database>(paths.DatabasePath, mode == Mode::Read
                                                                ? Database::Mode::ReadOnly
                                                                : Database::Mode::ReadWrite)),
      db_(owned_.get()),
      statements_(std::make_unique<Statements>()) {
    if (cacheKib > 0) db_->executeScript("PRAGMA cache_size = -" + std::to_string(cacheKib));
    if (mode == Mode::Write) transaction_ = std::make_unique<Transaction>(*db_);
}

LogStore::LogStore(Database& db) : db_(&db), statements_(std::make_unique<Statements>()) {}

LogStore::~LogStore() {
    // Statements before the connection they belong to.
    statements_.reset();
    transaction_.reset();
}

Statement& LogStore::cached(std::unique_ptr<Statement>& slot, std::string_view sql) {
    if (!slot) slot = std::make_unique<Statement>(db_->prepare(sql));
    return *slot;
}

// ---- the transaction and the state journal -------------------------------------

void LogStore::commit(PendingStates* states, std::string_view keptOnFailure) {
    std::int64_t writeId = 0;
    const bool journaled = states && !states->stretch().states.empty();
    const auto journalAndCommit = [&] {
        if (journaled) {
            const StateStretch& stretch = states->stretch();
            ensureRecord();
            db_->prepare(
                   "INSERT INTO ConverterStateWrite (loggedlocation, FirstPosition, States, "
                   "FileSize, Fingerprint) VALUES (?, ?, ?, ?, ?)")
                .bindInt64(1, stretch.location)
                .bindInt64(2, stretch.first)
                .bindBlob(3, stretch.states)
                .bindInt64(4, static_cast<std::int64_t>(stretch.fileSize))
                .bindInt64(5, static_cast<std::int64_t>(stretch.fingerprint))
                .execute();
            writeId = db_->lastInsertRowId();
        }
        if (transaction_) transaction_->commit();
    };
    if (keptOnFailure.empty()) {
        journalAndCommit();
    } else {
        sayingWhatWasKept(keptOnFailure, journalAndCommit);
    }
    if (!states) return;
    reachStateWritePoint(StateWritePoint::AfterCommit);
    try {
        states->commit();
    } catch (const EngineError& error) {
        if (writeId == 0) throw;
        throw EngineError(std::string(error.what()) + " The change is stored in the database " +
                          db_->path().string() +
                          "; the receptions' states are written when the location is next "
                          "chosen.");
    }
    reachStateWritePoint(StateWritePoint::AfterWrite);
    if (writeId == 0) return;
    try {
        db_->prepare("DELETE FROM ConverterStateWrite WHERE Write_ID = ?")
            .bindInt64(1, writeId)
            .execute();
    } catch (const EngineError&) {
        // Rows and states are stored: the action succeeded. Left in the
        // journal, the states are merely written once more later.
    }
}

bool LogStore::hasStateWrites() {
    const auto count = [this](std::string_view sql) {
        return std::get<std::int64_t>(db_->prepare(sql).query().rows.at(0).at(0));
    };
    return count(
               "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
               "name = 'ConverterStateWrite'") > 0 &&
           count("SELECT count(*) FROM ConverterStateWrite") > 0;
}

bool LogStore::completeStateWrites(const std::filesystem::path& processedPath) {
    if (!hasStateWrites()) return false;
    std::vector<StateStretch> writes;
    {
        Statement rows = db_->prepare(
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
                              "that the database " + db_->path().string() +
                              " has already logged; nothing was changed.");
        }
    }
    discardStateWrites();
    return true;
}

void LogStore::discardStateWrites() { db_->executeScript("DELETE FROM ConverterStateWrite"); }

// ---- the decision record -----------------------------------------------------------

bool LogStore::hasRecord() {
    if (!hasRecord_) {
        hasRecord_ =
            std::get<std::int64_t>(
                db_->prepare("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                             "('ConverterAction', 'ConverterDecision', 'ConverterReturned')")
                    .query()
                    .rows.at(0)
                    .at(0)) == 3;
    }
    return *hasRecord_;
}

void LogStore::ensureRecord() {
    if (hasRecord_.value_or(false)) return;
    db_->executeScript(kCreateSql);
    hasRecord_ = true;
}

void LogStore::dropRecord() {
    statements_ = std::make_unique<Statements>();
    db_->executeScript(kDropSql);
    hasRecord_ = false;
}

bool LogStore::holdsConverterParts() {
    return std::get<std::int64_t>(
               db_->prepare("SELECT count(*) FROM sqlite_master WHERE name LIKE 'Converter%'")
                   .query()
                   .rows.at(0)
                   .at(0)) > 0;
}

// ---- NDBLog ---------------------------------------------------------------------------

void LogStore::appendRow(int location, std::int64_t beaconId, std::string_view timeUtf8,
                         std::string_view dateUtf8, std::string_view commentUtf8) {
    if (pendingCount_ > 0 && location != pendingLocation_) flushRows();
    pendingLocation_ = location;
    if (pending_.size() < kRowsPerStatement) pending_.resize(kRowsPerStatement);
    ReceptionRow& row = pending_[pendingCount_++];
    row.beaconId = beaconId;
    row.time.assign(timeUtf8);
    row.date.assign(dateUtf8);
    row.comment.assign(commentUtf8);
    if (pendingCount_ == kRowsPerStatement) appendPending();
}

void LogStore::flushRows() {
    if (pendingCount_ > 0) appendPending();
}

void LogStore::appendPending() {
    Statements& s = *statements_;
    // `location` is a number the caller has checked (1 … 16); it stands in
    // the statement's text, as it is the same in every row.
    if (s.appendLocation != pendingLocation_) {
        s.appendMany.reset();
        s.appendOne.reset();
        s.appendLocation = pendingLocation_;
    }
    const auto sql = [this](std::size_t rows) {
        return repeatedValues(
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
            "ReceptionComments) VALUES ",
            "(?, " + std::to_string(pendingLocation_) + ", ?, ?, ?)", rows);
    };
    // The texts are bound where they stand in pending_, which keeps them
    // until the statement has run.
    const auto bindRow = [&](Statement& statement, std::size_t slot, const ReceptionRow& row) {
        const int base = static_cast<int>(slot * 4);
        statement.bindInt64(base + 1, row.beaconId)
            .bindTextInPlace(base + 2, row.time)
            .bindTextInPlace(base + 3, row.date)
            .bindTextInPlace(base + 4, row.comment);
    };
    if (pendingCount_ == kRowsPerStatement) {
        if (!s.appendMany)
            s.appendMany = std::make_unique<Statement>(db_->prepare(sql(kRowsPerStatement)));
        Statement& many = *s.appendMany;
        for (std::size_t r = 0; r < kRowsPerStatement; ++r) bindRow(many, r, pending_[r]);
        many.execute();
    } else {
        if (!s.appendOne) s.appendOne = std::make_unique<Statement>(db_->prepare(sql(1)));
        Statement& one = *s.appendOne;
        for (std::size_t r = 0; r < pendingCount_; ++r) {
            bindRow(one, 0, pending_[r]);
            one.execute();
        }
    }
    pendingCount_ = 0;
}

std::int64_t LogStore::restoreRow(int location, const std::vector<DbValue>& row) {
    cached(statements_->restoreRow,
           "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
           "ReceptionComments) VALUES (?, ?, ?, ?, ?)")
        .bind({row.at(0), std::int64_t{location}, row.at(1), row.at(2), row.at(3)})
        .execute();
    return db_->lastInsertRowId();
}

void LogStore::deleteRow(std::int64_t logId) {
    cached(statements_->deleteRow, "DELETE FROM NDBLog WHERE Log_ID = ?").bind({logId}).execute();
}

void LogStore::deleteRowsOf(int location) {
    db_->prepare("DELETE FROM NDBLog WHERE loggedlocation = ?")
        .bind({std::int64_t{location}})
        .execute();
}

void LogStore::deleteAllRows() { db_->prepare("DELETE FROM NDBLog").execute(); }

bool LogStore::rowPresent(std::int64_t logId, int location) {
    Statement& present =
        cached(statements_->rowPresent,
               "SELECT count(*) FROM NDBLog WHERE Log_ID = ? AND loggedlocation = ?");
    present.bind({logId, std::int64_t{location}});
    return countOf(present) != 0;
}

std::int64_t LogStore::rowCount() {
    return std::get<std::int64_t>(
        db_->prepare("SELECT count(*) FROM NDBLog").query().rows.at(0).at(0));
}

std::vector<std::int64_t> LogStore::loggedBeaconIds(int location) {
    std::vector<std::int64_t> logged;
    Statement read = db_->prepare("SELECT Beacon_ID FROM NDBLog WHERE loggedlocation = ?");
    read.bind({std::int64_t{location}});
    while (read.step()) {
        // The column's INTEGER affinity stores every whole number as one;
        // anything else could never equal a Beacon_ID.
        if (read.columnType(0) == SQLITE_INTEGER) logged.push_back(read.columnInt64(0));
    }
    return logged;
}

DbResult LogStore::listedBeaconsLoggedAt(int location) {
    return db_
        ->prepare(
            "SELECT Beacon_ID, Ident, Frequency, City, State, "
            "coalesce((SELECT CountryLong FROM CountryCode WHERE CountryShort = Country), "
            "Country), Latitude, Longitude FROM NDBInformation WHERE Beacon_ID IN "
            "(SELECT Beacon_ID FROM NDBLog WHERE loggedlocation = ?)")
        .bind({std::int64_t{location}})
        .query();
}

DbResult LogStore::ownBeaconsLoggedAt(int location) {
    return db_
        ->prepare(
            "SELECT newbeacon_ID, Ident, frequency, City, State, "
            "coalesce((SELECT CountryLong FROM CountryCode WHERE CountryShort = Country), "
            "Country), Latitude, Longitude FROM NewBeacons WHERE newbeacon_ID + ? IN "
            "(SELECT Beacon_ID FROM NDBLog WHERE loggedlocation = ?)")
        .bind({std::int64_t{kUserBeaconOffset}, std::int64_t{location}})
        .query();
}

DbResult LogStore::ownBeaconsCountedAt(int location) {
    return db_
        ->prepare(
            "SELECT n.newbeacon_ID, n.Ident, n.frequency, n.City, n.Country, n.Latitude, "
            "n.Longitude, COUNT(*) FROM NDBLog AS l JOIN NewBeacons AS n "
            "ON l.Beacon_ID = n.newbeacon_ID + ? WHERE l.loggedlocation = ? "
            "GROUP BY n.newbeacon_ID ORDER BY n.newbeacon_ID")
        .bind({std::int64_t{kUserBeaconOffset}, std::int64_t{location}})
        .query();
}

DbResult LogStore::loggedTotals(int location) {
    return db_
        ->prepare("SELECT COUNT(*), COUNT(DISTINCT Beacon_ID) FROM NDBLog WHERE loggedlocation = ?")
        .bind({DbValue(std::int64_t{location})})
        .query();
}

DbResult LogStore::allReceptions() {
    return db_->query(
        "SELECT loggedlocation, ReceptionTime, ReceptionDate, ReceptionComments FROM NDBLog");
}

std::unordered_map<std::int64_t, std::string> LogStore::howByLogId() {
    std::unordered_map<std::int64_t, std::string> result;
    if (!hasRecord()) return result;
    // Only rows still in the log: a record whose row was removed by hand
    // describes nothing.
    Statement rows = db_->prepare(
        "SELECT d.Log_ID, d.How FROM ConverterDecision d JOIN NDBLog l ON l.Log_ID = d.Log_ID "
        "AND l.loggedlocation = d.loggedlocation");
    while (rows.step()) result.emplace(rows.columnInt64(0), std::string(rows.columnText(1)));
    return result;
}

// ---- the listener's own beacons ---------------------------------------------------------

DbResult LogStore::userBeacons() {
    return db_
        ->prepare("SELECT newbeacon_ID, Ident, frequency FROM NewBeacons ORDER BY newbeacon_ID")
        .query();
}

std::int64_t LogStore::addUserBeacon(const NewBeaconRow& row) {
    // Bound one by one where they stand: `row` outlives the statement's run.
    cached(statements_->addUserBeacon,
           "INSERT INTO NewBeacons (Ident, Country, State, City, frequency, Power, PowerClass, "
           "Latitude, Longitude, AsOf, Cycle, usb, lsb, DAID, GenNotes) "
           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bindTextInPlace(1, row.Ident)
        .bindTextInPlace(2, row.Country)
        .bindTextInPlace(3, row.State)
        .bindTextInPlace(4, row.City)
        .bindDouble(5, row.frequency)
        .bindTextInPlace(6, row.Power)
        .bindTextInPlace(7, row.PowerClass)
        .bindTextInPlace(8, row.Latitude)
        .bindTextInPlace(9, row.Longitude)
        .bindTextInPlace(10, row.AsOf)
        .bindTextInPlace(11, row.Cycle)
        .bindTextInPlace(12, row.usb)
        .bindTextInPlace(13, row.lsb)
        .bindTextInPlace(14, row.DAID)
        .bindTextInPlace(15, row.GenNotes)
        .execute();
    return db_->lastInsertRowId();
}

// ---- what the record says -----------------------------------------------------------------

std::int64_t LogStore::addAction(int location, std::string_view kind) {
    ensureRecord();
    db_->prepare("INSERT INTO ConverterAction (loggedlocation, Kind) VALUES (?, ?)")
        .bind({std::int64_t{location}, std::string(kind)})
        .execute();
    return db_->lastInsertRowId();
}

void LogStore::deleteAction(std::int64_t actionId) {
    db_->prepare("DELETE FROM ConverterAction WHERE Action_ID = ?").bind({actionId}).execute();
}

std::optional<RecordedAction> LogStore::lastAction(int location) {
    if (!hasRecord()) return std::nullopt;
    Statement read = db_->prepare(
        "SELECT Action_ID, Kind FROM ConverterAction WHERE loggedlocation = ? "
        "ORDER BY Action_ID DESC LIMIT 1");
    read.bind({std::int64_t{location}});
    if (!read.step()) return std::nullopt;
    RecordedAction last{read.columnInt64(0), std::string(read.columnText(1))};
    read.step();
    return last;
}

std::int64_t LogStore::decisionCount(std::int64_t actionId) {
    Statement read = db_->prepare("SELECT count(*) FROM ConverterDecision WHERE Action_ID = ?");
    read.bind({actionId});
    return countOf(read);
}

std::int64_t LogStore::returnedCount(std::int64_t actionId) {
    Statement read = db_->prepare("SELECT count(*) FROM ConverterReturned WHERE Action_ID = ?");
    read.bind({actionId});
    return countOf(read);
}

void LogStore::storeDecisions(int location, const PendingDecisions& decisions) {
    if (decisions.settled.empty()) return;
    flushRows();
    ensureRecord();
    // The action's rows are the newest of its location: the transaction
    // that appended them holds the database's write lock.
    std::vector<std::int64_t> logIds;
    logIds.reserve(decisions.rows);
    {
        Statement newest = db_->prepare(
            "SELECT Log_ID FROM NDBLog WHERE loggedlocation = ? ORDER BY Log_ID DESC LIMIT ?");
        newest.bind({std::int64_t{location}, static_cast<std::int64_t>(decisions.rows)});
        while (newest.step()) logIds.push_back(newest.columnInt64(0));
    }
    if (logIds.size() != decisions.rows) {
        throw EngineError("Could not record how the receptions were decided in the database " +
                          db_->path().string() + ": " + std::to_string(decisions.rows) +
                          " rows were appended but " + std::to_string(logIds.size()) +
                          " were found. Nothing was logged.");
    }
    // Read newest first: the first appended row is the last read.
    std::reverse(logIds.begin(), logIds.end());

    const std::int64_t actionId = addAction(location, decisions.action);
    for (const auto& s : decisions.settled) {
        if (s.row >= logIds.size()) {
            throw EngineError("Could not record how the receptions were decided in the database " +
                              db_->path().string() + ": a reception names no appended row.");
        }
    }
    // Many rows to a statement, as the rows themselves: a matching run
    // records tens of thousands of decisions. Location and action are the
    // same in every row.
    const std::string values =
        "(?, " + std::to_string(location) + ", ?, ?, ?, " + std::to_string(actionId) + ")";
    constexpr std::string_view head =
        "INSERT INTO ConverterDecision (Position, loggedlocation, Log_ID, How, PreviousState, "
        "Action_ID) VALUES ";
    const auto& all = decisions.settled;
    auto bindRow = [&](Statement& statement, std::size_t slot, const PendingDecisions::Settled& s) {
        const int base = static_cast<int>(slot * 4);
        statement.bindInt64(base + 1, s.position)
            .bindInt64(base + 2, logIds[s.row])
            .bindTextInPlace(base + 3, s.how)
            .bindTextInPlace(base + 4, s.previousState);
    };
    std::size_t next = 0;
    if (all.size() >= kRowsPerStatement) {
        Statement many = db_->prepare(repeatedValues(head, values, kRowsPerStatement));
        for (; next + kRowsPerStatement <= all.size(); next += kRowsPerStatement) {
            for (std::size_t slot = 0; slot < kRowsPerStatement; ++slot) {
                bindRow(many, slot, all[next + slot]);
            }
            many.execute();
        }
    }
    if (next < all.size()) {
        Statement one = db_->prepare(repeatedValues(head, values, 1));
        for (; next < all.size(); ++next) {
            bindRow(one, 0, all[next]);
            one.execute();
        }
    }
}

std::vector<LogStore::Decided> LogStore::decisionsOf(std::int64_t actionId) {
    std::vector<Decided> decided;
    Statement read = db_->prepare(
        "SELECT Position, Log_ID, PreviousState FROM ConverterDecision "
        "WHERE Action_ID = ? ORDER BY Position");
    read.bind({actionId});
    while (read.step()) {
        decided.push_back({static_cast<int>(read.columnInt64(0)), read.columnInt64(1),
                           std::string(read.columnText(2))});
    }
    return decided;
}

void LogStore::addDecision(int position, int location, std::int64_t logId, std::string_view how,
                           std::string_view previousState, std::int64_t actionId) {
    cached(statements_->addDecision,
           "INSERT INTO ConverterDecision (Position, loggedlocation, Log_ID, How, "
           "PreviousState, Action_ID) VALUES (?, ?, ?, ?, ?, ?)")
        .bind({std::int64_t{position}, std::int64_t{location}, logId, std::string(how),
               std::string(previousState), actionId})
        .execute();
}

void LogStore::deleteDecision(std::int64_t decisionRowId) {
    cached(statements_->deleteDecision, "DELETE FROM ConverterDecision WHERE rowid = ?")
        .bind({decisionRowId})
        .execute();
}

void LogStore::deleteDecisionsOf(std::int64_t actionId) {
    db_->prepare("DELETE FROM ConverterDecision WHERE Action_ID = ?").bind({actionId}).execute();
}

void LogStore::keepReturned(std::int64_t actionId, int position, std::int64_t logId,
                            const DbValue& how, const DbValue& previousState,
                            const DbValue& decidedBy, std::string_view stateAfter) {
    const std::string after(stateAfter);
    if (logId != 0) {
        cached(statements_->keepReturned,
               "INSERT INTO ConverterReturned (Action_ID, Position, RowGroup, HadRow, Beacon_ID, "
               "ReceptionTime, ReceptionDate, ReceptionComments, How, PreviousState, DecidedBy, "
               "StateAfter) SELECT ?, ?, ?, ?, Beacon_ID, ReceptionTime, ReceptionDate, "
               "ReceptionComments, ?, ?, ?, ? FROM NDBLog WHERE Log_ID = ?")
            .bind({actionId, std::int64_t{position}, logId, std::int64_t{1}, how, previousState,
                   decidedBy, after, logId})
            .execute();
    } else {
        cached(statements_->keepReturnedWithoutRow,
               "INSERT INTO ConverterReturned (Action_ID, Position, RowGroup, HadRow, How, "
               "PreviousState, DecidedBy, StateAfter) VALUES (?, ?, 0, 0, ?, ?, ?, ?)")
            .bind({actionId, std::int64_t{position}, how, previousState, decidedBy, after})
            .execute();
    }
}

std::vector<ReturnedReception> LogStore::returnedBy(std::int64_t actionId) {
    std::vector<ReturnedReception> kept;
    const DbResult read =
        db_->prepare(
               "SELECT Position, RowGroup, HadRow, How, PreviousState, DecidedBy, "
               "StateAfter, Beacon_ID, ReceptionTime, ReceptionDate, ReceptionComments "
               "FROM ConverterReturned WHERE Action_ID = ? ORDER BY RowGroup, Position")
            .bind({actionId})
            .query();
    for (const auto& r : read.rows) {
        ReturnedReception k;
        k.position = static_cast<int>(std::get<std::int64_t>(r[0]));
        k.group = std::get<std::int64_t>(r[1]);
        k.hadRow = std::get<std::int64_t>(r[2]) != 0;
        if (!std::holds_alternative<std::monostate>(r[3])) k.how = dbValueText(r[3]);
        if (!std::holds_alternative<std::monostate>(r[4])) k.previousState = dbValueText(r[4]);
        k.decidedBy = std::holds_alternative<std::int64_t>(r[5]) ? std::get<std::int64_t>(r[5]) : 0;
        k.stateAfter = dbValueText(r[6]);
        k.row = {r[7], r[8], r[9], r[10]};
        kept.push_back(std::move(k));
    }
    return kept;
}

void LogStore::deleteReturnedOf(std::int64_t actionId) {
    db_->prepare("DELETE FROM ConverterReturned WHERE Action_ID = ?").bind({actionId}).execute();
}

void LogStore::forgetLocation(int location) {
    deleteRowsOf(location);
    if (!hasRecord()) return;
    const std::vector<DbValue> at{std::int64_t{location}};
    db_->prepare(
           "DELETE FROM ConverterReturned WHERE Action_ID IN "
           "(SELECT Action_ID FROM ConverterAction WHERE loggedlocation = ?)")
        .bind(at)
        .execute();
    db_->prepare("DELETE FROM ConverterDecision WHERE loggedlocation = ?").bind(at).execute();
    db_->prepare("DELETE FROM ConverterAction WHERE loggedlocation = ?").bind(at).execute();
}

// ---- reading the location ------------------------------------------------------------------

std::int64_t LogStore::listedCount(std::string_view identUtf8, double frequency) {
    Statement& candidates = cached(
        statements_->listedCount,
        "SELECT count(*) FROM NDBInformation, CountryCode "
        "WHERE NDBInformation.Country=CountryCode.CountryShort AND Ident = ? AND Frequency = ?");
    candidates.bindText(1, identUtf8).bindDouble(2, frequency);
    return countOf(candidates);
}

std::vector<PairedReception> LogStore::pairLogged(const WorkingSet& set) {
    const int location = set.location;
    struct LogRowOf {
        std::int64_t logId, beaconId;
        bool claimed = false;
    };
    // The location's rows, and the record's decisions whose rows are there.
    std::vector<LogRowOf> rows;
    std::unordered_map<std::int64_t, std::size_t> rowById;
    {
        Statement read = db_->prepare(
            "SELECT Log_ID, Beacon_ID FROM NDBLog WHERE loggedlocation = ? ORDER BY Log_ID");
        read.bind({std::int64_t{location}});
        while (read.step()) {
            rowById.emplace(read.columnInt64(0), rows.size());
            rows.push_back({read.columnInt64(0), read.columnInt64(1)});
        }
    }
    struct Decision {
        std::int64_t logId, actionId, rowId;
        std::string how, previousState;
    };
    std::unordered_map<int, Decision> decisions;
    if (hasRecord()) {
        Statement read = db_->prepare(
            "SELECT Position, Log_ID, How, PreviousState, Action_ID, rowid FROM ConverterDecision "
            "WHERE loggedlocation = ?");
        read.bind({std::int64_t{location}});
        while (read.step()) {
            decisions[static_cast<int>(read.columnInt64(0))] =
                Decision{read.columnInt64(1), read.columnInt64(4), read.columnInt64(5),
                         std::string(read.columnText(2)), std::string(read.columnText(3))};
        }
    }

    std::vector<PairedReception> logged;
    std::vector<const WorkEntry*> entryOf;
    std::size_t unpaired = 0;
    for (const WorkEntry& entry : set.entries) {
        if (entry.location != location || trimmedView(entry.state) != trimmedView(state::OK)) {
            continue;
        }
        PairedReception reception;
        reception.position = positionOf(entry);
        reception.how = std::string(how::kLoggedEarlier);
        const auto decided = decisions.find(reception.position);
        if (decided != decisions.end()) {
            const auto row = rowById.find(decided->second.logId);
            if (row != rowById.end()) {
                rows[row->second].claimed = true;
                reception.logId = decided->second.logId;
                reception.beaconId = rows[row->second].beaconId;
                reception.how = decided->second.how;
                reception.previousState = decided->second.previousState;
                reception.actionId = decided->second.actionId;
                reception.decisionRowId = decided->second.rowId;
            }
        }
        unpaired += reception.logId == 0;
        logged.push_back(std::move(reception));
        entryOf.push_back(&entry);
    }
    if (unpaired == 0) return logged;

    // Receptions without a record take the first unclaimed row that carries
    // their time, date and comment, as the converter stored them.
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<std::size_t>> byKey;
    {
        Statement read = db_->prepare(
            "SELECT Log_ID, ReceptionTime, ReceptionDate, ReceptionComments "
            "FROM NDBLog WHERE loggedlocation = ? ORDER BY Log_ID");
        read.bind({std::int64_t{location}});
        while (read.step()) {
            const std::size_t index = rowById.at(read.columnInt64(0));
            if (rows[index].claimed) continue;
            byKey[{std::string(read.columnText(1)), std::string(read.columnText(2)),
                   std::string(read.columnText(3))}]
                .push_back(index);
        }
    }
    for (std::size_t i = 0; i < logged.size(); ++i) {
        PairedReception& reception = logged[i];
        if (reception.logId != 0) continue;
        const WorkEntry& entry = *entryOf[i];
        const auto found = byKey.find(
            {utf8Trimmed(entry.time), utf8Trimmed(entry.date), utf8Trimmed(entry.comment)});
        if (found == byKey.end()) continue;
        for (std::size_t index : found->second) {
            if (rows[index].claimed) continue;
            rows[index].claimed = true;
            reception.logId = rows[index].logId;
            reception.beaconId = rows[index].beaconId;
            break;
        }
    }
    return logged;
}

}  // namespace zolt

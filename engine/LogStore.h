// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/Database.h"
#include "engine/DecisionRecord.h"
#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

// The one place that writes what the converter adds to the beacon database:
// the rows of NDBLog (and every statement on it), the listener's own beacons
// in NewBeacons, the decision record (engine/DecisionRecord.h) and the state
// journal (engine/StateJournal.h). A store is opened once per user action;
// its statements are prepared the first time they are needed and kept.

namespace zolt {

struct NewBeaconRow;

// A reception to append to NDBLog: its beacon and its fields (raw
// Windows-1252, trimmed).
struct ReceptionRow {
    std::int64_t beaconId = 0;
    std::string time, date, comment;
};

// An action of the record: its number and its kind (action::…).
struct RecordedAction {
    std::int64_t id = 0;
    std::string kind;
};

// A reception a Return To Waiting took out of the log, as the record keeps
// it for Undo.
struct ReturnedReception {
    int position = 0;
    std::int64_t group = 0;  // the Log_ID its row had: receptions of one row share it
    bool hadRow = false;
    std::optional<std::string> how, previousState;  // none: no decision was on record
    std::int64_t decidedBy = 0;                     // the action that had settled it
    std::string stateAfter;
    std::vector<DbValue> row;  // Beacon_ID, time, date, comments as they were stored
};

class LogStore {
  public:
    enum class Mode {
        Read,   // look-ups only
        Write,  // an action: its transaction begins at once
    };
    // Opens the project's database. Write takes the write lock now, so that
    // a database held by another program fails before anything is written.
    // `cacheKib`, when given, is the connection's page cache for an action
    // that writes many pages (set before the transaction begins).
    LogStore(const ProjectPaths& paths, Mode mode, int cacheKib = 0);
    // Over a connection the caller holds; nothing is begun.
    explicit LogStore(Database& db);
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;
    // Rolls back whatever was not committed.
    ~LogStore();

    Database& db() { return *db_; }

    // ---- the transaction and the state journal --------------------------------

    // Commits, with `states` (when given and not empty) journaled in the
    // transaction, then writes and flushes the states and clears the journal.
    // A failure before the commit rolls everything back; `keptOnFailure`,
    // when given, ends its message ("Nothing was logged.").
    void commit(PendingStates* states = nullptr, std::string_view keptOnFailure = {});
    // Writes every journaled state write into processed.dat and empties the
    // journal, inside the transaction. Returns whether there was any.
    bool completeStateWrites(const std::filesystem::path& processedPath);
    bool hasStateWrites();
    // Empties the journal without writing it.
    void discardStateWrites();

    // ---- the decision record ----------------------------------------------------

    bool hasRecord();
    void ensureRecord();
    // Every table of the record, the journal and the converter's index of
    // NDBLog go, inside the transaction (Start New Project, and FINALIZE's
    // compacted copy).
    void dropRecord();
    bool holdsConverterParts();

    // ---- NDBLog --------------------------------------------------------------------

    // Appends rows for `location` (1 … 16), many to a statement; flush()
    // stores those still waiting and is due before the decisions are stored.
    void appendRow(int location, std::int64_t beaconId, std::string_view timeUtf8,
                   std::string_view dateUtf8, std::string_view commentUtf8);
    void flushRows();
    // Appends one row as its values were stored before (Undo of a return).
    std::int64_t restoreRow(int location, const std::vector<DbValue>& row);
    void deleteRow(std::int64_t logId);
    void deleteRowsOf(int location);
    void deleteAllRows();
    bool rowPresent(std::int64_t logId, int location);
    std::int64_t rowCount();
    // Beacon_ID of every row of the location that holds a whole number.
    std::vector<std::int64_t> loggedBeaconIds(int location);
    // The listed beacons the location's rows point at: Beacon_ID, Ident,
    // Frequency, City, State, the country's long name, Latitude, Longitude.
    DbResult listedBeaconsLoggedAt(int location);
    // The same for the listener's own beacons, by newbeacon_ID.
    DbResult ownBeaconsLoggedAt(int location);
    // The own beacons the location's rows point at with their row counts:
    // newbeacon_ID, Ident, frequency, City, Country, Latitude, Longitude, count.
    DbResult ownBeaconsCountedAt(int location);
    // The location's rows and distinct beacons.
    DbResult loggedTotals(int location);
    // loggedlocation, ReceptionTime, ReceptionDate, ReceptionComments of every row.
    DbResult allReceptions();
    // Log_ID -> how it was decided, for every row still in the log with a record.
    std::unordered_map<std::int64_t, std::string> howByLogId();

    // ---- the listener's own beacons ----------------------------------------------

    // newbeacon_ID, Ident, frequency of every row, in table order.
    DbResult userBeacons();
    // Adds a row; returns its newbeacon_ID.
    std::int64_t addUserBeacon(const NewBeaconRow& row);

    // ---- what the record says ---------------------------------------------------

    std::int64_t addAction(int location, std::string_view kind);
    void deleteAction(std::int64_t actionId);
    // The location's latest action.
    std::optional<RecordedAction> lastAction(int location);
    std::int64_t decisionCount(std::int64_t actionId);
    std::int64_t returnedCount(std::int64_t actionId);
    // Stores the action's decisions after its rows were appended: the newest
    // `decisions.rows` rows of the location are the action's own, in append
    // order. Throws when they are not all there.
    void storeDecisions(int location, const PendingDecisions& decisions);
    // The decisions of one action, by position.
    struct Decided {
        int position = 0;
        std::int64_t logId = 0;
        std::string previousState;
    };
    std::vector<Decided> decisionsOf(std::int64_t actionId);
    void addDecision(int position, int location, std::int64_t logId, std::string_view how,
                     std::string_view previousState, std::int64_t actionId);
    void deleteDecision(std::int64_t decisionRowId);
    void deleteDecisionsOf(std::int64_t actionId);
    // Keeps a returned reception (with the row `logId` as it is now, when not 0).
    void keepReturned(std::int64_t actionId, int position, std::int64_t logId, const DbValue& how,
                      const DbValue& previousState, const DbValue& decidedBy,
                      std::string_view stateAfter);
    std::vector<ReturnedReception> returnedBy(std::int64_t actionId);
    void deleteReturnedOf(std::int64_t actionId);
    // Start Over: the location's rows and everything the record holds of it.
    void forgetLocation(int location);

    // ---- reading the location --------------------------------------------------------

    // Listed beacons of the exact look-up with `identUtf8` and `frequency`.
    std::int64_t listedCount(std::string_view identUtf8, double frequency);
    // The location's OK receptions of `set` (its working set) paired with
    // their rows, in file order. A row without a record is paired with a
    // reception by its time, date and comment, the first unpaired row in log
    // order.
    std::vector<PairedReception> pairLogged(const WorkingSet& set);

  private:
    Statement& cached(std::unique_ptr<Statement>& slot, std::string_view sql);
    // Stores rows 0 … count-1 of `pending_`.
    void appendPending();

    std::unique_ptr<Database> owned_;
    Database* db_ = nullptr;
    std::unique_ptr<Transaction> transaction_;
    struct Statements;
    std::unique_ptr<Statements> statements_;
    std::optional<bool> hasRecord_;
    // Rows waiting to be appended, and their location.
    int pendingLocation_ = 0;
    std::vector<ReceptionRow> pending_;
    std::size_t pendingCount_ = 0;
};

}  // namespace zolt

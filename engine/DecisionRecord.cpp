// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/DecisionRecord.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "db/Compaction.h"
#include "db/Database.h"
#include "engine/Project.h"
#include "engine/StateJournal.h"
#include "engine/CandidateLookup.h"
#include "engine/UserBeacons.h"
#include "work/Records.h"

namespace fs = std::filesystem;

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

std::string utf8Trimmed(std::string_view raw) { return cp1252ToUtf8(trimmedView(raw)); }

struct BeaconDetails {
    std::string call, frequency, city, province, country;
    std::optional<LatLon> position;
};

// The beacons the location's rows point at, listed ones and the listener's
// own (Beacon_ID above the offset), each read once.
std::unordered_map<std::int64_t, BeaconDetails> beaconsOfLocation(Database& db, int location) {
    std::unordered_map<std::int64_t, BeaconDetails> listed;
    Statement rows = db.prepare(
        "SELECT Beacon_ID, Ident, Frequency, City, State, "
        "coalesce((SELECT CountryLong FROM CountryCode WHERE CountryShort = Country), Country), "
        "Latitude, Longitude FROM NDBInformation WHERE Beacon_ID IN "
        "(SELECT Beacon_ID FROM NDBLog WHERE loggedlocation = ?)");
    for (const auto& row : rows.bind({std::int64_t{location}}).query().rows) {
        const auto* id = std::get_if<std::int64_t>(&row[0]);
        if (!id) continue;
        BeaconDetails& b = listed[*id];
        b.call = dbValueText(row[1]);
        b.frequency = dbValueText(row[2]);
        b.city = dbValueText(row[3]);
        b.province = removeXX(dbValueText(row[4]));
        b.country = dbValueText(row[5]);
        const auto lat = dbValueNumber(row[6]);
        const auto lon = dbValueNumber(row[7]);
        if (lat && lon) b.position = LatLon{*lat, *lon};
    }
    return listed;
}

std::unordered_map<std::int64_t, BeaconDetails> ownBeaconsOfLocation(Database& db, int location) {
    std::unordered_map<std::int64_t, BeaconDetails> own;
    Statement rows = db.prepare(
        "SELECT newbeacon_ID, Ident, frequency, City, State, "
        "coalesce((SELECT CountryLong FROM CountryCode WHERE CountryShort = Country), Country), "
        "Latitude, Longitude FROM NewBeacons WHERE newbeacon_ID + ? IN "
        "(SELECT Beacon_ID FROM NDBLog WHERE loggedlocation = ?)");
    for (const auto& row :
         rows.bind({std::int64_t{kUserBeaconOffset}, std::int64_t{location}}).query().rows) {
        const auto* id = std::get_if<std::int64_t>(&row[0]);
        if (!id) continue;
        BeaconDetails& b = own[*id + kUserBeaconOffset];
        b.call = dbValueText(row[1]);
        b.frequency = dbValueText(row[2]);
        b.city = dbValueText(row[3]);
        b.province = removeXX(dbValueText(row[4]));
        b.country = dbValueText(row[5]);
        b.position = ownBeaconPosition(dbValueText(row[6]), dbValueText(row[7]));
    }
    return own;
}

}  // namespace

void PendingDecisions::settle(std::size_t row, std::string_view howDecided,
                              const WorkEntry& before) {
    settled.push_back({row, std::string(howDecided), positionOf(before), before.state});
}

int positionOf(const WorkEntry& entry) { return entry.recordNo; }

bool hasDecisionRecord(Database& db) {
    return std::get<std::int64_t>(
               db.prepare("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                          "('ConverterAction', 'ConverterDecision', 'ConverterReturned')")
                   .query()
                   .rows.at(0)
                   .at(0)) == 3;
}

void ensureDecisionRecord(Database& db) { db.executeScript(kCreateSql); }

void dropDecisionRecord(Database& db) { db.executeScript(kDropSql); }

bool holdsConverterParts(Database& db) {
    return std::get<std::int64_t>(
               db.query("SELECT count(*) FROM sqlite_master WHERE name LIKE 'Converter%'")
                   .rows.at(0)
                   .at(0)) > 0;
}

bool dropDecisionRecord(const ProjectPaths& paths) {
    // Whatever the journal still holds is written before it goes: the
    // waiting receptions FINALIZE reports are those the file then shows.
    completeStateWrites(paths);
    {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        if (!holdsConverterParts(db)) return false;
    }
    // Dropped inside the compacted copy, which replaces the database only
    // once it is complete: a compaction that fails (the database locked, the
    // folder refusing the copy) leaves the record, so that the project goes
    // on with its Undo and its decisions rather than without them.
    compactMainDatabase(paths.DatabasePath, paths.WorkFolder / kCompactFile,
                        [](Database& copy) { dropDecisionRecord(copy); });
    return true;
}

void forgetDecisions(Database& db, int location) {
    if (!hasDecisionRecord(db)) return;
    const std::vector<DbValue> at{std::int64_t{location}};
    db.prepare(
          "DELETE FROM ConverterReturned WHERE Action_ID IN "
          "(SELECT Action_ID FROM ConverterAction WHERE loggedlocation = ?)")
        .bind(at)
        .execute();
    db.prepare("DELETE FROM ConverterDecision WHERE loggedlocation = ?").bind(at).execute();
    db.prepare("DELETE FROM ConverterAction WHERE loggedlocation = ?").bind(at).execute();
}

void storeDecisions(Database& db, int location, const PendingDecisions& decisions) {
    if (decisions.settled.empty()) return;
    ensureDecisionRecord(db);
    // The action's rows are the newest of its location: the transaction
    // that appended them holds the database's write lock.
    std::vector<std::int64_t> logIds;
    logIds.reserve(decisions.rows);
    {
        Statement newest = db.prepare(
            "SELECT Log_ID FROM NDBLog WHERE loggedlocation = ? ORDER BY Log_ID DESC LIMIT ?");
        newest.bind({std::int64_t{location}, static_cast<std::int64_t>(decisions.rows)});
        while (newest.step()) logIds.push_back(newest.columnInt64(0));
    }
    if (logIds.size() != decisions.rows) {
        throw EngineError("Could not record how the receptions were decided in the database " +
                          db.path().string() + ": " + std::to_string(decisions.rows) +
                          " rows were appended but " + std::to_string(logIds.size()) +
                          " were found. Nothing was logged.");
    }
    std::reverse(logIds.begin(), logIds.end());

    Statement addAction =
        db.prepare("INSERT INTO ConverterAction (loggedlocation, Kind) VALUES (?, ?)");
    addAction.bind({std::int64_t{location}, decisions.action}).execute();
    const std::int64_t actionId = db.lastInsertRowId();

    for (const auto& s : decisions.settled) {
        if (s.row >= logIds.size()) {
            throw EngineError("Could not record how the receptions were decided in the database " +
                              db.path().string() + ": a reception names no appended row.");
        }
    }
    // Many rows to a statement, as the run appends its log rows: a matching
    // run records tens of thousands of decisions, and the cost of running a
    // statement is then shared. Location and action are the same in every row.
    constexpr std::size_t kRows = 64;
    auto insertSql = [&](std::size_t rows) {
        const std::string values =
            "(?, " + std::to_string(location) + ", ?, ?, ?, " + std::to_string(actionId) + ")";
        std::string sql =
            "INSERT INTO ConverterDecision (Position, loggedlocation, Log_ID, How, PreviousState, "
            "Action_ID) VALUES " +
            values;
        for (std::size_t r = 1; r < rows; ++r) sql += ", " + values;
        return sql;
    };
    Statement many = db.prepare(insertSql(kRows));
    Statement one = db.prepare(insertSql(1));
    auto bindRow = [&](Statement& statement, std::size_t slot, const PendingDecisions::Settled& s) {
        const int base = static_cast<int>(slot * 4);
        statement.bindInt64(base + 1, s.position)
            .bindInt64(base + 2, logIds[s.row])
            .bindTextInPlace(base + 3, s.how)
            .bindTextInPlace(base + 4, s.previousState);
    };
    const auto& all = decisions.settled;
    std::size_t next = 0;
    for (; next + kRows <= all.size(); next += kRows) {
        for (std::size_t slot = 0; slot < kRows; ++slot) bindRow(many, slot, all[next + slot]);
        many.execute();
    }
    for (; next < all.size(); ++next) {
        bindRow(one, 0, all[next]);
        one.execute();
    }
}

std::unordered_map<std::int64_t, std::string> howDecidedByLogId(Database& db) {
    std::unordered_map<std::int64_t, std::string> result;
    if (!hasDecisionRecord(db)) return result;
    // Only rows still in the log: a record whose row was removed by hand
    // describes nothing.
    Statement rows = db.prepare(
        "SELECT d.Log_ID, d.How FROM ConverterDecision d JOIN NDBLog l ON l.Log_ID = d.Log_ID "
        "AND l.loggedlocation = d.loggedlocation");
    while (rows.step()) result.emplace(rows.columnInt64(0), std::string(rows.columnText(1)));
    return result;
}

std::vector<PairedReception> pairLoggedReceptions(Database& db, std::string_view bytes,
                                                  int location) {
    struct LogRowOf {
        std::int64_t logId, beaconId;
        bool claimed = false;
    };
    // The location's rows, and the record's decisions whose rows are there.
    std::vector<LogRowOf> rows;
    std::unordered_map<std::int64_t, std::size_t> rowById;
    {
        Statement read = db.prepare(
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
    if (hasDecisionRecord(db)) {
        Statement read = db.prepare(
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
    std::size_t unpaired = 0;
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    for (std::size_t i = 0; i < count; ++i) {
        const ProcessedRecordView r{
            bytes.substr(i * ProcessedRecord::kLength, ProcessedRecord::kLength)};
        if (r.location() != location || trimmedView(r.state()) != trimmedView(state::OK)) {
            continue;
        }
        PairedReception reception;
        reception.position = static_cast<int>(i + 1);
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
    }
    if (unpaired == 0) return logged;

    // Receptions without a record take the first unclaimed row that carries
    // their time, date and comment, as the converter stored them.
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<std::size_t>> byKey;
    {
        Statement read = db.prepare(
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
    for (auto& reception : logged) {
        if (reception.logId != 0) continue;
        const ProcessedRecordView r{bytes.substr(
            static_cast<std::size_t>(reception.position - 1) * ProcessedRecord::kLength,
            ProcessedRecord::kLength)};
        const auto found =
            byKey.find({utf8Trimmed(r.time()), utf8Trimmed(r.date()), utf8Trimmed(r.comment())});
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

std::vector<LoggedReception> readLoggedReceptions(const ProjectPaths& paths, int location,
                                                  std::optional<LatLon> home) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(paths.ProcessedPath, ec))) return {};
    const std::string bytes = readWholeFile(paths.ProcessedPath);
    Database db(paths.DatabasePath, Database::Mode::ReadOnly);
    const std::vector<PairedReception> paired = pairLoggedReceptions(db, bytes, location);
    const auto listed = beaconsOfLocation(db, location);
    const auto own = ownBeaconsOfLocation(db, location);
    std::vector<LoggedReception> logged;
    logged.reserve(paired.size());
    for (const auto& p : paired) {
        logged.emplace_back();
        LoggedReception& reception = logged.back();
        const ProcessedRecordView r{std::string_view(bytes).substr(
            static_cast<std::size_t>(p.position - 1) * ProcessedRecord::kLength,
            ProcessedRecord::kLength)};
        reception.position = p.position;
        reception.ident = std::string(r.ident());
        reception.frequency = std::string(r.frequency());
        reception.time = std::string(r.time());
        reception.date = std::string(r.date());
        reception.comment = std::string(r.comment());
        reception.logId = p.logId;
        reception.beaconId = p.beaconId;
        reception.how = p.how;
        if (reception.logId == 0) continue;
        // The listener's own beacons share the number range above the
        // offset with listed ones; the record says which was meant, and a
        // row logged earlier is taken for a listed beacon when one exists.
        const bool ownFirst = reception.how == how::kOwnBeacon;
        const auto inListed = listed.find(reception.beaconId);
        const auto inOwn = own.find(reception.beaconId);
        const BeaconDetails* beacon = nullptr;
        if (ownFirst && inOwn != own.end()) {
            beacon = &inOwn->second;
        } else if (inListed != listed.end()) {
            beacon = &inListed->second;
        } else if (inOwn != own.end()) {
            beacon = &inOwn->second;
        }
        if (!beacon) continue;
        reception.call = beacon->call;
        reception.beaconFrequency = beacon->frequency;
        reception.city = beacon->city;
        reception.province = beacon->province;
        reception.country = beacon->country;
        reception.beaconPosition = beacon->position;
        if (home && beacon->position) {
            reception.distanceKm = greatCircleKm(*home, *beacon->position);
        }
    }
    return logged;
}

}  // namespace zolt

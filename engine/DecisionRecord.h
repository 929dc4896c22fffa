// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Geo.h"
#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

// How every NDBLog row the converter appends was decided, kept so that the
// listener can see it afterwards and reverse it (engine/Reversal.h).
//
// The record lives in three tables of the beacon database itself, so that
// the rows, the record and the transaction that stores them are one: a
// second file would need its own journal to stay in step through a kill.
// None of the tables belongs to the logbook's schema: FINALIZE and Start New
// Project drop them, Start Over forgets its location's part.
//
//   ConverterAction    one row per action: its location and kind.
//   ConverterDecision  one row per settled reception: its 1-based position
//                      in processed.dat, the Log_ID of its row, how it was
//                      decided, the state it had before, its action.
//   ConverterReturned  the rows a Return To Waiting took out of the log,
//                      with their decisions, so that Undo can put them back.
//   ConverterStateWrite  the states an action is writing to processed.dat
//                      (engine/StateJournal.h).
// and the index ConverterLogByLocation of NDBLog by location, for the
// look-ups of one location's rows.

namespace zolt {

class Database;

// How a reception was decided, in the words the listener reads.
namespace how {
inline constexpr std::string_view kUniqueMatch = "unique match";
inline constexpr std::string_view kOwnBeacon = "own beacon";
inline constexpr std::string_view kPicked = "picked";
inline constexpr std::string_view kPickedForAll = "picked for all";
inline constexpr std::string_view kSuggested = "suggested";
// A row appended before the record existed.
inline constexpr std::string_view kLoggedEarlier = "logged earlier";
}  // namespace how

// The actions that settle or return receptions, by their buttons' names.
namespace action {
inline constexpr std::string_view kMatchingRun = "matching run";
inline constexpr std::string_view kAddToLog = "Add To Log";
inline constexpr std::string_view kAddSuggestedPicks = "Add Suggested Picks";
inline constexpr std::string_view kReturnToWaiting = "Return To Waiting";
}  // namespace action

// The decisions of one action, collected while its rows are prepared.
struct PendingDecisions {
    explicit PendingDecisions(std::string_view kind) : action(kind) {}

    std::string action;
    struct Settled {
        std::size_t row = 0;  // which appended row (0-based, in append order)
        std::string how;
        int position = 0;           // 1-based position in processed.dat
        std::string previousState;  // as stored, e.g. "AMB"
    };
    std::vector<Settled> settled;
    std::size_t rows = 0;  // rows the action appends

    void settle(std::size_t row, std::string_view how, const WorkEntry& before);
};

// Where a reception lies in processed.dat (1-based).
int positionOf(const WorkEntry& entry);

// Whether the record's tables exist (a database never written to since the
// record came, or one finalized, has none).
bool hasDecisionRecord(Database& db);
// FINALIZE's removal of the record, all or nothing: the journal is written
// out first, then the database is replaced by a compacted copy without the
// record, the journal and the converter's index of NDBLog (db/Compaction.h),
// so that a failure leaves the record in place. Does nothing when the
// database holds none of them. Returns whether it compacted the database,
// which then needs no second compaction. (Start New Project drops them inside
// its own transaction: LogStore::dropRecord.)
bool finalizeDecisionRecord(const ProjectPaths& paths);
// The name the window still calls finalizeDecisionRecord by.
bool dropDecisionRecord(const ProjectPaths& paths);

// Log_ID -> how it was decided, for every row with a record.
std::unordered_map<std::int64_t, std::string> howDecidedByLogId(Database& db);

// A settled (OK) reception of a location paired with its row and decision.
struct PairedReception {
    int position = 0;        // 1-based in processed.dat
    std::int64_t logId = 0;  // its NDBLog row; 0 when none could be found
    std::int64_t beaconId = 0;
    std::string how;  // one of the words above
    // Kept from the record for Return To Waiting; empty for rows logged earlier.
    std::string previousState;
    std::int64_t actionId = 0;
    std::int64_t decisionRowId = 0;  // its row in the record; 0 when none
};

// A settled (OK) reception of a location as the logged view lists it.
struct LoggedReception {
    int position = 0;  // 1-based in processed.dat
    // Raw Windows-1252 fields at full width, as the other lists keep them.
    std::string ident, frequency, time, date, comment;
    std::int64_t logId = 0;  // its NDBLog row; 0 when none could be found
    std::int64_t beaconId = 0;
    // The beacon (UTF-8); empty when it is in neither beacon table.
    std::string call, beaconFrequency, city, province, country;
    std::optional<LatLon> beaconPosition;
    std::optional<double> distanceKm;  // from `home`, when both are known
    std::string how;                   // one of the words above
};

// Every OK reception of `location` in file order, each with the row it was
// logged as. A row without a record is paired with a reception by its time,
// date and comment, the first unpaired row in log order.
std::vector<LoggedReception> readLoggedReceptions(const ProjectPaths& paths, int location,
                                                  std::optional<LatLon> home);
class LogStore;
// The same for the location's receptions `set` (its working set, as
// processed.dat holds it), through an open store.
std::vector<LoggedReception> loggedReceptionsOf(LogStore& store, const WorkingSet& set,
                                                std::optional<LatLon> home);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/FileUtil.h"
#include "work/BackupImport.h"

namespace zolt {

// One reception of the selected location, as loaded from processed.dat.
// Together the entries are the working set (WorkLocation, WorkRecordNo,
// WorkIdent … WorkState of the old design, entry i being element i + 1).
// Text fields are raw Windows-1252 bytes at full width, untrimmed.
struct WorkEntry {
    std::int16_t location = 0;
    int recordNo = 0;       // its 1-based position in processed.dat, where its state goes back
    std::string ident;      // 10
    std::string frequency;  // 10
    std::string time;       // 5
    std::string date;       // 10
    std::string comment;    // 60
    std::string state;      // 3, as stored ("OK ")
};

struct WorkingSet {
    int location = 0;  // 1 … 16, 0 when none is loaded
    std::vector<WorkEntry> entries;
    int unpCount = 0, misCount = 0, ambCount = 0;

    int WorkCount() const { return static_cast<int>(entries.size()); }
};

// Where a location's conversion stands, as its first pending record tells.
enum class LocationState {
    NothingPending,  // no reception of it waits: there is nothing to open
    WorkLeft,        // matched, with ambiguous or unresolved receptions left (AMB, MIS)
    NotMatched,      // its receptions wait for the matching run (UNP)
};

// Whether anything of the location waits, so that it can be opened.
constexpr bool hasPendingWork(LocationState state) {
    return state != LocationState::NothingPending;
}

// The state of each location 1 … 16 (index 0 … 15): the first pending record
// of a location decides. A missing processed.dat leaves nothing pending.
std::array<LocationState, kLocationCount> scanLocationStates(
    const std::filesystem::path& processedPath);

// Loads the receptions of one location in file order.
WorkingSet loadWorkingSet(const std::filesystem::path& processedPath, int location);
// The same from the file's bytes already read (`processedPath` names them in
// messages).
WorkingSet workingSetIn(const std::filesystem::path& processedPath, std::string_view bytes,
                        int location);
// The same for a location whose `count` records a scan of the whole file
// found together from record `first` (1-based) on: only those are read.
// Where the file holds anything else there, the whole file is read after all.
WorkingSet loadWorkingSet(const std::filesystem::path& processedPath, int location,
                          std::size_t first, std::size_t count);

// Counts the entries' UNP, MIS and AMB states anew.
void recountStates(WorkingSet& set);

// The moments of a state write at which a kill leaves the database ahead of
// processed.dat. A test sets a hook to stop the process there; the program
// itself never sets one.
enum class StateWritePoint {
    AfterCommit,  // the rows are committed, no state is written yet
    MidWrite,     // half of the stretch is written
    AfterWrite,   // every state is written and flushed, the journal still holds them
};
using StateWriteHook = void (*)(StateWritePoint);
void setStateWriteHook(StateWriteHook hook);
void reachStateWritePoint(StateWritePoint point);

// What a state write will do, kept in the database with the rows it goes
// with, so that a write cut short can be completed later (engine/StateJournal.h).
struct StateStretch {
    int location = 0;
    int first = 0;       // 1-based position of the stretch's first record
    std::string states;  // 3 bytes for each record of the stretch; NUL bytes: left alone
    std::uint64_t fileSize = 0;
    // Of the stretch's bytes without their State fields: the same receptions
    // whatever their states, another file's almost never.
    std::uint64_t fingerprint = 0;
};

// Writes a stretch's states into processed.dat again and flushes them. Only
// State bytes change; nothing is written unless the file has the stretch's
// size and fingerprint and every record written to is of its location and
// carries the number of its place. Throws EngineError naming the file.
void applyStateStretch(const std::filesystem::path& processedPath, const StateStretch& stretch);

// Writes every entry's state (trimmed, padded to 3) back into its record;
// nothing else changes. Two-phase, so that the states land together with a
// database commit: preparing checks every entry's record against the file
// (it must still carry the number of its place and the entry's location)
// and opens the file for writing, so that whatever can refuse refuses
// before the commit; commit() then writes the new State fields in place and
// flushes them. Destroyed uncommitted, it has written nothing.
class PendingStates {
  public:
    PendingStates(const std::filesystem::path& processedPath, const WorkingSet& set,
                  const std::vector<std::string_view>& states);
    PendingStates(const PendingStates&) = delete;
    PendingStates& operator=(const PendingStates&) = delete;
    ~PendingStates();
    void commit();
    // What commit() will write; empty states when there is nothing.
    const StateStretch& stretch() const { return stretch_; }

  private:
    std::filesystem::path path_;
    int fd_ = -1;
    std::size_t offset_ = 0;  // where region_ stands in the file
    std::string region_;      // the records from the first entry's to the last's, new states in
    StateStretch stretch_;
};

std::unique_ptr<PendingStates> prepareWorkStates(const std::filesystem::path& processedPath,
                                                 const WorkingSet& set);
// The same with states[i] in place of entry i's state (as many states as
// entries), for a run that leaves the set alone until the file is stored.
std::unique_ptr<PendingStates> prepareWorkStates(const std::filesystem::path& processedPath,
                                                 const WorkingSet& set,
                                                 const std::vector<std::string_view>& states);
void saveWorkStates(const std::filesystem::path& processedPath, const WorkingSet& set);

enum class PendingWork {
    NoProject,       // no settings.ini: nothing to check
    Rebuilt,         // processed.dat was missing and has been rebuilt
    WorkLeft,        // some record is UNP, AMB or MIS
    NothingLeft,     // a finished project: the caller finalizes
    NothingImported  // a project in which no reception was ever imported
};

// The start-up check. `projectExists` is whether settings.ini was read.
PendingWork checkPendingWork(const std::filesystem::path& processedPath,
                             const std::filesystem::path& backupFolder, bool projectExists);

}  // namespace zolt

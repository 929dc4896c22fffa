// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/EngineError.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"

namespace zolt {

// What a look at processed.dat found. A file that is not sound must never be
// taken for a finished project: finalizing it would drop receptions that were
// never converted.
struct WorkingFileCheck {
    bool exists = false;
    std::size_t bytes = 0;
    std::size_t records = 0;  // whole records
    std::size_t pending = 0;  // records in UNP, AMB or MIS
    // Empty when sound; otherwise what is wrong, as the end of a sentence
    // that begins "The working file <path> is damaged: ".
    std::string problem;

    bool sound() const { return problem.empty(); }
};

// Checks processed.dat: a whole number of records; every record's RecordNo
// is the low 16 bits of its 1-based position; locations 1 … 16 in ascending
// runs; every state one of the four codes. Where `backupFolder` can be read,
// the file also holds as many receptions as its old logs give (counted from
// the .bak logs, or from the .dat logs a rebuild prefers). A missing file is
// reported as such (exists false) and is not a problem by itself.
WorkingFileCheck checkWorkingFile(const std::filesystem::path& processedPath,
                                  const std::filesystem::path& backupFolder);

// The receptions the import would take from the old logs of `folder`;
// nothing when the folder cannot be read or holds no old log.
std::optional<std::size_t> countBackupReceptions(const std::filesystem::path& folder,
                                                 LogSource source);

// An old log that ends in bytes that make no whole record.
struct PartialRecord {
    std::filesystem::path file;
    std::size_t bytes = 0;  // left out at its end
};
std::vector<PartialRecord> partialLogRecords(const std::filesystem::path& folder, LogSource source);
// One message for all of them; empty when there are none.
std::string describePartialRecords(const std::vector<PartialRecord>& partial);

// Whether `folder` holds any of log0 … log15 (.bak or .dat).
bool holdsOldLogs(const std::filesystem::path& folder);

// Matching reads the listener's own beacons from the backup folder: without
// it they would silently become unresolved. Throws naming the folder.
void requireBackupFolder(const std::filesystem::path& folder);

// Another window (or program) has settled receptions of this working set on
// disk since it was loaded: the action is refused, and the window reloads.
class SettledElsewhere : public EngineError {
  public:
    using EngineError::EngineError;
};

// Called inside the transaction of an action that logs rows, before the
// commit: `entry` must still wait (not OK) in processed.dat's `bytes`, found
// by its record number; another window may have settled it meanwhile.
// Throws SettledElsewhere otherwise.
void requireWaiting(const std::filesystem::path& processedPath, std::string_view bytes,
                    const WorkEntry& entry);

}  // namespace zolt

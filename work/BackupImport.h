// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

#include "work/Records.h"

namespace zolt {

inline constexpr int kLocationCount = 16;
// RecordNo's own range: a project of at most so many receptions numbers
// every record plainly (see ProcessedRecord).
inline constexpr int kMaxRecordNo = 32767;
// A project holds every reception of sixteen full old logs.
inline constexpr int kMaxProcessedRecords = kLocationCount * kMaxRecordNo;  // 524,272
// The working set holds at most so many receptions of one location.
inline constexpr int kMaxWorkingSet = 100000;

// Converts one old record into a working record of location `location`
// numbered `number`, or returns false when the record is to be skipped
// (a NUL in the cleaned ident, or callsign and frequency both blank).
bool convertLogRecord(const LogBackupRecord& old, int location, int number, ProcessedRecord& out);

// The cleaned ident: every "-" removed, padded to 10, cut before the first ";".
std::string cleanIdent(std::string_view callsign);

enum class LogSource {
    Backups,   // log<n>.bak
    WorkLogs,  // log<n>.dat, or log<n>.bak where no .dat is present
};

// Builds processed.dat anew from the old logs of `backupFolder` (found
// without regard to letter case; missing ones contribute nothing and nothing
// is created there). The new file replaces `processedPath` only on success;
// more than kMaxProcessedRecords receptions in all, or more than
// kMaxWorkingSet of one location, are refused with a message giving the
// count and the limit, before anything is written.
// Returns the number of records written (WorkCount).
int buildProcessedFile(const std::filesystem::path& backupFolder,
                       const std::filesystem::path& processedPath, LogSource source);

}  // namespace zolt

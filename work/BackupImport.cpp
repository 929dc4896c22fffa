// SPDX-License-Identifier: GPL-2.0-or-later
#include "work/BackupImport.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

bool onlyBlanks(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}

// The log of location n + 1 in the backup folder, if there is one. The rebuild
// prefers the working log (.dat) and falls back to its backup, so that a
// folder that only holds backups still rebuilds the receptions it has.
std::optional<fs::path> findLog(const fs::path& folder, int n, LogSource source) {
    const std::string stem = "log" + std::to_string(n);
    if (source == LogSource::WorkLogs) {
        if (auto dat = findFileNoCase(folder, stem + ".dat")) return dat;
    }
    return findFileNoCase(folder, stem + ".bak");
}

void checkBackupFolder(const fs::path& folder) {
    if (folder.empty()) {
        throw EngineError(
            "Could not read the old logs: no backup folder has been chosen for this project.");
    }
    std::error_code ec;
    const auto status = fs::status(folder, ec);
    if (!fs::exists(status)) {
        throw EngineError("Could not read the old logs: the backup folder " + folder.string() +
                          " does not exist.");
    }
    if (!fs::is_directory(status)) {
        throw EngineError("Could not read the old logs: the backup folder " + folder.string() +
                          " is not a folder.");
    }
}

}  // namespace

std::string cleanIdent(std::string_view callsign) {
    std::string ident;
    ident.reserve(callsign.size());
    for (char c : callsign) {
        if (c != '-') ident += c;
    }
    ident = padField(ident, 10);
    if (const auto semicolon = ident.find(';'); semicolon != std::string::npos) {
        ident = padField(std::string_view(ident).substr(0, semicolon), 10);
    }
    return ident;
}

bool convertLogRecord(const LogBackupRecord& old, int location, int number, ProcessedRecord& out) {
    std::string ident = cleanIdent(old.Callsign);
    // A slot the old program never wrote is full of NULs.
    if (ident.find('\0') != std::string::npos) return false;
    if (onlyBlanks(old.Callsign) && onlyBlanks(old.Frequency)) return false;

    out.Location = static_cast<std::int16_t>(location);
    out.RecordNo = static_cast<std::int16_t>(number);
    out.Ident = std::move(ident);
    out.Frequency = padField(old.Frequency, 10);
    out.Time = padField(old.Time, 5);
    out.Date = padField(old.Date, 10);
    out.Comment = padField(old.Comment, 60);
    out.State = std::string(state::UNP);
    return true;
}

int buildProcessedFile(const fs::path& backupFolder, const fs::path& processedPath,
                       LogSource source) {
    checkBackupFolder(backupFolder);

    // The whole file is built in memory first: a failure or a refusal leaves
    // the previous processed.dat exactly as it was.
    std::string bytes;
    int kept = 0;
    ProcessedRecord converted;
    for (int n = 0; n < kLocationCount; ++n) {
        const auto log = findLog(backupFolder, n, source);
        if (!log) continue;
        const std::string raw = readWholeFile(*log);
        const std::size_t count = recordCount(raw.size(), LogBackupRecord::kLength);
        if (bytes.empty()) {
            bytes.reserve(std::min<std::size_t>(count, kMaxProcessedRecords) *
                          ProcessedRecord::kLength);
        }
        for (std::size_t r = 0; r < count; ++r) {
            const auto old = LogBackupRecord::decode(std::string_view(raw).substr(
                r * LogBackupRecord::kLength, LogBackupRecord::kLength));
            if (!convertLogRecord(old, n + 1, kept + 1, converted)) continue;
            ++kept;
            // Past the limit only the count goes on, for the message.
            if (kept <= kMaxProcessedRecords) bytes += converted.encode();
        }
    }

    if (kept > kMaxProcessedRecords) {
        throw EngineError("The backups in " + backupFolder.string() + " hold " +
                          std::to_string(kept) + " receptions; the converter can take at most " +
                          std::to_string(kMaxProcessedRecords) + ", so nothing was imported and " +
                          describePath(processedPath) + " was left as it was.");
    }
    replaceFileAtomically(processedPath, bytes);
    return kept;
}

}  // namespace zolt

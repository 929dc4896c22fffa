// SPDX-License-Identifier: GPL-2.0-or-later
#include "work/BackupImport.h"

#include <algorithm>
#include <cstring>
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

constexpr std::size_t kIdentWidth = 10;

// Writes a 16-bit number, low byte first; returns the end.
char* putInt16(char* at, int value) {
    const auto bits = static_cast<std::uint16_t>(value);
    at[0] = static_cast<char>(bits & 0xFF);
    at[1] = static_cast<char>(bits >> 8);
    return at + 2;
}

// Writes `text` space-padded or cut to `width`; returns the end.
char* putField(char* at, std::string_view text, std::size_t width) {
    const std::size_t used = text.size() < width ? text.size() : width;
    std::memcpy(at, text.data(), used);
    std::memset(at + used, ' ', width - used);
    return at + width;
}

// The cleaned ident of a callsign without its padding, written into `ident`;
// returns its length. Works on the bytes where they stand: the import cleans
// every record of every log.
std::size_t cleanIdentInto(std::string_view callsign, char (&ident)[kIdentWidth]) {
    std::size_t length = 0;
    for (const char c : callsign) {
        if (c == '-') continue;
        if (length == kIdentWidth) break;
        ident[length++] = c;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (ident[i] == ';') return i;
    }
    return length;
}

// Cleans the ident into `ident` (`length` bytes, unpadded); false when the
// record is to be skipped.
bool cleanedIdent(std::string_view callsign, std::string_view frequency, char (&ident)[kIdentWidth],
                  std::size_t& length) {
    length = cleanIdentInto(callsign, ident);
    // A slot the old program never wrote is full of NULs.
    for (std::size_t i = 0; i < length; ++i) {
        if (ident[i] == '\0') return false;
    }
    return !(onlyBlanks(callsign) && onlyBlanks(frequency));
}

// Appends the working record of an old record's fields, in the layout
// ProcessedRecord::encode writes.
void appendConverted(std::string& out, int location, int number, std::string_view ident,
                     std::string_view frequency, std::string_view time, std::string_view date,
                     std::string_view comment) {
    const std::size_t start = out.size();
    out.resize(start + ProcessedRecord::kLength);
    char* at = out.data() + start;
    at = putInt16(at, location);
    at = putInt16(at, number);
    at = putField(at, ident, kIdentWidth);
    at = putField(at, frequency, 10);
    at = putField(at, time, 5);
    at = putField(at, date, 10);
    at = putField(at, comment, 60);
    putField(at, state::UNP, 3);
}

}  // namespace

std::string cleanIdent(std::string_view callsign) {
    char ident[kIdentWidth];
    return padField(std::string_view(ident, cleanIdentInto(callsign, ident)), kIdentWidth);
}

bool convertLogRecord(const LogBackupRecord& old, int location, int number, ProcessedRecord& out) {
    // The import's own conversion, so that the two can never disagree.
    char ident[kIdentWidth];
    std::size_t length = 0;
    if (!cleanedIdent(old.Callsign, old.Frequency, ident, length)) return false;
    std::string bytes;
    bytes.reserve(ProcessedRecord::kLength);
    appendConverted(bytes, location, number, std::string_view(ident, length), old.Frequency,
                    old.Time, old.Date, old.Comment);
    out = ProcessedRecord::decode(bytes);
    return true;
}

int buildProcessedFile(const fs::path& backupFolder, const fs::path& processedPath,
                       LogSource source) {
    checkBackupFolder(backupFolder);

    // The whole file is built in memory first: a failure or a refusal leaves
    // the previous processed.dat exactly as it was.
    std::string bytes;
    int kept = 0;
    char ident[kIdentWidth];
    std::size_t identLength = 0;
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
            // The fields of LogBackupRecord, read where they stand.
            const auto old = std::string_view(raw).substr(r * LogBackupRecord::kLength,
                                                          LogBackupRecord::kLength);
            const auto callsign = old.substr(0, 7), frequency = old.substr(7, 6);
            if (!cleanedIdent(callsign, frequency, ident, identLength)) continue;
            ++kept;
            // Past the limit only the count goes on, for the message.
            if (kept <= kMaxProcessedRecords) {
                appendConverted(bytes, n + 1, kept, std::string_view(ident, identLength), frequency,
                                old.substr(13, 4), old.substr(17, 8), old.substr(25, 60));
            }
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

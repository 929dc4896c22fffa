// SPDX-License-Identifier: GPL-2.0-or-later
#include "work/BackupImport.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <system_error>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/MappedFile.h"
#include "core/TextFields.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

// The end of a refusal's message: what became of the working file. Right
// after Start New Project there is none to speak of.
std::string keptText(const fs::path& processedPath) {
    std::error_code ec;
    if (!fs::exists(processedPath, ec)) return "; no working file was made.";
    return " and " + describePath(processedPath) + " was left as it was.";
}

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

    std::array<std::optional<fs::path>, kLocationCount> logs;
    std::uintmax_t oldRecords = 0;
    for (int n = 0; n < kLocationCount; ++n) {
        logs[static_cast<std::size_t>(n)] = findLog(backupFolder, n, source);
        std::error_code ec;
        if (const auto& log = logs[static_cast<std::size_t>(n)]) {
            const auto size = fs::file_size(*log, ec);
            if (!ec) oldRecords += recordCount(size, LogBackupRecord::kLength);
        }
    }

    // The whole file is built in memory first: a failure or a refusal leaves
    // the previous processed.dat exactly as it was. Room for every record of
    // the old logs (within the limit) is taken at once, so that a whole
    // archive is not copied over and over while the buffer grows.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(oldRecords,
                                                                   kMaxProcessedRecords)) *
                  ProcessedRecord::kLength);
    int kept = 0;
    char ident[kIdentWidth];
    std::size_t identLength = 0;
    for (int n = 0; n < kLocationCount; ++n) {
        const auto& log = logs[static_cast<std::size_t>(n)];
        if (!log) continue;
        // Seen in place: a whole archive's logs are tens of megabytes, and a
        // copy of each would cost more than converting it.
        const MappedFile file(*log);
        const std::string_view raw = file.bytes();
        const std::size_t count = recordCount(raw.size(), LogBackupRecord::kLength);
        int ofLocation = 0;
        for (std::size_t r = 0; r < count; ++r) {
            // The fields of LogBackupRecord, read where they stand.
            const auto old = raw.substr(r * LogBackupRecord::kLength,
                                                          LogBackupRecord::kLength);
            const auto callsign = old.substr(0, 7), frequency = old.substr(7, 6);
            if (!cleanedIdent(callsign, frequency, ident, identLength)) continue;
            ++kept;
            ++ofLocation;
            // Past a limit only the counts go on, for the message.
            if (kept <= kMaxProcessedRecords && ofLocation <= kMaxWorkingSet) {
                appendConverted(bytes, n + 1, recordNoFor(static_cast<std::size_t>(kept)),
                                std::string_view(ident, identLength), frequency, old.substr(13, 4),
                                old.substr(17, 8), old.substr(25, 60));
            }
        }
        if (ofLocation > kMaxWorkingSet) {
            throw EngineError("The old log " + log->string() + " holds " +
                              std::to_string(ofLocation) + " receptions of listening location " +
                              std::to_string(n + 1) + "; one location can take at most " +
                              std::to_string(kMaxWorkingSet) + ", so nothing was imported" +
                              keptText(processedPath));
        }
    }

    if (kept > kMaxProcessedRecords) {
        throw EngineError("The backups in " + backupFolder.string() + " hold " +
                          std::to_string(kept) + " receptions; the converter can take at most " +
                          std::to_string(kMaxProcessedRecords) + " (" +
                          std::to_string(kLocationCount) + " locations of " +
                          std::to_string(kMaxRecordNo) + "), so nothing was imported" +
                          keptText(processedPath));
    }
    replaceFileAtomically(processedPath, bytes);
    return kept;
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "work/WorkingFileCheck.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <system_error>

#include "core/Cp1252.h"
#include "core/FileUtil.h"
#include "core/MappedFile.h"
#include "core/TextFields.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

bool validState(std::string_view stored) {
    const std::string_view code = trimmedView(stored);
    return code == state::UNP || code == state::AMB || code == state::MIS ||
           code == trimmedView(state::OK);
}

bool readableFolder(const fs::path& folder) {
    std::error_code ec;
    return !folder.empty() && fs::is_directory(folder, ec);
}

std::optional<fs::path> findLog(const fs::path& folder, int n, LogSource source) {
    const std::string stem = "log" + std::to_string(n);
    if (source == LogSource::WorkLogs) {
        if (auto dat = findFileNoCase(folder, stem + ".dat")) return dat;
    }
    return findFileNoCase(folder, stem + ".bak");
}

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

WorkingFileCheck checkWorkingFile(const fs::path& processedPath, const fs::path& backupFolder) {
    WorkingFileCheck check;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(processedPath, ec))) return check;
    check.exists = true;
    // Every location choice runs this over the whole file (tens of MB on a
    // full archive): seen in place rather than copied.
    const MappedFile file(processedPath);
    const std::string_view bytes = file.bytes();
    check.bytes = bytes.size();
    check.records = recordCount(bytes.size(), ProcessedRecord::kLength);
    if (bytes.size() % ProcessedRecord::kLength != 0) {
        check.problem = "it is " + plural(bytes.size(), "byte", "bytes") +
                        " long, which is no whole number of " +
                        std::to_string(ProcessedRecord::kLength) +
                        "-byte records (it was cut short, or something else was written to it)";
        return check;
    }
    int previousLocation = 0;
    for (std::size_t i = 0; i < check.records; ++i) {
        const ProcessedRecordView record{
            bytes.substr(i * ProcessedRecord::kLength, ProcessedRecord::kLength)};
        const std::size_t position = i + 1;
        const auto where = [position] { return "record " + std::to_string(position); };
        if (record.recordNo() != static_cast<std::int16_t>(position)) {
            check.problem = where() + " carries the number " + std::to_string(record.recordNo()) +
                            ", so the records are out of order";
            return check;
        }
        const int location = record.location();
        if (location < 1 || location > kLocationCount) {
            check.problem = where() + " names the listening location " + std::to_string(location) +
                            ", which does not exist";
            return check;
        }
        if (location < previousLocation) {
            check.problem = where() + " belongs to location " + std::to_string(location) +
                            " but follows records of location " + std::to_string(previousLocation) +
                            ", so the records are out of order";
            return check;
        }
        previousLocation = location;
        if (!validState(record.state())) {
            check.problem = where() + " holds no valid state";
            return check;
        }
        check.pending += isPendingState(record.state());
    }
    // A file cut at a record boundary passes every test above; only the old
    // logs tell that receptions are missing.
    const auto fromBackups = countBackupReceptions(backupFolder, LogSource::Backups);
    if (fromBackups && *fromBackups != check.records) {
        const auto fromLogs = countBackupReceptions(backupFolder, LogSource::WorkLogs);
        if (!fromLogs || *fromLogs != check.records) {
            check.problem = "it holds " + plural(check.records, "reception", "receptions") +
                            ", while the old logs in " + backupFolder.string() + " hold " +
                            std::to_string(*fromBackups);
        }
    }
    return check;
}

std::optional<std::size_t> countBackupReceptions(const fs::path& folder, LogSource source) {
    if (!readableFolder(folder)) return std::nullopt;
    // Every location choice checks the working file: the logs are counted
    // again only when one of them changed (name, size or time).
    std::vector<fs::path> logs;
    std::string signature;
    for (int n = 0; n < kLocationCount; ++n) {
        const auto log = findLog(folder, n, source);
        if (!log) continue;
        std::error_code ec;
        const auto size = fs::file_size(*log, ec);
        const auto time = fs::last_write_time(*log, ec);
        signature += log->string() + '\n' + std::to_string(size) + '\n' +
                     std::to_string(time.time_since_epoch().count()) + '\n';
        logs.push_back(*log);
    }
    // A folder without any old log is not where the project came from (the
    // logs were moved): it says nothing about the working file.
    if (logs.empty()) return std::nullopt;
    static std::mutex cacheLock;
    static std::map<std::string, std::size_t> cache;
    const std::lock_guard<std::mutex> guard(cacheLock);
    if (const auto found = cache.find(signature); found != cache.end()) return found->second;

    std::size_t count = 0;
    try {
        for (const auto& log : logs) {
            // Whether a record is kept does not depend on its location.
            ProcessedRecord unused;
            for (const auto& old : readLogFile(log)) {
                count += convertLogRecord(old, 1, 1, unused);
            }
        }
    } catch (const EngineError&) {
        return std::nullopt;  // a log that cannot be read gives no count to compare
    }
    if (cache.size() > 8) cache.clear();
    cache.emplace(signature, count);
    return count;
}

std::vector<PartialRecord> partialLogRecords(const fs::path& folder, LogSource source) {
    std::vector<PartialRecord> partial;
    if (!readableFolder(folder)) return partial;
    for (int n = 0; n < kLocationCount; ++n) {
        const auto log = findLog(folder, n, source);
        if (!log) continue;
        std::error_code ec;
        const auto size = fs::file_size(*log, ec);
        if (ec) continue;
        const auto left = static_cast<std::size_t>(size % LogBackupRecord::kLength);
        if (left != 0) partial.push_back({*log, left});
    }
    return partial;
}

std::string describePartialRecords(const std::vector<PartialRecord>& partial) {
    if (partial.empty()) return {};
    std::string text = partial.size() == 1 ? "An old log ends in a partial record, which was "
                                             "left out: "
                                           : "Some old logs end in a partial record, which was "
                                             "left out: ";
    for (std::size_t i = 0; i < partial.size(); ++i) {
        if (i > 0) text += "; ";
        text += partial[i].file.string() + " (the last " +
                plural(partial[i].bytes, "byte", "bytes") + ")";
    }
    return text + ". Every whole record before it was converted. A reception in those bytes " +
           "is incomplete and is not in the working file.";
}

bool holdsOldLogs(const fs::path& folder) {
    if (!readableFolder(folder)) return false;
    for (int n = 0; n < kLocationCount; ++n) {
        if (findLog(folder, n, LogSource::WorkLogs)) return true;
    }
    return false;
}

void requireBackupFolder(const fs::path& folder) {
    if (readableFolder(folder)) return;
    throw EngineError("The backup folder " +
                      (folder.empty() ? std::string("of this project") : folder.string()) +
                      " cannot be found. START MATCHING reads the listener's own beacons from "
                      "it (ndb.bak); without it they would be taken for unresolved stations. "
                      "Nothing was logged. Make the folder available again (a removable disk "
                      "plugged back in) and press START MATCHING once more.");
}

void requireWaiting(const fs::path& processedPath, std::string_view bytes,
                    const WorkEntry& entry) {
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    // A number the file does not hold is the state save's to report.
    if (entry.recordNo < 1 || static_cast<std::size_t>(entry.recordNo) > count) return;
    const ProcessedRecordView record{bytes.substr(
        static_cast<std::size_t>(entry.recordNo - 1) * ProcessedRecord::kLength,
        ProcessedRecord::kLength)};
    if (trimmedView(record.state()) != trimmedView(state::OK)) return;
    throw SettledElsewhere(
        "Nothing was logged: the reception " + cp1252ToUtf8(trimBlanks(entry.ident)) + " on " +
        cp1252ToUtf8(trimBlanks(entry.frequency)) + " at " + cp1252ToUtf8(trimBlanks(entry.time)) +
        " on " + cp1252ToUtf8(trimBlanks(entry.date)) + " is already settled in " +
        describePath(processedPath) +
        ", perhaps by another window of the converter. The lists now show what is left.");
}

}  // namespace zolt

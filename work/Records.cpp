// SPDX-License-Identifier: GPL-2.0-or-later
#include "work/Records.h"

#include <fstream>
#include <system_error>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

void appendInt16(std::string& out, std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    out += static_cast<char>(bits & 0xFF);
    out += static_cast<char>(bits >> 8);
}

// Appends `text` space-padded or cut to `width`, without a temporary string.
void appendField(std::string& out, std::string_view text, std::size_t width) {
    const std::size_t used = text.size() < width ? text.size() : width;
    out.append(text.data(), used);
    out.append(width - used, ' ');
}

std::string field(std::string_view bytes, std::size_t offset, std::size_t width) {
    return std::string(bytes.substr(offset, width));
}

template <typename Record>
std::vector<Record> decodeAll(std::string_view bytes) {
    const std::size_t count = recordCount(bytes.size(), Record::kLength);
    std::vector<Record> records;
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        records.push_back(Record::decode(bytes.substr(i * Record::kLength, Record::kLength)));
    }
    return records;
}

}  // namespace

LogBackupRecord LogBackupRecord::decode(std::string_view bytes) {
    LogBackupRecord r;
    r.Callsign = field(bytes, 0, 7);
    r.Frequency = field(bytes, 7, 6);
    r.Time = field(bytes, 13, 4);
    r.Date = field(bytes, 17, 8);
    r.Comment = field(bytes, 25, 60);
    return r;
}

std::string LogBackupRecord::encode() const {
    std::string out;
    out.reserve(kLength);
    appendField(out, Callsign, 7);
    appendField(out, Frequency, 6);
    appendField(out, Time, 4);
    appendField(out, Date, 8);
    appendField(out, Comment, 60);
    return out;
}

bool isPendingState(std::string_view storedState) {
    const std::string code = trimBlanks(storedState);
    return code == state::UNP || code == state::AMB || code == state::MIS;
}

ProcessedRecord ProcessedRecord::decode(std::string_view bytes) {
    const ProcessedRecordView v{bytes};
    return {v.location(),
            v.recordNo(),
            std::string(v.ident()),
            std::string(v.frequency()),
            std::string(v.time()),
            std::string(v.date()),
            std::string(v.comment()),
            std::string(v.state())};
}

std::string ProcessedRecord::encode() const {
    std::string out;
    out.reserve(kLength);
    appendInt16(out, Location);
    appendInt16(out, RecordNo);
    appendField(out, Ident, 10);
    appendField(out, Frequency, 10);
    appendField(out, Time, 5);
    appendField(out, Date, 10);
    appendField(out, Comment, 60);
    appendField(out, State, 3);
    return out;
}

std::vector<ProcessedRecord> readProcessedFile(const fs::path& path, bool missingIsEmpty) {
    if (missingIsEmpty) {
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(path, ec))) return {};
    }
    return decodeAll<ProcessedRecord>(readWholeFile(path));
}

std::vector<LogBackupRecord> readLogFile(const fs::path& path) {
    return decodeAll<LogBackupRecord>(readWholeFile(path));
}

void writeProcessedFile(const fs::path& path, const std::vector<ProcessedRecord>& records) {
    std::string bytes;
    bytes.reserve(records.size() * ProcessedRecord::kLength);
    for (const auto& r : records) bytes += r.encode();
    replaceFileAtomically(path, bytes);
}

ProcessedRecord readProcessedRecord(const fs::path& path, std::size_t number) {
    std::error_code ec;
    const auto length = fs::file_size(path, ec);
    if (ec) {
        throw EngineError("Could not read " + describePath(path) + ": " + plainReason(ec.value()) + ".");
    }
    const std::size_t count = recordCount(length, ProcessedRecord::kLength);
    if (number < 1 || number > count) {
        throw EngineError("Could not read record " + std::to_string(number) + " of " +
                          describePath(path) + ": the file holds " + std::to_string(count) +
                          " records.");
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes(ProcessedRecord::kLength, '\0');
    in.seekg(static_cast<std::streamoff>((number - 1) * ProcessedRecord::kLength));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!in) {
        throw EngineError("Could not read record " + std::to_string(number) + " of " +
                          describePath(path) + ": the read failed.");
    }
    return ProcessedRecord::decode(bytes);
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zolt {

// Text fields below hold the raw Windows-1252 bytes of the files, untrimmed
// and at their full width.

// One reception of an old listening log (log<n>.bak / log<n>.dat).
struct LogBackupRecord {
    static constexpr std::size_t kLength = 85;
    std::string Callsign;   // 7
    std::string Frequency;  // 6
    std::string Time;       // 4
    std::string Date;       // 8
    std::string Comment;    // 60

    static LogBackupRecord decode(std::string_view bytes);  // bytes.size() >= kLength
    std::string encode() const;                             // kLength bytes, padded
};

// State codes of processed.dat, as stored (three characters).
namespace state {
inline constexpr std::string_view UNP = "UNP";
inline constexpr std::string_view AMB = "AMB";
inline constexpr std::string_view MIS = "MIS";
inline constexpr std::string_view OK = "OK ";
}  // namespace state

// Whether a stored State, trimmed, means work is left (UNP, AMB or MIS).
bool isPendingState(std::string_view storedState);

// A little-endian 16-bit integer of a record file at `offset`. Inline: the
// scans of a whole archive read it for every record.
inline std::int16_t int16At(std::string_view bytes, std::size_t offset) {
    const auto low = static_cast<unsigned char>(bytes[offset]);
    const auto high = static_cast<unsigned char>(bytes[offset + 1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

// A record of processed.dat read where it stands: its fields are views into
// its bytes, at full width. The one place that knows the record's layout;
// the hot paths (loading a location, the step-two lists, the state save)
// read through it without decoding whole records.
struct ProcessedRecordView {
    static constexpr std::size_t kRecordNoOffset = 2;
    static constexpr std::size_t kStateOffset = 99;
    static constexpr std::size_t kStateWidth = 3;
    std::string_view bytes;  // at least ProcessedRecord::kLength bytes

    std::int16_t location() const { return int16At(bytes, 0); }
    std::int16_t recordNo() const { return int16At(bytes, kRecordNoOffset); }
    std::string_view ident() const { return bytes.substr(4, 10); }
    std::string_view frequency() const { return bytes.substr(14, 10); }
    std::string_view time() const { return bytes.substr(24, 5); }
    std::string_view date() const { return bytes.substr(29, 10); }
    std::string_view comment() const { return bytes.substr(39, 60); }
    std::string_view state() const { return bytes.substr(kStateOffset, kStateWidth); }
};

// One reception in the working file processed.dat.
//
// Record numbers. A record's number is its 1-based position in the file
// (record n starts at byte (n - 1) x 102), and records are always found by
// that position, never by searching for a RecordNo. RecordNo is 16 bits
// wide: it holds the low 16 bits of the position as a two's-complement
// int16 (recordNoFor below). Up to 32,767 records that is the record number
// itself, so such files are byte for byte what they always were; beyond, it
// wraps (32,768 -> -32768, 65,535 -> -1, 65,536 -> 0, ...). A record whose
// RecordNo differs from recordNoFor(its position) marks a damaged file.
struct ProcessedRecord {
    static constexpr std::size_t kLength = 102;
    std::int16_t Location = 0;
    std::int16_t RecordNo = 0;
    std::string Ident;      // 10
    std::string Frequency;  // 10
    std::string Time;       // 5
    std::string Date;       // 10
    std::string Comment;    // 60
    std::string State;      // 3

    static ProcessedRecord decode(std::string_view bytes);  // bytes.size() >= kLength
    std::string encode() const;                             // kLength bytes, padded
};

// What RecordNo holds for the record at 1-based `position`.
constexpr std::int16_t recordNoFor(std::size_t position) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(position & 0xFFFFu));
}

// Number of whole records in a file of `fileLength` bytes.
constexpr std::size_t recordCount(std::uintmax_t fileLength, std::size_t recordLength) {
    return static_cast<std::size_t>(fileLength / recordLength);
}

// Reads every whole record of a file; a partial record at the end is ignored.
// A missing file throws unless `missingIsEmpty`; nothing is ever created.
std::vector<ProcessedRecord> readProcessedFile(const std::filesystem::path& path,
                                               bool missingIsEmpty = false);
std::vector<LogBackupRecord> readLogFile(const std::filesystem::path& path);

// Replaces the file atomically with these records (new file, then rename).
void writeProcessedFile(const std::filesystem::path& path,
                        const std::vector<ProcessedRecord>& records);

// Record access by 1-based number, as the window tests and tools need it.
ProcessedRecord readProcessedRecord(const std::filesystem::path& path, std::size_t number);

}  // namespace zolt

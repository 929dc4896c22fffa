// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/UserBeacons.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "core/Cp1252.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "engine/LogStore.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

// A stored blank (code 32) comes out of the shift as code 30; the old product
// padded its fields with such blanks, so they are dropped, not kept.
constexpr unsigned char kDroppedCode = 30;

// Layout of one beacon record: offset and width of each field read.
struct FieldSpec {
    std::size_t offset, width;
    std::string UserBeaconRecord::*member;
};

constexpr FieldSpec kFields[] = {
    {0, 7, &UserBeaconRecord::Ident},       {7, 3, &UserBeaconRecord::Country},
    {10, 2, &UserBeaconRecord::State},      {12, 30, &UserBeaconRecord::City},
    {42, 6, &UserBeaconRecord::Frequency},  {48, 7, &UserBeaconRecord::PowerClass},
    {55, 5, &UserBeaconRecord::Power},      {60, 9, &UserBeaconRecord::Latitude},
    {69, 10, &UserBeaconRecord::Longitude}, {79, 6, &UserBeaconRecord::AsOf},
    {85, 20, &UserBeaconRecord::Cycle},     {105, 5, &UserBeaconRecord::usb},
    {110, 5, &UserBeaconRecord::lsb},       {115, 1, &UserBeaconRecord::DAID},
    {116, 90, &UserBeaconRecord::GenNotes},
};

std::string replaceAll(std::string_view text, char blank, std::string_view with) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == blank) {
            out += with;
        } else {
            out += c;
        }
    }
    return out;
}

std::string removeBlanks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != ' ') out += c;
    }
    return out;
}

// The comparison key of a decoded field: trimmed (a decoded text holds no
// code-30 characters any more, so trimming is all that is left to do).
std::string matchKey(std::string_view decoded) { return trimBlanks(decoded); }

// The number of records the old product counted in its beacon file: the
// length divided by the record length, rounded to the nearest whole number,
// so a last record of which more than half is present still counts.
std::size_t userBeaconRecordCount(std::size_t fileLength) {
    return (fileLength + UserBeaconRecord::kLength / 2) / UserBeaconRecord::kLength;
}

double frequencyCell(const DbValue& value) {
    if (const auto* d = std::get_if<double>(&value)) return *d;
    if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
    if (const auto* s = std::get_if<std::string>(&value)) return leadingNumber(*s);
    return 0.0;
}

std::int64_t integerCell(const DbValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
    if (const auto* d = std::get_if<double>(&value)) return static_cast<std::int64_t>(*d);
    if (const auto* s = std::get_if<std::string>(&value)) {
        return static_cast<std::int64_t>(leadingNumber(*s));
    }
    return 0;
}

// The keys of the two tables, built into `key`. Each puts its part of fixed
// width first, so that no two pairs make one key.
void recordKey(std::string& key, std::string_view ident, std::string_view frequency) {
    const auto length = static_cast<std::uint32_t>(ident.size());
    key.assign(reinterpret_cast<const char*>(&length), sizeof length);
    key.append(ident);
    key.append(frequency);
}

void knownKey(std::string& key, std::string_view ident, double frequency) {
    if (frequency == 0.0) frequency = 0.0;  // -0 is 0
    key.assign(reinterpret_cast<const char*>(&frequency), sizeof frequency);
    key.append(ident);
}

// A typed degree value: the whole text one decimal number within `limit`.
std::optional<double> typedDegrees(std::string_view text, double limit) {
    text = trimmedView(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value) || std::fabs(value) > limit) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<LatLon> ownBeaconPosition(std::string_view latitude, std::string_view longitude) {
    const auto lat = typedDegrees(latitude, 90), lon = typedDegrees(longitude, 180);
    if (!lat || !lon) return std::nullopt;
    return LatLon{*lat, *lon};
}

std::string UnshiftText(std::string_view stored) {
    std::string out;
    out.reserve(stored.size());
    for (char c : stored) {
        const auto code = static_cast<unsigned char>(c);
        // Codes 0 and 1 have nothing two below them; they only occur in
        // damaged or never-written records, and decode to nothing.
        if (code < 2) continue;
        const auto shifted = static_cast<unsigned char>(code - 2);
        if (shifted == kDroppedCode) continue;
        out += static_cast<char>(shifted);
    }
    return out;
}

UserBeaconRecord UserBeaconRecord::decode(std::string_view bytes) {
    UserBeaconRecord rec;
    for (const auto& field : kFields) {
        rec.*field.member = UnshiftText(bytes.substr(field.offset, field.width));
    }
    return rec;
}

NewBeaconRow mapUserBeacon(const UserBeaconRecord& rec, std::string_view ident,
                           std::string_view frequency) {
    NewBeaconRow row;
    row.Ident = cp1252ToUtf8(ident);
    row.Country = cp1252ToUtf8(trimBlanks(replaceAll(rec.Country, ' ', "XXX")));
    row.State = cp1252ToUtf8(trimBlanks(replaceAll(rec.State, ' ', "XX")));
    row.City = cp1252ToUtf8(trimBlanks(rec.City));
    row.frequency = leadingNumber(frequency);
    row.Power = cp1252ToUtf8(trimBlanks(rec.Power));
    row.PowerClass = cp1252ToUtf8(trimBlanks(rec.PowerClass));
    row.Latitude = cp1252ToUtf8(trimBlanks(rec.Latitude));
    row.Longitude = cp1252ToUtf8(trimBlanks(rec.Longitude));
    row.AsOf = cp1252ToUtf8(removeBlanks(rec.AsOf));
    row.Cycle = cp1252ToUtf8(trimBlanks(rec.Cycle));
    row.usb = cp1252ToUtf8(trimBlanks(rec.usb));
    row.lsb = cp1252ToUtf8(trimBlanks(rec.lsb));
    // An empty or non-numeric DAID reads as 0, as the old product's number
    // conversion did, rather than failing the whole look-up.
    row.DAID = shortestDecimal(leadingNumber(rec.DAID));
    row.GenNotes = cp1252ToUtf8(trimBlanks(rec.GenNotes).substr(0, 90));
    return row;
}

std::optional<fs::path> ownBeaconFile(const fs::path& backupFolder) {
    // The working file ndb.dat, or where only the backups were kept, its
    // backup ndb.bak. Nothing is ever created in the backup folder.
    auto file = findFileNoCase(backupFolder, "ndb.dat");
    if (!file) file = findFileNoCase(backupFolder, "ndb.bak");
    return file;
}

UserBeaconIndex::UserBeaconIndex(const fs::path& backupFolder, LogStore& store) : store_(store) {
    const auto file = ownBeaconFile(backupFolder);
    if (!file) return;

    std::string bytes = readWholeFile(*file);
    const std::size_t count = userBeaconRecordCount(bytes.size());
    // The missing bytes of a last partial record read as stored blanks, which
    // decode to nothing.
    bytes.resize(count * UserBeaconRecord::kLength, ' ');
    for (std::size_t r = 0; r < count; ++r) {
        const std::string_view raw(bytes.data() + r * UserBeaconRecord::kLength,
                                   UserBeaconRecord::kLength);
        const std::string ident = matchKey(UnshiftText(raw.substr(0, 7)));
        const std::string frequency = matchKey(UnshiftText(raw.substr(42, 6)));
        recordKey(key_, ident, frequency);
        auto [it, added] = records_.try_emplace(key_);
        if (added) it->second.first = UserBeaconRecord::decode(raw);
        ++it->second.second;
    }
    if (records_.empty()) return;

    // Beacons added in earlier runs: the last row of an ident and frequency
    // is the one a walk of the table from its first row ends on.
    const DbResult rows = store_.userBeacons();
    for (std::size_t r = 0; r < rows.rowCount(); ++r) {
        const std::string ident = trimBlanks(dbValueText(rows.rows[r][1]));
        knownKey(key_, ident, frequencyCell(rows.rows[r][2]));
        known_[key_] = integerCell(rows.rows[r][0]);
    }
}

UserBeaconLookup UserBeaconIndex::LookupUserBeacon(std::string_view ident,
                                                   std::string_view frequency) {
    UserBeaconLookup result;
    recordKey(key_, ident, frequency);
    const auto found = records_.find(key_);
    if (found == records_.end()) return result;

    const auto& [record, recordCount] = found->second;
    std::string identUtf8;
    knownKey(key_, cp1252ToUtf8(ident, identUtf8), leadingNumber(frequency));
    if (const auto known = known_.find(key_); known != known_.end()) {
        result.UserBeaconKnown = true;
        result.UserBeaconFound = true;
        result.UserBeaconID = static_cast<std::int32_t>(known->second);
        return result;
    }

    const NewBeaconRow row = mapUserBeacon(record, ident, frequency);
    const std::int64_t id = store_.addUserBeacon(row);
    known_[key_] = id;
    // A second record of the same beacon in the file found the row just added
    // for the first one, so the old look-up ended by calling it known.
    result.UserBeaconKnown = recordCount > 1;
    result.UserBeaconFound = true;
    result.UserBeaconID = static_cast<std::int32_t>(id);
    return result;
}

}  // namespace zolt

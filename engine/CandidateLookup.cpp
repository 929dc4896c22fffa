// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/CandidateLookup.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/Cp1252.h"
#include "core/TextFields.h"
#include "db/Database.h"

namespace zolt {
namespace {

// The join drops beacons whose Country has no CountryCode row: such a beacon
// has never been offered as a candidate. No ORDER BY: rows come in the
// database's own order, which is the order the lists have always shown.
constexpr std::string_view kExactSql =
    "SELECT Beacon_ID, City, State, CountryLong, Latitude, Longitude "
    "FROM NDBInformation, CountryCode "
    "WHERE NDBInformation.Country=CountryCode.CountryShort AND Ident = ? AND Frequency = ?";

// The ident goes in as a bound LIKE pattern with its own wildcards escaped, so
// that an apostrophe, "%" or "_" in a logged callsign is matched literally and
// the look-up stays a plain prefix search.
constexpr std::string_view kPrefixSql =
    "SELECT Beacon_ID, Ident, Frequency, City, State, CountryLong, Latitude, Longitude "
    "FROM NDBInformation, CountryCode WHERE NDBInformation.Country=CountryCode.CountryShort "
    "AND Ident LIKE ? ESCAPE '\\'";

std::string likePrefixPattern(std::string_view text) {
    std::string pattern;
    pattern.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    pattern += '%';
    return pattern;
}

std::int64_t beaconIdOf(const DbValue& value) {
    if (const auto* id = std::get_if<std::int64_t>(&value)) return *id;
    return beaconIdFromCell(dbValueText(value));
}

std::vector<Candidate> runLookup(const std::filesystem::path& databasePath, std::string_view sql,
                                 const std::vector<DbValue>& parameters, bool withIdent) {
    // Opened read-only for this one look-up and closed when it ends, so the
    // database file is never held open between the user's clicks.
    Database db(databasePath, Database::Mode::ReadOnly);
    auto statement = db.prepare(sql);
    const DbResult result = statement.bind(parameters).query();

    std::vector<Candidate> candidates;
    candidates.reserve(result.rowCount());
    for (const auto& row : result.rows) {
        Candidate c;
        std::size_t column = 0;
        c.beaconId = beaconIdOf(row.at(column++));
        if (withIdent) {
            c.ident = dbValueText(row.at(column++));
            c.frequency = dbValueText(row.at(column++));
        }
        c.city = dbValueText(row.at(column++));
        c.province = removeXX(dbValueText(row.at(column++)));
        c.country = dbValueText(row.at(column++));
        const auto latitude = dbValueNumber(row.at(column++));
        const auto longitude = dbValueNumber(row.at(column++));
        if (latitude && longitude) c.position = LatLon{*latitude, *longitude};
        candidates.push_back(std::move(c));
    }
    return candidates;
}

}  // namespace

std::vector<Candidate> exactCandidates(const std::filesystem::path& databasePath,
                                       std::string_view ident, std::string_view frequencyText) {
    // The old engine compared the ident without its trailing blanks (leading
    // ones count) and without regard to letter case, which the column does.
    const std::string_view stored = ident.substr(0, ident.find_last_not_of(' ') + 1);
    return runLookup(databasePath, kExactSql,
                     {DbValue(cp1252ToUtf8(stored)), DbValue(leadingNumber(frequencyText))},
                     /*withIdent=*/false);
}

std::vector<Candidate> prefixCandidates(const std::filesystem::path& databasePath,
                                        std::string_view ident) {
    const std::string pattern = likePrefixPattern(cp1252ToUtf8(trimBlanks(ident)));
    return runLookup(databasePath, kPrefixSql, {DbValue(pattern)}, /*withIdent=*/true);
}

namespace {

// What the column's NOCASE collation and LIKE both ignore: the letter case of
// A-Z, and of nothing else.
std::string foldAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

CandidateIndex::CandidateIndex(const std::filesystem::path& databasePath) {
    // The same join as the look-ups, so that a beacon without a CountryCode
    // row is no candidate here either.
    Database db(databasePath, Database::Mode::ReadOnly);
    const DbResult result =
        db.prepare(
              "SELECT Beacon_ID, Ident, Frequency, City, State, CountryLong, Latitude, "
              "Longitude FROM NDBInformation, CountryCode "
              "WHERE NDBInformation.Country=CountryCode.CountryShort")
            .query();
    candidates_.reserve(result.rowCount());
    folded_.reserve(result.rowCount());
    frequency_.reserve(result.rowCount());
    for (const auto& row : result.rows) {
        // Ident has TEXT affinity: every value is text or NULL, and NULL
        // neither equals nor is LIKE anything.
        const auto* ident = std::get_if<std::string>(&row.at(1));
        if (!ident) continue;
        Candidate c;
        c.beaconId = beaconIdOf(row.at(0));
        c.ident = *ident;
        c.frequency = dbValueText(row.at(2));
        c.city = dbValueText(row.at(3));
        c.province = removeXX(dbValueText(row.at(4)));
        c.country = dbValueText(row.at(5));
        const auto latitude = dbValueNumber(row.at(6));
        const auto longitude = dbValueNumber(row.at(7));
        if (latitude && longitude) c.position = LatLon{*latitude, *longitude};
        // Frequency = ? with a bound number matches stored numbers only; text
        // that the REAL column could not convert never equals one.
        std::optional<double> frequency;
        if (const auto* real = std::get_if<double>(&row.at(2))) frequency = *real;
        if (const auto* integer = std::get_if<std::int64_t>(&row.at(2))) {
            frequency = static_cast<double>(*integer);
        }
        folded_.push_back(foldAscii(*ident));
        frequency_.push_back(frequency);
        candidates_.push_back(std::move(c));
    }
    byIdent_.resize(candidates_.size());
    for (std::size_t i = 0; i < byIdent_.size(); ++i) byIdent_[i] = i;
    std::stable_sort(byIdent_.begin(), byIdent_.end(),
                     [this](std::size_t a, std::size_t b) { return folded_[a] < folded_[b]; });
}

std::vector<std::size_t> CandidateIndex::exact(std::string_view ident,
                                               std::string_view frequencyText) const {
    // As exactCandidates: trailing blanks off (leading ones count), then the
    // column's NOCASE equality, which leaves the stored ident untrimmed.
    const std::string_view stored = ident.substr(0, ident.find_last_not_of(' ') + 1);
    const std::string key = foldAscii(cp1252ToUtf8(stored));
    const double frequency = leadingNumber(frequencyText);
    const auto less = [this](std::size_t a, const std::string& k) { return folded_[a] < k; };
    std::vector<std::size_t> found;
    for (auto it = std::lower_bound(byIdent_.begin(), byIdent_.end(), key, less);
         it != byIdent_.end() && folded_[*it] == key; ++it) {
        if (frequency_[*it] && *frequency_[*it] == frequency) found.push_back(*it);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::size_t> CandidateIndex::prefix(std::string_view ident) const {
    std::string key = foldAscii(cp1252ToUtf8(trimBlanks(ident)));
    // LIKE reads its pattern as a C string: a NUL in the ident ends the
    // pattern there, before the "%" that makes it a prefix search, so what is
    // left must match whole.
    const std::size_t nul = key.find('\0');
    const bool whole = nul != std::string::npos;
    if (whole) key.resize(nul);
    const auto less = [this](std::size_t a, const std::string& k) { return folded_[a] < k; };
    std::vector<std::size_t> found;
    for (auto it = std::lower_bound(byIdent_.begin(), byIdent_.end(), key, less);
         it != byIdent_.end() && folded_[*it].starts_with(key); ++it) {
        if (!whole || folded_[*it].size() == key.size()) found.push_back(*it);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string removeXX(std::string_view state) {
    std::string out;
    out.reserve(state.size());
    for (std::size_t i = 0; i < state.size();) {
        if (state.compare(i, 2, "XX") == 0) {
            i += 2;
        } else {
            out += state[i++];
        }
    }
    return out;
}

std::string placeText(std::string_view rowText, std::string_view a, std::string_view b) {
    std::string text(rowText);
    if (!trimBlanks(a).empty()) {
        text += ", ";
        text += a;
    }
    text += ", ";
    text += b;
    return text;
}

std::int32_t beaconIdFromCell(std::string_view cell) {
    const double value = leadingNumber(cell);
    if (!std::isfinite(value)) return 0;
    // Round half to even without depending on the floating-point environment.
    double rounded = std::floor(value);
    const double fraction = value - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0)) rounded += 1.0;
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    if (rounded <= kMin) return std::numeric_limits<std::int32_t>::min();
    if (rounded >= kMax) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(rounded);
}

}  // namespace zolt

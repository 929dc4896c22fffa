// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/CandidateLookup.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/Cp1252.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/UserBeacons.h"

namespace zolt {
namespace {

// Every beacon is a candidate, with or without a CountryCode row: the shipped
// list names 149 beacons in country XXX, which the table has no row for, and
// an inner join would hide them for good (NL 404 Nolso among them). The join
// is left open here rather than a row added to the shipped data, so that a
// working copy made by an earlier version, which is never replaced, reaches
// them too. A beacon without a row shows its country as unknown.
//
// The listener's own beacons (NewBeacons, kept from the old beacon file) are
// candidates as well, under the number the log stores them by
// (newbeacon_ID + kUserBeaconOffset): a reception logged to one and returned
// to waiting must be able to go back to it. Their positions are typed text.
//
// No ORDER BY: the listed beacons come in the database's own order, which is
// the order the lists have always shown, and the listener's own after them.
std::string selectFrom(bool own) {
    const std::string table = own ? "NewBeacons" : "NDBInformation";
    const std::string id =
        own ? "newbeacon_ID + " + std::to_string(kUserBeaconOffset) : std::string("Beacon_ID");
    return "SELECT " + id + ", " + table + ".Ident, " + table + ".Frequency, " + table +
           ".City, " + table + ".State, coalesce(CountryCode.CountryLong, '" +
           std::string(kUnknownCountry) + "'), " + table + ".Latitude, " + table +
           ".Longitude, " + (own ? "1" : "0") + " FROM " + table +
           " LEFT JOIN CountryCode ON " + table + ".Country = CountryCode.CountryShort ";
}

const std::string& exactSql() {
    // NewBeacons.Ident is not declared NOCASE, so the comparison says it.
    static const std::string sql =
        selectFrom(false) +
        "WHERE NDBInformation.Ident = ?1 AND NDBInformation.Frequency = ?2 UNION ALL " +
        selectFrom(true) + "WHERE NewBeacons.Ident = ?1 COLLATE NOCASE AND NewBeacons.Frequency = ?2";
    return sql;
}

// The ident goes in as a bound LIKE pattern with its own wildcards escaped, so
// that an apostrophe, "%" or "_" in a logged callsign is matched literally and
// the look-up stays a plain prefix search.
const std::string& prefixSql() {
    static const std::string sql = selectFrom(false) +
                                   "WHERE NDBInformation.Ident LIKE ?1 ESCAPE '\\' UNION ALL " +
                                   selectFrom(true) + "WHERE NewBeacons.Ident LIKE ?1 ESCAPE '\\'";
    return sql;
}

const std::string& everySql() {
    static const std::string sql = selectFrom(false) + "UNION ALL " + selectFrom(true);
    return sql;
}

// The columns of the queries above.
enum Column { kId, kIdent, kFrequency, kCity, kState, kCountry, kLatitude, kLongitude, kOwn };

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

Candidate candidateOf(const std::vector<DbValue>& row) {
    Candidate c;
    c.beaconId = beaconIdOf(row.at(kId));
    c.ident = dbValueText(row.at(kIdent));
    c.frequency = dbValueText(row.at(kFrequency));
    c.city = dbValueText(row.at(kCity));
    c.province = removeXX(dbValueText(row.at(kState)));
    c.country = dbValueText(row.at(kCountry));
    c.own = dbValueNumber(row.at(kOwn)).value_or(0) != 0;
    if (c.own) {
        c.position = ownBeaconPosition(dbValueText(row.at(kLatitude)),
                                       dbValueText(row.at(kLongitude)));
    } else {
        const auto latitude = dbValueNumber(row.at(kLatitude));
        const auto longitude = dbValueNumber(row.at(kLongitude));
        if (latitude && longitude) c.position = LatLon{*latitude, *longitude};
    }
    return c;
}

std::vector<Candidate> runLookup(const std::filesystem::path& databasePath, std::string_view sql,
                                 const std::vector<DbValue>& parameters) {
    // Opened read-only for this one look-up and closed when it ends, so the
    // database file is never held open between the user's clicks.
    Database db(databasePath, Database::Mode::ReadOnly);
    auto statement = db.prepare(sql);
    const DbResult result = statement.bind(parameters).query();

    std::vector<Candidate> candidates;
    candidates.reserve(result.rowCount());
    for (const auto& row : result.rows) candidates.push_back(candidateOf(row));
    return candidates;
}

}  // namespace

std::vector<Candidate> exactCandidates(const std::filesystem::path& databasePath,
                                       std::string_view ident, std::string_view frequencyText) {
    // The old engine compared the ident without its trailing blanks (leading
    // ones count) and without regard to letter case, which the column does.
    const std::string_view stored = ident.substr(0, ident.find_last_not_of(' ') + 1);
    return runLookup(databasePath, exactSql(),
                     {DbValue(cp1252ToUtf8(stored)), DbValue(leadingNumber(frequencyText))});
}

std::vector<Candidate> prefixCandidates(const std::filesystem::path& databasePath,
                                        std::string_view ident) {
    const std::string pattern = likePrefixPattern(cp1252ToUtf8(trimBlanks(ident)));
    return runLookup(databasePath, prefixSql(), {DbValue(pattern)});
}

CandidateIndex::CandidateIndex(const std::filesystem::path& databasePath) {
    // The same beacons as the look-ups, read in one pass.
    Database db(databasePath, Database::Mode::ReadOnly);
    const DbResult result = db.prepare(everySql()).query();
    candidates_.reserve(result.rowCount());
    folded_.reserve(result.rowCount());
    frequency_.reserve(result.rowCount());
    for (const auto& row : result.rows) {
        // Ident has TEXT affinity: every value is text or NULL, and NULL
        // neither equals nor is LIKE anything.
        const auto* ident = std::get_if<std::string>(&row.at(kIdent));
        if (!ident) continue;
        Candidate c = candidateOf(row);
        // Frequency = ? with a bound number matches stored numbers only; text
        // that the REAL column could not convert never equals one.
        std::optional<double> frequency;
        if (const auto* real = std::get_if<double>(&row.at(kFrequency))) frequency = *real;
        if (const auto* integer = std::get_if<std::int64_t>(&row.at(kFrequency))) {
            frequency = static_cast<double>(*integer);
        }
        // What the column's NOCASE collation and LIKE both ignore: the
        // letter case of A-Z, and of nothing else.
        folded_.push_back(lowerAscii(*ident));
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
    const std::string key = lowerAscii(cp1252ToUtf8(stored));
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
    std::string key = lowerAscii(cp1252ToUtf8(trimBlanks(ident)));
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

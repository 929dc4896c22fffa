// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Geo.h"

namespace zolt {

// A candidate beacon for a reception (UTF-8 texts for the screen).
struct Candidate {
    std::int64_t beaconId = 0;
    std::string ident;
    std::string frequency;  // shortest plain decimal (344, 344.5)
    std::string city;
    std::string province;            // State with every "XX" removed
    std::string country;             // CountryLong, or kUnknownCountry without a row
    std::optional<LatLon> position;  // none where Latitude or Longitude is empty
    bool own = false;                // one of the listener's own beacons (NewBeacons)
};

// What a beacon whose country has no CountryCode row (XXX) shows as its country.
inline constexpr std::string_view kUnknownCountry = "unknown";

// Beacons whose Ident equals `ident` (letter case and trailing blanks
// ignored) and whose Frequency equals the number read from `frequencyText`,
// with their CountryCode names, in the database's own order: the listed ones
// (NDBInformation), then the listener's own (NewBeacons, Beacon_ID as the log
// stores it). Inputs are raw Windows-1252 field texts as listed.
std::vector<Candidate> exactCandidates(const std::filesystem::path& databasePath,
                                       std::string_view ident, std::string_view frequencyText);

// Beacons (listed and own, as above) whose Ident begins with the trimmed
// `ident`, on any frequency.
std::vector<Candidate> prefixCandidates(const std::filesystem::path& databasePath,
                                        std::string_view ident);

// The two look-ups above for many receptions at once: both tables are read once, and each look-up then names exactly the
// beacons the database would give, with ident and frequency filled in for
// both kinds. The order is the index's own (the order of the read), not
// necessarily the look-ups'.
class CandidateIndex {
  public:
    explicit CandidateIndex(const std::filesystem::path& databasePath);

    // Positions in candidates() of what exactCandidates / prefixCandidates give.
    std::vector<std::size_t> exact(std::string_view ident, std::string_view frequencyText) const;
    std::vector<std::size_t> prefix(std::string_view ident) const;

    const std::vector<Candidate>& candidates() const { return candidates_; }

  private:
    std::vector<Candidate> candidates_;
    std::vector<std::string> folded_;               // ident with A-Z made a-z
    std::vector<std::optional<double>> frequency_;  // none unless stored as a number
    std::vector<std::size_t> byIdent_;              // positions ordered by folded ident
};

// "XX" removed everywhere, left to right.
std::string removeXX(std::string_view state);

// The place text of a chosen candidate row: row text, ", ", A, ", ", B, or
// row text, ", ", B when A trimmed is empty.
std::string placeText(std::string_view rowText, std::string_view a, std::string_view b);

// A Beacon_ID cell read as a number, rounded half to even; 0 when not numeric.
std::int32_t beaconIdFromCell(std::string_view cell);

}  // namespace zolt

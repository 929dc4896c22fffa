// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Geo.h"
#include "engine/CandidateLookup.h"
#include "engine/HomePosition.h"
#include "work/LocationStates.h"

namespace zolt {

// The candidates of one reception as the lower list shows them, with what
// the suggested pick is decided on.
struct RankedCandidate {
    Candidate candidate;
    std::optional<double> distanceKm;          // none where home or position is unknown
    std::optional<double> frequencyOffsetKHz;  // unresolved view: candidate − logged
};

struct RankedCandidates {
    std::vector<RankedCandidate> rows;  // in the look-up's own order
    int suggested = -1;                 // index into rows; -1 when none is clearly nearest
};

// Candidates that share the reception's ident and frequency: the suggestion
// is the clearly nearest of them (clearlyNearest in core/Geo.h).
RankedCandidates rankExact(std::vector<Candidate> candidates, std::optional<LatLon> home);

// Candidates whose ident begins with the logged one, on any frequency: the
// suggestion is the clearly nearest of those within kSuggestionBandKHz of
// the logged frequency.
inline constexpr double kSuggestionBandKHz = 2.0;
RankedCandidates rankPrefix(std::vector<Candidate> candidates, std::optional<LatLon> home,
                            double loggedFrequencyKHz);

// Every waiting (ambiguous or unresolved) reception of the loaded location
// that has a clear suggestion, grouped by its ident and frequency.
struct SuggestedPick {
    std::string ident, frequency;  // raw Windows-1252 field texts, as listed
    std::int32_t beaconId = 0;
    int receptions = 0;  // waiting receptions of this pair
};
// A beacon number the log can store: Beacon_ID is the logbook's 32-bit
// number, and 0 means "no beacon chosen".
bool loggableId(std::int64_t id);

// A callsign and frequency as Add To Log compares them (trimmed), the key
// that groups waiting receptions for a pick.
struct PairKey {
    std::string ident, frequency;
    bool operator==(const PairKey&) const = default;
};
struct PairKeyHash {
    std::size_t operator()(const PairKey& k) const;
};

struct SuggestedPickPlan {
    std::vector<SuggestedPick> picks;  // one per distinct ident/frequency pair
    int receptions = 0;                // their sum
};
SuggestedPickPlan planSuggestedPicks(const ProjectPaths& paths, const WorkingSet& set,
                                     std::optional<LatLon> home);

// Logs every pick for all waiting receptions of its pair: exactly the rows
// and states that Add To Log for all instances gives when each pick is chosen
// by hand in turn, in one transaction with the state save. Receptions
// without a pick stay waiting. Returns the number of rows appended.
int addSuggestedPicks(const ProjectPaths& paths, WorkingSet& set, const SuggestedPickPlan& plan);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/SuggestedPicks.h"

#include <cmath>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/TextFields.h"
#include "engine/LocationActions.h"
#include "engine/ProcessedBytes.h"
#include "work/Records.h"

namespace zolt {
namespace {

// Frequencies are typed with one decimal at most; the tolerance keeps
// 344.1 − 342.1, which binary arithmetic makes a hair above 2, inside the band.
constexpr double kBandTolerance = 1e-9;

bool withinBand(double offsetKHz) {
    return std::fabs(offsetKHz) <= kSuggestionBandKHz + kBandTolerance;
}

std::optional<double> distanceTo(const Candidate& c, const std::optional<LatLon>& home) {
    if (!home || !c.position) return std::nullopt;
    return greatCircleKm(*home, *c.position);
}

// The clearly nearest of `rows` among those `eligible`; -1 when none is.
template <typename Eligible>
int suggestAmong(const std::vector<RankedCandidate>& rows, Eligible eligible) {
    std::vector<std::optional<double>> distances;
    std::vector<int> at;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!eligible(rows[i])) continue;
        distances.push_back(rows[i].distanceKm);
        at.push_back(static_cast<int>(i));
    }
    const int nearest = clearlyNearest(distances);
    return nearest < 0 ? -1 : at[static_cast<std::size_t>(nearest)];
}

bool isOk(const WorkEntry& entry) { return trimBlanks(entry.state) == trimBlanks(state::OK); }

struct Pair {
    std::string ident, frequency;  // of the first waiting entry, as listed
    bool ambiguous = false;        // some entry is AMB: the exact look-up decides
    bool unresolved = false;       // some entry is MIS
    int receptions = 0;            // entries Add To Log would settle
};

}  // namespace

bool loggableId(std::int64_t id) {
    return id > 0 && id <= std::numeric_limits<std::int32_t>::max();
}

std::size_t PairKeyHash::operator()(const PairKey& k) const {
    return std::hash<std::string>()(k.ident) * 31 + std::hash<std::string>()(k.frequency);
}

RankedCandidates rankExact(std::vector<Candidate> candidates, std::optional<LatLon> home) {
    RankedCandidates ranked;
    ranked.rows.reserve(candidates.size());
    for (auto& c : candidates) {
        const auto distance = distanceTo(c, home);
        ranked.rows.push_back({std::move(c), distance, std::nullopt});
    }
    ranked.suggested = suggestAmong(ranked.rows, [](const RankedCandidate&) { return true; });
    return ranked;
}

RankedCandidates rankPrefix(std::vector<Candidate> candidates, std::optional<LatLon> home,
                            double loggedFrequencyKHz) {
    RankedCandidates ranked;
    ranked.rows.reserve(candidates.size());
    for (auto& c : candidates) {
        const auto distance = distanceTo(c, home);
        const double offset = leadingNumber(c.frequency) - loggedFrequencyKHz;
        ranked.rows.push_back({std::move(c), distance, offset});
    }
    // Only a beacon near the logged frequency can be the one heard: a
    // neighbour on a far frequency is no rival, and no suggestion either.
    ranked.suggested = suggestAmong(ranked.rows, [](const RankedCandidate& r) {
        return r.frequencyOffsetKHz && withinBand(*r.frequencyOffsetKHz);
    });
    return ranked;
}

SuggestedPickPlan planSuggestedPicks(const ProjectPaths& paths, const WorkingSet& set,
                                     std::optional<LatLon> home) {
    SuggestedPickPlan plan;
    if (!home) return plan;

    // The waiting receptions, one pair per ident and frequency as Add To Log
    // groups them, in the order they first appear.
    std::vector<Pair> pairs;
    std::unordered_map<PairKey, std::size_t, PairKeyHash> seen;
    for (const auto& entry : set.entries) {
        if (isOk(entry)) continue;
        PairKey key{trimBlanks(entry.ident), trimBlanks(entry.frequency)};
        const auto [it, added] = seen.try_emplace(std::move(key), pairs.size());
        if (added) pairs.push_back({entry.ident, entry.frequency});
        Pair& pair = pairs[it->second];
        const std::string code = trimBlanks(entry.state);
        pair.ambiguous = pair.ambiguous || code == state::AMB;
        pair.unresolved = pair.unresolved || code == state::MIS;
        // Add To Log settles every entry of the pair that is not OK yet, so
        // the count says what will be logged.
        ++pair.receptions;
    }
    bool waiting = false;
    for (const auto& pair : pairs) waiting = waiting || pair.ambiguous || pair.unresolved;
    if (!waiting) return plan;

    // One read of the beacon list serves every pair: a look-up per pair
    // would open the database thousands of times.
    const CandidateIndex index(paths.DatabasePath);
    const auto& all = index.candidates();
    std::vector<RankedCandidate> rows;
    for (const auto& pair : pairs) {
        // An ambiguous reception is shown with the exact look-up, an
        // unresolved one with the prefix look-up; the window decides the same.
        const bool exact = pair.ambiguous;
        if (!exact && !pair.unresolved) continue;
        const auto found =
            exact ? index.exact(pair.ident, pair.frequency) : index.prefix(pair.ident);
        const double logged = leadingNumber(pair.frequency);
        rows.clear();
        for (std::size_t i : found) {
            const Candidate& c = all[i];
            std::optional<double> offset;
            if (!exact) offset = leadingNumber(c.frequency) - logged;
            rows.push_back({Candidate{}, distanceTo(c, home), offset});
            rows.back().candidate.beaconId = c.beaconId;
        }
        const int suggested =
            exact ? suggestAmong(rows, [](const RankedCandidate&) { return true; })
                  : suggestAmong(rows, [](const RankedCandidate& r) {
                        return r.frequencyOffsetKHz && withinBand(*r.frequencyOffsetKHz);
                    });
        if (suggested < 0) continue;
        const std::int64_t id = rows[static_cast<std::size_t>(suggested)].candidate.beaconId;
        if (!loggableId(id)) continue;
        plan.picks.push_back(
            {pair.ident, pair.frequency, static_cast<std::int32_t>(id), pair.receptions});
        plan.receptions += pair.receptions;
    }
    return plan;
}

int addSuggestedPicks(const ProjectPaths& paths, WorkingSet& set, const SuggestedPickPlan& plan) {
    SuggestedPicksAction action(set, plan);
    if (action.empty()) return 0;
    performOn(action, paths, set);
    return action.rows();
}

}  // namespace zolt

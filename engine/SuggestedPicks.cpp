// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/SuggestedPicks.h"

namespace zolt {

RankedCandidates rankExact(std::vector<Candidate> candidates, std::optional<LatLon>) {
    RankedCandidates ranked;
    for (auto& c : candidates) ranked.rows.push_back({std::move(c), std::nullopt, std::nullopt});
    return ranked;
}

RankedCandidates rankPrefix(std::vector<Candidate> candidates, std::optional<LatLon>, double) {
    RankedCandidates ranked;
    for (auto& c : candidates) ranked.rows.push_back({std::move(c), std::nullopt, std::nullopt});
    return ranked;
}

SuggestedPickPlan planSuggestedPicks(const ProjectPaths&, const WorkingSet&,
                                     std::optional<LatLon>) {
    return {};
}

int addSuggestedPicks(const ProjectPaths&, WorkingSet&, const SuggestedPickPlan&) { return 0; }

}  // namespace zolt

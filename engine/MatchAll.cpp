// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/MatchAll.h"

#include <array>
#include <exception>
#include <system_error>

#include "core/EngineError.h"
#include "core/TextFields.h"
#include "engine/MatchingRun.h"
#include "engine/ProcessedBytes.h"
#include "work/Records.h"

namespace fs = std::filesystem;

namespace zolt {

long long MatchAllPlan::receptions() const {
    long long sum = 0;
    for (const auto& l : locations) sum += l.receptions;
    return sum;
}

long long MatchAllPlan::waiting() const {
    long long sum = 0;
    for (const auto& l : locations) sum += l.waiting;
    return sum;
}

MatchAllPlan planMatchAll(const fs::path& processedPath) {
    MatchAllPlan plan;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(processedPath, ec))) return plan;
    std::array<MatchAllPlan::Location, kLocationCount> counts{};
    const ProcessedBytes file(processedPath, ProcessedBytes::How::Mapped);
    const std::string_view bytes = file.bytes();
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    for (std::size_t i = 0; i < count; ++i) {
        const ProcessedRecordView r{
            bytes.substr(i * ProcessedRecord::kLength, ProcessedRecord::kLength)};
        const int location = r.location();
        if (location < 1 || location > kLocationCount) continue;
        auto& c = counts[static_cast<std::size_t>(location - 1)];
        if (c.receptions == 0) c.first = i + 1;
        // Apart from the others of its location: no run to point at.
        if (c.first != 0 && c.first + static_cast<std::size_t>(c.receptions) != i + 1) c.first = 0;
        ++c.receptions;
        if (trimmedView(r.state()) == state::UNP) ++c.waiting;
    }
    for (int k = 1; k <= kLocationCount; ++k) {
        auto c = counts[static_cast<std::size_t>(k - 1)];
        if (c.waiting == 0) continue;
        c.location = k;
        plan.locations.push_back(c);
    }
    return plan;
}

MatchAllResult runMatchAll(const ProjectPaths& paths, const MatchAllPlan& plan,
                           const MatchAllProgress& progress) {
    MatchAllResult result;
    const long long total = plan.receptions();
    long long before = 0;  // receptions of the locations already done
    for (const auto& planned : plan.locations) {
        const int location = planned.location;
        try {
            WorkingSet set = planned.first != 0
                                 ? loadWorkingSet(paths.ProcessedPath, location, planned.first,
                                                  static_cast<std::size_t>(planned.receptions))
                                 : loadWorkingSet(paths.ProcessedPath, location);
            // Nothing left to match since the plan was made (the file changed
            // meanwhile): the location is passed over, not matched again.
            if (set.unpCount == 0) {
                before += planned.receptions;
                continue;
            }
            MatchProgress each;
            if (progress) {
                each = [&](int i, int, float) { return progress(location, before + i, total); };
            }
            const MatchOutcome outcome = runMatching(paths, set, each);
            if (outcome.cancelled) {
                result.cancelled = true;
                break;
            }
            const LocationMatchSummary done{location,          set.WorkCount(),
                                            outcome.logged,    outcome.userBeacons,
                                            outcome.ambiguous, outcome.unresolved};
            result.matched.push_back(done);
            result.totals.receptions += done.receptions;
            result.totals.logged += done.logged;
            result.totals.ownBeacons += done.ownBeacons;
            result.totals.ambiguous += done.ambiguous;
            result.totals.unresolved += done.unresolved;
            before += planned.receptions;
        } catch (const std::exception& error) {
            // The location's transaction was rolled back and its states left
            // as they were; the run ends here.
            result.failedLocation = location;
            result.failure = error.what();
            break;
        }
    }
    return result;
}

}  // namespace zolt

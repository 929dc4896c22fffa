// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/StepTwoLists.h"

#include <system_error>

#include "core/TextFields.h"
#include "engine/ProcessedBytes.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;

namespace zolt {

StepTwoLists readStepTwoLists(const std::filesystem::path& processedPath, int location) {
    StepTwoLists lists;
    // While step two is on screen processed.dat always exists; if it has gone,
    // showing empty lists is harmless, whereas creating an empty file would make
    // the next start-up take the project for finished.
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(processedPath, ec))) return lists;
    const ProcessedBytes file(processedPath, ProcessedBytes::How::Mapped);
    return stepTwoListsOf(workingSetIn(processedPath, file.bytes(), location));
}

StepTwoLists stepTwoListsOf(const WorkingSet& set) {
    StepTwoLists lists;
    for (const WorkEntry& entry : set.entries) {
        const std::string_view code = trimmedView(entry.state);
        std::vector<ListedReception>* list = nullptr;
        if (code == state::AMB) {
            list = &lists.ambiguous;
        } else if (code == state::MIS) {
            list = &lists.unresolved;
        } else {
            continue;
        }
        list->push_back(ListedReception{entry.recordNo, entry.ident, entry.frequency, entry.time,
                                        entry.date, entry.comment});
    }
    return lists;
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/StepTwoLists.h"

#include "core/TextFields.h"

namespace zolt {

StepTwoLists readStepTwoLists(const std::filesystem::path& processedPath, int location) {
    StepTwoLists lists;
    // While step two is on screen processed.dat always exists; if it has gone,
    // showing empty lists is harmless, whereas creating an empty file would make
    // the next start-up take the project for finished.
    const auto records = readProcessedFile(processedPath, /*missingIsEmpty=*/true);
    for (const auto& record : records) {
        if (record.Location != location) continue;
        const std::string code = trimBlanks(record.State);
        std::vector<ListedReception>* list = nullptr;
        if (code == state::AMB) {
            list = &lists.ambiguous;
        } else if (code == state::MIS) {
            list = &lists.unresolved;
        } else {
            continue;
        }
        list->push_back(ListedReception{record.RecordNo, record.Ident, record.Frequency,
                                        record.Time, record.Date, record.Comment});
    }
    return lists;
}

}  // namespace zolt

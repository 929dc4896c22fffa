// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <vector>

#include "work/Records.h"

namespace zolt {

// One row of the upper list of step two: the record's fields at full width
// (raw Windows-1252 bytes, trailing blanks kept).
struct ListedReception {
    int recordNo = 0;  // its 1-based position in processed.dat
    std::string ident, frequency, time, date, comment;
};

struct StepTwoLists {
    std::vector<ListedReception> ambiguous;   // AMB records of the location, file order
    std::vector<ListedReception> unresolved;  // MIS records of the location, file order
};

// Reads processed.dat once. A missing file gives empty lists and is not created.
StepTwoLists readStepTwoLists(const std::filesystem::path& processedPath, int location);

struct WorkingSet;
// The same lists from a working set already loaded (its entries are the
// location's records in file order), nothing read.
StepTwoLists stepTwoListsOf(const WorkingSet& set);

}  // namespace zolt

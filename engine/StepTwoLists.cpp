// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/StepTwoLists.h"

#include <system_error>

#include "core/FileUtil.h"
#include "core/TextFields.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

std::int16_t int16At(std::string_view bytes, std::size_t offset) {
    const auto low = static_cast<unsigned char>(bytes[offset]);
    const auto high = static_cast<unsigned char>(bytes[offset + 1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

}  // namespace

StepTwoLists readStepTwoLists(const std::filesystem::path& processedPath, int location) {
    StepTwoLists lists;
    // While step two is on screen processed.dat always exists; if it has gone,
    // showing empty lists is harmless, whereas creating an empty file would make
    // the next start-up take the project for finished.
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(processedPath, ec))) return lists;
    const std::string bytes = readWholeFile(processedPath);
    // Only the listed records are taken apart; the rest are passed over by
    // their location and state bytes, as decoded records they cost more than
    // everything else the lists need.
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view raw =
            std::string_view(bytes).substr(i * ProcessedRecord::kLength, ProcessedRecord::kLength);
        if (int16At(raw, 0) != location) continue;
        const std::string_view code = trimmedView(raw.substr(99, 3));
        std::vector<ListedReception>* list = nullptr;
        if (code == state::AMB) {
            list = &lists.ambiguous;
        } else if (code == state::MIS) {
            list = &lists.unresolved;
        } else {
            continue;
        }
        const auto field = [&](std::size_t offset, std::size_t width) {
            return std::string(raw.substr(offset, width));
        };
        list->push_back(ListedReception{int16At(raw, 2), field(4, 10), field(14, 10), field(24, 5),
                                        field(29, 10), field(39, 60)});
    }
    return lists;
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/ProcessedBytes.h"

#include <algorithm>
#include <atomic>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/MappedFile.h"
#include "core/TextFields.h"
#include "work/Records.h"

namespace zolt {
namespace {

std::atomic<std::uint64_t> processedReads{0};

ProcessedRecordView recordAt(std::string_view bytes, std::size_t index) {
    return {bytes.substr(index * ProcessedRecord::kLength, ProcessedRecord::kLength)};
}

}  // namespace

ProcessedBytes::ProcessedBytes(const std::filesystem::path& path, How how) : path_(path) {
    ++processedReads;
    if (how == How::Copied) {
        copied_ = readWholeFile(path);
    } else {
        mapped_ = std::make_unique<MappedFile>(path);
    }
}

ProcessedBytes::ProcessedBytes(ProcessedBytes&&) noexcept = default;
ProcessedBytes& ProcessedBytes::operator=(ProcessedBytes&&) noexcept = default;
ProcessedBytes::~ProcessedBytes() = default;

std::string_view ProcessedBytes::bytes() const {
    return mapped_ ? mapped_->bytes() : std::string_view(copied_);
}

std::uint64_t ProcessedBytes::reads() { return processedReads.load(); }

WorkingSet workingSetOf(const std::filesystem::path& path, std::string_view bytes, int location) {
    return workingSetIn(path, bytes, location);
}

WorkingSet settledOf(std::string_view bytes, int location) {
    WorkingSet set;
    set.location = location;
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    const auto settled = [&](const ProcessedRecordView& r) {
        return r.location() == location && trimmedView(r.state()) == trimmedView(state::OK);
    };
    std::size_t matching = 0;
    for (std::size_t i = 0; i < count; ++i) matching += settled(recordAt(bytes, i));
    set.entries.reserve(matching);
    for (std::size_t i = 0; i < count; ++i) {
        const auto r = recordAt(bytes, i);
        if (!settled(r)) continue;
        set.entries.push_back(WorkEntry{r.location(), static_cast<int>(i + 1),
                                        std::string(r.ident()), std::string(r.frequency()),
                                        std::string(r.time()), std::string(r.date()),
                                        std::string(r.comment()), std::string(r.state())});
    }
    return set;
}

void applyStates(WorkingSet& set, const WorkingSet& changed) {
    if (changed.entries.empty()) return;
    // By position, as the set's entries stand: one walk through both.
    std::vector<const WorkEntry*> byPosition;
    byPosition.reserve(changed.entries.size());
    for (const WorkEntry& entry : changed.entries) byPosition.push_back(&entry);
    std::stable_sort(
        byPosition.begin(), byPosition.end(),
        [](const WorkEntry* a, const WorkEntry* b) { return a->recordNo < b->recordNo; });
    std::size_t at = 0;
    for (const WorkEntry* change : byPosition) {
        while (at < set.entries.size() && set.entries[at].recordNo < change->recordNo) ++at;
        if (at == set.entries.size()) break;
        if (set.entries[at].recordNo != change->recordNo) continue;
        // As the state write stores it: trimmed and padded to the field's width.
        std::string state(trimmedView(change->state).substr(0, ProcessedRecordView::kStateWidth));
        state.resize(ProcessedRecordView::kStateWidth, ' ');
        set.entries[at].state = std::move(state);
    }
    recountStates(set);
}

}  // namespace zolt

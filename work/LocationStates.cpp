// SPDX-License-Identifier: GPL-2.0-or-later
#include "work/LocationStates.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "core/EngineError.h"
#include "core/TextFields.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

constexpr std::size_t kRecordNoOffset = ProcessedRecordView::kRecordNoOffset;
constexpr std::size_t kStateOffset = ProcessedRecordView::kStateOffset;
constexpr std::size_t kStateWidth = ProcessedRecordView::kStateWidth;

ProcessedRecordView recordAt(std::string_view bytes, std::size_t index) {
    return {bytes.substr(index * ProcessedRecord::kLength, ProcessedRecord::kLength)};
}

}  // namespace

std::array<LocationStatus, kLocationCount> scanLocationStates(const fs::path& processedPath) {
    std::array<LocationStatus, kLocationCount> buttons{};
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(processedPath, ec))) return buttons;

    const std::string bytes = readWholeFile(processedPath);
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    for (std::size_t i = 0; i < count; ++i) {
        const auto record = recordAt(bytes, i);
        const int location = record.location();
        // A location outside 1 … 16 has no button; such a record is not ours to show.
        if (location < 1 || location > kLocationCount) continue;
        auto& button = buttons[static_cast<std::size_t>(location - 1)];
        if (button.enabled) continue;  // the first pending record decides
        const std::string code = trimBlanks(record.state());
        if (code == state::MIS || code == state::AMB) {
            button = {true, LocationColour::Yellow};
        } else if (code == state::UNP) {
            button = {true, LocationColour::LightRed};
        }
    }
    return buttons;
}

WorkingSet loadWorkingSet(const fs::path& processedPath, int location) {
    WorkingSet set;
    set.location = location;
    const std::string bytes = readWholeFile(processedPath);
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    std::size_t matching = 0;
    for (std::size_t i = 0; i < count; ++i) matching += recordAt(bytes, i).location() == location;
    set.entries.reserve(matching);
    // Straight from the bytes into the entries, without a decoded record in
    // between: the fields are the record's at full width, as decode gives them.
    for (std::size_t i = 0; i < count; ++i) {
        const auto r = recordAt(bytes, i);
        if (r.location() != location) continue;
        set.entries.push_back(WorkEntry{r.location(), r.recordNo(), std::string(r.ident()),
                                        std::string(r.frequency()), std::string(r.time()),
                                        std::string(r.date()), std::string(r.comment()),
                                        std::string(r.state())});
    }
    recountStates(set);
    return set;
}

void recountStates(WorkingSet& set) {
    set.unpCount = set.misCount = set.ambCount = 0;
    for (const auto& entry : set.entries) {
        const std::string_view code = trimmedView(entry.state);
        if (code == state::UNP) ++set.unpCount;
        if (code == state::MIS) ++set.misCount;
        if (code == state::AMB) ++set.ambCount;
    }
}

std::unique_ptr<PendingFileReplace> prepareWorkStates(const fs::path& processedPath,
                                                      const WorkingSet& set) {
    std::vector<std::string_view> states;
    states.reserve(set.entries.size());
    for (const auto& entry : set.entries) states.emplace_back(entry.state);
    return prepareWorkStates(processedPath, set, states);
}

std::unique_ptr<PendingFileReplace> prepareWorkStates(const fs::path& processedPath,
                                                      const WorkingSet& set,
                                                      const std::vector<std::string_view>& states) {
    if (states.size() != set.entries.size()) {
        throw EngineError("Could not save the states to " + describePath(processedPath) +
                          ": the run gave " + std::to_string(states.size()) + " states for " +
                          std::to_string(set.entries.size()) + " receptions.");
    }
    // Every byte is carried over, a partial record at the end included; only
    // the State fields of the listed records are overwritten.
    std::string bytes = readWholeFile(processedPath);
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    std::vector<bool> written(count, false);
    for (std::size_t e = 0; e < set.entries.size(); ++e) {
        const WorkEntry& entry = set.entries[e];
        const int number = entry.recordNo;
        const bool inFile = number >= 1 && static_cast<std::size_t>(number) <= count;
        const std::size_t offset =
            inFile ? static_cast<std::size_t>(number - 1) * ProcessedRecord::kLength : 0;
        // The record must still carry the number it was loaded with; otherwise
        // the file has changed underneath and writing would hit the wrong reception.
        if (!inFile || int16At(bytes, offset + kRecordNoOffset) != number) {
            throw EngineError("Could not save the states to " + describePath(processedPath) +
                              ": it holds no record number " + std::to_string(number) +
                              ", so the file was left unchanged.");
        }
        // A damaged file may have two records claim one number: then the state
        // would land in a reception of another location, or in one record of
        // this location twice while the other keeps a stale state.
        const auto index = static_cast<std::size_t>(number - 1);
        if (written[index] || int16At(bytes, offset) != entry.location) {
            throw EngineError("Could not save the states to " + describePath(processedPath) +
                              ": more than one record claims the number " + std::to_string(number) +
                              ", so the file was left unchanged.");
        }
        written[index] = true;
        // The state trimmed and padded to its width, written in place.
        const std::string_view code = trimmedView(states[e]).substr(0, kStateWidth);
        char* field = bytes.data() + offset + kStateOffset;
        std::fill(field, field + kStateWidth, ' ');
        std::copy(code.begin(), code.end(), field);
    }
    return std::make_unique<PendingFileReplace>(processedPath, bytes);
}

void saveWorkStates(const fs::path& processedPath, const WorkingSet& set) {
    prepareWorkStates(processedPath, set)->commit();
}

PendingWork checkPendingWork(const fs::path& processedPath, const fs::path& backupFolder,
                             bool projectExists) {
    // Without settings.ini there is no backup folder to rebuild from and no
    // project to finish.
    if (!projectExists) return PendingWork::NoProject;

    std::error_code ec;
    const auto status = fs::status(processedPath, ec);
    if (!fs::exists(status)) {
        buildProcessedFile(backupFolder, processedPath, LogSource::WorkLogs);
        return PendingWork::Rebuilt;
    }
    if (!fs::is_regular_file(status)) {
        throw EngineError("Could not read " + describePath(processedPath) +
                          ": it is not a regular file.");
    }

    const std::string bytes = readWholeFile(processedPath);
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    if (count == 0) {
        // Empty, or a fragment shorter than one record: no reception was ever
        // imported, so there is nothing to finish. The fragment is useless and
        // goes, as an empty file does.
        removeFileIfExists(processedPath);
        return PendingWork::NothingImported;
    }
    // A finished project is finalized, which removes the working files; a
    // damaged file must not pass for one. Every record is looked at first.
    bool pending = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view code = recordAt(bytes, i).state();
        if (isPendingState(code)) {
            pending = true;
        } else if (trimBlanks(code) != trimBlanks(state::OK)) {
            throw EngineError("The working file " + processedPath.string() +
                              " is damaged: record " + std::to_string(i + 1) +
                              " holds no valid state. It was left as it is; Start New Project "
                              "builds it anew from the backups.");
        }
    }
    return pending ? PendingWork::WorkLeft : PendingWork::NothingLeft;
}

}  // namespace zolt

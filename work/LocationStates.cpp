// SPDX-License-Identifier: GPL-2.0-or-later
#include "work/LocationStates.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/MappedFile.h"
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

StateWriteHook stateWriteHook = nullptr;

// A hash of whole records, their State fields left out. Eight bytes at a
// time: a whole location of an archive is hashed with every action.
std::uint64_t fingerprintOf(std::string_view records) {
    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](std::string_view part) {
        std::size_t at = 0;
        for (; at + 8 <= part.size(); at += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, part.data() + at, 8);
            hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
            hash ^= hash >> 29;
        }
        for (; at < part.size(); ++at) {
            hash = (hash ^ static_cast<unsigned char>(part[at])) * 1099511628211ull;
        }
    };
    for (std::size_t at = 0; at + ProcessedRecord::kLength <= records.size();
         at += ProcessedRecord::kLength) {
        mix(records.substr(at, kStateOffset));
        mix(records.substr(at + kStateOffset + kStateWidth,
                           ProcessedRecord::kLength - kStateOffset - kStateWidth));
    }
    return hash;
}

}  // namespace

void setStateWriteHook(StateWriteHook hook) { stateWriteHook = hook; }

void reachStateWritePoint(StateWritePoint point) {
    if (stateWriteHook) stateWriteHook(point);
}

std::array<LocationState, kLocationCount> scanLocationStates(const fs::path& processedPath) {
    std::array<LocationState, kLocationCount> states{};
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(processedPath, ec))) return states;

    const MappedFile file(processedPath);
    const std::string_view bytes = file.bytes();
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    int undecided = kLocationCount;
    for (std::size_t i = 0; i < count && undecided > 0; ++i) {
        const auto record = recordAt(bytes, i);
        const int location = record.location();
        // A location outside 1 … 16 is none the listener can choose; such a
        // record is not ours to show.
        if (location < 1 || location > kLocationCount) continue;
        auto& found = states[static_cast<std::size_t>(location - 1)];
        if (hasPendingWork(found)) continue;  // the first pending record decides
        const std::string_view code = trimmedView(record.state());
        if (code == state::MIS || code == state::AMB) {
            found = LocationState::WorkLeft;
            --undecided;
        } else if (code == state::UNP) {
            found = LocationState::NotMatched;
            --undecided;
        }
    }
    return states;
}

namespace {

// The location's records among records [from, to) of the file (0-based).
WorkingSet loadFrom(const fs::path& processedPath, std::string_view bytes, int location,
                    std::size_t from, std::size_t to) {
    WorkingSet set;
    set.location = location;
    std::size_t matching = 0;
    for (std::size_t i = from; i < to; ++i) matching += recordAt(bytes, i).location() == location;
    // The import refuses a larger location; only a file written otherwise
    // gets here, and the working set is not made to hold it.
    if (matching > static_cast<std::size_t>(kMaxWorkingSet)) {
        throw EngineError("Could not load listening location " + std::to_string(location) +
                          " from " + describePath(processedPath) + ": it holds " +
                          std::to_string(matching) +
                          " receptions, and one location can take at "
                          "most " +
                          std::to_string(kMaxWorkingSet) + ".");
    }
    set.entries.reserve(matching);
    // Straight from the bytes into the entries, without a decoded record in
    // between: the fields are the record's at full width, as decode gives them.
    // An entry is known by its position, which is its record number.
    for (std::size_t i = from; i < to; ++i) {
        const auto r = recordAt(bytes, i);
        if (r.location() != location) continue;
        set.entries.push_back(WorkEntry{r.location(), static_cast<int>(i + 1),
                                        std::string(r.ident()), std::string(r.frequency()),
                                        std::string(r.time()), std::string(r.date()),
                                        std::string(r.comment()), std::string(r.state())});
    }
    recountStates(set);
    return set;
}

}  // namespace

WorkingSet workingSetIn(const fs::path& processedPath, std::string_view bytes, int location) {
    return loadFrom(processedPath, bytes, location, 0,
                    recordCount(bytes.size(), ProcessedRecord::kLength));
}

WorkingSet loadWorkingSet(const fs::path& processedPath, int location) {
    const MappedFile file(processedPath);
    return workingSetIn(processedPath, file.bytes(), location);
}

WorkingSet loadWorkingSet(const fs::path& processedPath, int location, std::size_t first,
                          std::size_t count) {
    const MappedFile file(processedPath);
    const std::string_view bytes = file.bytes();
    const std::size_t records = recordCount(bytes.size(), ProcessedRecord::kLength);
    bool there = first >= 1 && count <= records && first - 1 <= records - count;
    for (std::size_t i = first - 1; there && i < first - 1 + count; ++i) {
        there = recordAt(bytes, i).location() == location;
    }
    return there ? loadFrom(processedPath, bytes, location, first - 1, first - 1 + count)
                 : loadFrom(processedPath, bytes, location, 0, records);
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

PendingStates::PendingStates(const fs::path& processedPath, const WorkingSet& set,
                             const std::vector<std::string_view>& states)
    : path_(processedPath) {
    const auto refuse = [&](const std::string& reason) {
        // A constructor that throws has no destructor run: the file is let
        // go here, or it stays open (and on Windows cannot be replaced or
        // removed) for as long as the program runs.
        if (fd_ >= 0) closeFile(fd_);
        fd_ = -1;
        throw EngineError("Could not save the states to " + describePath(processedPath) + ": " +
                          reason + ", so the file was left unchanged.");
    };
    if (states.size() != set.entries.size()) {
        throw EngineError("Could not save the states to " + describePath(processedPath) +
                          ": the run gave " + std::to_string(states.size()) + " states for " +
                          std::to_string(set.entries.size()) + " receptions.");
    }
    int openError = 0;
    fd_ = openFileForUpdate(processedPath, openError);
    if (fd_ < 0) refuse(fileErrorText(openError));
    bool regular = false;
    std::uint64_t fileSize = 0;
    if (const int error = describeOpenFile(fd_, regular, fileSize); error != 0) {
        refuse(fileErrorText(error));
    }
    if (!regular) refuse("it is not a regular file");
    const std::size_t count = recordCount(fileSize, ProcessedRecord::kLength);
    if (set.entries.empty()) return;

    // Only the stretch of the file from the first to the last of the entries
    // is read and written again: the records of one location stand together,
    // so on a whole archive this is that location's part, not the file.
    int first = set.entries.front().recordNo, last = first;
    for (const WorkEntry& entry : set.entries) {
        const int number = entry.recordNo;
        if (number < 1 || static_cast<std::size_t>(number) > count) {
            refuse("it holds no record number " + std::to_string(number));
        }
        first = std::min(first, number);
        last = std::max(last, number);
    }
    offset_ = static_cast<std::size_t>(first - 1) * ProcessedRecord::kLength;
    region_.resize(static_cast<std::size_t>(last - first + 1) * ProcessedRecord::kLength);
    if (const int error = readFileAt(fd_, region_, offset_); error != 0) {
        refuse(error == kFileEnded ? "it became shorter while it was read" : fileErrorText(error));
    }

    std::vector<bool> written(static_cast<std::size_t>(last - first + 1), false);
    for (std::size_t e = 0; e < set.entries.size(); ++e) {
        const WorkEntry& entry = set.entries[e];
        const auto index = static_cast<std::size_t>(entry.recordNo - first);
        const std::size_t at = index * ProcessedRecord::kLength;
        // The record must still carry the number of its place; otherwise the
        // file has changed underneath and writing would hit the wrong reception.
        if (int16At(region_, at + kRecordNoOffset) != recordNoFor(entry.recordNo)) {
            refuse("it holds no record number " + std::to_string(entry.recordNo));
        }
        // A reception of another location at this place, or one place given
        // twice: the state would land in the wrong reception, or in one
        // record twice while another keeps a stale state.
        if (written[index] || int16At(region_, at) != entry.location) {
            refuse("more than one record claims the number " + std::to_string(entry.recordNo));
        }
        written[index] = true;
        // The state trimmed and padded to its width, written in place.
        const std::string_view code = trimmedView(states[e]).substr(0, kStateWidth);
        char* field = region_.data() + at + kStateOffset;
        std::fill(field, field + kStateWidth, ' ');
        std::copy(code.begin(), code.end(), field);
    }

    stretch_.location = set.entries.front().location;
    stretch_.first = first;
    stretch_.fileSize = fileSize;
    stretch_.fingerprint = fingerprintOf(region_);
    stretch_.states.assign(written.size() * kStateWidth, '\0');
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (!written[i]) continue;
        stretch_.states.replace(i * kStateWidth, kStateWidth, region_,
                                i * ProcessedRecord::kLength + kStateOffset, kStateWidth);
    }
}

PendingStates::~PendingStates() {
    if (fd_ >= 0) closeFile(fd_);
}

void PendingStates::commit() {
    if (fd_ < 0) return;
    // In two halves, so that a test can stop the process between them: a
    // write cut short is what the journal must be able to complete.
    const std::string_view bytes = region_;
    const std::size_t half = bytes.size() / 2;
    int error = writeFileAt(fd_, bytes.substr(0, half), offset_);
    if (error == 0) {
        reachStateWritePoint(StateWritePoint::MidWrite);
        error = writeFileAt(fd_, bytes.substr(half), offset_ + half);
    }
    if (error == 0 && !region_.empty()) error = flushFile(fd_);
    if (const int closed = closeFile(fd_); closed != 0 && error == 0) error = closed;
    fd_ = -1;
    if (error != 0) {
        throw EngineError("Could not save the states to " + describePath(path_) + ": " +
                          fileErrorText(error) + ".");
    }
}

void applyStateStretch(const fs::path& processedPath, const StateStretch& stretch) {
    const auto refuse = [&](const std::string& reason) {
        throw EngineError("Could not complete the states of location " +
                          std::to_string(stretch.location) + " in " + describePath(processedPath) +
                          ": " + reason + ".");
    };
    if (stretch.states.empty()) return;
    if (stretch.first < 1 || stretch.states.size() % kStateWidth != 0) {
        refuse("the stored states are damaged");
    }
    int openError = 0;
    const int fd = openFileForUpdate(processedPath, openError);
    if (fd < 0) refuse(fileErrorText(openError));
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) closeFile(fd);
        }
    } closer{fd};
    bool regular = false;
    std::uint64_t fileSize = 0;
    if (const int error = describeOpenFile(fd, regular, fileSize); error != 0) {
        refuse(fileErrorText(error));
    }
    if (!regular) refuse("it is not a regular file");
    const std::size_t records = stretch.states.size() / kStateWidth;
    const std::size_t offset =
        static_cast<std::size_t>(stretch.first - 1) * ProcessedRecord::kLength;
    if (fileSize != stretch.fileSize ||
        offset + records * ProcessedRecord::kLength > stretch.fileSize) {
        refuse("it is no longer the file they were written for (its size changed)");
    }
    std::string region(records * ProcessedRecord::kLength, '\0');
    if (const int error = readFileAt(fd, region, offset); error != 0) refuse(fileErrorText(error));
    if (fingerprintOf(region) != stretch.fingerprint) {
        refuse("it no longer holds the receptions they were written for");
    }
    for (std::size_t i = 0; i < records; ++i) {
        const std::string_view code(stretch.states.data() + i * kStateWidth, kStateWidth);
        if (code.find('\0') != std::string_view::npos) continue;  // not part of the write
        const std::size_t at = i * ProcessedRecord::kLength;
        const int position = stretch.first + static_cast<int>(i);
        if (int16At(region, at) != stretch.location ||
            int16At(region, at + kRecordNoOffset) != recordNoFor(position)) {
            refuse("record " + std::to_string(position) + " is not the one they belong to");
        }
        region.replace(at + kStateOffset, kStateWidth, code);
    }
    // Written whole even where the bytes are already there: a write that a
    // crash of the machine cut short is on the disk only after this flush.
    int error = writeFileAt(fd, region, offset);
    if (error == 0) error = flushFile(fd);
    closer.fd = -1;
    if (const int closed = closeFile(fd); closed != 0 && error == 0) error = closed;
    if (error != 0) refuse(fileErrorText(error));
}

std::unique_ptr<PendingStates> prepareWorkStates(const fs::path& processedPath,
                                                 const WorkingSet& set) {
    std::vector<std::string_view> states;
    states.reserve(set.entries.size());
    for (const auto& entry : set.entries) states.emplace_back(entry.state);
    return prepareWorkStates(processedPath, set, states);
}

std::unique_ptr<PendingStates> prepareWorkStates(const fs::path& processedPath,
                                                 const WorkingSet& set,
                                                 const std::vector<std::string_view>& states) {
    return std::make_unique<PendingStates>(processedPath, set, states);
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

    std::optional<MappedFile> file(std::in_place, processedPath);
    const std::string_view bytes = file->bytes();
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    if (count == 0) {
        file.reset();  // let go of the file before it is removed
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

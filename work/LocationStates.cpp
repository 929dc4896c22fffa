// SPDX-License-Identifier: GPL-2.0-or-later
#include "work/LocationStates.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

#include "core/EngineError.h"
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

}  // namespace

std::array<LocationStatus, kLocationCount> scanLocationStates(const fs::path& processedPath) {
    std::array<LocationStatus, kLocationCount> buttons{};
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(processedPath, ec))) return buttons;

    const MappedFile file(processedPath);
    const std::string_view bytes = file.bytes();
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    int undecided = kLocationCount;
    for (std::size_t i = 0; i < count && undecided > 0; ++i) {
        const auto record = recordAt(bytes, i);
        const int location = record.location();
        // A location outside 1 … 16 has no button; such a record is not ours to show.
        if (location < 1 || location > kLocationCount) continue;
        auto& button = buttons[static_cast<std::size_t>(location - 1)];
        if (button.enabled) continue;  // the first pending record decides
        const std::string_view code = trimmedView(record.state());
        if (code == state::MIS || code == state::AMB) {
            button = {true, LocationColour::Yellow};
            --undecided;
        } else if (code == state::UNP) {
            button = {true, LocationColour::LightRed};
            --undecided;
        }
    }
    return buttons;
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
                          std::to_string(matching) + " receptions, and one location can take at "
                          "most " + std::to_string(kMaxWorkingSet) + ".");
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

WorkingSet loadWorkingSet(const fs::path& processedPath, int location) {
    const MappedFile file(processedPath);
    const std::string_view bytes = file.bytes();
    return loadFrom(processedPath, bytes, location, 0,
                    recordCount(bytes.size(), ProcessedRecord::kLength));
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
        throw EngineError("Could not save the states to " + describePath(processedPath) + ": " +
                          reason + ", so the file was left unchanged.");
    };
    if (states.size() != set.entries.size()) {
        throw EngineError("Could not save the states to " + describePath(processedPath) +
                          ": the run gave " + std::to_string(states.size()) + " states for " +
                          std::to_string(set.entries.size()) + " receptions.");
    }
    fd_ = ::open(processedPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) refuse(std::strerror(errno));
    struct stat info {};
    if (::fstat(fd_, &info) != 0) refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode)) refuse("it is not a regular file");
    const std::size_t count =
        recordCount(static_cast<std::uintmax_t>(info.st_size), ProcessedRecord::kLength);
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
    std::size_t done = 0;
    while (done < region_.size()) {
        const ssize_t n = ::pread(fd_, region_.data() + done, region_.size() - done,
                                  static_cast<off_t>(offset_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) refuse(std::strerror(errno));
        if (n == 0) refuse("it became shorter while it was read");
        done += static_cast<std::size_t>(n);
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
}

PendingStates::~PendingStates() {
    if (fd_ >= 0) ::close(fd_);
}

void PendingStates::commit() {
    if (fd_ < 0) return;
    int error = 0;
    std::size_t done = 0;
    while (done < region_.size()) {
        const ssize_t n = ::pwrite(fd_, region_.data() + done, region_.size() - done,
                                   static_cast<off_t>(offset_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (error == 0 && !region_.empty() && ::fsync(fd_) != 0) error = errno;
    if (::close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    if (error != 0) {
        throw EngineError("Could not save the states to " + describePath(path_) + ": " +
                          std::strerror(error) + ".");
    }
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

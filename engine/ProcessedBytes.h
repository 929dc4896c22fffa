// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "work/LocationStates.h"

namespace zolt {

class MappedFile;

// processed.dat as the engine reads it: every read of the file's receptions
// goes through here, once per action or look, and is counted.
class ProcessedBytes {
  public:
    enum class How {
        Copied,  // an action's: the file is written while the bytes are still used
        Mapped,  // a look's: only the pages it touches are read
    };
    ProcessedBytes(const std::filesystem::path& path, How how);
    ProcessedBytes(ProcessedBytes&&) noexcept;
    ProcessedBytes& operator=(ProcessedBytes&&) noexcept;
    ~ProcessedBytes();

    std::string_view bytes() const;
    const std::filesystem::path& path() const { return path_; }

    // Reads of processed.dat since the process started, for the tests that
    // count what a click costs.
    static std::uint64_t reads();

  private:
    std::filesystem::path path_;
    std::string copied_;
    std::unique_ptr<MappedFile> mapped_;
};

// The receptions of `location` among `bytes` (processed.dat at `path`), in
// file order: what loadWorkingSet reads from the file itself.
WorkingSet workingSetOf(const std::filesystem::path& path, std::string_view bytes, int location);
// Only those of them that are settled (OK): what the logged view pairs with
// the log's rows.
WorkingSet settledOf(std::string_view bytes, int location);

// `set` with the states of `changed` (entries named by their recordNo), counts anew.
void applyStates(WorkingSet& set, const WorkingSet& changed);

}  // namespace zolt

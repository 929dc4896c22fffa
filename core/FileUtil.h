// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zolt {

// Reads a whole file; throws EngineError naming the file and the reason.
std::string readWholeFile(const std::filesystem::path& path);
// Opens a regular file read-only and returns its descriptor, which the
// caller closes; a missing file, a folder or a refusal throws, naming it.
int openRegularFileForReading(const std::filesystem::path& path);

// Writes `bytes` to a new file beside `path`, flushes it to disk and renames
// it over `path`, so that readers see the old file or the new one, never a
// half-written one. Throws EngineError; on failure `path` is unchanged and
// the temporary file is removed.
void replaceFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Two-phase form of the same, for changes that must land together with a
// database commit: prepare() writes and flushes the temporary file, commit()
// renames it into place. Destroyed uncommitted, it removes the temporary file.
class PendingFileReplace {
  public:
    PendingFileReplace(const std::filesystem::path& path, std::string_view bytes);
    PendingFileReplace(const PendingFileReplace&) = delete;
    PendingFileReplace& operator=(const PendingFileReplace&) = delete;
    ~PendingFileReplace();
    void commit();

  private:
    std::filesystem::path path_;
    std::filesystem::path temp_;
    bool done_ = false;
};

// Finds `name` in `folder` without regard to letter case (LOG3.BAK is
// log3.bak); an exact match wins. Only regular files count.
std::optional<std::filesystem::path> findFileNoCase(const std::filesystem::path& folder,
                                                    std::string_view name);

// Deletes the file if it exists; a missing file is no error. Throws on failure.
void removeFileIfExists(const std::filesystem::path& path);

// What a failed file operation's `error` (an errno value) means, in words a
// listener can act on ("the disk is full"), not the system's own wording.
std::string plainReason(int error);

// "the file <path>" for messages, in the platform's own spelling.
std::string describePath(const std::filesystem::path& path);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace zolt {

// A path from UTF-8 text and back. Every path that arrives as text (from the
// window toolkit, settings.ini, the command line) goes through these: on
// Windows a path made from a narrow string is read in the ANSI code page,
// which turns every letter outside it into something else.
std::filesystem::path pathFromUtf8(std::string_view utf8);
std::string pathToUtf8(const std::filesystem::path& path);

// Reads a whole file; throws EngineError naming the file and the reason.
std::string readWholeFile(const std::filesystem::path& path);
// Opens a regular file read-only and returns its descriptor, which the
// caller closes; a missing file, a folder or a refusal throws, naming it.
int openRegularFileForReading(const std::filesystem::path& path);

// Renames `from` over `to`, replacing any file there in one step, and makes
// the rename durable (POSIX: rename and a flush of the folder; Windows:
// MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
// Windows refuses while `to` is open without sharing its deletion or mapped
// into memory; the error then says so.
std::error_code renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// A file changed in place (processed.dat's states). The descriptor is the
// C runtime's on both systems; the functions return 0 or the system's error
// code, which fileErrorText() turns into the system's sentence.
// openFileForUpdate gives -1 and sets `error` on failure.
int openFileForUpdate(const std::filesystem::path& path, int& error);
// Whether the open file is a regular file, and its size; 0 or an error.
int describeOpenFile(int fd, bool& regular, std::uint64_t& size);
// Reads `into.size()` bytes from `offset`; kFileEnded when the file ends first.
int readFileAt(int fd, std::string& into, std::uint64_t offset);
int writeFileAt(int fd, std::string_view bytes, std::uint64_t offset);
// Flushes the file's data to the disk (fsync, FlushFileBuffers).
int flushFile(int fd);
int closeFile(int fd);
extern const int kFileEnded;
std::string fileErrorText(int error);

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

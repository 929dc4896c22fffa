// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/EngineError.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    });
    return out;
}

fs::path tempPathBeside(const fs::path& path) {
    static std::atomic<unsigned> counter{0};
    fs::path temp = path;
    temp += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    return temp;
}

// Writes and flushes `bytes` into a new file at `temp`.
void writeFlushed(const fs::path& temp, const fs::path& target, std::string_view bytes) {
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw EngineError("Could not write " + describePath(target) + ": " + plainReason(errno) +
                          ".");
    }
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    int error = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw EngineError("Could not write " + describePath(target) + ": " + plainReason(error) +
                          ".");
    }
}

void renameInto(const fs::path& temp, const fs::path& target) {
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw EngineError("Could not replace " + describePath(target) + ": " + plainReason(ec.value()) + ".");
    }
    // The rename itself lives in the folder: flush that too, so that after a
    // power failure the new file is there as surely as a database commit is.
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::string describePath(const std::filesystem::path& path) { return "the file " + path.string(); }

int openRegularFileForReading(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        throw EngineError(
            "Could not read " + describePath(path) + ": " +
            (fs::exists(path, ec) ? "it is not a regular file" : "it does not exist") + ".");
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw EngineError("Could not open " + describePath(path) + ": " + plainReason(errno) +
                          ".");
    }
    return fd;
}

std::string readWholeFile(const fs::path& path) {
    // One read into a buffer of the file's size: a stream read byte by byte
    // took longer than all the work done on a large working file afterwards.
    const int fd = openRegularFileForReading(path);
    std::string bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
    }
    // The size is only a hint: a file that grows or shrinks meanwhile is read
    // to its end all the same.
    std::size_t used = 0;
    char spare[4096];
    for (;;) {
        const bool full = used == bytes.size();
        char* into = full ? spare : bytes.data() + used;
        const std::size_t room = full ? sizeof spare : bytes.size() - used;
        const ssize_t n = ::read(fd, into, room);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw EngineError("Could not read " + describePath(path) + ": " + plainReason(error) +
                              ".");
        }
        if (full) bytes.append(spare, static_cast<std::size_t>(n));
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(used);
    return bytes;
}

void replaceFileAtomically(const fs::path& path, std::string_view bytes) {
    PendingFileReplace pending(path, bytes);
    pending.commit();
}

PendingFileReplace::PendingFileReplace(const fs::path& path, std::string_view bytes)
    : path_(path), temp_(tempPathBeside(path)) {
    writeFlushed(temp_, path_, bytes);
}

PendingFileReplace::~PendingFileReplace() {
    if (!done_) {
        std::error_code ignored;
        fs::remove(temp_, ignored);
    }
}

void PendingFileReplace::commit() {
    if (done_) return;
    done_ = true;
    renameInto(temp_, path_);
}

std::optional<fs::path> findFileNoCase(const fs::path& folder, std::string_view name) {
    std::error_code ec;
    const fs::path exact = folder / fs::path(std::string(name));
    if (fs::is_regular_file(exact, ec)) return exact;
    const std::string wanted = lower(name);
    fs::directory_iterator it(folder, ec);
    if (ec) return std::nullopt;
    std::optional<fs::path> found;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const auto& entry = *it;
        if (lower(entry.path().filename().string()) != wanted) continue;
        std::error_code typeError;
        if (!entry.is_regular_file(typeError)) continue;
        // Several spellings of one name: take the first in name order, so the
        // choice does not depend on the directory's order.
        if (!found || entry.path().filename() < found->filename()) found = entry.path();
    }
    return found;
}

void removeFileIfExists(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return;
    if (!fs::remove(path, ec) && ec) {
        throw EngineError("Could not delete " + describePath(path) + ": " + plainReason(ec.value()) + ".");
    }
}

std::string plainReason(int error) {
    switch (error) {
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return "the disk is full";
        case EACCES:
        case EPERM:
            return "the system refuses access to it (it may be read-only, or locked by another "
                   "program)";
#ifdef EROFS
        case EROFS:
            return "the disk it is on can only be read";
#endif
        case ENOENT:
            return "it does not exist";
        case EBUSY:
#ifdef ETXTBSY
        case ETXTBSY:
#endif
            return "it is in use by another program";
        case EISDIR:
            return "it is a folder, not a file";
        case ENOTDIR:
            return "a part of its path is not a folder";
        case EIO:
            return "the disk reported an error while reading or writing it";
        default:
            break;
    }
    std::string text = std::strerror(error);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

}  // namespace zolt

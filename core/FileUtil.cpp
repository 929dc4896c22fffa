// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/FileUtil.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/EngineError.h"
#include "core/TextFields.h"
#include "core/Utf8.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

#ifdef _WIN32

// The system's own sentence for a Windows error code, as UTF-8, without the
// full stop and line end it comes with (the messages add their own).
std::string windowsErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = length > 0 && text ? std::wstring(text, length) : std::wstring();
    if (text) LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ' ||
                             wide.back() == L'.')) {
        wide.pop_back();
    }
    if (wide.empty()) return "system error " + std::to_string(error);
    return pathToUtf8(fs::path(wide));
}

// Opens with every kind of sharing, deletion included: a reader of ours
// never stands in the way of a file being replaced by renaming over it.
HANDLE openShared(const fs::path& path, DWORD access, DWORD disposition) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A C runtime descriptor for `handle`, which it then owns; -1 when none.
int descriptorFor(HANDLE handle, int flags) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) CloseHandle(handle);
    return fd;
}

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// One call reads or writes at most 1 GiB.
DWORD chunkOf(std::size_t left) {
    return static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
}

unsigned processId() { return static_cast<unsigned>(GetCurrentProcessId()); }

#else

unsigned processId() { return static_cast<unsigned>(::getpid()); }

#endif

fs::path tempPathBeside(const fs::path& path) {
    static std::atomic<unsigned> counter{0};
    fs::path temp = path;
    temp += ".tmp" + std::to_string(processId()) + "-" + std::to_string(counter++);
    return temp;
}

#ifdef _WIN32

// Writes and flushes `bytes` into a new file at `temp`.
void writeFlushed(const fs::path& temp, const fs::path& target, std::string_view bytes) {
    const HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw EngineError("Could not write " + describePath(target) + ": " +
                          windowsErrorText(GetLastError()) + ".");
    }
    DWORD error = 0;
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, chunkOf(left), &written, nullptr)) {
            error = GetLastError();
            break;
        }
        data += written;
        left -= written;
    }
    if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
    if (!CloseHandle(file) && error == 0) error = GetLastError();
    if (error != 0) {
        DeleteFileW(temp.c_str());
        throw EngineError("Could not write " + describePath(target) + ": " +
                          windowsErrorText(error) + ".");
    }
}

#else

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

#endif

// A folder or a device is refused before it is opened: reading one would
// wait forever or give bytes no file of ours holds.
void requireRegularFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        throw EngineError(
            "Could not read " + describePath(path) + ": " +
            (fs::exists(path, ec) ? "it is not a regular file" : "it does not exist") + ".");
    }
}

void renameInto(const fs::path& temp, const fs::path& target) {
    const std::error_code ec = renameReplacing(temp, target);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw EngineError("Could not replace " + describePath(target) + ": " +
                          plainReason(ec.value()) + ".");
    }
}

}  // namespace

#ifdef _WIN32

// Windows keeps names in UTF-16. Text that is no valid UTF-8 (a settings.ini
// edited by hand) and names that are no valid UTF-16 (a lone surrogate, which
// Windows allows) each get U+FFFD for what cannot be read, instead of the
// library's exception: the name then fails as a missing file would.
fs::path pathFromUtf8(std::string_view utf8) {
    std::wstring wide;
    wide.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const char32_t c = nextUtf8(utf8, pos).value_or(0xFFFD);
        if (c >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(c);
        }
    }
    return fs::path(wide);
}

std::string pathToUtf8(const fs::path& path) {
    const std::wstring& wide = path.native();
    std::string text;
    text.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char16_t>(wide[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(wide[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(text, c);
    }
    return text;
}

#else

// On POSIX a path is its bytes: UTF-8 in, UTF-8 out, as it always was.
fs::path pathFromUtf8(std::string_view utf8) {
    return fs::path(std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string pathToUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

#endif

std::string describePath(const std::filesystem::path& path) {
    return "the file " + pathToUtf8(path);
}

#ifdef _WIN32

std::error_code renameReplacing(const fs::path& from, const fs::path& to) {
    // A virus scanner or the search indexer may hold a fresh file for a
    // moment without sharing its deletion; such a refusal passes, a reader
    // that keeps it open does not.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return {};
        }
        const DWORD error = GetLastError();
        if (attempt >= 10 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) {
            return {static_cast<int>(error), std::system_category()};
        }
        Sleep(50);
    }
}

int openRegularFileForReading(const fs::path& path) {
    requireRegularFile(path);
    const HANDLE handle = openShared(path, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
        throw EngineError("Could not open " + describePath(path) + ": " +
                          windowsErrorText(GetLastError()) + ".");
    }
    const int fd = descriptorFor(handle, _O_RDONLY);
    if (fd < 0) {
        throw EngineError("Could not open " + describePath(path) + ": " + std::strerror(errno) +
                          ".");
    }
    return fd;
}

namespace {

// Reads what comes next, at most `room` bytes: their count, 0 at the end,
// or -1 with the system's error code in `error`.
long long readSome(int fd, char* into, std::size_t room, int& error) {
    DWORD got = 0;
    if (!ReadFile(handleOf(fd), into, chunkOf(room), &got, nullptr)) {
        error = static_cast<int>(GetLastError());
        return -1;
    }
    return got;
}

}  // namespace

const int kFileEnded = ERROR_HANDLE_EOF;

int openFileForUpdate(const fs::path& path, int& error) {
    const HANDLE handle = openShared(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(GetLastError());
        return -1;
    }
    const int fd = descriptorFor(handle, _O_RDWR);
    if (fd < 0) error = ERROR_TOO_MANY_OPEN_FILES;
    return fd;
}

int describeOpenFile(int fd, bool& regular, std::uint64_t& size) {
    const HANDLE handle = handleOf(fd);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return static_cast<int>(GetLastError());
    regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
              GetFileType(handle) == FILE_TYPE_DISK;
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return 0;
}

namespace {

// ReadFile and WriteFile at an offset given in OVERLAPPED: the file
// pointer is neither used nor trusted, as with pread and pwrite.
OVERLAPPED overlappedAt(std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}
}  // namespace

int readFileAt(int fd, std::string& into, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < into.size()) {
        OVERLAPPED at = overlappedAt(offset + done);
        DWORD got = 0;
        if (!ReadFile(handleOf(fd), into.data() + done, chunkOf(into.size() - done), &got, &at)) {
            const DWORD error = GetLastError();
            return error == ERROR_HANDLE_EOF ? kFileEnded : static_cast<int>(error);
        }
        if (got == 0) return kFileEnded;
        done += got;
    }
    return 0;
}

int writeFileAt(int fd, std::string_view bytes, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        OVERLAPPED at = overlappedAt(offset + done);
        DWORD written = 0;
        if (!WriteFile(handleOf(fd), bytes.data() + done, chunkOf(bytes.size() - done), &written,
                       &at)) {
            return static_cast<int>(GetLastError());
        }
        if (written == 0) return ERROR_WRITE_FAULT;
        done += written;
    }
    return 0;
}

int flushFile(int fd) {
    return FlushFileBuffers(handleOf(fd)) ? 0 : static_cast<int>(GetLastError());
}

int closeFile(int fd) { return _close(fd) == 0 ? 0 : ERROR_INVALID_HANDLE; }

std::string fileErrorText(int error) {
    if (error == kFileEnded) return "it became shorter while it was read";
    return windowsErrorText(static_cast<DWORD>(error));
}

#else

std::error_code renameReplacing(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) return ec;
    // The rename itself lives in the folder: flush that too, so that after a
    // power failure the new file is there as surely as a database commit is.
    const fs::path folder = to.has_parent_path() ? to.parent_path() : fs::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return {};
}

int openRegularFileForReading(const fs::path& path) {
    requireRegularFile(path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw EngineError("Could not open " + describePath(path) + ": " + plainReason(errno) + ".");
    }
    return fd;
}

namespace {

long long readSome(int fd, char* into, std::size_t room, int& error) {
    for (;;) {
        const ssize_t n = ::read(fd, into, room);
        if (n >= 0) return n;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

}  // namespace

const int kFileEnded = EIO;

int openFileForUpdate(const fs::path& path, int& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) error = errno;
    return fd;
}

int describeOpenFile(int fd, bool& regular, std::uint64_t& size) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errno;
    regular = S_ISREG(info.st_mode);
    size = static_cast<std::uint64_t>(info.st_size);
    return 0;
}

int readFileAt(int fd, std::string& into, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t n =
            ::pread(fd, into.data() + done, into.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return kFileEnded;  // the file became shorter while it was read
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int writeFileAt(int fd, std::string_view bytes, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int flushFile(int fd) { return ::fsync(fd) == 0 ? 0 : errno; }

int closeFile(int fd) { return ::close(fd) == 0 ? 0 : errno; }

std::string fileErrorText(int error) { return plainReason(error); }

#endif

std::string readWholeFile(const fs::path& path) {
    // One read into a buffer of the file's size: a stream read byte by byte
    // took longer than all the work done on a large working file afterwards.
    const int fd = openRegularFileForReading(path);
    std::string bytes;
    bool regular = false;
    std::uint64_t size = 0;
    if (describeOpenFile(fd, regular, size) == 0 && size > 0) {
        bytes.resize(static_cast<std::size_t>(size));
    }
    // The size is only a hint: a file that grows or shrinks meanwhile is read
    // to its end all the same.
    std::size_t used = 0;
    char spare[4096];
    for (;;) {
        const bool full = used == bytes.size();
        char* into = full ? spare : bytes.data() + used;
        const std::size_t room = full ? sizeof spare : bytes.size() - used;
        int error = 0;
        const long long n = readSome(fd, into, room, error);
        if (n == 0) break;
        if (n < 0) {
            closeFile(fd);
            throw EngineError("Could not read " + describePath(path) + ": " + fileErrorText(error) +
                              ".");
        }
        if (full) bytes.append(spare, static_cast<std::size_t>(n));
        used += static_cast<std::size_t>(n);
    }
    closeFile(fd);
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
#ifndef _WIN32
    // Found as spelled, the name is the file's own. Windows would find LOG3.BAK
    // under log3.bak here too, and messages would then name a file that is not
    // there by that spelling: it takes the scan below.
    const fs::path exact = folder / pathFromUtf8(name);
    if (fs::is_regular_file(exact, ec)) return exact;
#endif
    const std::string wanted = lowerAscii(name);
    fs::directory_iterator it(folder, ec);
    if (ec) return std::nullopt;
    std::optional<fs::path> found;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const auto& entry = *it;
        if (lowerAscii(pathToUtf8(entry.path().filename())) != wanted) continue;
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
        throw EngineError("Could not delete " + describePath(path) + ": " +
                          plainReason(ec.value()) + ".");
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
    if (!text.empty()) text[0] = lowerAscii(text[0]);
    return text;
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/MappedFile.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/EngineError.h"
#include "core/FileUtil.h"

namespace fs = std::filesystem;

namespace zolt {

#ifdef _WIN32

// Windows refuses to replace, truncate or delete a file while a view of it
// is mapped, even after the file's handles are closed: every MappedFile of
// processed.dat must be gone before the file is renamed over or removed.
MappedFile::MappedFile(const fs::path& path) {
    const int fd = openRegularFileForReading(path);
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        const DWORD error = GetLastError();
        _close(fd);
        throw EngineError("Could not read " + describePath(path) + ": " +
                          fileErrorText(static_cast<int>(error)) + ".");
    }
    // An empty file cannot be mapped, and holds nothing to see.
    if (size.QuadPart > 0) {
        const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* at = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        const DWORD error = at ? 0 : GetLastError();
        // The view keeps what it needs of the mapping and the file.
        if (mapping) CloseHandle(mapping);
        if (!at) {
            _close(fd);
            throw EngineError("Could not read " + describePath(path) + ": " +
                              fileErrorText(static_cast<int>(error)) + ".");
        }
        data_ = static_cast<const char*>(at);
        size_ = static_cast<std::size_t>(size.QuadPart);
        mapped_ = true;
    }
    _close(fd);
}

MappedFile::~MappedFile() {
    if (mapped_) UnmapViewOfFile(data_);
}

#else

MappedFile::MappedFile(const fs::path& path) {
    const int fd = openRegularFileForReading(path);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw EngineError("Could not read " + describePath(path) + ": " + plainReason(error) +
                          ".");
    }
    // An empty file cannot be mapped, and holds nothing to see.
    if (info.st_size > 0) {
        const auto size = static_cast<std::size_t>(info.st_size);
        void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (at == MAP_FAILED) {
            const int error = errno;
            ::close(fd);
            throw EngineError("Could not read " + describePath(path) + ": " + plainReason(error) +
                              ".");
        }
        // Read front to back: the system may fetch ahead.
        ::madvise(at, size, MADV_SEQUENTIAL);
        data_ = static_cast<const char*>(at);
        size_ = size;
        mapped_ = true;
    }
    ::close(fd);
}

MappedFile::~MappedFile() {
    if (mapped_) ::munmap(const_cast<char*>(data_), size_);
}

#endif

}  // namespace zolt

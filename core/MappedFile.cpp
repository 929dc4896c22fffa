// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/EngineError.h"
#include "core/FileUtil.h"

namespace fs = std::filesystem;

namespace zolt {

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

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <string_view>

namespace zolt {

// A whole file seen read-only in memory, without copying it: a scan of a
// large working file then touches only the pages it looks at, and many
// readers of one file share the system's cache instead of each holding a
// copy. Throws EngineError naming the file when it cannot be opened.
class MappedFile {
  public:
    explicit MappedFile(const std::filesystem::path& path);
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::string_view bytes() const { return {data_, size_}; }

  private:
    const char* data_ = "";
    std::size_t size_ = 0;
    bool mapped_ = false;
};

}  // namespace zolt

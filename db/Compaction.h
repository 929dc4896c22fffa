// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <functional>

namespace zolt {

class Database;

// Writes a compacted copy of the database at `source` into the new file
// `destination` (VACUUM INTO). The destination must not exist.
void compactDatabase(const std::filesystem::path& source, const std::filesystem::path& destination);

// The whole compaction of the working database: compacts `databasePath` into
// a new file beside `compactPath`, renames it over `compactPath` once it is
// complete (the previous copy goes only then), then replaces
// `databasePath` atomically with a copy of it (copy to a temporary file beside
// it, flush, rename). `compactPath` stays. On any failure the database at
// `databasePath` is left as it was and EngineError names the file and reason.
// `alterCopy`, when given, changes the copy (in a transaction of the copy's
// own) before it is compacted once more and takes the database's place: what
// it removes is gone only when everything succeeded.
void compactMainDatabase(const std::filesystem::path& databasePath,
                         const std::filesystem::path& compactPath,
                         const std::function<void(Database&)>& alterCopy = {});

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

namespace zolt {

// Makes sure the file is a readable beacon database: an SQLite database that
// passes its quick integrity check and holds NDBInformation, NDBLog and
// NewBeacons. Throws EngineError naming the file and what is wrong; the file
// is only read.
void requireBeaconDatabase(const std::filesystem::path& path);

}  // namespace zolt

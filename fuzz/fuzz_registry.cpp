// SPDX-License-Identifier: GPL-2.0-or-later
// The files of the listener's setup: the first part of the input is the
// registry file user.reg (the locations' names), the second settings.ini (the
// backup folder and the homes). Storing the folder read from settings.ini
// again reads back the same and keeps every home entry.

#include <array>
#include <cstdlib>

#include "core/EngineError.h"
#include "engine/HomePosition.h"
#include "engine/LocationNames.h"
#include "engine/Project.h"
#include "fuzz/FuzzUtil.h"

namespace fs = std::filesystem;
using namespace zolt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::splitParts(fuzz::asText(data, size), 2);
    const ProjectPaths paths = fuzz::freshProject("registry");
    const fs::path registry = paths.WorkFolder.parent_path() / "user.reg";
    fuzz::writeFile(registry, parts[0]);
    (void)LoadLocationNames(registry);
    (void)GetRegistryString(kLocationsKey, "location(15)", registry);
    (void)GetRegistryString("Software\\Other", "Location(0)", registry);
    if (parts.size() < 2) return 0;

    fuzz::writeFile(paths.WorkFolder / kSettingsFile, parts[1]);
    const SettingsLines lines = splitSettings(parts[1]);
    if (splitSettings(joinSettings(lines)).more != lines.more) std::abort();
    std::array<std::string, kLocationCount + 1> homes;
    for (int location = 1; location <= kLocationCount; ++location) {
        homes[location] = readHomeEntry(paths, location);
        (void)describeHome(locationHome(paths, location));
    }
    const auto folder = readSettings(paths);
    if (!folder) return 0;
    try {
        writeSettings(paths, *folder);
    } catch (const EngineError&) {
        return 0;  // a folder name that cannot be stored is refused whole
    }
    if (readSettings(paths) != fs::path(backupFolderText(folder->string()))) std::abort();
    for (int location = 1; location <= kLocationCount; ++location) {
        if (readHomeEntry(paths, location) != homes[location]) std::abort();
    }
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// The home box: a Maidenhead locator or a latitude/longitude typed for a
// listening location. The first part of the input is the text (its first byte
// picks the location), the second the NDBLog rows the project holds
// (fuzz::addLoggedRows), the third settings.ini as found. The preview and the
// store agree on what reads, and a stored entry is read back as typed.

#include <cstdlib>

#include "core/EngineError.h"
#include "engine/HomePosition.h"
#include "engine/Project.h"
#include "fuzz/FuzzUtil.h"

using namespace zolt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::splitParts(fuzz::asText(data, size), 3);
    std::string_view text = parts[0];
    const int location =
        text.empty() ? 1 : 1 + static_cast<unsigned char>(text[0]) % kLocationCount;
    if (!text.empty()) text.remove_prefix(1);
    const ProjectPaths paths = fuzz::freshProject("home");
    if (parts.size() > 1) fuzz::addLoggedRows(paths.DatabasePath, parts[1]);
    fuzz::writeFile(paths.WorkFolder / kSettingsFile,
                    parts.size() > 2 ? parts[2] : std::string_view("/backup/\r\n"));

    bool previewed = false;
    try {
        const LocationHome preview = previewHomeEntry(paths, location, text);
        (void)describeHome(preview);
        (void)farFromInferredKm(preview);
        previewed = true;
    } catch (const EngineError&) {
    }
    try {
        writeHomeEntry(paths, location, text);
    } catch (const EngineError&) {
        // Refused: an entry that does not read, or no project to keep it in.
        return 0;
    }
    if (!previewed) std::abort();  // stored what the preview refused
    // The box's own trim: blanks and tabs.
    std::string_view entry = text;
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t'))
        entry.remove_prefix(1);
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
    if (readHomeEntry(paths, location) != entry) std::abort();
    const LocationHome home = locationHome(paths, location);
    if (!entry.empty() && (home.source != LocationHome::Source::Entered || !home.position)) {
        std::abort();
    }
    (void)describeHome(home);
    return 0;
}

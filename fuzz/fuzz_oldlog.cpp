// SPDX-License-Identifier: GPL-2.0-or-later
// The old listening logs (85-byte records) and the whole conversion of a
// backup folder: each part of the input is one old log (fuzz::writeOldLogs),
// read as START CONVERSION reads them; the working file made from them must
// then pass its own check and load location by location.

#include <cstdlib>

#include "core/EngineError.h"
#include "fuzz/FuzzUtil.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"
#include "work/WorkingFileCheck.h"

namespace fs = std::filesystem;
using namespace zolt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::splitParts(fuzz::asText(data, size), 4);
    const fs::path root = fuzz::freshFolder("oldlog");
    const fs::path backup = root / "backup";
    fs::create_directories(backup);
    for (const fs::path& file : fuzz::writeOldLogs(backup, parts)) (void)readLogFile(file);
    const fs::path processed = root / "processed.dat";
    int written = 0;
    try {
        written = buildProcessedFile(backup, processed, LogSource::Backups);
    } catch (const EngineError&) {
        return 0;  // refused whole, as a folder beyond the limits is
    }
    const WorkingFileCheck check = checkWorkingFile(processed, backup);
    // A working file just made from the backups is sound and holds them all.
    if (!check.sound() || check.records != static_cast<std::size_t>(written) ||
        check.pending != check.records) {
        std::abort();
    }
    std::size_t loaded = 0;
    for (int location = 1; location <= kLocationCount; ++location) {
        loaded += loadWorkingSet(processed, location).entries.size();
    }
    if (loaded != check.records) std::abort();
    (void)describePartialRecords(partialLogRecords(backup, LogSource::Backups));
    return 0;
}

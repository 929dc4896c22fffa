// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "engine/LogExport.h"

// Writing an export file, shared by the window's Export Log dialog and the
// command line: the format follows the file's extension, and the file is
// written beside its target and renamed over it, so that a failure leaves no
// half-written file. Uses Qt Core only, never a widget.
namespace zolt {

// .csv, .adi or .kml, in any letter case; nullopt for any other name.
std::optional<ExportFormat> exportFormatFor(const std::filesystem::path& file);
const char* exportSuffix(ExportFormat format);  // "csv", "adi", "kml"
// The same, throwing EngineError that names the file when it has no such ending.
ExportFormat exportFormatOf(const std::filesystem::path& file);

// What the export reads: the log of `location` (0: all) with the locations'
// names from the old program's registry (`registryFile` empty: the default)
// and how each row was decided where the project knows it.
ExportSource exportSourceFor(const ProjectPaths& paths, int location,
                             const std::filesystem::path& registryFile = {});

struct ExportResult {
    ExportCounts counts;
    std::string summary;  // the closing message
};

// Writes `log` to `target`. Throws EngineError naming the file and the
// reason: an unknown extension, an empty log, or a failed write (after which
// nothing of the new file is left).
ExportResult writeExportFile(const ExportedLog& log, const std::filesystem::path& target,
                             const ExportOptions& options);

// The version the ADIF header names.
const char* programVersion();

}  // namespace zolt

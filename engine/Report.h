// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <string>

namespace zolt {

enum class ReportKind { Ambiguous, Unresolved };

std::string reportDialogCaption(ReportKind kind);
// AmbiguousStations_Location3.txt / UnresolvedStations_Location3.txt
std::string defaultReportFileName(ReportKind kind, int location);

// The report bytes (Windows-1252, CR LF after every line) for the AMB or MIS
// records of `location` in processed.dat. A missing processed.dat throws and
// is not created.
std::string buildReport(const std::filesystem::path& processedPath, ReportKind kind, int location);

// The target path of the dialog: folder, then the name exactly as typed.
std::filesystem::path reportTargetPath(const std::filesystem::path& folder,
                                       const std::string& fileName);

// Builds and writes the report (replacing a file of that name atomically).
// Throws EngineError naming the file when it cannot be written; nothing is
// left behind then.
void writeReport(const std::filesystem::path& processedPath, ReportKind kind, int location,
                 const std::filesystem::path& target);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/Report.h"

#include <string_view>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "engine/ProcessedBytes.h"
#include "work/Records.h"

namespace zolt {
namespace {

constexpr std::size_t kCellWidth = 15;
constexpr std::string_view kLineEnd = "\r\n";

// A cell is the field at its full stored width, then blanks, cut to the cell:
// the report shows exactly what processed.dat holds, padding included.
std::string cell(std::string_view field, std::size_t fieldWidth) {
    return padField(padField(field, fieldWidth), kCellWidth);
}

std::string_view stateCode(ReportKind kind) {
    return kind == ReportKind::Ambiguous ? state::AMB : state::MIS;
}

}  // namespace

std::string reportDialogCaption(ReportKind kind) {
    return kind == ReportKind::Ambiguous ? "Ambiguous Station Report Save..."
                                         : "Unresolved Station Report Save...";
}

std::string defaultReportFileName(ReportKind kind, int location) {
    const std::string prefix = kind == ReportKind::Ambiguous ? "AmbiguousStations_Location"
                                                             : "UnresolvedStations_Location";
    return prefix + std::to_string(location) + ".txt";
}

std::string buildReport(const std::filesystem::path& processedPath, ReportKind kind, int location) {
    // A missing processed.dat is an error here, and it is not created: an empty
    // one would make the next start-up take the project for finished.
    // The records are looked at where they stand: a whole archive decoded
    // record by record would cost more than the report itself.
    const ProcessedBytes file(processedPath, ProcessedBytes::How::Mapped);
    const std::string_view bytes = file.bytes();
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);

    std::string report;
    report += kind == ReportKind::Ambiguous ? "AMBIGUOUS STATION REPORT FOR LOCATION "
                                            : "UNRESOLVED STATION REPORT FOR LOCATION ";
    report += std::to_string(location);
    report += kLineEnd;
    report += kLineEnd;
    for (std::string_view title : {"Station ID", "Frequency", "Time", "Date", "Comments"}) {
        report += padField(title, kCellWidth);
    }
    report += kLineEnd;

    const std::string_view code = stateCode(kind);
    for (std::size_t i = 0; i < count; ++i) {
        const ProcessedRecordView r{
            bytes.substr(i * ProcessedRecord::kLength, ProcessedRecord::kLength)};
        if (r.location() != location || trimmedView(r.state()) != code) continue;
        report += cell(r.ident(), 10);
        report += cell(r.frequency(), 10);
        report += cell(r.time(), 5);
        report += cell(r.date(), 10);
        report += cell(r.comment(), 60);
        report += kLineEnd;
    }
    return report;
}

std::filesystem::path reportTargetPath(const std::filesystem::path& folder,
                                       const std::string& fileName) {
    // The name is used as typed (not trimmed, no extension added), but it must
    // name a file in the chosen folder: a separator would write elsewhere, and
    // "." or ".." name folders.
    bool valid = !fileName.empty() && fileName != "." && fileName != ".." &&
                 fileName.find('/') == std::string::npos &&
                 fileName.find('\0') == std::string::npos;
#ifdef _WIN32
    // Nor may it name a stream of another file ("a.txt:b") or hold a sign
    // that Windows keeps out of file names.
    valid = valid && fileName.find_first_of("\\:<>\"|?*") == std::string::npos;
#endif
    if (!valid) {
        const std::string shown = fileName.find('\0') == std::string::npos
                                      ? "\"" + fileName + "\""
                                      : std::string("a name with a NUL character");
        throw EngineError("Could not save the report in the folder " + folder.string() + ": " +
                          (fileName.empty() ? std::string("an empty name") : shown) +
                          " is not a valid file name.");
    }
    return folder / pathFromUtf8(fileName);
}

void writeReport(const std::filesystem::path& processedPath, ReportKind kind, int location,
                 const std::filesystem::path& target) {
    const std::string bytes = buildReport(processedPath, kind, location);
    // New file beside the target, renamed over it: an existing report is either
    // kept whole or replaced whole, and a failed write leaves nothing behind.
    replaceFileAtomically(target, bytes);
}

}  // namespace zolt

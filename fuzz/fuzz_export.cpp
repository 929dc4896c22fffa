// SPDX-License-Identifier: GPL-2.0-or-later
// A whole project from the input, matched and exported: the first part of
// the input is the registry file user.reg (the locations' names), the second
// the listener's own beacons (ndb.bak), the rest old logs
// (fuzz::writeOldLogs). The backups are converted, every location is
// matched, and the log is exported in the three formats under both date
// orders; each file is read back by the format's own rules and must hold
// every reception it says it wrote.

#include <QByteArray>
#include <QXmlStreamReader>
#include <cstdlib>

#include "app/LogExportFile.h"
#include "core/EngineError.h"
#include "engine/KmlExport.h"
#include "engine/LogExport.h"
#include "engine/Project.h"
#include "fuzz/FuzzUtil.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

// RFC 4180 records; every record has the header's number of fields, and the
// file ends in CR LF. Returns the records after the header.
std::size_t csvRecords(std::string_view text) {
    std::size_t fields = 0, headerFields = 0, records = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '"') {
            for (++i;; ++i) {
                if (i >= text.size()) std::abort();  // a quote never closed
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
            }
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                if (text[i] == '"') std::abort();  // a quote inside a bare field
                ++i;
            }
        }
        ++fields;
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (text.substr(i, 2) != "\r\n") std::abort();  // a record ends in CR LF only
        i += 2;
        if (headerFields == 0) {
            headerFields = fields;
        } else {
            if (fields != headerFields) std::abort();
            ++records;
        }
        fields = 0;
    }
    return records;
}

// ADIF: ASCII only; every value as long as its tag says; records end in
// <EOR>. Returns the records.
std::size_t adifRecords(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) std::abort();
    }
    std::size_t records = 0, open = 0;
    bool header = !text.starts_with('<');
    std::size_t pos = 0;
    while ((pos = text.find('<', pos)) != std::string_view::npos) {
        const std::size_t close = text.find('>', pos);
        if (close == std::string_view::npos) std::abort();
        const std::string_view tag = text.substr(pos + 1, close - pos - 1);
        const std::size_t colon = tag.find(':');
        pos = close + 1;
        if (colon == std::string_view::npos) {
            if (tag == "EOH" || tag == "eoh") {
                header = false;
            } else if (tag == "EOR" || tag == "eor") {
                if (open == 0) std::abort();  // an empty record
                ++records;
                open = 0;
            } else {
                std::abort();  // a tag without a length
            }
            continue;
        }
        std::size_t length = 0;
        const std::string_view digits = tag.substr(colon + 1, tag.find(':', colon + 1) - colon - 1);
        if (digits.empty()) std::abort();
        for (const char c : digits) {
            if (c < '0' || c > '9') std::abort();
            length = length * 10 + static_cast<std::size_t>(c - '0');
        }
        if (pos + length > text.size()) std::abort();
        pos += length;
        if (!header) ++open;
    }
    if (open != 0) std::abort();  // a record without <EOR>
    return records;
}

// KML: well-formed XML; returns its placemarks.
std::size_t kmlPlacemarks(const std::string& bytes) {
    QXmlStreamReader xml(QByteArray::fromStdString(bytes));
    std::size_t placemarks = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"Placemark") {
            ++placemarks;
        }
    }
    if (xml.hasError()) std::abort();
    return placemarks;
}

void exportAll(const ExportedLog& log) {
    for (const DateOrder order : {DateOrder::MonthFirst, DateOrder::DayFirst}) {
        ExportOptions options;
        options.dates = DateOrders(order);
        options.stationCallsign = "DE-1234";
        for (const bool exact : {false, true}) {
            options.csvExactText = exact;
            if (csvRecords(writeCsv(log, options)) != log.receptions.size()) std::abort();
        }
        ExportCounts counts;
        const std::string adif = writeAdif(log, options, {"1.0.0", "20260101 120000"}, &counts);
        const int leftOut = counts.unreadable + counts.early + counts.noTime;
        if (adifRecords(adif) + static_cast<std::size_t>(leftOut) != log.receptions.size()) {
            std::abort();
        }
        std::size_t beacons = 0;
        for (const ExportedLocation& location : log.locations) {
            beacons += mappedBeacons(log, location.number, order).size();
        }
        // A placemark per location's home at most, and one per beacon placed.
        if (kmlPlacemarks(writeKml(log, options.dates)) > beacons + log.locations.size()) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::splitParts(fuzz::asText(data, size), 6);
    ProjectPaths paths = fuzz::freshProject("export");
    const fs::path registry = paths.WorkFolder.parent_path() / "user.reg";
    fuzz::writeFile(registry, parts[0]);
    if (parts.size() > 1) fuzz::writeFile(paths.BackupFolder / "ndb.bak", parts[1]);
    if (parts.size() > 2) fuzz::writeOldLogs(paths.BackupFolder, {parts.begin() + 2, parts.end()});
    try {
        buildProcessedFile(paths.BackupFolder, paths.ProcessedPath, LogSource::Backups);
    } catch (const EngineError&) {
        return 0;  // refused whole: beyond the limits
    }
    writeSettings(paths, paths.BackupFolder);

    int logged = 0;
    for (int location = 1; location <= kLocationCount; ++location) {
        WorkingSet set = loadWorkingSet(paths.ProcessedPath, location);
        if (set.entries.empty()) continue;
        const MatchOutcome outcome = runMatching(paths, set);
        if (outcome.logged + outcome.ambiguous + outcome.unresolved != set.WorkCount()) {
            std::abort();
        }
        logged += outcome.logged;
    }
    const ExportedLog log = readExportedLog(exportSourceFor(paths, 0, registry));
    if (log.receptions.size() != static_cast<std::size_t>(logged)) std::abort();
    for (const auto& [location, dates] : detectDateOrders(log)) (void)dates.suggested();
    const ResolvedDateOrders resolved = resolveDateOrders(log, {});
    exportAll(log);
    for (const ExportedLocation& location : log.locations) {
        (void)onlyLocation(log, location.number);
    }
    if (!log.receptions.empty()) {
        ExportOptions options;
        options.dates = resolved.orders;
        const ExportResult result = writeExportFile(log, paths.WorkFolder / "log.CSV", options);
        if (result.counts.written != static_cast<int>(log.receptions.size())) std::abort();
    }
    return 0;
}

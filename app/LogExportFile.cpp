// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/LogExportFile.h"

#include <QDateTime>
#include <QString>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "db/Database.h"
#include "engine/DecisionRecord.h"
#include "engine/KmlExport.h"
#include "engine/LocationNames.h"

#ifndef ZOLT_VERSION
#define ZOLT_VERSION "unknown"
#endif

namespace fs = std::filesystem;

namespace zolt {
namespace {

int unreadableDates(const ExportedLog& log, const DateOrders& orders) {
    int n = 0;
    for (const auto& r : log.receptions) n += readOldDate(r.date, orders.of(r.location)) ? 0 : 1;
    return n;
}

}  // namespace

std::optional<ExportFormat> exportFormatFor(const fs::path& file) {
    const QString suffix = QString::fromStdString(file.extension().string()).toLower();
    if (suffix == QLatin1String(".csv")) return ExportFormat::Csv;
    if (suffix == QLatin1String(".adi")) return ExportFormat::Adif;
    if (suffix == QLatin1String(".kml")) return ExportFormat::Kml;
    return std::nullopt;
}

const char* exportSuffix(ExportFormat format) {
    switch (format) {
        case ExportFormat::Csv:
            return "csv";
        case ExportFormat::Adif:
            return "adi";
        case ExportFormat::Kml:
            return "kml";
    }
    return "";
}

ExportFormat exportFormatOf(const fs::path& file) {
    if (const auto format = exportFormatFor(file)) return *format;
    throw EngineError("Could not export the log to " + describePath(file) +
                      ": the name must end in .csv, .adi or .kml, which says the format.");
}

const char* programVersion() { return ZOLT_VERSION; }

ExportSource exportSourceFor(const ProjectPaths& paths, int location,
                             const fs::path& registryFile) {
    ExportSource source;
    source.paths = paths;
    source.location = location;
    for (int n = 1; n <= kLocationCount; ++n) {
        source.names[static_cast<std::size_t>(n)] = GetRegistryString(
            kLocationsKey, "Location(" + std::to_string(n - 1) + ")", registryFile);
    }
    // A database that cannot be read here cannot be exported either; the
    // read of the log that follows says why, once.
    try {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        source.howByLogId = howDecidedByLogId(db);
    } catch (const EngineError&) {
        source.howByLogId.clear();
    }
    return source;
}

ExportResult writeExportFile(const ExportedLog& log, const fs::path& target,
                             const ExportOptions& options) {
    const auto format = exportFormatOf(target);
    if (log.receptions.empty()) {
        throw EngineError("Nothing was written to " + describePath(target) +
                          ": there are no logged receptions to export.");
    }
    ExportResult result;
    ExportCounts& counts = result.counts;
    counts.written = static_cast<int>(log.receptions.size());
    counts.locations = static_cast<int>(log.locations.size());
    counts.unreadable = unreadableDates(log, options.dates);
    std::string bytes;
    switch (format) {
        case ExportFormat::Csv:
            bytes = writeCsv(log, options);
            break;
        case ExportFormat::Adif: {
            const AdifHeader header{programVersion(),
                                    QDateTime::currentDateTimeUtc()
                                        .toString(QStringLiteral("yyyyMMdd HHmmss"))
                                        .toStdString()};
            bytes = writeAdif(log, options, header, &counts);
            break;
        }
        case ExportFormat::Kml: {
            bytes = writeKml(log, options.dates);
            const MapCounts map = mapCounts(log);
            counts.beacons = map.beacons;
            counts.unplaced = map.unplaced;
            break;
        }
    }
    replaceFileAtomically(target, bytes);
    result.summary = exportSummary(format, counts, target.string());
    return result;
}

}  // namespace zolt

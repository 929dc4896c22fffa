// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/LogExportFile.h"

#include <QDateTime>
#include <QString>
#include <QXmlStreamWriter>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/DecisionRecord.h"
#include "engine/LocationNames.h"

#ifndef ZOLT_VERSION
#define ZOLT_VERSION "unknown"
#endif

namespace fs = std::filesystem;

namespace zolt {
namespace {

// XML 1.0 allows no C0 control but tab, CR and LF, and the writer would
// produce a file no reader accepts.
QString xmlText(const std::string& utf8) {
    QString text = QString::fromStdString(utf8);
    for (QChar& c : text) {
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') c = u' ';
    }
    return text;
}

// Six decimals are a tenth of a metre, far finer than any beacon's listed
// position; the point is fixed whatever the locale.
QString coordinates(LatLon p) {
    return QString::number(p.lon, 'f', 6) + u',' + QString::number(p.lat, 'f', 6) +
           QStringLiteral(",0");
}

QString folderName(const ExportedLocation& place) { return xmlText(locationTitle(place)); }

// Map viewers show a description as HTML, where plain line breaks run
// together: the lines go as an HTML fragment (the listener's texts escaped),
// written as escaped XML text rather than CDATA, which GDAL's plain KML
// reader drops.
void writeDescription(QXmlStreamWriter& xml, const QStringList& lines) {
    QStringList escaped;
    for (const QString& line : lines) escaped << line.toHtmlEscaped();
    xml.writeTextElement(QStringLiteral("description"), escaped.join(QStringLiteral("<br>")));
}

QStringList beaconDescription(const MappedBeacon& b) {
    const ExportedReception& r = *b.first;
    QStringList lines;
    QStringList where;
    for (const auto* part : {&r.beaconCity, &r.beaconProvince, &r.beaconCountry}) {
        if (!part->empty()) where << xmlText(*part);
    }
    if (!where.isEmpty()) lines << where.join(QStringLiteral(", "));
    if (r.ownBeacon) lines << QStringLiteral("One of your own beacons");
    if (!r.position) lines << QStringLiteral("Position unknown");
    if (r.distanceKm) {
        lines << QStringLiteral("%1 km from home")
                     .arg(QString::fromStdString(groupedNumber(std::llround(*r.distanceKm))));
    }
    lines << QString::fromStdString(groupedNumber(b.receptions)) +
                 (b.receptions == 1 ? QStringLiteral(" reception") : QStringLiteral(" receptions"));
    if (b.firstHeard) {
        lines
            << QStringLiteral("First heard %1").arg(QString::fromStdString(isoDate(*b.firstHeard)));
        lines << QStringLiteral("Last heard %1").arg(QString::fromStdString(isoDate(*b.lastHeard)));
    } else {
        lines << QStringLiteral("No readable date");
    }
    return lines;
}

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

QByteArray writeKml(const ExportedLog& log, const DateOrders& orders) {
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(QStringLiteral("http://www.opengis.net/kml/2.2"));
    xml.writeStartElement(QStringLiteral("kml"));
    xml.writeStartElement(QStringLiteral("Document"));
    xml.writeTextElement(QStringLiteral("name"), QStringLiteral("NDB log"));
    for (const auto& place : log.locations) {
        xml.writeStartElement(QStringLiteral("Folder"));
        xml.writeTextElement(QStringLiteral("name"), folderName(place));
        xml.writeTextElement(QStringLiteral("description"),
                             QStringLiteral("Listening location %1").arg(place.number));
        if (place.home) {
            xml.writeStartElement(QStringLiteral("Placemark"));
            // Beside other locations' homes in one list, "Home" alone says
            // nothing.
            xml.writeTextElement(QStringLiteral("name"),
                                 QStringLiteral("Home \u2013 ") + folderName(place));
            writeDescription(xml, {xmlText(place.homeText)});
            xml.writeStartElement(QStringLiteral("Point"));
            xml.writeTextElement(QStringLiteral("coordinates"), coordinates(*place.home));
            xml.writeEndElement();
            xml.writeEndElement();
        }
        for (const auto& beacon : mappedBeacons(log, place.number, orders.of(place.number))) {
            const ExportedReception& r = *beacon.first;
            xml.writeStartElement(QStringLiteral("Placemark"));
            const std::string& ident = r.beaconKnown ? r.beaconIdent : r.ident;
            const std::string& kHz = r.beaconKnown ? r.beaconFrequency : r.frequency;
            // A row whose beacon no table knows still gets a name to click on.
            xml.writeTextElement(QStringLiteral("name"),
                                 ident.empty() && kHz.empty()
                                     ? QStringLiteral("Beacon %1").arg(r.beaconId)
                                     : xmlText(ident + " " + kHz + " kHz"));
            writeDescription(xml, beaconDescription(beacon));
            // A beacon without a known position is still listed, so that the
            // folder counts every beacon heard; it only has no place on the map.
            if (r.position) {
                xml.writeStartElement(QStringLiteral("Point"));
                xml.writeTextElement(QStringLiteral("coordinates"), coordinates(*r.position));
                xml.writeEndElement();
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
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
            const QByteArray kml = writeKml(log, options.dates);
            bytes.assign(kml.constData(), static_cast<std::size_t>(kml.size()));
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

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/KmlExport.h"

#include <charconv>
#include <cmath>
#include <system_error>
#include <vector>

#include "core/TextFields.h"
#include "core/Utf8.h"

namespace zolt {
namespace {

// Writes elements one a line, each indented by a blank per level, as map
// viewers and people reading the file both take it.
class XmlWriter {
  public:
    XmlWriter() { out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"; }

    void open(std::string_view name, std::string_view attributes = {}) {
        newLine();
        out_ += '<';
        out_ += name;
        out_ += attributes;
        out_ += '>';
        open_.emplace_back(name);
    }
    void close() {
        const std::string name = std::move(open_.back());
        open_.pop_back();
        newLine();
        out_ += "</" + name + '>';
    }
    void text(std::string_view name, std::string_view utf8) {
        newLine();
        out_ += '<';
        out_ += name;
        out_ += '>';
        out_ += xmlEscaped(utf8);
        out_ += "</";
        out_ += name;
        out_ += '>';
    }
    std::string finish() {
        while (!open_.empty()) close();
        return std::move(out_) + '\n';
    }

  private:
    void newLine() {
        out_ += '\n';
        out_.append(open_.size(), ' ');
    }

    std::string out_;
    std::vector<std::string> open_;
};

// A text of the log as the file shows it: without the controls XML cannot
// hold, and without a byte-order mark at its start, which would only be an
// invisible character at the start of a name.
std::string shownText(std::string_view utf8) {
    if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);
    return withoutControls(utf8);
}

// Six decimals are a tenth of a metre, far finer than any beacon's listed
// position; the point is fixed whatever the locale. Rounded half away from
// zero (12.3515625 is 12.351563), as map files have always had it; a zero is
// written without a sign, a value that only rounds to zero keeps it
// ("-0.000000").
std::string degrees(double value) {
    constexpr int kPlaces = 6;
    // Eighty decimals hold the exact value of every double from 2^-28 up,
    // and a smaller one rounds to zero whichever way.
    char buf[128];
    const auto result =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed, 80);
    if (result.ec != std::errc() || !std::isfinite(value)) return fixedDecimal(value, kPlaces);
    std::string digits(buf, result.ptr);
    const std::size_t point = digits.find('.');
    const bool up = digits[point + kPlaces + 1] >= '5';
    digits.resize(point + kPlaces + 1);
    for (std::size_t i = digits.size(); up && i-- > 0;) {
        if (digits[i] == '.') continue;
        if (digits[i] != '9') {
            ++digits[i];
            break;
        }
        digits[i] = '0';
        if (i == 0) digits.insert(0, 1, '1');
    }
    return (value < 0 ? "-" : "") + digits;
}

std::string coordinates(LatLon p) { return degrees(p.lon) + ',' + degrees(p.lat) + ",0"; }

// Map viewers show a description as HTML, where plain line breaks run
// together: the lines go as an HTML fragment (the listener's texts escaped),
// written as escaped XML text rather than CDATA, which GDAL's plain KML
// reader drops.
std::string description(const std::vector<std::string>& lines) {
    std::string html;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) html += "<br>";
        for (const char c : lines[i]) {
            switch (c) {
                case '<':
                    html += "&lt;";
                    break;
                case '>':
                    html += "&gt;";
                    break;
                case '&':
                    html += "&amp;";
                    break;
                case '"':
                    html += "&quot;";
                    break;
                default:
                    html += c;
            }
        }
    }
    return html;
}

std::vector<std::string> beaconDescription(const MappedBeacon& b) {
    const ExportedReception& r = *b.first;
    std::vector<std::string> lines;
    std::string where;
    int parts = 0;
    for (const auto* part : {&r.beaconCity, &r.beaconProvince, &r.beaconCountry}) {
        if (part->empty()) continue;
        if (parts++ > 0) where += ", ";
        where += shownText(*part);
    }
    if (parts > 0) lines.push_back(where);
    if (r.ownBeacon) lines.emplace_back("One of your own beacons");
    if (!r.position) lines.emplace_back("Position unknown");
    if (r.distanceKm) lines.push_back(groupedNumber(std::llround(*r.distanceKm)) + " km from home");
    lines.push_back(groupedNumber(b.receptions) +
                    (b.receptions == 1 ? " reception" : " receptions"));
    if (b.firstHeard) {
        lines.push_back("First heard " + isoDate(*b.firstHeard));
        lines.push_back("Last heard " + isoDate(*b.lastHeard));
    } else {
        lines.emplace_back("No readable date");
    }
    return lines;
}

}  // namespace

std::string xmlEscaped(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const char32_t c = nextUtf8(utf8, pos).value_or(U'\uFFFD');
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
            case '\r':
            case '\n':
                out += static_cast<char>(c);
                break;
            default:
                if (c >= 0x20 && c != 0xFFFE && c != 0xFFFF) appendUtf8(out, c);
        }
    }
    return out;
}

std::string writeKml(const ExportedLog& log, const DateOrders& orders) {
    XmlWriter xml;
    xml.open("kml", " xmlns=\"http://www.opengis.net/kml/2.2\"");
    xml.open("Document");
    xml.text("name", "NDB log");
    for (const auto& place : log.locations) {
        const std::string folderName = shownText(locationTitle(place));
        xml.open("Folder");
        xml.text("name", folderName);
        xml.text("description", "Listening location " + std::to_string(place.number));
        if (place.home) {
            xml.open("Placemark");
            // Beside other locations' homes in one list, "Home" alone says
            // nothing.
            xml.text("name", "Home \xE2\x80\x93 " + folderName);
            xml.text("description", description({shownText(place.homeText)}));
            xml.open("Point");
            xml.text("coordinates", coordinates(*place.home));
            xml.close();
            xml.close();
        }
        for (const auto& beacon : mappedBeacons(log, place.number, orders.of(place.number))) {
            const ExportedReception& r = *beacon.first;
            xml.open("Placemark");
            const std::string& ident = r.beaconKnown ? r.beaconIdent : r.ident;
            const std::string& kHz = r.beaconKnown ? r.beaconFrequency : r.frequency;
            // A row whose beacon no table knows still gets a name to click on.
            xml.text("name", ident.empty() && kHz.empty() ? "Beacon " + std::to_string(r.beaconId)
                                                          : shownText(ident + " " + kHz + " kHz"));
            xml.text("description", description(beaconDescription(beacon)));
            // A beacon without a known position is still listed, so that the
            // folder counts every beacon heard; it only has no place on the map.
            if (r.position) {
                xml.open("Point");
                xml.text("coordinates", coordinates(*r.position));
                xml.close();
            }
            xml.close();
        }
        xml.close();
    }
    return xml.finish();
}

}  // namespace zolt

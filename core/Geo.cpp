// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/Geo.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "core/TextFields.h"

namespace zolt {
namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;

// Weiszfeld steps are stopped once a step moves the centre less than this on the unit sphere
// (about 60 m) or after this many steps; the answer is a listener's whereabouts, not a survey.
constexpr double kCentreTolerance = 1e-8;
constexpr int kMaxCentreSteps = 60;
// A median this close to Earth's centre means the points surround the globe: its direction is
// noise, so we give no answer rather than a random one.
constexpr double kMinCentreLength = 0.01;

// The error sentence quotes what was typed; a pasted paragraph should not flood the dialog.
constexpr std::size_t kMaxQuotedBytes = 40;

constexpr std::string_view kDegreeSign = "\xC2\xB0";

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

Vec3 toVec(LatLon p) {
    const double phi = p.lat * kRadPerDeg, lambda = p.lon * kRadPerDeg;
    return {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi)};
}

LatLon fromVec(Vec3 v) {
    // atan2 rather than asin: asin(z) loses half the digits near the poles.
    return {std::atan2(v.z, std::hypot(v.x, v.y)) / kRadPerDeg, std::atan2(v.y, v.x) / kRadPerDeg};
}

double length(Vec3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

// `to` as a unit vector in the frame of `from`: components east, north and up. Distance,
// bearing and the azimuthal map all derive from these three numbers via atan2, which stays
// well-conditioned at every distance (acos of a dot product does not for neighbours).
struct Local {
    double east, north, up;
};

Local localFrame(LatLon from, LatLon to) {
    const double phi1 = from.lat * kRadPerDeg, phi2 = to.lat * kRadPerDeg;
    const double dLambda = (to.lon - from.lon) * kRadPerDeg;
    const double s1 = std::sin(phi1), c1 = std::cos(phi1), s2 = std::sin(phi2), c2 = std::cos(phi2);
    const double cd = std::cos(dLambda);
    return {c2 * std::sin(dLambda), c1 * s2 - s1 * c2 * cd, s1 * s2 + c1 * c2 * cd};
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Position of `c` in the run of `count` characters starting at `first`, or -1.
int indexIn(char c, char first, int count) {
    const int i = upperAscii(c) - first;
    return i >= 0 && i < count ? i : -1;
}

// One number as typed for a home position: "-33.87", "55.6 N", "12.6°E". `hemisphere` is the
// upper-case letter, or 0 when none was given.
struct Coordinate {
    double value = 0;
    char hemisphere = 0;
};

std::size_t skipBlanks(std::string_view s, std::size_t i) {
    while (i < s.size() && isBlank(s[i])) ++i;
    return i;
}

// Reads one coordinate from the front of `rest` and removes it. Blanks before the degree sign
// or letter are eaten only when such a sign or letter follows.
std::optional<Coordinate> readCoordinate(std::string_view& rest) {
    std::size_t i = 0;
    const bool hasSign = !rest.empty() && (rest[0] == '+' || rest[0] == '-');
    const bool negative = hasSign && rest[0] == '-';
    if (hasSign) ++i;
    // from_chars would also take "inf", "nan" and a second '-'; demand a digit or point first.
    if (i >= rest.size() || !(isDigit(rest[i]) || rest[i] == '.')) return std::nullopt;
    Coordinate c;
    // Fixed format: no exponents, and from_chars ignores the C locale's decimal comma.
    const auto [end, ec] = std::from_chars(rest.data() + i, rest.data() + rest.size(), c.value,
                                           std::chars_format::fixed);
    if (ec != std::errc{}) return std::nullopt;
    i = static_cast<std::size_t>(end - rest.data());
    std::size_t j = skipBlanks(rest, i);
    if (rest.substr(j).starts_with(kDegreeSign)) i = j + kDegreeSign.size();
    j = skipBlanks(rest, i);
    if (j < rest.size()) {
        const char h = upperAscii(rest[j]);
        if (h == 'N' || h == 'S' || h == 'E' || h == 'W') {
            c.hemisphere = h;
            i = j + 1;
        }
    }
    if (c.hemisphere != 0 && hasSign) return std::nullopt;  // is "-33 S" north or south?
    if (negative || c.hemisphere == 'S' || c.hemisphere == 'W') c.value = -c.value;
    rest.remove_prefix(i);
    return c;
}

// 1 for latitude letters, 2 for longitude letters, 0 for none.
int axisOf(char hemisphere) {
    if (hemisphere == 'N' || hemisphere == 'S') return 1;
    if (hemisphere == 'E' || hemisphere == 'W') return 2;
    return 0;
}

std::optional<LatLon> parseDegrees(std::string_view text) {
    std::string_view rest = text;
    const auto first = readCoordinate(rest);
    if (!first) return std::nullopt;
    const std::size_t before = rest.size();
    rest.remove_prefix(skipBlanks(rest, 0));
    if (!rest.empty() && (rest[0] == ',' || rest[0] == ';')) {
        rest.remove_prefix(1);
        rest.remove_prefix(skipBlanks(rest, 0));
    }
    // "55.612.6" must not read as 55.612 and .6: something has to stand between the numbers.
    if (rest.size() == before && first->hemisphere == 0) return std::nullopt;
    const auto second = readCoordinate(rest);
    if (!second || !rest.empty()) return std::nullopt;
    const int a1 = axisOf(first->hemisphere), a2 = axisOf(second->hemisphere);
    if (a1 != 0 && a1 == a2) return std::nullopt;
    if (a1 == 2 || a2 == 1) return LatLon{second->value, first->value};
    return LatLon{first->value, second->value};
}

std::string quoted(std::string_view text) {
    if (text.size() <= kMaxQuotedBytes) return "\"" + std::string(text) + "\"";
    std::size_t cut = kMaxQuotedBytes;
    // Never split a UTF-8 sequence: back off continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return "\"" + std::string(text.substr(0, cut)) + "\xE2\x80\xA6\"";
}

// One signed value as "55.6° N".
std::string formatOne(double value, int decimals, char positive, char negative) {
    std::array<char, 64> buf{};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                                   std::chars_format::fixed, decimals);
    const std::string digits(buf.data(), res.ptr);
    // Decide the letter from what is shown, so -0.04 prints as "0.0° N", not "0.0° S".
    const bool shownZero = digits.find_first_not_of("0.") == std::string::npos;
    const char letter = value < 0 && !shownZero ? negative : positive;
    return digits + std::string(kDegreeSign) + " " + letter;
}

}  // namespace

double greatCircleKm(LatLon a, LatLon b) {
    const Local l = localFrame(a, b);
    return kEarthRadiusKm * std::atan2(std::hypot(l.east, l.north), l.up);
}

double initialBearingDeg(LatLon from, LatLon to) {
    const Local l = localFrame(from, to);
    double deg = std::atan2(l.east, l.north) / kRadPerDeg;
    if (deg < 0) deg += 360.0;
    // -1e-17 + 360 rounds to 360 itself, which is outside the promised range.
    return deg >= 360.0 ? 0.0 : deg;
}

std::optional<LatLon> locatorCentre(std::string_view text) {
    const std::string_view t = trimmedSpaceTab(text);
    if (t.size() != 4 && t.size() != 6) return std::nullopt;
    const int fieldLon = indexIn(t[0], 'A', 18), fieldLat = indexIn(t[1], 'A', 18);
    const int squareLon = indexIn(t[2], '0', 10), squareLat = indexIn(t[3], '0', 10);
    if (fieldLon < 0 || fieldLat < 0 || squareLon < 0 || squareLat < 0) return std::nullopt;
    // Fields are 20° x 10°, squares 2° x 1°, subsquares 5' x 2.5'; the centre is half a cell in.
    const double lon = -180.0 + fieldLon * 20.0 + squareLon * 2.0;
    const double lat = -90.0 + fieldLat * 10.0 + squareLat;
    if (t.size() == 4) return LatLon{lat + 0.5, lon + 1.0};
    const int subLon = indexIn(t[4], 'A', 24), subLat = indexIn(t[5], 'A', 24);
    if (subLon < 0 || subLat < 0) return std::nullopt;
    return LatLon{lat + (subLat + 0.5) / 24.0, lon + (subLon + 0.5) / 12.0};
}

std::variant<HomeEntry, std::string> parseHomeEntry(std::string_view text) {
    const std::string_view t = trimmedSpaceTab(text);
    if (t.empty()) {
        return std::string(
            "Please type your locator (like JO62 or JO62qm) or your latitude and longitude in "
            "degrees (like 55.6, 12.6).");
    }
    if (const auto centre = locatorCentre(t)) {
        // Conventional spelling: field and square upper case, subsquare lower case.
        std::string written(t);
        for (std::size_t i = 0; i < written.size(); ++i)
            written[i] = i < 4 ? upperAscii(written[i]) : lowerAscii(written[i]);
        return HomeEntry{*centre, "your locator " + written};
    }
    const auto p = parseDegrees(t);
    if (!p) {
        return quoted(t) +
               " is neither a locator (like JO62 or JO62qm) nor a latitude and longitude in "
               "degrees (like 55.6, 12.6).";
    }
    // NaN cannot get past readCoordinate, but the test costs nothing and keeps it so.
    if (!std::isfinite(p->lat) || !std::isfinite(p->lon) || std::fabs(p->lat) > 90.0 ||
        std::fabs(p->lon) > 180.0) {
        return quoted(t) +
               " is no place on Earth: the latitude must lie between 90\xC2\xB0 S and "
               "90\xC2\xB0 N (-90 to 90) and the longitude between 180\xC2\xB0 W and "
               "180\xC2\xB0 E (-180 to 180).";
    }
    return HomeEntry{*p, "your position " + formatLatLon(*p, 2)};
}

std::string formatLatLon(LatLon p, int decimals) {
    decimals = std::clamp(decimals, 0, 6);
    return formatOne(p.lat, decimals, 'N', 'S') + " " + formatOne(p.lon, decimals, 'E', 'W');
}

std::optional<LatLon> robustCentre(std::span<const LatLon> points) {
    std::vector<Vec3> v;
    v.reserve(points.size());
    for (const LatLon& p : points)
        if (std::isfinite(p.lat) && std::isfinite(p.lon)) v.push_back(toVec(p));
    if (v.empty()) return std::nullopt;

    // Start from the coordinate-wise median: like the answer and unlike the mean it ignores the
    // odd far-away beacon, so few steps follow. It need not lie on the sphere, nor away from
    // Earth's centre: the iteration below works anywhere in space.
    std::vector<double> scratch(v.size());
    const auto medianOf = [&](double Vec3::*axis) {
        std::transform(v.begin(), v.end(), scratch.begin(),
                       [axis](const Vec3& q) { return q.*axis; });
        // With an even count take the mean of the middle two: two points then start halfway, and
        // two antipodes honestly give Earth's centre instead of one of them.
        const auto mid = scratch.begin() + static_cast<std::ptrdiff_t>(scratch.size() / 2);
        std::nth_element(scratch.begin(), mid, scratch.end());
        if (scratch.size() % 2 != 0) return *mid;
        return (*mid + *std::max_element(scratch.begin(), mid)) / 2;
    };
    Vec3 y{medianOf(&Vec3::x), medianOf(&Vec3::y), medianOf(&Vec3::z)};

    // Weiszfeld's iteration with the Vardi-Zhang correction: a point that coincides with the
    // current estimate would divide by zero, so it is set aside and only lets the estimate move
    // if the others pull harder than its own weight.
    for (int step = 0; step < kMaxCentreSteps; ++step) {
        Vec3 sum;
        double weights = 0, coinciding = 0;
        for (const Vec3& q : v) {
            const Vec3 d{q.x - y.x, q.y - y.y, q.z - y.z};
            const double dist = length(d);
            if (dist < 1e-12) {
                coinciding += 1;
                continue;
            }
            const double w = 1.0 / dist;
            sum = {sum.x + w * q.x, sum.y + w * q.y, sum.z + w * q.z};
            weights += w;
        }
        if (weights == 0) break;  // every point sits on the estimate
        Vec3 next{sum.x / weights, sum.y / weights, sum.z / weights};
        if (coinciding > 0) {
            // How hard the other points pull, sum of w * (q - y), equals weights * (next - y).
            const double r = weights * length({next.x - y.x, next.y - y.y, next.z - y.z});
            if (r <= coinciding) break;  // the coinciding points hold the median in place
            const double keep = coinciding / r;
            next = {(1 - keep) * next.x + keep * y.x, (1 - keep) * next.y + keep * y.y,
                    (1 - keep) * next.z + keep * y.z};
        }
        const double moved = length({next.x - y.x, next.y - y.y, next.z - y.z});
        y = next;
        if (moved < kCentreTolerance) break;
    }
    if (length(y) < kMinCentreLength) return std::nullopt;
    return fromVec(y);
}

int clearlyNearest(std::span<const std::optional<double>> distancesKm, double maxKm) {
    constexpr double kNone = std::numeric_limits<double>::infinity();
    int best = -1;
    double bestKm = kNone, secondKm = kNone;
    for (std::size_t i = 0; i < distancesKm.size(); ++i) {
        const auto& d = distancesKm[i];
        if (!d || !std::isfinite(*d) || *d < 0) return -1;
        if (*d < bestKm) {
            secondKm = bestKm;
            bestKm = *d;
            best = static_cast<int>(i);
        } else if (*d < secondKm) {
            secondKm = *d;
        }
    }
    // A lone candidate has an infinite runner-up and passes the half test. The explicit tie test
    // matters at 0 km, where "at most half" alone would pass.
    if (best < 0 || bestKm > maxKm || bestKm == secondKm || bestKm > 0.5 * secondKm) return -1;
    return best;
}

PlaneXY azimuthalEquidistantKm(LatLon centre, LatLon p) {
    const Local l = localFrame(centre, p);
    const double horizontal = std::hypot(l.east, l.north);
    const double rho = kEarthRadiusKm * std::atan2(horizontal, l.up);
    // The centre itself (rho 0) or an exact antipode, which has no direction: due north.
    if (horizontal == 0) return {0, rho};
    return {rho * l.east / horizontal, rho * l.north / horizontal};
}

LatLon inverseAzimuthalEquidistant(LatLon centre, PlaneXY xyKm) {
    const double rho = std::hypot(xyKm.x, xyKm.y);
    if (rho == 0) return {centre.lat, std::remainder(centre.lon, 360.0)};
    // Walk the angle rho/R from the centre along the map direction: in the centre's frame the
    // point is cos(c) up plus sin(c) along (east, north); then turn that frame to Earth axes.
    const double c = rho / kEarthRadiusKm;
    const double up = std::cos(c), east = std::sin(c) * xyKm.x / rho;
    const double north = std::sin(c) * xyKm.y / rho;
    const double phi = centre.lat * kRadPerDeg, lambda = centre.lon * kRadPerDeg;
    const double sp = std::sin(phi), cp = std::cos(phi), sl = std::sin(lambda),
                 cl = std::cos(lambda);
    return fromVec({up * cp * cl - east * sl - north * sp * cl,
                    up * cp * sl + east * cl - north * sp * sl, up * sp + north * cp});
}

PlaneXY equirectangular(LatLon p) { return {p.lon, p.lat}; }

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

// Positions on a spherical Earth: distances and bearings to beacons, the listener's home from a
// locator or typed degrees, a robust guess of where the listener was, and the map projections.
// Pure maths: no I/O, no Qt, nothing that depends on the C locale.
namespace zolt {

// Mean Earth radius. A sphere is off by up to 0.5 % against the ellipsoid, far finer than
// anything a reception log tells us about where a listener sat.
inline constexpr double kEarthRadiusKm = 6371.0;

// Degrees; latitude north positive, longitude east positive. Functions accept any longitude
// (190 is the same as -170); longitudes they return lie in [-180, 180].
struct LatLon {
    double lat = 0, lon = 0;
};

// Great-circle distance in km. Uses the atan2 form of Vincenty's spherical formula, which keeps
// full precision for neighbours a metre apart and for antipodes alike.
double greatCircleKm(LatLon a, LatLon b);

// Direction to set off from `from` towards `to`, degrees clockwise from north in [0, 360).
// From a pole every way is south; the answer is then measured against `from.lon`'s meridian.
double initialBearingDeg(LatLon from, LatLon to);

// Centre of a Maidenhead square ("JO62") or subsquare ("JO62qm"): exactly 4 or 6 characters,
// field letters A-R, square digits, subsquare letters A-X, either case, surrounding blanks
// ignored. Anything else gives nullopt.
std::optional<LatLon> locatorCentre(std::string_view text);

struct HomeEntry {
    LatLon position;
    std::string describe;  // "your locator JO62qm" / "your position 55.60° N 12.60° E"
};

// What the listener typed as home: a locator (see locatorCentre) or latitude then longitude in
// decimal degrees, separated by a comma, semicolon or blanks. Each number takes a sign or an
// N/S (E/W) letter after it, not both, and may carry a degree sign; with letters the two may come
// in either order. "55.6 N 12.6 E", "-33.87, 151.21", "12.6E 55.6N" all work; what formatLatLon
// writes reads back. Exponents, inf, nan, out-of-range values and trailing text are refused
// with a sentence for the user that quotes the input and shows what is accepted.
std::variant<HomeEntry, std::string> parseHomeEntry(std::string_view text);

// "55.6° N 12.6° E" (UTF-8 degree sign); `decimals` is clamped to 0..6. A value that rounds to
// zero is shown as N or E, so nobody reads "0.0° S".
std::string formatLatLon(LatLon p, int decimals = 1);

// Where a cloud of positions is centred: the geometric median of their 3-D unit vectors,
// projected back onto the sphere. Unlike the mean it is not dragged far by a few distant
// beacons heard at night (it tolerates almost half the points being strays), and working in 3-D
// makes the date line and the poles ordinary places. Non-finite points are skipped. nullopt
// when nothing is left or the points surround the globe so evenly that no direction stands
// out (two antipodes, say). How many points make a trustworthy answer is the caller's call:
// one point returns itself. Work is bounded (a few ms for 10,000 points); when two far-apart
// groups are nearly equal in size the median is ill-defined and may stop anywhere between them.
std::optional<LatLon> robustCentre(std::span<const LatLon> points);

// Index of the candidate we may suggest as "the nearest", or -1. It qualifies when its
// distance is at most `maxKm` and it is the only candidate or at most half as far as the
// runner-up (exactly half counts). We claim nothing when any distance is unknown (nullopt,
// NaN, infinite or negative), on an exact tie, or for an empty list.
int clearlyNearest(std::span<const std::optional<double>> distancesKm, double maxKm = 3000.0);

// A point on a flat map; the unit depends on the projection.
struct PlaneXY {
    double x = 0, y = 0;
};

// Azimuthal-equidistant map around `centre`, in km: x east, y north. Every point's distance
// from the origin is its true great-circle distance from the centre and its direction the
// initial bearing, so the whole Earth fills a disc of radius pi * kEarthRadiusKm. The antipode
// has no direction; an exact one is placed due north on the rim. At a polar centre "north" on
// the map is the direction of the meridian `centre.lon`.
PlaneXY azimuthalEquidistantKm(LatLon centre, LatLon p);

// The point under map position `xyKm` (inverse of azimuthalEquidistantKm). Positions beyond
// the rim keep walking round the globe; a map should treat them as off the Earth.
LatLon inverseAzimuthalEquidistant(LatLon centre, PlaneXY xyKm);

// Plate carree in degrees: x = lon, y = lat.
PlaneXY equirectangular(LatLon p);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
// Distances, bearings, home entry, the robust centre, the nearest-pick rule and the map.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "core/Geo.h"

using namespace zolt;

namespace {

constexpr double kDeg = 180 / std::numbers::pi;
constexpr LatLon kLondon{51.5074, -0.1278}, kParis{48.8566, 2.3522}, kNewYork{40.7128, -74.0060},
    kSydney{-33.8688, 151.2093}, kSantiago{-33.4489, -70.6693};

struct Pair {
    LatLon a, b;
    double expected = 0;
};

double angleDiff(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

// Independent of the code under test: walk `km` from `c` at `bearingDeg` on the sphere.
LatLon destination(LatLon c, double bearingDeg, double km) {
    const double d = km / kEarthRadiusKm, t = bearingDeg / kDeg, p1 = c.lat / kDeg;
    const double p2 =
        std::asin(std::sin(p1) * std::cos(d) + std::cos(p1) * std::sin(d) * std::cos(t));
    const double l2 = c.lon / kDeg + std::atan2(std::sin(t) * std::sin(d) * std::cos(p1),
                                                std::cos(d) - std::sin(p1) * std::sin(p2));
    return {p2 * kDeg, std::remainder(l2 * kDeg, 360.0)};
}

}  // namespace

TEST(Geo, GreatCircleDistances) {
    // Across the date line (not round the world), to a pole, antipodes and 7 cm: acos and asin
    // forms lose digits at the last two.
    const Pair cases[] = {
        {kLondon, kParis, 343.556},
        {kNewYork, kLondon, 5570.22},
        {kSydney, kSantiago, 11346.7},
        {{0, 179.5}, {0, -179.5}, 111.195},
        {{55.6, 12.6}, {90, 0}, 3825.11},
        {{10, 20}, {-10, -160}, 20015.09},
        {{52, 13}, {52, 13.000001}, 6.8458e-5},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(greatCircleKm(c.a, c.b), c.expected, c.expected * 0.005) << c.expected;
        EXPECT_NEAR(greatCircleKm(c.b, c.a), c.expected, c.expected * 0.005) << c.expected;
    }
}

TEST(Geo, InitialBearings) {
    const Pair cases[] = {
        {{0, 0}, {1, 0}, 0},        {{0, 0}, {0, 1}, 90},          {{0, 0}, {-1, 0}, 180},
        {{0, 0}, {0, -1}, 270},     {{0, 179.5}, {0, -179.5}, 90}, {{0, -179.5}, {0, 179.5}, 270},
        {kLondon, kParis, 148.116}, {kNewYork, kLondon, 51.213},   {{0, 0}, {1, -1e-20}, 0},
    };
    for (const auto& c : cases) {
        const double b = initialBearingDeg(c.a, c.b);
        EXPECT_TRUE(b >= 0 && b < 360) << b;
        EXPECT_LT(angleDiff(b, c.expected), 0.01) << c.expected;
    }
}

// Locators come through the same entry, so this also covers locatorCentre.
TEST(Geo, HomeEntryAccepted) {
    const struct {
        const char* text;
        LatLon p;
        const char* describe;
    } cases[] = {
        {"JO62", {52.5, 13.0}, "your locator JO62"},
        {" jo62QM\t", {52.520833, 13.375}, "your locator JO62qm"},
        {"AA00aa", {-89.979167, -179.958333}, nullptr},
        {"RR99xx", {89.979167, 179.958333}, nullptr},
        {"55.6 N 12.6 E", {55.6, 12.6}, "your position 55.60\xC2\xB0 N 12.60\xC2\xB0 E"},
        {"-33.87, 151.21", {-33.87, 151.21}, "your position 33.87\xC2\xB0 S 151.21\xC2\xB0 E"},
        {"12.6e 55.6N", {55.6, 12.6}, nullptr},
        {"34.6 S;58.4W", {-34.6, -58.4}, "your position 34.60\xC2\xB0 S 58.40\xC2\xB0 W"},
        {"-0.001 -0.001", {-0.001, -0.001}, "your position 0.00\xC2\xB0 N 0.00\xC2\xB0 E"},
        {"55.6\xC2\xB0 N 12.6\xC2\xB0 E", {55.6, 12.6}, nullptr},
        {"+40.7 -74", {40.7, -74.0}, nullptr},
        {"-90,180", {-90, 180}, nullptr},
    };
    for (const auto& c : cases) {
        const auto r = parseHomeEntry(c.text);
        const auto* home = std::get_if<HomeEntry>(&r);
        ASSERT_TRUE(home) << c.text << ": " << std::get<std::string>(r);
        EXPECT_NEAR(home->position.lat, c.p.lat, 1e-6) << c.text;
        EXPECT_NEAR(home->position.lon, c.p.lon, 1e-6) << c.text;
        EXPECT_EQ(home->describe, c.describe ? c.describe : home->describe);
    }
    EXPECT_EQ(formatLatLon({-33.87, -70.67}), "33.9\xC2\xB0 S 70.7\xC2\xB0 W");
}

TEST(Geo, HomeEntryRefusedWithInputQuoted) {
    for (const char* bad :
         {"JO6", "JO62qm1", "SA00", "AS00", "JOA2", "JO62yx", "JO62q5", "55.6", "55.6 12.6 7",
          "55.6, 12.6x", "nan, 0", "1e1 5", "95, 10", "10, -181", "55.6 N 12.6 N", "-33 S 151 E",
          "55,6 12,6", "JO 62", "55.6 North 12 E"}) {
        const auto r = parseHomeEntry(bad);
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << bad;
        EXPECT_NE(std::get<std::string>(r).find('"' + std::string(bad) + '"'), std::string::npos);
        EXPECT_FALSE(locatorCentre(bad)) << bad;
    }
    EXPECT_TRUE(std::holds_alternative<std::string>(parseHomeEntry("  ")));
}

// 200 points up to 220 km either way of the true spot plus 20 from other continents.
TEST(Geo, RobustCentreIgnoresStraysEverywhere) {
    const LatLon strays[] = {kSydney,       kSantiago,     kNewYork,      {35.7, 139.7},
                             {-1.3, 36.8},  {19.4, -99.1}, {64.1, -21.9}, {-22.9, -43.2},
                             {1.35, 103.8}, {30.0, 31.2}};
    for (const LatLon truth : {LatLon{55.6, 12.6}, LatLon{-17.0, 179.5}, LatLon{89.0, 40.0}}) {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> offset(-220.0, 220.0);
        std::vector<LatLon> pts;
        for (int i = 0; i < 200; ++i) {
            const double dx = offset(rng), dy = offset(rng);
            pts.push_back(destination(truth, std::atan2(dx, dy) * kDeg, std::hypot(dx, dy)));
        }
        for (int i = 0; i < 20; ++i) pts.push_back(strays[i % 10]);
        const auto c = robustCentre(pts);
        ASSERT_TRUE(c);
        EXPECT_LT(greatCircleKm(*c, truth), 50.0) << truth.lat << " " << truth.lon;
    }
}

TEST(Geo, RobustCentreEdgeCases) {
    EXPECT_FALSE(robustCentre({}));
    EXPECT_FALSE(robustCentre(std::vector<LatLon>{{10, 20}, {-10, -160}}));  // antipodes
    EXPECT_GT(std::fabs(robustCentre(std::vector<LatLon>{{0, 179.5}, {0, -179.5}})->lon), 179.99);
    // Three beacons 120° apart round a spot: the median is the spot, while the coordinate-wise
    // median that starts the search lies 250 km off.
    const LatLon spot{-40, 75};
    const std::vector<LatLon> tri{destination(spot, 10, 500), destination(spot, 130, 500),
                                  destination(spot, 250, 500)};
    EXPECT_LT(greatCircleKm(*robustCentre(tri), spot), 1.0);
    // The search starts exactly on {0.5, 0.5}, yet the median lies inside the triangle, where the
    // other two beacons are seen 120° apart from each other and from the first.
    const std::vector<LatLon> startOnPoint{{0.5, 0.5}, {1.5, 0.6}, {0.4, -0.5}};
    const LatLon m = *robustCentre(startOnPoint);
    for (int i = 0; i < 3; ++i) {
        const double a = initialBearingDeg(m, startOnPoint[i]);
        EXPECT_NEAR(angleDiff(a, initialBearingDeg(m, startOnPoint[(i + 1) % 3])), 120, 0.5);
    }
    EXPECT_LT(greatCircleKm(*robustCentre(std::vector<LatLon>(5, kParis)), kParis), 1e-6);
    const std::vector<LatLon> withNan{kLondon, {std::nan(""), 0}};
    EXPECT_LT(greatCircleKm(*robustCentre(withNan), kLondon), 1e-6);
}

TEST(Geo, ClearlyNearest) {
    using D = std::optional<double>;
    // {200, 100} is exactly half and qualifies; {102, 200} is 0.51 and does not; {0, 0} is a tie
    // that "at most half" alone would let through.
    const std::pair<std::vector<D>, int> cases[] = {
        {{}, -1},
        {{3000.0}, 0},
        {{3000.1}, -1},
        {{200.0, 100.0}, 1},
        {{102.0, 200.0}, -1},
        {{100.0, 100.0, 500.0}, -1},
        {{0.0, 0.0}, -1},
        {{300.0, 50.0, 120.0}, 1},
        {{300.0, 50.0, 90.0}, -1},
        {{50.0, std::nullopt}, -1},
        {{50.0, std::nan("")}, -1},
    };
    for (const auto& [km, pick] : cases)
        EXPECT_EQ(clearlyNearest(km), pick) << ::testing::PrintToString(km);
}

TEST(Geo, AzimuthalEquidistantKeepsDistanceAndDirection) {
    const PlaneXY n = azimuthalEquidistantKm({10, 20}, {10 + 1000 / kEarthRadiusKm * kDeg, 20});
    EXPECT_NEAR(n.x, 0, 1e-9);
    EXPECT_NEAR(n.y, 1000, 1e-6);
    const Pair cases[] = {
        {kParis, kParis},     {kLondon, kSydney},           {{0, 179.5}, {0, -179.5}},
        {{90, 0}, kNewYork},  {{-89.9, 30}, {-89.9, -150}}, {{10, 20}, {-10, -160}},
        {kSantiago, kSydney}, {{55.6, 12.6}, {-55, -167}},
    };
    for (const auto& c : cases) {
        const PlaneXY xy = azimuthalEquidistantKm(c.a, c.b);
        const double km = greatCircleKm(c.a, c.b);
        EXPECT_NEAR(std::hypot(xy.x, xy.y), km, 1e-6 * (1 + km));
        EXPECT_LT(angleDiff(std::atan2(xy.x, xy.y) * kDeg, initialBearingDeg(c.a, c.b)), 1e-6);
        EXPECT_LT(greatCircleKm(inverseAzimuthalEquidistant(c.a, xy), c.b), 1e-6);
    }
}

// SPDX-License-Identifier: GPL-2.0-or-later
// The scene of a location's map: its figures, their wording, and the scene as
// read from a real project database.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "TestUtil.h"
#include "db/Database.h"
#include "engine/LocationMap.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

// One degree of a great circle.
constexpr double kDegreeKm = kEarthRadiusKm * std::numbers::pi / 180;

// A beacon at `lon` degrees on the equator: from a home at 0° 0° its distance
// is lon degrees of arc and its bearing due east or west, so the expected
// figures need no geodesy.
LoggedBeacon at(const char* ident, double lon, int receptions = 1) {
    return {
        static_cast<std::int64_t>(lon * 10), ident, "344", "Town", "Land", {0, lon}, receptions};
}

LocationHome homeAt(std::optional<LatLon> position) {
    LocationHome home;
    home.position = position;
    home.source = position ? LocationHome::Source::Entered : LocationHome::Source::Unknown;
    return home;
}

TEST(LocationMapFigures, FarthestMedianAndBearingsFromHome) {
    const struct {
        const char* name;
        std::vector<LoggedBeacon> beacons;
        int receptions;
        const char* farthest;  // ident, or nullptr for none
        std::optional<double> medianDeg;
        std::optional<LatLon> home = LatLon{0, 0};
    } cases[] = {
        {"odd count: the middle one", {at("A", 1), at("B", 5), at("C", 2)}, 3, "B", 2},
        {"even count: halfway", {at("A", 1), at("B", 4), at("C", -2), at("D", 3, 7)}, 10, "B", 2.5},
        {"a tie: the first listed", {at("A", 6), at("B", -6)}, 2, "A", 6},
        {"median per beacon", {at("A", 1, 50), at("B", 8), at("C", 9)}, 52, "C", 8},
        {"nothing logged", {}, 0, nullptr, std::nullopt},
        {"home unknown", {at("A", 1), at("B", 2, 3)}, 4, nullptr, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto scene = makeLocationMapScene(3, homeAt(c.home), c.beacons);
        const LocationMapFigures& f = scene.figures;
        EXPECT_EQ(f.receptions, c.receptions);
        EXPECT_EQ(f.beacons, static_cast<int>(c.beacons.size()));
        EXPECT_EQ(f.placed, static_cast<int>(c.beacons.size()));
        ASSERT_EQ(f.farthest >= 0, c.farthest != nullptr);
        ASSERT_EQ(f.farthestKm.has_value(), c.farthest != nullptr);
        if (c.farthest) {
            const LoggedBeacon& far = scene.beacons.at(static_cast<std::size_t>(f.farthest));
            EXPECT_EQ(far.ident, c.farthest);
            EXPECT_NEAR(*f.farthestKm, std::abs(far.position.lon) * kDegreeKm, 0.01);
        }
        ASSERT_EQ(f.medianKm.has_value(), c.medianDeg.has_value());
        if (c.medianDeg) {
            EXPECT_NEAR(*f.medianKm, *c.medianDeg * kDegreeKm, 0.01);
        }
        ASSERT_EQ(scene.distanceKm.size(), c.home ? c.beacons.size() : 0);
        ASSERT_EQ(scene.bearingDeg.size(), scene.distanceKm.size());
        for (std::size_t i = 0; i < scene.distanceKm.size(); ++i) {
            const double lon = scene.beacons[i].position.lon;
            EXPECT_NEAR(scene.distanceKm[i], std::abs(lon) * kDegreeKm, 0.01);
            EXPECT_NEAR(scene.bearingDeg[i], lon > 0 ? 90 : 270, 1e-9);
        }
    }
}

TEST(LocationMapText, FiguresLine) {
    const auto home = homeAt(LatLon{0, 0});
    const std::pair<LocationMapScene, std::string> cases[] = {
        {makeLocationMapScene(1, home, {}), "No receptions logged at this location yet."},
        {makeLocationMapScene(1, home, {at("A", 2)}),
         "1 reception of 1 beacon logged \xC2\xB7 farthest: A 344 kHz, Town, Land, 222 km \xC2\xB7 "
         "median distance 222 km"},
        {makeLocationMapScene(1, homeAt(std::nullopt), {at("A", 2, 2)}),
         "2 receptions of 1 beacon logged \xC2\xB7 distances unknown: no home position"},
        // Beacons without a position: the totals count them, the map has not.
        {makeLocationMapScene(1, home, {at("A", 1), at("B", 20)}, LoggedTotals{9, 5}),
         "9 receptions of 5 beacons logged, 2 of them on the map \xC2\xB7 farthest: B 344 kHz, "
         "Town, Land, 2,224 km \xC2\xB7 median distance 1,168 km"},
    };
    for (const auto& [scene, text] : cases) EXPECT_EQ(describeFigures(scene), text);
}

TEST(LocationMapText, KilometresAndCompassPoints) {
    const std::pair<double, std::string> km[] = {{999.4, "999 km"},
                                                 {999.5, "1,000 km"},
                                                 {1234567, "1,234,567 km"},
                                                 {-5, "0 km"},
                                                 {NAN, "0 km"}};
    for (const auto& [value, text] : km) EXPECT_EQ(formatKm(value), text) << value;

    const std::pair<double, std::string> points[] = {{11.2, "N"},    {11.3, "NNE"},  {180, "S"},
                                                     {247.5, "WSW"}, {348.7, "NNW"}, {359, "N"},
                                                     {-90, "W"},     {720, "N"}};
    for (const auto& [bearing, text] : points) EXPECT_EQ(compassPoint(bearing), text) << bearing;
}

// The scene read from a project: the dots are the positioned beacons of that
// location only; the counts take in every row, the listener's own beacons too.
TEST(LocationMapLoad, SceneFromTheDatabase) {
    test::TempDir dir;
    const ProjectPaths paths = test::makeProject(dir.path());
    // Location 2: six beacons of northern Europe (Denmark, Scotland, Tyrol),
    // beacon 2 three times, and a user beacon (no row in the list) twice.
    // Location 3: beacon 2 once. Location 4: beacons of four continents.
    Database(paths.DatabasePath)
        .execute(
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES (2, 2), (3, 2), (4, 2), "
            "(11, 2), (13, 2), (22, 2), (2, 2), (2, 2), (9000001, 2), (9000001, 2), (2, 3), "
            "(1, 4), (2, 4), (5, 4), (6, 4), (15, 4), (21, 4)");

    const LocationMapScene two = loadLocationMapScene(paths, 2);
    EXPECT_EQ(two.location, 2);
    EXPECT_EQ(two.figures.receptions, 10);
    EXPECT_EQ(two.figures.beacons, 7);
    EXPECT_EQ(two.figures.placed, 6);
    ASSERT_EQ(two.beacons.size(), 6u);
    EXPECT_EQ(two.beacons[0].beaconId, 2);
    EXPECT_EQ(two.beacons[0].receptions, 3);
    // Six beacons around one place are enough to infer where the listener sat.
    ASSERT_TRUE(two.centre());
    EXPECT_EQ(two.distanceKm.size(), 6u);
    EXPECT_TRUE(two.figures.medianKm);

    // Own beacons whose typed position reads are placed, marked as own; the
    // home is still inferred from the list's beacons alone.
    const struct {
        const char* latitude;
        const char* longitude;
    } own[] = {{"47.0631", "-79.7925"}, {" +12.5 ", "100"}, {"95", "10"}, {"47,06", "79W"}};
    Database db(paths.DatabasePath);
    for (const auto& o : own) {
        db.execute(std::string("INSERT INTO NewBeacons (Ident, frequency, Latitude, Longitude) "
                               "VALUES ('OWN', 344, '") +
                   o.latitude + "', '" + o.longitude + "')");
        db.execute("INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES (" +
                   std::to_string(20000 + db.lastInsertRowId()) + ", 2)");
    }
    const LocationMapScene withOwn = loadLocationMapScene(paths, 2);
    std::vector<LatLon> placed;
    for (const auto& b : withOwn.beacons) {
        if (b.own) placed.push_back(b.position);
    }
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_EQ(placed[0].lat, 47.0631);
    EXPECT_EQ(placed[0].lon, -79.7925);
    EXPECT_EQ(placed[1].lat, 12.5);
    EXPECT_EQ(withOwn.figures.placed, 8);
    EXPECT_EQ(withOwn.home.beaconCount, 6);

    const LocationMapScene three = loadLocationMapScene(paths, 3);
    EXPECT_EQ(three.figures.receptions, 1);
    EXPECT_EQ(three.figures.placed, 1);
    EXPECT_FALSE(three.centre());
    EXPECT_FALSE(three.figures.medianKm);

    // Beacons that gather around no place give no centre: a plain world map.
    const LocationMapScene four = loadLocationMapScene(paths, 4);
    EXPECT_EQ(four.figures.placed, 6);
    EXPECT_FALSE(four.centre());
}

}  // namespace

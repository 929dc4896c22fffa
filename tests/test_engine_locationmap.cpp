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

// A beacon on the equator at `lon` degrees: from a home at 0° 0° its distance
// is lon degrees of arc, so the expected figures need no geodesy.
LoggedBeacon onEquator(const char* ident, double lon, int receptions = 1) {
    LoggedBeacon b;
    b.beaconId = static_cast<std::int64_t>(lon * 10);
    b.ident = ident;
    b.frequency = "344";
    b.city = "Town";
    b.country = "Land";
    b.position = {0, lon};
    b.receptions = receptions;
    return b;
}

LocationHome homeAt(std::optional<LatLon> position) {
    LocationHome home;
    home.position = position;
    home.source = position ? LocationHome::Source::Entered : LocationHome::Source::Unknown;
    return home;
}

TEST(LocationMapFigures, FarthestAndMedianFromHome) {
    struct Case {
        const char* name;
        std::vector<LoggedBeacon> beacons;
        int receptions;
        const char* farthest;  // ident, or nullptr for none
        std::optional<double> medianDeg;
    };
    const std::vector<Case> cases = {
        {"one beacon", {onEquator("A", 3, 4)}, 4, "A", 3},
        {"odd count: the middle one",
         {onEquator("A", 1), onEquator("B", 5), onEquator("C", 2)},
         3,
         "B",
         2},
        {"even count: between the middle two",
         {onEquator("A", 1), onEquator("B", 4), onEquator("C", 2), onEquator("D", 3, 7)},
         10,
         "B",
         2.5},
        {"a tie for farthest: the first listed",
         {onEquator("A", 6), onEquator("B", -6)},
         2,
         "A",
         6},
        {"west counts as far as east", {onEquator("A", 1), onEquator("B", -9)}, 2, "B", 5},
        {"median per beacon, however often heard",
         {onEquator("A", 1, 50), onEquator("B", 8), onEquator("C", 9)},
         52,
         "C",
         8},
        {"nothing logged", {}, 0, nullptr, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto scene = makeLocationMapScene(3, homeAt(LatLon{0, 0}), c.beacons);
        const LocationMapFigures& f = scene.figures;
        EXPECT_EQ(f.receptions, c.receptions);
        EXPECT_EQ(f.beacons, static_cast<int>(c.beacons.size()));
        EXPECT_EQ(f.placed, static_cast<int>(c.beacons.size()));
        if (!c.farthest) {
            EXPECT_EQ(f.farthest, -1);
            EXPECT_FALSE(f.farthestKm);
        } else {
            ASSERT_GE(f.farthest, 0);
            EXPECT_EQ(scene.beacons.at(static_cast<std::size_t>(f.farthest)).ident, c.farthest);
            ASSERT_TRUE(f.farthestKm);
            EXPECT_NEAR(*f.farthestKm,
                        std::abs(scene.beacons[static_cast<std::size_t>(f.farthest)].position.lon) *
                            kDegreeKm,
                        0.01);
        }
        ASSERT_EQ(f.medianKm.has_value(), c.medianDeg.has_value());
        if (c.medianDeg) {
            EXPECT_NEAR(*f.medianKm, *c.medianDeg * kDegreeKm, 0.01);
        }
    }
}

TEST(LocationMapFigures, NoDistancesWithoutHome) {
    const auto scene =
        makeLocationMapScene(1, homeAt(std::nullopt), {onEquator("A", 1), onEquator("B", 2, 3)});
    EXPECT_EQ(scene.figures.receptions, 4);
    EXPECT_EQ(scene.figures.placed, 2);
    EXPECT_EQ(scene.figures.farthest, -1);
    EXPECT_FALSE(scene.figures.medianKm);
    EXPECT_TRUE(scene.distanceKm.empty());
    EXPECT_TRUE(scene.bearingDeg.empty());
}

TEST(LocationMapFigures, BearingsFromHome) {
    const auto scene =
        makeLocationMapScene(1, homeAt(LatLon{0, 0}), {onEquator("E", 10), onEquator("W", -10)});
    ASSERT_EQ(scene.bearingDeg.size(), 2u);
    EXPECT_NEAR(scene.bearingDeg[0], 90, 1e-9);
    EXPECT_NEAR(scene.bearingDeg[1], 270, 1e-9);
}

TEST(LocationMapText, FiguresLine) {
    const auto home = homeAt(LatLon{0, 0});
    struct Case {
        const char* name;
        LocationMapScene scene;
        std::vector<std::string> has, hasNot;
    };
    const std::vector<Case> cases = {
        {"nothing logged",
         makeLocationMapScene(1, home, {}),
         {"No receptions logged at this location yet."},
         {"farthest"}},
        {"singular",
         makeLocationMapScene(1, home, {onEquator("A", 2)}),
         {"1 reception of 1 beacon logged", "farthest: A 344 kHz, Town, Land, 222 km",
          "median distance 222 km"},
         {"on the map"}},
        {"home unknown",
         makeLocationMapScene(1, homeAt(std::nullopt), {onEquator("A", 2, 2)}),
         {"2 receptions of 1 beacon logged", "distances unknown: no home position"},
         {"farthest", "median"}},
        {"beacons without a position",
         makeLocationMapScene(1, home, {onEquator("A", 1), onEquator("B", 20)}, LoggedTotals{9, 5}),
         {"9 receptions of 5 beacons logged, 2 of them on the map",
          "farthest: B 344 kHz, Town, Land, 2,224 km", "median distance 1,168 km"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = describeFigures(c.scene);
        for (const auto& part : c.has) EXPECT_NE(text.find(part), std::string::npos) << text;
        for (const auto& part : c.hasNot) EXPECT_EQ(text.find(part), std::string::npos) << text;
    }
}

TEST(LocationMapText, KilometresAndCompassPoints) {
    const std::vector<std::pair<double, std::string>> km = {
        {0, "0 km"},
        {999.4, "999 km"},
        {999.5, "1,000 km"},
        {12345.6, "12,346 km"},
        {1234567, "1,234,567 km"},
        {-5, "0 km"},
        {NAN, "0 km"},
    };
    for (const auto& [value, text] : km) EXPECT_EQ(formatKm(value), text) << value;

    const std::vector<std::pair<double, std::string>> points = {
        {0, "N"},       {11.2, "N"},    {11.3, "NNE"}, {45, "NE"}, {180, "S"},
        {247.5, "WSW"}, {348.7, "NNW"}, {359, "N"},    {-90, "W"}, {720, "N"},
    };
    for (const auto& [bearing, text] : points) EXPECT_EQ(compassPoint(bearing), text) << bearing;
}

// The scene read from a project: the dots are the positioned beacons of that
// location only; the counts take in every row, the listener's own beacons too.
TEST(LocationMapLoad, SceneFromTheDatabase) {
    test::TempDir dir;
    const ProjectPaths paths = test::makeProject(dir.path());
    std::vector<std::int64_t> ids;
    {
        Database db(paths.DatabasePath);
        for (const auto& row :
             db.query("SELECT Beacon_ID FROM NDBInformation ORDER BY Beacon_ID LIMIT 6").rows) {
            ids.push_back(std::get<std::int64_t>(row[0]));
        }
        ASSERT_EQ(ids.size(), 6u);
        auto insert = db.prepare(
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
            "ReceptionComments) VALUES (?, ?, '1200', '20010101', '')");
        // Location 2: beacons 0..5, beacon 0 three times, and a user beacon
        // (no row in the list) twice. Location 3: beacon 1 once.
        for (std::size_t i = 0; i < ids.size(); ++i)
            insert.bind({ids[i], std::int64_t{2}}).execute();
        insert.bind({ids[0], std::int64_t{2}}).execute();
        insert.bind({ids[0], std::int64_t{2}}).execute();
        insert.bind({std::int64_t{9'000'001}, std::int64_t{2}}).execute();
        insert.bind({std::int64_t{9'000'001}, std::int64_t{2}}).execute();
        insert.bind({ids[1], std::int64_t{3}}).execute();
    }

    const LocationMapScene two = loadLocationMapScene(paths, 2);
    EXPECT_EQ(two.location, 2);
    EXPECT_EQ(two.figures.receptions, 10);
    EXPECT_EQ(two.figures.beacons, 7);
    EXPECT_EQ(two.figures.placed, 6);
    ASSERT_EQ(two.beacons.size(), 6u);
    EXPECT_EQ(two.beacons[0].beaconId, ids[0]);
    EXPECT_EQ(two.beacons[0].receptions, 3);
    // Six beacons are enough to infer where the listener sat.
    ASSERT_TRUE(two.centre());
    EXPECT_EQ(two.distanceKm.size(), 6u);
    EXPECT_TRUE(two.figures.medianKm);

    const LocationMapScene three = loadLocationMapScene(paths, 3);
    EXPECT_EQ(three.figures.receptions, 1);
    EXPECT_EQ(three.figures.placed, 1);
    EXPECT_FALSE(three.centre());
    EXPECT_FALSE(three.figures.medianKm);

    const LocationMapScene empty = loadLocationMapScene(paths, 7);
    EXPECT_EQ(empty.figures.receptions, 0);
    EXPECT_TRUE(empty.beacons.empty());
}

}  // namespace

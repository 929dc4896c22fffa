// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "TestUtil.h"
#include "db/Database.h"
#include "engine/HomePosition.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;
using test::expectError;
using test::readFile;
using test::snapshot;
using test::writeFile;

namespace {

class HomeTest : public ::testing::Test {
  protected:
    void SetUp() override { paths = test::makeProject(dir.path()); }
    fs::path settings() const { return paths.WorkFolder / kSettingsFile; }

    test::TempDir dir;
    ProjectPaths paths;
};

// Appends one NDBLog row per (beacon, location).
void logAt(const fs::path& database, const std::vector<std::pair<std::int64_t, int>>& rows) {
    std::string values;
    for (const auto& [beacon, location] : rows) {
        values += (values.empty() ? "(" : ", (") + std::to_string(beacon) + ", " +
                  std::to_string(location) + ")";
    }
    Database(database).execute("INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES " + values);
}

TEST_F(HomeTest, EntriesLiveBesideTheFolderLineWhichStaysAsItWas) {
    writeSettings(paths, "/data/a,b/");  // quoted on its first line
    const std::string folderLine = "\"/data/a,b/\"\r\n";
    const struct {
        int location;
        std::string typed;
        std::string stored;  // what readHomeEntry gives afterwards
        std::string error;   // part of the message when refused
    } cases[] = {
        {3, "JO62qm", "JO62qm", ""},
        {7, "  55.6 N 12.6 E\t", "55.6 N 12.6 E", ""},
        {16, "-33.87, 151.21", "-33.87, 151.21", ""},
        {3, "jo65", "jo65", ""},  // replaces the first entry of location 3
        {1, "JO6", "", "\"JO6\" is neither a locator"},
        {1, "55.6 N\r\n12.6 E", "", "neither a locator"},
        {7, "   ", "", ""},  // blank removes
        {0, "JO62", "", "no such listening location"},
        {17, "JO62", "", "no such listening location"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const auto before = snapshot(paths.WorkFolder);
        if (c.error.empty()) {
            writeHomeEntry(paths, c.location, c.typed);
        } else {
            expectError([&] { writeHomeEntry(paths, c.location, c.typed); }, {c.error});
            EXPECT_EQ(snapshot(paths.WorkFolder), before);
        }
        EXPECT_EQ(readHomeEntry(paths, c.location), c.stored);
        EXPECT_EQ(readSettings(paths).value_or("").string(), "/data/a,b/");
        EXPECT_TRUE(readFile(settings()).starts_with(folderLine));
    }
    EXPECT_EQ(readFile(settings()), folderLine + "Home16=-33.87, 151.21\r\nHome3=jo65\r\n");
    EXPECT_EQ(describeHome(locationHome(paths, 16)),
              "Home: 33.87\xC2\xB0 S 151.21\xC2\xB0 E, as you entered it");

    // START CONVERSION again keeps the entries; reading is tolerant of a file
    // edited by hand (letter case, blanks, line ends, a line it does not know).
    writeSettings(paths, "/data/Logs/");
    EXPECT_EQ(readFile(settings()), "/data/Logs/\r\nHome16=-33.87, 151.21\r\nHome3=jo65\r\n");
    writeFile(settings(), "/data/Logs/\nhome5 = JO62\n\nColour=red\r\nHOME5=JO70\rHome05=x");
    EXPECT_EQ(readSettings(paths).value_or("").string(), "/data/Logs/");
    EXPECT_EQ(readHomeEntry(paths, 5), "x");  // the last line naming location 5 wins
    writeHomeEntry(paths, 5, "JO62");
    EXPECT_EQ(readFile(settings()), "/data/Logs/\r\nColour=red\r\nHome5=JO62\r\n");

    removeWorkingFiles(paths);
    EXPECT_EQ(readHomeEntry(paths, 5), "");
}

TEST_F(HomeTest, NoProjectNoEntry) {
    // Without the folder line the file would read as no project at all.
    for (const char* bytes : {static_cast<const char*>(nullptr), "", "\r\nHome3=JO62\r\n"}) {
        if (bytes) writeFile(settings(), bytes);
        const auto before = snapshot(dir.path());
        expectError([&] { writeHomeEntry(paths, 3, "JO62"); }, {"no project", settings().string()});
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}

TEST(Home, InferredFromTheDistinctBeaconsLoggedAtTheLocation) {
    // The list nearest to `point` first, by a flat measure that is good enough
    // to tell the near from the far.
    const LatLon point{50.0, 10.0};
    std::vector<std::int64_t> beacons;
    for (const auto& row :
         Database(test::pristineDatabase(), Database::Mode::ReadOnly)
             .query("SELECT Beacon_ID FROM NDBInformation ORDER BY "
                    "(Latitude - 50) * (Latitude - 50) + (Longitude - 10) * (Longitude - 10) * 0.4")
             .rows) {
        beacons.push_back(std::get<std::int64_t>(row[0]));
    }
    const struct {
        const char* name;
        int near, far, nullPositions;
        LocationHome::Source source;
        int beaconCount;
    } cases[] = {
        {"40 near, 3 far", 40, 3, 0, LocationHome::Source::Inferred, 43},
        {"5 near", 5, 0, 0, LocationHome::Source::Inferred, 5},
        {"4 near", 4, 0, 0, LocationHome::Source::Unknown, 4},
        {"5 near, one without a position", 5, 0, 1, LocationHome::Source::Unknown, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const ProjectPaths paths = test::makeProject(dir.path());
        std::vector<std::pair<std::int64_t, int>> rows;
        // Near beacons heard several times count once each; the far ones are
        // the other end of the list. A user beacon and another location's
        // receptions are no evidence for this location.
        for (int i = 0; i < c.near; ++i) rows.insert(rows.end(), 1 + i % 3, {beacons[i], 5});
        for (int i = 0; i < c.far; ++i) rows.push_back({beacons[beacons.size() - 1 - i], 5});
        rows.push_back({20001, 5});
        for (int i = 0; i < 10; ++i) rows.push_back({beacons[beacons.size() - 20 - i], 6});
        logAt(paths.DatabasePath, rows);
        for (int i = 0; i < c.nullPositions; ++i) {
            Database(paths.DatabasePath)
                .execute("UPDATE NDBInformation SET Latitude = NULL WHERE Beacon_ID = " +
                         std::to_string(beacons[i]));
        }

        // The map's list leaves out the same beacons (its counts are checked there).
        EXPECT_EQ(static_cast<int>(loggedBeacons(paths, 5).size()), c.beaconCount);
        const LocationHome home = locationHome(paths, 5);
        EXPECT_EQ(home.source, c.source);
        EXPECT_EQ(home.beaconCount, c.beaconCount);
        if (c.source == LocationHome::Source::Inferred) {
            // The far strays do not pull the centre away from the near cloud.
            ASSERT_TRUE(home.position);
            EXPECT_LT(greatCircleKm(*home.position, point), 150.0);
            const std::string text = describeHome(home);
            EXPECT_TRUE(
                text.starts_with("Home: near ") &&
                text.ends_with("inferred from " + std::to_string(c.beaconCount) + " beacons"))
                << text;
        } else {
            EXPECT_FALSE(home.position);
            EXPECT_EQ(describeHome(home), "Home: unknown (fewer than 5 beacons logged)");
        }

        // The listener's own entry wins over any inference.
        writeSettings(paths, "/data/Logs");
        writeHomeEntry(paths, 5, "jo62QM");
        const LocationHome entered = locationHome(paths, 5);
        EXPECT_EQ(entered.source, LocationHome::Source::Entered);
        EXPECT_EQ(entered.entered, "jo62QM");
        EXPECT_EQ(describeHome(entered),
                  "Home: 52.5\xC2\xB0 N 13.4\xC2\xB0 E, from your locator JO62qm");
    }
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "TestUtil.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/DecisionRecord.h"
#include "engine/HomePosition.h"
#include "engine/LogExport.h"
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
    fs::path homes() const { return paths.WorkFolder / kHomesFile; }

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

TEST_F(HomeTest, EntriesLiveInTheirOwnFileAndOutliveTheProject) {
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
    // The entries live in a file of their own; settings.ini keeps the folder only.
    EXPECT_EQ(readFile(homes()), "Home16=-33.87, 151.21\r\nHome3=jo65\r\n");
    EXPECT_EQ(readFile(settings()), folderLine);
    EXPECT_EQ(describeHome(locationHome(paths, 16)),
              "Home: 33.87\xC2\xB0 S 151.21\xC2\xB0 E, as you entered it");

    // START CONVERSION again, FINALIZE and Start New Project all keep them.
    writeSettings(paths, "/data/Logs/");
    removeWorkingFiles(paths);
    writeSettings(paths, "/data/Logs/");
    startNewProject(paths);
    EXPECT_EQ(readHomeEntry(paths, 16), "-33.87, 151.21");
    EXPECT_EQ(readHomeEntry(paths, 3), "jo65");
}

// A working folder of an earlier version keeps its entries in settings.ini
// below the folder line. They are read from there, tolerantly (letter case,
// blanks, line ends, a line it does not know), until homes.ini exists, and
// FINALIZE or Start New Project moves them there before settings.ini goes.
TEST_F(HomeTest, EntriesOfAnEarlierVersionAreReadAndKept) {
    const std::string legacy =
        "/data/Logs/\nhome5 = JO62\n\nColour=red\r\nHOME5=JO70\rHome05=x\r\nHome9=JO65mq";
    const struct {
        const char* name;
        std::function<void(const ProjectPaths&)> act;
        const char* homesAfter;  // nullptr: no homes.ini
        const char* entry5After;
    } cases[] = {
        {"read only", [](const ProjectPaths&) {}, nullptr, "x"},
        {"FINALIZE", [](const ProjectPaths& p) { removeWorkingFiles(p); },
         "home5 = JO62\r\nHOME5=JO70\r\nHome05=x\r\nHome9=JO65mq\r\n", "x"},
        {"Start New Project", [](const ProjectPaths& p) { startNewProject(p); },
         "home5 = JO62\r\nHOME5=JO70\r\nHome05=x\r\nHome9=JO65mq\r\n", "x"},
        {"Set Home", [](const ProjectPaths& p) { writeHomeEntry(p, 5, "JO62"); },
         "Home9=JO65mq\r\nHome5=JO62\r\n", "JO62"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(homes());
        writeFile(settings(), legacy);
        EXPECT_EQ(readSettings(paths).value_or("").string(), "/data/Logs/");
        EXPECT_EQ(readHomeEntry(paths, 5), "x");  // the last line naming location 5 wins
        c.act(paths);
        EXPECT_EQ(fs::exists(homes()), c.homesAfter != nullptr);
        if (c.homesAfter) {
            EXPECT_EQ(readFile(homes()), c.homesAfter);
        }
        EXPECT_EQ(readHomeEntry(paths, 5), c.entry5After);
        EXPECT_EQ(readHomeEntry(paths, 9), "JO65mq");
        if (fs::exists(settings())) {
            EXPECT_TRUE(readFile(settings()).starts_with("/data/Logs/\n"));
        }
    }
}

TEST_F(HomeTest, NoProjectNoEntry) {
    // Without the folder line the file would read as no project at all.
    for (const char* bytes : {static_cast<const char*>(nullptr), "", "\r\nHome3=JO62\r\n"}) {
        if (bytes) writeFile(settings(), bytes);
        const auto before = snapshot(dir.path());
        expectError([&] { writeHomeEntry(paths, 3, "JO62"); }, {"no project", homes().string()});
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
        writeSettings(paths, "/data/Logs/");
        writeHomeEntry(paths, 5, "jo62QM");
        const LocationHome entered = locationHome(paths, 5);
        EXPECT_EQ(entered.source, LocationHome::Source::Entered);
        EXPECT_EQ(entered.entered, "jo62QM");
        EXPECT_EQ(describeHome(entered),
                  "Home: 52.5\xC2\xB0 N 13.4\xC2\xB0 E, from your locator JO62qm");
    }
}

}  // namespace

namespace {

// Every positioned beacon of the shipped list, with its position.
std::vector<std::pair<std::int64_t, LatLon>> shippedBeacons() {
    std::vector<std::pair<std::int64_t, LatLon>> all;
    for (const auto& row : Database(test::pristineDatabase(), Database::Mode::ReadOnly)
                               .query("SELECT Beacon_ID, Latitude, Longitude FROM NDBInformation "
                                      "WHERE Latitude IS NOT NULL AND Longitude IS NOT NULL")
                               .rows) {
        all.push_back({std::get<std::int64_t>(row[0]),
                       LatLon{std::get<double>(row[1]), std::get<double>(row[2])}});
    }
    return all;
}

}  // namespace

// Beacons that do not gather around one place give no home: a worldwide
// list, logs of two continents, a ring with nothing near its middle. Nothing
// is then suggested, and the line says why and asks for the locator; a typed
// home is taken as it is, without a question about a centre that is none.
TEST(Home, NoHomeIsInferredFromBeaconsThatDoNotGatherAroundOnePlace) {
    const auto all = shippedBeacons();
    // The `most` beacons nearest to `point` between `fromKm` and `toKm`.
    const auto near = [&](LatLon point, double fromKm, double toKm, std::size_t most) {
        std::vector<std::pair<double, std::int64_t>> found;
        for (const auto& [id, position] : all) {
            const double km = greatCircleKm(point, position);
            if (km >= fromKm && km <= toKm) found.push_back({km, id});
        }
        std::sort(found.begin(), found.end());
        std::vector<std::int64_t> ids;
        for (std::size_t i = 0; i < found.size() && i < most; ++i) ids.push_back(found[i].second);
        return ids;
    };
    const LatLon europe{50.0, 10.0}, america{40.0, -90.0};
    std::vector<std::int64_t> worldwide;
    for (std::size_t i = 0; i < all.size(); i += 40) worldwide.push_back(all[i].first);
    std::vector<std::int64_t> twoContinents = near(europe, 0, 600, 40);
    for (auto id : near(america, 0, 600, 40)) twoContinents.push_back(id);
    const struct {
        const char* name;
        std::vector<std::int64_t> beacons;
        bool inferred;
        const char* why;  // in the line when not inferred
    } cases[] = {
        {"a region", near(europe, 0, 800, 60), true, ""},
        {"a region with far catches",
         [&] {
             auto ids = near(europe, 0, 900, 60);
             for (auto id : near(america, 0, 2000, 20)) ids.push_back(id);
             return ids;
         }(),
         true, ""},
        {"worldwide", worldwide, false, "too far apart"},
        {"two continents", twoContinents, false, "too far apart"},
        {"a ring", near(europe, 900, 1000, 400), false, "from the nearest of them"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const ProjectPaths paths = test::makeProject(dir.path());
        std::vector<std::pair<std::int64_t, int>> rows;
        for (auto id : c.beacons) rows.push_back({id, 2});
        logAt(paths.DatabasePath, rows);
        const LocationHome home = locationHome(paths, 2);
        EXPECT_EQ(home.source,
                  c.inferred ? LocationHome::Source::Inferred : LocationHome::Source::Unknown);
        EXPECT_EQ(home.position.has_value(), c.inferred);
        const std::string text = describeHome(home);
        if (c.inferred) {
            EXPECT_LT(greatCircleKm(*home.position, europe), 300.0);
            continue;
        }
        EXPECT_NE(text.find(c.why), std::string::npos) << text;
        EXPECT_NE(text.find("Set Home"), std::string::npos) << text;

        writeSettings(paths, "/data/Logs/");
        const LocationHome typed = previewHomeEntry(paths, 2, "JO65mq");
        EXPECT_EQ(typed.source, LocationHome::Source::Entered);
        EXPECT_FALSE(typed.inferred);
        EXPECT_FALSE(farFromInferredKm(typed));
    }
}

// A typed home outlives FINALIZE: the export measures distances and bearings
// from the same place before and after, and only `how` (whose record FINALIZE
// drops) goes.
TEST(Home, ATypedHomeOutlivesFinalizeAndTheExportStaysTheSame) {
    test::TempDir dir;
    const ProjectPaths paths = test::makeProject(dir.path());
    test::importDemoBackups(paths);
    writeSettings(paths, paths.BackupFolder);
    test::matchLocations(paths, {1, 2});
    writeHomeEntry(paths, 1, "JO65mq");  // far from the Ohio its beacons point to

    const auto exported = [&] {
        ExportSource source;
        source.paths = paths;
        ExportedLog log = readExportedLog(source);
        for (auto& r : log.receptions) {
            r.how.clear();
            // The ident and frequency as typed ("qb", "230.0") are read from
            // the working file, which FINALIZE removes; afterwards the
            // beacon's spelling stands in. Only the spelling may differ.
            const auto folded = [](std::string text) {
                for (char& c : text) c = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
                return text;
            };
            if (folded(r.ident) == folded(r.beaconIdent)) r.ident = r.beaconIdent;
            if (leadingNumber(r.frequency) == leadingNumber(r.beaconFrequency)) {
                r.frequency = r.beaconFrequency;
            }
        }
        return log;
    };
    const ExportedLog before = exported();
    ASSERT_EQ(before.locations.size(), 2u);
    ASSERT_TRUE(before.locations[0].home);
    EXPECT_LT(greatCircleKm(*before.locations[0].home, LatLon{55.69, 13.04}), 10.0);

    finalizeDecisionRecord(paths);
    removeWorkingFiles(paths);
    ASSERT_FALSE(fs::exists(paths.WorkFolder / kSettingsFile));
    const ExportedLog after = exported();
    // Line by line, so that a difference shows where it lies.
    const auto lines = [](const std::string& csv) {
        std::vector<std::string> out;
        for (std::size_t at = 0, end; at < csv.size(); at = end + 2) {
            end = csv.find("\r\n", at);
            out.push_back(csv.substr(at, end - at));
        }
        return out;
    };
    const auto was = lines(writeCsv(before, ExportOptions{}));
    const auto is = lines(writeCsv(after, ExportOptions{}));
    ASSERT_EQ(is.size(), was.size());
    for (std::size_t i = 0; i < was.size(); ++i) EXPECT_EQ(is[i], was[i]) << "line " << i + 1;
    EXPECT_EQ(after.locations[0].homeText, before.locations[0].homeText);
    EXPECT_EQ(locationHome(paths, 1).source, LocationHome::Source::Entered);
}

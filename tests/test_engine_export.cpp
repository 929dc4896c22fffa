// SPDX-License-Identifier: GPL-2.0-or-later
// What the export knows about each logged reception, and the pieces of the
// formats that other programs are strict about. The files as a whole are read
// back by independent readers in tests/export/readback.py.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "engine/LogExport.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

class ExportTest : public ::testing::Test {
  protected:
    ExportTest() : paths(test::makeProject(dir.path())) {}

    void log(std::int64_t beaconId, int location, const std::string& time, const std::string& date,
             const std::string& comment) {
        Database(paths.DatabasePath)
            .prepare(
                "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, "
                "ReceptionDate, ReceptionComments) VALUES (?, ?, ?, ?, ?)")
            .bind({beaconId, std::int64_t{location}, time, date, comment})
            .execute();
    }
    ExportedLog read(int location = 0) {
        ExportSource source;
        source.paths = paths;
        source.location = location;
        source.names[1] = "Home";
        source.howByLogId = {{1, "unique match"}};
        return readExportedLog(source);
    }

    test::TempDir dir;
    ProjectPaths paths;
};

TEST_F(ExportTest, EachRowTellsItsBeaconAsLoggedAndAsListed) {
    Database(paths.DatabasePath)
        .execute(
            "INSERT INTO NewBeacons (Ident, Country, State, City, frequency, Latitude, Longitude) "
            "VALUES ('ZUT', 'XXX', 'XX', 'Lake', 263.5, '47.0631', '-79.7925'), "
            "('QQ', 'CAN', 'ON', 'Nowhere', 400, 'north', '')");
    log(2, 1, "0632", "12/24/99", "GL as typed");  // listed: GL 398 Aalborg
    log(2, 1, "0633", "12/24/99", "");             // two typed pairs share this key
    log(3, 1, "0633", "12/24/99", "");             // ML 324
    log(20001, 1, "0700", "01/01/00", "own");
    log(20002, 2, "0800", "01/01/00", "own, no position");
    log(99999, 2, "0900", "01/01/00", "a beacon no table knows");
    // The working file still tells what was typed for the settled receptions.
    test::writeProcessed(paths.ProcessedPath,
                         {{1, "G-L", "398.0", "OK", "0632", "12/24/99", "GL as typed"},
                          {1, "GL", "398", "OK", "0633", "12/24/99"},
                          {1, "ml", "324", "OK", "0633", "12/24/99"},
                          {1, "ZUT", "263.5", "AMB", "0700", "01/01/00", "own"}});

    const ExportedLog all = read();
    ASSERT_EQ(all.receptions.size(), 6u);
    const struct {
        const char* ident;
        const char* frequency;
        const char* beaconIdent;
        const char* country;
        const char* province;
        bool own, known, positioned;
    } expected[] = {
        {"G-L", "398.0", "GL", "Denmark", "", false, true, true},
        {"GL", "398", "GL", "Denmark", "", false, true, true},
        {"ml", "324", "ML", "Denmark", "", false, true, true},
        {"ZUT", "263.5", "ZUT", "", "", true, true, true},  // an AMB record is no evidence
        {"QQ", "400", "QQ", "Canada", "ON", true, true, false},
        {"", "", "", "", "", false, false, false},
    };
    for (std::size_t i = 0; i < all.receptions.size(); ++i) {
        SCOPED_TRACE(i);
        const ExportedReception& r = all.receptions[i];
        const auto& e = expected[i];
        EXPECT_EQ(r.ident, e.ident);
        EXPECT_EQ(r.frequency, e.frequency);
        EXPECT_EQ(r.beaconIdent, e.beaconIdent);
        EXPECT_EQ(r.beaconCountry, e.country);
        EXPECT_EQ(r.beaconProvince, e.province);
        EXPECT_EQ(r.ownBeacon, e.own);
        EXPECT_EQ(r.beaconKnown, e.known);
        EXPECT_EQ(r.position.has_value(), e.positioned);
    }
    EXPECT_EQ(all.receptions[0].how, "unique match");
    EXPECT_EQ(all.receptions[1].how, "");
    ASSERT_EQ(all.locations.size(), 2u);
    EXPECT_EQ(all.locations[0].name, "Home");
    EXPECT_EQ(all.locations[1].name, "");

    // One location read alone, or cut from the whole, gives the same rows.
    for (const ExportedLog& two : {read(2), onlyLocation(all, 2)}) {
        ASSERT_EQ(two.receptions.size(), 2u);
        EXPECT_EQ(two.receptions[0].comment, "own, no position");
        ASSERT_EQ(two.locations.size(), 1u);
        EXPECT_EQ(two.locations[0].number, 2);
    }

    // After FINALIZE the database alone is left: the beacon's own ident stands in.
    fs::remove(paths.ProcessedPath);
    EXPECT_EQ(read().receptions[0].ident, "GL");
    EXPECT_EQ(read().receptions[0].frequency, "398");
}

TEST(ExportFormats, AsciiFolding) {
    const struct {
        const char* utf8;
        const char* ascii;
    } cases[] = {
        {"plain, \"quoted\" <&>", "plain, \"quoted\" <&>"},
        {"\xC3\xA9t\xC3\xA9 \xC3\x85rhus \xC3\x9F", "ete Arhus ss"},
        {"\xC3\x86\xC3\x98 \xC5\x92 \xE2\x82\xAC \xE2\x84\xA2", "AEO OE EUR TM"},
        {"tab\tCR\rLF\n", "tab CR LF "},
        {"\xE4\xB8\xAD \xF0\x9F\x93\xBB", "? ?"},  // beyond Windows-1252
        {"bad \xFF byte", "bad ? byte"},
    };
    for (const auto& c : cases) EXPECT_EQ(asciiFolded(c.utf8), c.ascii) << c.utf8;
}

TEST(ExportFormats, AdifPositionsAndLocators) {
    const struct {
        LatLon p;
        const char* lat;
        const char* lon;
        const char* locator;
    } cases[] = {
        {{57.08382, 9.68009}, "N057 05.029", "E009 40.805", "JO47uc"},
        {{-33.865, 151.209}, "S033 51.900", "E151 12.540", "QF56od"},
        {{0, 0}, "N000 00.000", "E000 00.000", "JJ00aa"},
        // 59.99996' rounds into the next whole degree, never to 60.000.
        {{10.9999999, -0.9999999}, "N011 00.000", "W001 00.000", "IK90mx"},
        {{90, 180}, "N090 00.000", "E180 00.000", "RR99xx"},
        {{-90, -180}, "S090 00.000", "W180 00.000", "AA00aa"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(adifLocation(c.p.lat, true), c.lat);
        EXPECT_EQ(adifLocation(c.p.lon, false), c.lon);
        EXPECT_EQ(locatorOf(c.p), c.locator) << c.p.lat << " " << c.p.lon;
    }
}

TEST(ExportFormats, ClosingMessageGroupsThousands) {
    EXPECT_EQ(exportSummary(ExportFormat::Adif, {3120, 4, 1200, 0}, "/x/log.adi"),
              "3,120 receptions of 4 locations written to /x/log.adi; 1,200 without a readable "
              "date are in the CSV only.");
}

}  // namespace

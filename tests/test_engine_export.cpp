// SPDX-License-Identifier: GPL-2.0-or-later
// What the export knows about each logged reception, and the pieces of the
// formats that other programs are strict about. The files as a whole are read
// back by independent readers in tests/export/readback.py.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "engine/HomePosition.h"
#include "engine/KmlExport.h"
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
        test::logRow(paths.DatabasePath, beaconId, location, time, date, comment);
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

TEST_F(ExportTest, OnlyATypedHomeGivesPositionsAndDistances) {
    // Location 1 has a typed home; location 2 five Danish beacons to infer one
    // from; location 3 one beacon and nothing typed.
    for (const std::int64_t beacon : {2, 3, 4, 695, 696}) log(beacon, 2, "1200", "1/1/99", "");
    log(2, 1, "1200", "1/1/99", "");
    log(2, 3, "1200", "1/1/99", "");
    test::writeFile(paths.WorkFolder / "settings.ini", "/nowhere/\r\nHome1=JO57fa\r\n");
    const ExportedLog all = read();
    const struct {
        int location;
        LocationHome::Source source;
        bool positioned;
    } cases[] = {
        {1, LocationHome::Source::Entered, true},
        {2, LocationHome::Source::Inferred, false},
        {3, LocationHome::Source::Unknown, false},
    };
    ASSERT_EQ(all.locations.size(), 3u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        const ExportedLocation& place = all.locations[static_cast<std::size_t>(c.location - 1)];
        EXPECT_EQ(place.homeSource, c.source);
        EXPECT_EQ(place.home.has_value(), c.positioned);
        for (const auto& r : all.receptions) {
            if (r.location != c.location) continue;
            EXPECT_EQ(r.distanceKm.has_value(), c.positioned);
            EXPECT_EQ(r.bearingDeg.has_value(), c.positioned);
        }
    }
}

TEST_F(ExportTest, TheOldPlaceholdersForNoProvinceAreBlank) {
    Database(paths.DatabasePath)
        .execute(
            "INSERT INTO NewBeacons (Ident, Country, State, City, frequency) VALUES "
            "('A', 'DNK', 'XXXX', 'Koge', 400), ('B', 'DNK', 'XX', 'Koge', 401), "
            "('C', 'CAN', 'ON', 'Lake', 402), ('D', 'XXX', 'XXON', 'Lake', 403)");
    for (std::int64_t own = 20001; own <= 20004; ++own) log(own, 1, "1200", "1/1/99", "");
    log(10, 1, "1200", "1/1/99", "");  // AA 396 Abemama, a listed beacon of country XXX
    const ExportedLog all = read();
    ASSERT_EQ(all.receptions.size(), 5u);
    const char* provinces[] = {"", "", "ON", "ON", ""};
    const char* countries[] = {"Denmark", "Denmark", "Canada", "", ""};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(all.receptions[i].beaconProvince, provinces[i]) << i;
        EXPECT_EQ(all.receptions[i].beaconCountry, countries[i]) << i;
    }
}

TEST(ExportFormats, EachLocationsDatesAreReadInTheirOwnOrder) {
    ExportedLog log;
    // 1 month first, 2 day first, 3 mixed, 4 undecided.
    const std::pair<int, const char*> rows[] = {{1, "12/24/99"}, {1, "05/06/97"}, {2, "24/12/99"},
                                                {2, "05.06.97"}, {3, "24/12/99"}, {3, "12/24/99"},
                                                {4, "01/02/03"}};
    for (const auto& [location, date] : rows) {
        ExportedReception r;
        r.location = location;
        r.date = date;
        log.receptions.push_back(r);
        if (log.locations.empty() || log.locations.back().number != location) {
            log.locations.push_back({location, "", std::nullopt, {}, ""});
        }
    }
    using O = DateOrder;
    const struct {
        const char* what;
        std::optional<O> every;
        std::vector<std::pair<int, O>> byLocation;
        std::vector<O> orders;  // of locations 1 to 4
        std::vector<int> mixed, undecided;
    } cases[] = {
        {"detected", {}, {}, {O::MonthFirst, O::DayFirst, O::MonthFirst, O::MonthFirst}, {3}, {4}},
        {"one for all",
         O::DayFirst,
         {},
         {O::DayFirst, O::DayFirst, O::DayFirst, O::DayFirst},
         {},
         {}},
        {"per location",
         {},
         {{3, O::DayFirst}, {4, O::DayFirst}},
         {O::MonthFirst, O::DayFirst, O::DayFirst, O::DayFirst},
         {},
         {}},
        {"per location wins",
         O::MonthFirst,
         {{2, O::DayFirst}},
         {O::MonthFirst, O::DayFirst, O::MonthFirst, O::MonthFirst},
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DateOrderChoice choice;
        choice.every = c.every;
        choice.byLocation.insert(c.byLocation.begin(), c.byLocation.end());
        const ResolvedDateOrders resolved = resolveDateOrders(log, choice);
        for (int n = 1; n <= 4; ++n) {
            EXPECT_EQ(resolved.orders.of(n), c.orders[static_cast<std::size_t>(n - 1)]) << n;
        }
        EXPECT_EQ(resolved.mixed, c.mixed);
        EXPECT_EQ(resolved.undecided, c.undecided);
    }
}

TEST(ExportFormats, SpreadsheetCellsNeverRunAsFormulas) {
    const struct {
        const char* text;
        const char* safe;
    } cases[] = {
        {"=1+1", "'=1+1"},       {"=cmd|' /C calc'!A0", "'=cmd|' /C calc'!A0"},
        {"+1", "'+1"},           {"-5 dB", "'-5 dB"},
        {"@SUM(1)", "'@SUM(1)"}, {"\tx", "'\tx"},
        {"\rx", "'\rx"},         {"a=1", "a=1"},
        {" =1", " =1"},          {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(spreadsheetSafe(c.text), c.safe) << c.text;
}

TEST(ExportFormats, AdifBands) {
    const struct {
        double kHz;
        const char* band;
    } cases[] = {
        {135.7, "2190m"}, {137.8, "2190m"}, {137.81, ""},   {300, ""},      {471.9, ""},
        {472, "630m"},    {474.5, "630m"},  {479, "630m"},  {479.1, ""},    {501, "560m"},
        {504, "560m"},    {1799, ""},       {1800, "160m"}, {2000, "160m"}, {3600, "80m"},
        {7050, "40m"},    {10125, "30m"},   {14000, "20m"}, {28500, "10m"}, {50000, "6m"},
    };
    for (const auto& c : cases) EXPECT_EQ(adifBand(c.kHz), c.band) << c.kHz;
}

TEST(ExportFormats, AdifLeavesOutWhatItCannotHoldAsAContact) {
    ExportedLog log;
    log.locations.push_back({1, "", std::nullopt, {}, ""});
    const struct {
        const char* date;
        const char* time;
        AdifGap gap;
    } cases[] = {
        {"12/24/99", "0632", AdifGap::None},         {"1/1/1930", "0000", AdifGap::None},
        {"12/31/1929", "2359", AdifGap::Early},      {"05/01/1899", "0632", AdifGap::Early},
        {"summer", "0632", AdifGap::UnreadableDate}, {"12/24/99", "", AdifGap::NoTime},
        {"12/24/99", "2400", AdifGap::NoTime},       {"12/24/99", "24:00", AdifGap::NoTime},
        {"12/24/99", "noon", AdifGap::NoTime},
    };
    for (const auto& c : cases) {
        ExportedReception r;
        r.location = 1;
        r.date = c.date;
        r.time = c.time;
        r.frequency = "474.5";
        EXPECT_EQ(adifGap(r, DateOrder::MonthFirst), c.gap) << c.date << " " << c.time;
        log.receptions.push_back(r);
    }
    ExportCounts counts;
    const std::string adif = writeAdif(log, {}, {}, &counts);
    EXPECT_EQ((std::array{counts.written, counts.unreadable, counts.early, counts.noTime}),
              (std::array{2, 1, 2, 4}));
    EXPECT_EQ(adif.find("<QSO_DATE:8>18"), std::string::npos);
    EXPECT_EQ(adif.find("<QSO_DATE:8>1929"), std::string::npos);
    EXPECT_NE(adif.find("<FREQ:6>0.4745 <BAND:4>630m "), std::string::npos);
    EXPECT_EQ(exportSummary(ExportFormat::Adif, counts, "x.adi"),
              "2 receptions of 1 location written to x.adi; 7 are in the CSV only: 1 without a "
              "readable date, 2 dated before 1930 (ADIF holds no earlier date) and 4 without a "
              "usable time (empty, 24:00 or other text).");
    const ExportCounts gaps = adifGaps(log, DateOrder::MonthFirst);
    EXPECT_EQ((std::array{gaps.unreadable, gaps.early, gaps.noTime}), (std::array{1, 2, 4}));
}

TEST(ExportFormats, AdifTextsNeverOpenATag) {
    ExportedLog log;
    log.locations.push_back({1, "<Lake>", std::nullopt, {}, ""});
    ExportedReception r;
    r.location = 1;
    r.date = "12/24/99";
    r.time = "0632";
    r.ident = "GL";
    r.comment = "<CALL:4>FAKE a<b \xE2\x80\xB9x\xE2\x80\xBA";
    log.receptions.push_back(r);
    ExportOptions options;
    options.stationCallsign = " DE-1234 ";
    const std::string adif = writeAdif(log, options, {"1.0", "20260101 000000"});
    EXPECT_NE(adif.find("<COMMENT:20>[CALL:4]FAKE a[b [x] "), std::string::npos) << adif;
    EXPECT_NE(adif.find("<STATION_CALLSIGN:7>DE-1234 <OPERATOR:7>DE-1234 "), std::string::npos);
    EXPECT_NE(adif.find("_LOCATION_NAME:6>[Lake] "), std::string::npos);
    // Without a callsign neither field is written.
    EXPECT_EQ(writeAdif(log, {}, {}).find("OPERATOR"), std::string::npos);
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

TEST(ExportFormats, ClosingMessages) {
    const struct {
        ExportFormat format;
        ExportCounts counts;
        const char* text;
    } cases[] = {
        {ExportFormat::Adif,
         {3120, 4, 1200, 0},
         "3,120 receptions of 4 locations written to x; 1,200 without a readable date are in "
         "the CSV only."},
        {ExportFormat::Adif,
         {3, 1, 0, 0, 0, 1},
         "3 receptions of 1 location written to x; 1 without a usable time (empty, 24:00 or "
         "other text) is in the CSV only."},
        {ExportFormat::Kml,
         {5, 1, 0, 3, 0, 0, 1},
         "3 beacons of 5 receptions of 1 location written to x; 1 beacon has no known position "
         "and is listed without a place on the map."},
        {ExportFormat::Kml,
         {5, 1, 0, 3, 0, 0, 2},
         "3 beacons of 5 receptions of 1 location written to x; 2 beacons have no known "
         "position and are listed without a place on the map."},
    };
    for (const auto& c : cases) EXPECT_EQ(exportSummary(c.format, c.counts, "x"), c.text);
}

// Map files written before the writer moved out of the window kept every
// character of the listener's texts as below; a viewer that read them must
// read the new ones alike.
TEST(ExportFormats, KmlTextsAsTheMapFileHasAlwaysWrittenThem) {
    const struct {
        const char* text;
        const char* written;
    } cases[] = {
        {"A & B", "A &amp; B"},
        {"<b>x</b>", "&lt;b&gt;x&lt;/b&gt;"},
        {"say \"hi\" 'there'", "say &quot;hi&quot; 'there'"},
        {"Sk\xC3\xA6lsk\xC3\xB8r \xE2\x80\x93 \xF0\x9F\x93\xBB",
         "Sk\xC3\xA6lsk\xC3\xB8r \xE2\x80\x93 \xF0\x9F\x93\xBB"},
        {"tab\tCR\rLF\n", "tab\tCR\rLF\n"},
        {"nul\x01"
         "bell\x07vt\x0B"
         "ff\x0C"
         "esc\x1B",
         "nulbellvtffesc"},
        {"del\x7F"
         "c1\xC2\x85",
         "del\x7F"
         "c1\xC2\x85"},
        {"\xEF\xBF\xBE\xEF\xBF\xBFnon", "non"},
        {"bad \xC3 \x80 \xFF \xED\xA0\x80 end",
         "bad \xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end"},
    };
    for (const auto& c : cases) EXPECT_EQ(xmlEscaped(c.text), c.written) << c.text;
}

TEST(ExportFormats, KmlFileAsWritten) {
    ExportedLog log;
    ExportedLocation place;
    place.number = 3;
    // A leading byte-order mark and the controls are no part of a name.
    place.name =
        "\xEF\xBB\xBF"
        "Cabin & \"Lake\"\x01";
    place.home = LatLon{-0.0, 12.3515625};
    place.homeText = "Home: <typed>";
    log.locations.push_back(place);
    ExportedReception r;
    r.location = 3;
    r.beaconId = 7;
    r.beaconKnown = true;
    r.beaconIdent = "AB<";
    r.beaconFrequency = "350";
    r.beaconCity = "\xEF\xBB\xBF";
    r.beaconCountry = "A&B";
    r.position = LatLon{-0.0000001, 179.9999995};
    r.distanceKm = 12345.6;
    r.date = "12/24/99";
    log.receptions = {r, r};
    log.receptions[1].date = "01/02/00";
    ExportedReception unknown;
    unknown.location = 3;
    unknown.beaconId = 99999;
    log.receptions.push_back(unknown);
    EXPECT_EQ(writeKml(log, DateOrders(DateOrder::MonthFirst)),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
              " <Document>\n"
              "  <name>NDB log</name>\n"
              "  <Folder>\n"
              "   <name>Cabin &amp; &quot;Lake&quot; </name>\n"
              "   <description>Listening location 3</description>\n"
              "   <Placemark>\n"
              "    <name>Home \xE2\x80\x93 Cabin &amp; &quot;Lake&quot; </name>\n"
              "    <description>Home: &amp;lt;typed&amp;gt;</description>\n"
              "    <Point>\n"
              "     <coordinates>12.351563,0.000000,0</coordinates>\n"
              "    </Point>\n"
              "   </Placemark>\n"
              "   <Placemark>\n"
              "    <name>AB&lt; 350 kHz</name>\n"
              "    <description>, A&amp;amp;B&lt;br&gt;12,346 km from home&lt;br&gt;2 "
              "receptions&lt;br&gt;First heard 1999-12-24&lt;br&gt;Last heard "
              "2000-01-02</description>\n"
              "    <Point>\n"
              "     <coordinates>180.000000,-0.000000,0</coordinates>\n"
              "    </Point>\n"
              "   </Placemark>\n"
              "   <Placemark>\n"
              "    <name>Beacon 99999</name>\n"
              "    <description>Position unknown&lt;br&gt;1 reception&lt;br&gt;No readable "
              "date</description>\n"
              "   </Placemark>\n"
              "  </Folder>\n"
              " </Document>\n"
              "</kml>\n");
}

}  // namespace

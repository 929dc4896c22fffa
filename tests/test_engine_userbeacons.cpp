#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "db/Database.h"
#include "work/UserBeacons.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

// A field as the old product stored it: every byte 2 higher, padded with
// stored blanks.
std::string stored(std::string_view text, std::size_t width) {
    std::string out;
    for (char c : text.substr(0, width)) {
        out += static_cast<char>(static_cast<unsigned char>(c) + 2);
    }
    out.resize(width, ' ');
    return out;
}

struct Beacon {
    std::string ident, frequency, country = "USA", state = "ON", city = "Springfield";
    std::string asOf = "200104", daid = "3", genNotes = "note";
};

std::string record(const Beacon& b) {
    std::string r = stored(b.ident, 7) + stored(b.country, 3) + stored(b.state, 2) +
                    stored(b.city, 30) + stored(b.frequency, 6) + stored("HW", 7) +
                    stored("25", 5) + stored("45.12345N", 9) + stored("075.54321W", 10) +
                    stored(b.asOf, 6) + stored("ID 8s", 20) + stored("1020", 5) + stored("", 5) +
                    stored(b.daid, 1) + stored(b.genNotes, 90) + std::string(7, ' ');
    EXPECT_EQ(r.size(), UserBeaconRecord::kLength);
    return r;
}

std::string records(const std::vector<Beacon>& beacons) {
    std::string bytes;
    for (const auto& b : beacons) bytes += record(b);
    return bytes;
}

struct NewBeacon {
    std::int64_t id;
    std::string ident, country, city;
    double frequency;
    bool operator==(const NewBeacon&) const = default;
};

std::vector<NewBeacon> newBeacons(Database& db) {
    std::vector<NewBeacon> rows;
    const auto result =
        db.prepare(
              "SELECT newbeacon_ID, Ident, Country, City, frequency FROM NewBeacons "
              "ORDER BY newbeacon_ID")
            .query();
    for (const auto& r : result.rows) {
        rows.push_back({std::get<std::int64_t>(r[0]), dbValueText(r[1]), dbValueText(r[2]),
                        dbValueText(r[3]), std::get<double>(r[4])});
    }
    return rows;
}

class UserBeaconsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(backup);
        test::copyPristineDatabase(dir / "ndbdata.ndf");
        db.emplace(dir / "ndbdata.ndf");
    }
    test::TempDir dir;
    fs::path backup = dir / "backup";
    std::optional<Database> db;
};

TEST(UnshiftText, DecodesEveryByteTwoLowerAndDropsStoredBlanks) {
    struct Case {
        std::string in, out;
    };
    const std::vector<Case> cases = {
        {"cde", "abc"},
        {"   ", ""},    // stored blanks vanish
        {"c d", "ab"},  // also inside a text
        {"\"", " "},    // a real blank is stored as code 34
        {std::string("\x00\x01"
                     "c",
                     3),
         "a"},  // codes 0 and 1 have nothing below
        {std::string("\x02", 1), std::string("\x00", 1)},
        {"\x80\xFF", "\x7E\xFD"},  // high bytes shift like the others
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(UnshiftText(c.in), c.out);
    }
}

TEST(UserBeaconRecord, DecodesEachFieldAtItsOffset) {
    Beacon b{"AB1", "277.5", "CAN", "BC", "Prince George"};
    b.asOf = "199912";
    b.genNotes = std::string(90, 'n');
    const auto rec = UserBeaconRecord::decode(record(b));
    EXPECT_EQ(rec.Ident, "AB1");
    EXPECT_EQ(rec.Country, "CAN");
    EXPECT_EQ(rec.State, "BC");
    EXPECT_EQ(rec.City, "Prince George");
    EXPECT_EQ(rec.Frequency, "277.5");
    EXPECT_EQ(rec.PowerClass, "HW");
    EXPECT_EQ(rec.Power, "25");
    EXPECT_EQ(rec.Latitude, "45.12345N");
    EXPECT_EQ(rec.Longitude, "075.54321W");
    EXPECT_EQ(rec.AsOf, "199912");
    EXPECT_EQ(rec.Cycle, "ID 8s");
    EXPECT_EQ(rec.usb, "1020");
    EXPECT_EQ(rec.lsb, "");
    EXPECT_EQ(rec.DAID, "3");
    EXPECT_EQ(rec.GenNotes, std::string(90, 'n'));
}

TEST(MapUserBeacon, ColumnRules) {
    struct Case {
        const char* name;
        Beacon beacon;
        std::string NewBeaconRow::*column;
        std::string expected;
    };
    auto with = [](auto change) {
        Beacon b{"AB1", "277"};
        change(b);
        return b;
    };
    const std::vector<Case> cases = {
        {"country of one blank", with([](Beacon& b) { b.country = " "; }), &NewBeaconRow::Country,
         "XXX"},
        {"country with an inner blank", with([](Beacon& b) { b.country = "U K"; }),
         &NewBeaconRow::Country, "UXXXK"},
        {"country never written", with([](Beacon& b) { b.country = ""; }), &NewBeaconRow::Country,
         ""},
        {"state of one blank", with([](Beacon& b) { b.state = " "; }), &NewBeaconRow::State, "XX"},
        {"as-of loses its blanks", with([](Beacon& b) { b.asOf = "01 0 3"; }), &NewBeaconRow::AsOf,
         "0103"},
        {"city trimmed", with([](Beacon& b) { b.city = "  Oslo "; }), &NewBeaconRow::City, "Oslo"},
        {"city in Windows-1252", with([](Beacon& b) {
             b.city =
                 "Montr\xE9"
                 "al";
         }),
         &NewBeaconRow::City,
         "Montr\xC3\xA9"
         "al"},
        {"numeric DAID", with([](Beacon& b) { b.daid = "7"; }), &NewBeaconRow::DAID, "7"},
        {"empty DAID", with([](Beacon& b) { b.daid = ""; }), &NewBeaconRow::DAID, "0"},
        {"DAID that is no number", with([](Beacon& b) { b.daid = "x"; }), &NewBeaconRow::DAID, "0"},
        {"notes of 90 characters stay whole",
         with([](Beacon& b) { b.genNotes = std::string(89, 'g') + "!"; }), &NewBeaconRow::GenNotes,
         std::string(89, 'g') + "!"},
        {"notes trimmed", with([](Beacon& b) { b.genNotes = " a b "; }), &NewBeaconRow::GenNotes,
         "a b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto row =
            mapUserBeacon(UserBeaconRecord::decode(record(c.beacon)), "ab\xC4", " 277.0");
        EXPECT_EQ(row.*c.column, c.expected);
        EXPECT_EQ(row.Ident, "ab\xC3\x84");  // the caller's text, as UTF-8
        EXPECT_EQ(row.frequency, 277.0);     // the caller's text read as a number
    }
}

TEST_F(UserBeaconsTest, AddsAFoundBeaconOnceAndNumbersItByItsRow) {
    test::writeFile(backup / "ndb.dat",
                    records({{"ZZA", "277"}, {"ZZB", "263.5", "CAN"}, {"ZZC", "400"}}));
    // Earlier rows with a gap: the table holds two rows, the next number is 4.
    for (int i = 0; i < 3; ++i) {
        db->prepare("INSERT INTO NewBeacons (Ident, frequency) VALUES ('OLD', 100)").execute();
    }
    db->prepare("DELETE FROM NewBeacons WHERE newbeacon_ID = 2").execute();

    UserBeaconIndex index(backup, *db);
    const auto first = index.LookupUserBeacon("ZZB", "263.5");
    EXPECT_TRUE(first.UserBeaconFound);
    EXPECT_FALSE(first.UserBeaconKnown);
    EXPECT_EQ(first.UserBeaconID, 4);

    const auto again = index.LookupUserBeacon("ZZB", "263.5");
    EXPECT_TRUE(again.UserBeaconFound);
    EXPECT_TRUE(again.UserBeaconKnown);
    EXPECT_EQ(again.UserBeaconID, 4);

    // A second run reads the table afresh and finds the row.
    UserBeaconIndex later(backup, *db);
    const auto third = later.LookupUserBeacon("ZZB", "263.5");
    EXPECT_TRUE(third.UserBeaconKnown);
    EXPECT_EQ(third.UserBeaconID, 4);

    const auto rows = newBeacons(*db);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows.back(), (NewBeacon{4, "ZZB", "CAN", "Springfield", 263.5}));
}

TEST_F(UserBeaconsTest, MatchesTheFileExactlyAsText) {
    test::writeFile(backup / "ndb.dat", records({{"ZZA", "277"}, {"ZZD", "0350"}}));
    UserBeaconIndex index(backup, *db);
    struct Case {
        const char* ident;
        const char* frequency;
        bool found;
    };
    const std::vector<Case> cases = {
        {"ZZA", "277", true},   {"ZZA", "277.0", false}, {"zza", "277", false},
        {"ZZA", "278", false},  {"ZZD", "350", false},   {"ZZD", "0350", true},
        {"ZZA ", "277", false}, {"", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ident) + "/" + c.frequency);
        EXPECT_EQ(index.LookupUserBeacon(c.ident, c.frequency).UserBeaconFound, c.found);
    }
    EXPECT_EQ(newBeacons(*db).size(), 2u);
}

TEST_F(UserBeaconsTest, FirstRecordGivesTheValuesAndTheLastKnownRowTheNumber) {
    // The same beacon twice in the file: the first record's values are used,
    // and the old look-up, which went on to the second record, called it known.
    test::writeFile(backup / "ndb.dat", records({{"ZZA", "277", "DEU", "BY", "First"},
                                                 {"ZZA", "277", "FRA", "XX", "Second"}}));
    UserBeaconIndex index(backup, *db);
    const auto found = index.LookupUserBeacon("ZZA", "277");
    EXPECT_TRUE(found.UserBeaconFound);
    EXPECT_TRUE(found.UserBeaconKnown);
    ASSERT_EQ(newBeacons(*db).size(), 1u);
    EXPECT_EQ(newBeacons(*db)[0].city, "First");

    // Two rows of one beacon from earlier work: the number is the last row's,
    // whichever frequency text produced it.
    db->prepare("INSERT INTO NewBeacons (Ident, frequency) VALUES ('ZZE  ', 300)").execute();
    db->prepare("INSERT INTO NewBeacons (Ident, frequency) VALUES ('ZZE', 300.0)").execute();
    const auto last = db->lastInsertRowId();
    test::writeFile(backup / "ndb.dat", records({{"ZZE", "300.0"}}));
    UserBeaconIndex second(backup, *db);
    const auto known = second.LookupUserBeacon("ZZE", "300.0");
    EXPECT_TRUE(known.UserBeaconKnown);
    EXPECT_EQ(known.UserBeaconID, last);
    EXPECT_EQ(newBeacons(*db).size(), 3u);
}

TEST_F(UserBeaconsTest, FindsTheFileWithoutRegardToCaseAndFallsBackToTheBackup) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // name, ident stored
        bool foundZZA, foundZZB;
    };
    const std::vector<Case> cases = {
        {"ndb.dat", {{"ndb.dat", "ZZA"}}, true, false},
        {"NDB.DAT from a Windows disk", {{"NDB.DAT", "ZZA"}}, true, false},
        {"only the backup", {{"ndb.bak", "ZZB"}}, false, true},
        {"only the backup, upper case", {{"NDB.BAK", "ZZB"}}, false, true},
        {"the working file wins", {{"ndb.dat", "ZZA"}, {"ndb.bak", "ZZB"}}, true, false},
        {"neither", {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / ("case-" + std::to_string(&c - cases.data()));
        fs::create_directories(folder);
        for (const auto& [name, ident] : c.files) {
            test::writeFile(folder / name, records({{ident, "277"}}));
        }
        const auto before = test::snapshot(folder);
        UserBeaconIndex index(folder, *db);
        EXPECT_EQ(index.LookupUserBeacon("ZZA", "277").UserBeaconFound, c.foundZZA);
        EXPECT_EQ(index.LookupUserBeacon("ZZB", "277").UserBeaconFound, c.foundZZB);
        EXPECT_EQ(test::snapshot(folder), before);  // nothing created or changed there
    }
    UserBeaconIndex missingFolder(dir / "no such folder", *db);
    EXPECT_FALSE(missingFolder.LookupUserBeacon("ZZA", "277").UserBeaconFound);
    EXPECT_FALSE(fs::exists(dir / "no such folder"));
}

TEST_F(UserBeaconsTest, ALastRecordOfAtLeastHalfIsReadWithBlanksForTheRest) {
    const std::string two = records({{"ZZA", "277"}, {"ZZB", "300"}});
    struct Case {
        std::size_t length;
        bool foundSecond;
    };
    // The second record's ident and frequency lie within its first 48 bytes.
    const std::vector<Case> cases = {
        {213 + 213, true}, {213 + 107, true}, {213 + 106, false}, {213 + 48, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        test::writeFile(backup / "ndb.dat", two.substr(0, c.length));
        UserBeaconIndex index(backup, *db);
        EXPECT_TRUE(index.LookupUserBeacon("ZZA", "277").UserBeaconFound);
        EXPECT_EQ(index.LookupUserBeacon("ZZB", "300").UserBeaconFound, c.foundSecond);
    }
    // The cut-off part of the partial record reads as nothing.
    const auto rows = newBeacons(*db);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].ident, "ZZB");
}

}  // namespace

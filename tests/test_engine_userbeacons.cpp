#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
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

// The NewBeacons rows as "id ident country city frequency".
std::vector<std::string> newBeacons(Database& db) {
    std::vector<std::string> rows;
    for (const auto& r : db.query("SELECT newbeacon_ID || ' ' || Ident || ' ' || Country || ' ' "
                                  "|| City || ' ' || frequency AS r FROM NewBeacons "
                                  "ORDER BY newbeacon_ID")
                             .rows) {
        rows.push_back(dbValueText(r.at(0)));
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
    const std::pair<std::string, std::string> cases[] = {
        {"cde", "abc"},
        {"   ", ""},                                // stored blanks vanish
        {"c d", "ab"},                              // also inside a text
        {"\"", " "},                                // a real blank is stored as code 34
        {std::string("\0\1c", 3), "a"},             // codes 0 and 1 have nothing below
        {std::string("\2", 1), std::string(1, 0)},  // code 2 is a NUL
        {"\x80\xFF", "\x7E\xFD"},                   // high bytes shift like the others
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(UnshiftText(in), out) << in;
}

TEST(UserBeaconRecord, DecodesEachFieldAtItsOffset) {
    Beacon b{"AB1", "277.5", "CAN", "BC", "Prince George"};
    b.genNotes = std::string(90, 'n');
    const auto r = UserBeaconRecord::decode(record(b));
    EXPECT_EQ((std::vector<std::string>{r.Ident, r.Country, r.State, r.City, r.Frequency,
                                        r.PowerClass, r.Power, r.Latitude, r.Longitude, r.AsOf,
                                        r.Cycle, r.usb, r.lsb, r.DAID, r.GenNotes}),
              (std::vector<std::string>{"AB1", "CAN", "BC", "Prince George", "277.5", "HW", "25",
                                        "45.12345N", "075.54321W", "200104", "ID 8s", "1020", "",
                                        "3", std::string(90, 'n')}));
}

TEST(MapUserBeacon, ColumnRules) {
    using B = Beacon;
    using R = NewBeaconRow;
    const struct {
        std::string B::*field;
        std::string stored;
        std::string R::*column;
        std::string expected;
    } cases[] = {
        {&B::country, " ", &R::Country, "XXX"},
        {&B::country, "U K", &R::Country, "UXXXK"},
        {&B::country, "", &R::Country, ""},
        {&B::state, " ", &R::State, "XX"},
        {&B::asOf, "01 0 3", &R::AsOf, "0103"},
        {&B::city, "  Oslo ", &R::City, "Oslo"},
        {&B::city, "Montr\351al", &R::City, "Montr\303\251al"},  // Windows-1252
        {&B::daid, "7", &R::DAID, "7"},
        {&B::daid, "", &R::DAID, "0"},
        {&B::daid, "x", &R::DAID, "0"},
        {&B::genNotes, std::string(89, 'g') + "!", &R::GenNotes, std::string(89, 'g') + "!"},
        {&B::genNotes, " a b ", &R::GenNotes, "a b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.stored + "'");
        Beacon b{"AB1", "277"};
        b.*c.field = c.stored;
        const auto row = mapUserBeacon(UserBeaconRecord::decode(record(b)), "ab\xC4", " 277.0");
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

    const auto lookUp = [](UserBeaconIndex& index) {
        const auto r = index.LookupUserBeacon("ZZB", "263.5");
        return std::tuple(r.UserBeaconFound, r.UserBeaconKnown, r.UserBeaconID);
    };
    UserBeaconIndex index(backup, *db);
    EXPECT_EQ(lookUp(index), std::tuple(true, false, 4));
    EXPECT_EQ(lookUp(index), std::tuple(true, true, 4));
    // A second run reads the table afresh and finds the row.
    UserBeaconIndex later(backup, *db);
    EXPECT_EQ(lookUp(later), std::tuple(true, true, 4));

    EXPECT_EQ(newBeacons(*db), (std::vector<std::string>{"", "", "4 ZZB CAN Springfield 263.5"}));
}

TEST_F(UserBeaconsTest, MatchesTheFileExactlyAsText) {
    test::writeFile(backup / "ndb.dat", records({{"ZZA", "277"}, {"ZZD", "0350"}}));
    UserBeaconIndex index(backup, *db);
    const struct {
        const char *ident, *frequency;
        bool found;
    } cases[] = {
        {"ZZA", "277", true},  {"ZZA", "277.0", false}, {"zza", "277", false},
        {"ZZD", "350", false}, {"ZZD", "0350", true},   {"ZZA ", "277", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(index.LookupUserBeacon(c.ident, c.frequency).UserBeaconFound, c.found)
            << c.ident << "/" << c.frequency;
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
    EXPECT_TRUE(found.UserBeaconFound && found.UserBeaconKnown);
    EXPECT_EQ(newBeacons(*db), std::vector<std::string>{"1 ZZA DEU First 277.0"});

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
    const struct {
        std::vector<std::pair<std::string, std::string>> files;  // name, ident stored
        bool foundZZA, foundZZB;
    } cases[] = {
        {{{"NDB.DAT", "ZZA"}}, true, false},  // from a Windows disk
        {{{"ndb.bak", "ZZB"}}, false, true},
        {{{"NDB.BAK", "ZZB"}}, false, true},
        {{{"ndb.dat", "ZZA"}, {"ndb.bak", "ZZB"}}, true, false},  // the working file wins
        {{}, false, false},
    };
    for (const auto& c : cases) {
        const fs::path folder = dir / ("case-" + std::to_string(&c - cases));
        fs::create_directories(folder);
        for (const auto& [name, ident] : c.files) {
            test::writeFile(folder / name, records({{ident, "277"}}));
        }
        const auto before = test::snapshot(folder);
        UserBeaconIndex index(folder, *db);
        EXPECT_EQ(index.LookupUserBeacon("ZZA", "277").UserBeaconFound, c.foundZZA) << folder;
        EXPECT_EQ(index.LookupUserBeacon("ZZB", "277").UserBeaconFound, c.foundZZB) << folder;
        EXPECT_EQ(test::snapshot(folder), before);  // nothing created or changed there
    }
    UserBeaconIndex missingFolder(dir / "no such folder", *db);
    EXPECT_FALSE(missingFolder.LookupUserBeacon("ZZA", "277").UserBeaconFound);
    EXPECT_FALSE(fs::exists(dir / "no such folder"));
}

TEST_F(UserBeaconsTest, ALastRecordOfAtLeastHalfIsReadWithBlanksForTheRest) {
    const std::string two = records({{"ZZA", "277"}, {"ZZB", "300"}});
    // The second record's ident and frequency lie within its first 48 bytes.
    const std::pair<std::size_t, bool> cases[] = {
        {213 + 48, false}, {213 + 106, false}, {213 + 107, true}, {213 + 213, true}};
    for (const auto& [length, foundSecond] : cases) {
        test::writeFile(backup / "ndb.dat", two.substr(0, length));
        UserBeaconIndex index(backup, *db);
        EXPECT_TRUE(index.LookupUserBeacon("ZZA", "277").UserBeaconFound);
        EXPECT_EQ(index.LookupUserBeacon("ZZB", "300").UserBeaconFound, foundSecond) << length;
    }
    EXPECT_EQ(newBeacons(*db).back(), "2 ZZB USA Springfield 300.0");
}

}  // namespace

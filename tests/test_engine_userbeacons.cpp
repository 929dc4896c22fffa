// SPDX-License-Identifier: GPL-2.0-or-later
#include <optional>

#include "EngineTestUtil.h"
#include "engine/LogStore.h"
#include "engine/UserBeacons.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// A field as the old product stored it: every byte 2 higher, padded with
// stored blanks.
std::string stored(std::string_view text, std::size_t width) {
    std::string out(text.substr(0, width));
    for (char& c : out) c = static_cast<char>(static_cast<unsigned char>(c) + 2);
    return out + std::string(width - out.size(), ' ');
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
    void SetUp() override { db.emplace(makeProject(dir.path()).DatabasePath); }
    TempDir dir;
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

TEST_F(UserBeaconsTest, AddsABeaconOnceWithItsFirstRecordsValuesAndTheLastRowsNumber) {
    // Earlier rows with a gap: the next number is 4, not the row count plus one.
    for (int i = 0; i < 3; ++i) db->execute("INSERT INTO NewBeacons (Ident) VALUES ('OLD')");
    db->execute("DELETE FROM NewBeacons WHERE newbeacon_ID = 2");
    // ZZA twice in the file: the first record's values are used, and the old
    // look-up, which went on to the second record, called it known.
    writeFile(dir / "ndb.dat", record({"ZZB", "263.5", "CAN"}) +
                                   record({"ZZA", "277", "DEU", "BY", "First"}) +
                                   record({"ZZA", "277", "FRA", "XX", "Second"}));
    const auto lookUp = [](UserBeaconIndex& index, const char* ident, const char* frequency) {
        const auto r = index.LookupUserBeacon(ident, frequency);
        return std::tuple(r.UserBeaconFound, r.UserBeaconKnown, r.UserBeaconID);
    };
    LogStore store(*db);
    UserBeaconIndex index(dir.path(), store);
    EXPECT_EQ(lookUp(index, "ZZB", "263.5"), std::tuple(true, false, 4));
    EXPECT_EQ(lookUp(index, "ZZB", "263.5"), std::tuple(true, true, 4));
    EXPECT_EQ(lookUp(index, "ZZA", "277"), std::tuple(true, true, 5));

    // A second run reads the table afresh. Of two rows of one beacon from
    // earlier work the last gives the number, whichever frequency text made it.
    db->execute("INSERT INTO NewBeacons (Ident, frequency) VALUES ('ZZE  ', 300), ('ZZE', 300.0)");
    writeFile(dir / "ndb.dat", record({"ZZB", "263.5"}) + record({"ZZE", "300.0"}));
    UserBeaconIndex later(dir.path(), store);
    EXPECT_EQ(lookUp(later, "ZZB", "263.5"), std::tuple(true, true, 4));
    EXPECT_EQ(lookUp(later, "ZZE", "300.0"), std::tuple(true, true, 7));
    EXPECT_EQ(newBeacons(*db), (std::vector<std::string>{"", "", "4 ZZB CAN Springfield 263.5",
                                                         "5 ZZA DEU First 277.0", "", ""}));
}

TEST_F(UserBeaconsTest, FindsTheFileAndTheBeaconsExactlyAsStoredAndWritesNothingThere) {
    const std::string zza = record({"ZZA", "277"}), zzb = record({"ZZB", "300"}),
                      zzc = record({"ZZC", "300"});
    const struct {
        const char* name;
        std::map<std::string, std::string> files;
        std::vector<std::tuple<const char*, const char*, bool>> lookups;  // found?
    } cases[] = {
        {"texts compare exactly",
         {{"ndb.dat", zza + record({"ZZD", "0350"})}},
         {{"ZZA", "277", true},
          {"ZZA", "277.0", false},
          {"zza", "277", false},
          {"ZZD", "350", false},
          {"ZZD", "0350", true},
          {"ZZA ", "277", false}}},
        {"from a Windows disk", {{"NDB.DAT", zza}}, {{"ZZA", "277", true}}},
        {"the backup without a working file", {{"NDB.BAK", zzb}}, {{"ZZB", "300", true}}},
        {"the working file wins",
         {{"ndb.dat", zza}, {"ndb.bak", zzb}},
         {{"ZZA", "277", true}, {"ZZB", "300", false}}},
        {"no file", {}, {{"ZZA", "277", false}}},
        // The second record's ident and frequency lie within its first 48 bytes.
        {"last record under half",
         {{"ndb.dat", (zza + zzc).substr(0, 213 + 106)}},
         {{"ZZA", "277", true}, {"ZZC", "300", false}}},
        {"last record of half, blanks for the rest",
         {{"ndb.dat", (zza + zzc).substr(0, 213 + 107)}},
         {{"ZZC", "300", true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / c.name;
        fs::create_directories(folder);
        for (const auto& [name, bytes] : c.files) writeFile(folder / name, bytes);
        const auto before = snapshot(folder);
        LogStore store(*db);
        UserBeaconIndex index(folder, store);
        for (const auto& [ident, frequency, found] : c.lookups) {
            EXPECT_EQ(index.LookupUserBeacon(ident, frequency).UserBeaconFound, found)
                << ident << "/" << frequency;
        }
        EXPECT_EQ(snapshot(folder), before);
    }
    EXPECT_EQ(newBeacons(*db).back(), "4 ZZC USA Springfield 300.0");
    LogStore store(*db);
    UserBeaconIndex missingFolder(dir / "no such folder", store);
    EXPECT_FALSE(missingFolder.LookupUserBeacon("ZZA", "277").UserBeaconFound);
    EXPECT_FALSE(fs::exists(dir / "no such folder"));
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <limits>
#include <set>

#include "DbTestUtil.h"
#include "engine/CandidateLookup.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// Beacons of the shipped list whose ident begins with AB (letter case
// ignored): 22 in data/beacons.csv, one of them in country XXX, which has no
// CountryCode row and is a candidate all the same.
constexpr std::size_t kShippedAbBeacons = 22;

class CandidateLookupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        copyPristineDatabase(db_);
        Database(db_).execute(
            "INSERT INTO NDBInformation (Ident, Frequency, City, State, Country) VALUES "
            "('AB', 201, 'Abtown', 'XX', 'FRA'), ('ABC', 202, 'Abcville', 'ON', 'FRA'), "
            "('ABX', 203.5, 'Abxford', 'XXONXX', 'FRA'), ('XAB', 204, 'Xabury', 'XX', 'FRA'), "
            "('0FR', 344.5, 'Half', 'XX', 'FRA'), ('0FR', 344, 'Whole', 'XX', 'FRA'), "
            "('0Z', 0, 'Zero', 'XX', 'FRA'), ('0NOCC', 300, 'Nowhere', 'XX', 'XXX'), "
            "('O''K', 310, 'Apostrophe', 'XX', 'FRA'), ('O''KA', 311, 'Apostrophe2', 'XX', 'FRA'), "
            "('A%B', 312, 'Percent', 'XX', 'FRA'), ('AXB', 313, 'NotPercent', 'XX', 'FRA'), "
            "('A_C', 314, 'Underscore', 'XX', 'FRA'), ('A\\D', 315, 'Backslash', 'XX', 'FRA'), "
            "('Q\"Q', 316, 'Quote', 'XX', 'FRA')");
    }

    std::set<std::string> cities(const std::vector<Candidate>& list) {
        std::set<std::string> names;
        for (const auto& c : list) names.insert(c.city);
        EXPECT_EQ(names.size(), list.size()) << "a beacon was listed twice";
        return names;
    }

    TempDir dir_;
    fs::path db_ = dir_ / "ndbdata.ndf";
};

TEST_F(CandidateLookupTest, ExactLookupMatchesIdentAndFrequencyAsTheOldEngineDid) {
    struct Case {
        std::string ident, frequency;
        std::set<std::string> cities;
    };
    const std::set<std::string> nl = {"Newlands", "Nyala", "Signal Hill"};
    const std::vector<Case> cases = {
        {"nl        ", "358       ", nl},  // trailing blanks and letter case do not count
        {"Nl", " 358", nl},
        {"NL", "358.0", nl},
        {"NL", "358.5", {}},
        {" NL", "358", {}},  // a leading blank does
        {"N", "358", {}},    // exact, not a prefix
        {"0FR", "344.5     ", {"Half"}},
        {"0FR", "344       ", {"Whole"}},
        {"0Z", "abc", {"Zero"}},  // no digits: looked up as 0
        {"O'K", "310", {"Apostrophe"}},
        {"Q\"Q", "316", {"Quote"}},
        {"0NOCC", "300", {"Nowhere"}},       // its country has no CountryCode row
        {"MA", "316", {"Mansa", "Maupiti"}},  // Maupiti is in country XXX
        {"\xC0\xCE", "732", {"Aksinyino"}},  // Windows-1252 ident from the file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("ident '" + c.ident + "' frequency '" + c.frequency + "'");
        EXPECT_EQ(cities(exactCandidates(db_, c.ident, c.frequency)), c.cities);
    }
}

TEST_F(CandidateLookupTest, PrefixLookupFindsIdentsThatBeginWithTheLoggedOneTakenLiterally) {
    const auto list = prefixCandidates(db_, "AB" + std::string(8, ' '));
    EXPECT_EQ(list.size(), kShippedAbBeacons + 3);
    std::set<std::string> ours;
    for (const auto& c : list) {
        if (c.city == "Abtown" || c.city == "Abcville" || c.city == "Abxford") ours.insert(c.ident);
        EXPECT_NE(c.city, "Xabury");
    }
    EXPECT_EQ(ours, (std::set<std::string>{"AB", "ABC", "ABX"}));
    EXPECT_EQ(prefixCandidates(db_, "ab").size(), list.size());  // letter case does not count

    const auto abx =
        std::find_if(list.begin(), list.end(), [](auto& c) { return c.ident == "ABX"; });
    ASSERT_NE(abx, list.end());
    EXPECT_EQ(abx->frequency + " " + abx->province + " " + abx->country, "203.5 ON France");
    Database db(db_, Database::Mode::ReadOnly);
    EXPECT_EQ(abx->beaconId, count(db, "SELECT Beacon_ID FROM NDBInformation WHERE Ident = 'ABX'"));
    // Wildcards and quotes are taken literally.
    const std::pair<std::string, std::set<std::string>> cases[] = {
        {"O'K       ", {"Apostrophe", "Apostrophe2"}},
        {"A%", {"Percent"}},
        {"A_", {"Underscore"}},
        {"A\\", {"Backslash"}},
        {"Q\"", {"Quote"}},
        {"0NOCC", {"Nowhere"}},
        {"0F", {"Half", "Whole"}},
    };
    for (const auto& [ident, expected] : cases) {
        EXPECT_EQ(cities(prefixCandidates(db_, ident)), expected) << ident;
    }
}

// Every shipped beacon can be a candidate: one in country XXX (no CountryCode
// row) shows its country as unknown. NL 404 Nolso is the near miss of a
// logged NL 405.
TEST_F(CandidateLookupTest, BeaconsOfAnUnknownCountryAreCandidates) {
    Database db(db_, Database::Mode::ReadOnly);
    const std::int64_t shipped = count(db, "SELECT count(*) FROM NDBInformation");
    std::int64_t reached = 0;
    const CandidateIndex index(db_);
    for (const auto& c : index.candidates()) reached += c.own ? 0 : 1;
    EXPECT_EQ(reached, shipped);

    const auto nl = prefixCandidates(db_, "NL");
    const auto nolso =
        std::find_if(nl.begin(), nl.end(), [](const Candidate& c) { return c.city == "Nolso"; });
    ASSERT_NE(nolso, nl.end());
    EXPECT_EQ(nolso->frequency + " " + nolso->country, "404 unknown");
    EXPECT_TRUE(nolso->position);
    EXPECT_EQ(cities(exactCandidates(db_, "NL", "404")), std::set<std::string>{"Nolso"});
}

// The listener's own beacons (NewBeacons) are candidates beside the listed
// ones, under the number the log stores them by, marked as their own.
TEST_F(CandidateLookupTest, OwnBeaconsAreCandidatesUnderTheirLogNumber) {
    Database(db_).execute(
        "INSERT INTO NewBeacons (newbeacon_ID, Ident, Country, State, City, frequency, Latitude, "
        "Longitude) VALUES (3, 'NL', 'DNK', 'XX', 'Own Koge', 405, '55.45', '12.18'), "
        "(4, 'nlx', 'XXX', 'XXXX', 'Own Nowhere', 358, 'n/a', ''), "
        "(5, 'AB', 'FRA', 'XX', 'Own Ab', 201, '48', '2')");
    const struct {
        std::string ident, frequency;
        bool prefix;
        std::set<std::string> cities;
    } cases[] = {
        {"NL", "405", false, {"Own Koge"}},
        {"nl  ", "405.0", false, {"Own Koge"}},  // letter case and blanks as for the listed
        {"NL", "404", false, {"Nolso"}},
        {"AB", "201", false, {"Abtown", "Own Ab"}},  // beside a listed beacon
        {"NLX", "", true, {"Own Nowhere"}},
        {"NOPE", "", true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ident + " " + c.frequency);
        const auto list =
            c.prefix ? prefixCandidates(db_, c.ident) : exactCandidates(db_, c.ident, c.frequency);
        EXPECT_EQ(cities(list), c.cities);
    }
    const auto own = exactCandidates(db_, "NL", "405").at(0);
    EXPECT_TRUE(own.own);
    EXPECT_EQ(own.beaconId, 20003);
    EXPECT_EQ(own.country, "Denmark");
    ASSERT_TRUE(own.position);
    EXPECT_DOUBLE_EQ(own.position->lat, 55.45);
    const auto nowhere = prefixCandidates(db_, "NLX").at(0);
    EXPECT_EQ(nowhere.country + "|" + nowhere.province + "|" + nowhere.frequency, "unknown||358");
    EXPECT_FALSE(nowhere.position);
    // The listed beacons come first, in the database's order.
    const auto ab = exactCandidates(db_, "AB", "201");
    EXPECT_FALSE(ab.front().own);
    EXPECT_TRUE(ab.back().own);
    const auto nl = prefixCandidates(db_, "NL");
    EXPECT_EQ(std::count_if(nl.begin(), nl.end(), [](const Candidate& c) { return c.own; }), 2);
}

TEST(CandidateLookupErrors, MissingOrBrokenDatabaseIsAnErrorNamingIt) {
    TempDir dir;
    writeFile(dir / "broken.ndf", std::string(4096, 'x'));
    const auto before = snapshot(dir.path());
    for (const auto& path : {dir / "ndbdata.ndf", dir / "broken.ndf"}) {
        expectError([&] { exactCandidates(path, "NL", "358"); }, {path.string()});
        expectError([&] { prefixCandidates(path, "NL"); }, {path.string()});
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}

TEST(CandidateText, RemoveXXPlaceTextAndBeaconIdFromCell) {
    const std::pair<std::string, std::string> states[] = {
        {"XX", ""}, {"XXX", "X"}, {"XXXX", ""}, {"AXXB", "AB"}, {"xx", "xx"}};
    for (const auto& [in, out] : states) EXPECT_EQ(removeXX(in), out) << in;

    const struct {
        std::string row, a, b, place;
    } places[] = {
        {"Paris", "ON", "France", "Paris, ON, France"},
        {"Paris", "   ", "France", "Paris, France"},
        {"AB", "344.5", "Abtown", "AB, 344.5, Abtown"},  // the unresolved view's columns
        {"Paris", "ON", "", "Paris, ON, "},
    };
    for (const auto& c : places) EXPECT_EQ(placeText(c.row, c.a, c.b), c.place);

    // Halves round to even, as the old engine's conversion did.
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    const std::pair<std::string, std::int32_t> cells[] = {
        {" 7 ", 7},   {"42abc", 42}, {"12.5", 12}, {"13.5", 14},         {"12.6", 13},
        {"-2.5", -2}, {"-3.5", -4},  {"abc", 0},   {"3000000000", kMax}, {"-3000000000", kMin},
    };
    for (const auto& [cell, id] : cells) EXPECT_EQ(beaconIdFromCell(cell), id) << cell;
}

}  // namespace

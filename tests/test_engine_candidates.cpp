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
// ignored) and whose country has a CountryCode row: 22 in data/beacons.csv,
// one of them in country XXX.
constexpr std::size_t kShippedAbBeacons = 21;

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
        {"0NOCC", "300", {}},                // its country has no CountryCode row
        {"MA", "316", {"Mansa"}},            // its twin Maupiti is in country XXX
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
        {"0NOCC", {}},
        {"0F", {"Half", "Whole"}},
    };
    for (const auto& [ident, expected] : cases) {
        EXPECT_EQ(cities(prefixCandidates(db_, ident)), expected) << ident;
    }
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

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "db/Database.h"
#include "review/CandidateLookup.h"
#include "work/EngineError.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

// Beacons of the shipped list whose ident begins with AB (letter case
// ignored) and whose country has a CountryCode row: 22 in data/beacons.csv,
// one of them in country XXX.
constexpr std::size_t kShippedAbBeacons = 21;

struct TestBeacon {
    std::string ident;
    double frequency;
    std::string city, state, country;
};

class CandidateLookupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::copyPristineDatabase(db_);
        Database db(db_);
        auto insert = db.prepare(
            "INSERT INTO NDBInformation (Ident, Frequency, City, State, Country) "
            "VALUES (?, ?, ?, ?, ?)");
        const std::vector<TestBeacon> beacons = {
            {"AB", 201, "Abtown", "XX", "FRA"},
            {"ABC", 202, "Abcville", "ON", "FRA"},
            {"ABX", 203.5, "Abxford", "XXONXX", "FRA"},
            {"XAB", 204, "Xabury", "XX", "FRA"},
            {"0FR", 344.5, "Half", "XX", "FRA"},
            {"0FR", 344, "Whole", "XX", "FRA"},
            {"0Z", 0, "Zero", "XX", "FRA"},
            {"0NOCC", 300, "Nowhere", "XX", "XXX"},
            {"O'K", 310, "Apostrophe", "XX", "FRA"},
            {"O'KA", 311, "Apostrophe2", "XX", "FRA"},
            {"A%B", 312, "Percent", "XX", "FRA"},
            {"AXB", 313, "NotPercent", "XX", "FRA"},
            {"A_C", 314, "Underscore", "XX", "FRA"},
            {"A\\D", 315, "Backslash", "XX", "FRA"},
            {"Q\"Q", 316, "Quote", "XX", "FRA"},
        };
        Transaction tx(db);
        for (const auto& b : beacons) {
            insert.bind({b.ident, b.frequency, b.city, b.state, b.country}).execute();
        }
        tx.commit();
    }

    std::set<std::string> cities(const std::vector<Candidate>& list) {
        std::set<std::string> names;
        for (const auto& c : list) names.insert(c.city);
        EXPECT_EQ(names.size(), list.size()) << "a beacon was listed twice";
        return names;
    }

    test::TempDir dir_;
    fs::path db_ = dir_ / "ndbdata.ndf";
};

TEST_F(CandidateLookupTest, ExactLookupListsEveryBeaconOfAnAmbiguousPairOnce) {
    // NL on 358 is carried by three beacons of the shipped list.
    const std::string ident = "NL" + std::string(8, ' ');
    const auto list = exactCandidates(db_, ident, "358       ");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(cities(list), (std::set<std::string>{"Newlands", "Nyala", "Signal Hill"}));
    std::set<std::string> countries;
    std::set<std::int64_t> ids;
    for (const auto& c : list) {
        countries.insert(c.country);
        ids.insert(c.beaconId);
        EXPECT_EQ(c.province, "");  // the shipped State "XX" means none
    }
    EXPECT_EQ(countries, (std::set<std::string>{"New Zealand", "Sudan", "Canada"}));
    EXPECT_EQ(ids.size(), 3u);

    // Every listed id really is an NL beacon on 358.
    Database db(db_, Database::Mode::ReadOnly);
    auto check = db.prepare("SELECT Ident, Frequency FROM NDBInformation WHERE Beacon_ID = ?");
    for (auto id : ids) {
        const auto row = check.bind({id}).query();
        ASSERT_EQ(row.rowCount(), 1u);
        EXPECT_EQ(row.text(0, "Ident"), "NL");
        EXPECT_EQ(row.text(0, "Frequency"), "358");
    }
}

TEST_F(CandidateLookupTest, ExactLookupMatchesIdentAndFrequencyAsTheOldEngineDid) {
    struct Case {
        std::string ident, frequency;
        std::set<std::string> cities;
    };
    const std::set<std::string> nl = {"Newlands", "Nyala", "Signal Hill"};
    const std::vector<Case> cases = {
        {"NL", "358", nl},
        {"NL       ", "358   ", nl},       // trailing blanks do not count
        {"nl        ", "358       ", nl},  // nor does letter case
        {"Nl", " 358", nl},
        {"NL", "358.0", nl},
        {"NL", "358.5", {}},
        {" NL", "358", {}},  // a leading blank does
        {"N", "358", {}},    // exact, not a prefix
        {"0FR", "344.5     ", {"Half"}},
        {"0FR", "344.50", {"Half"}},
        {"0FR", "344       ", {"Whole"}},
        {"0Z", "abc", {"Zero"}},  // no digits: looked up as 0
        {"0Z", "", {"Zero"}},
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

TEST_F(CandidateLookupTest, PrefixLookupFindsIdentsThatBeginWithTheLoggedOne) {
    const auto list = prefixCandidates(db_, "AB" + std::string(8, ' '));
    EXPECT_EQ(list.size(), kShippedAbBeacons + 3);
    std::set<std::string> ours;
    for (const auto& c : list) {
        std::string upper = c.ident;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        EXPECT_EQ(upper.rfind("AB", 0), 0u) << c.ident;
        if (c.city == "Abtown" || c.city == "Abcville" || c.city == "Abxford") ours.insert(c.ident);
        EXPECT_NE(c.city, "Xabury");
    }
    EXPECT_EQ(ours, (std::set<std::string>{"AB", "ABC", "ABX"}));
    EXPECT_EQ(prefixCandidates(db_, "ab").size(), list.size());  // letter case does not count

    const auto abx =
        std::find_if(list.begin(), list.end(), [](auto& c) { return c.ident == "ABX"; });
    ASSERT_NE(abx, list.end());
    EXPECT_EQ(abx->frequency, "203.5");
    EXPECT_EQ(abx->province, "ON");
    EXPECT_EQ(abx->country, "France");
}

TEST_F(CandidateLookupTest, PrefixLookupTakesWildcardsAndQuotesLiterally) {
    struct Case {
        std::string ident;
        std::set<std::string> cities;
    };
    const std::vector<Case> cases = {
        {"O'K       ", {"Apostrophe", "Apostrophe2"}},
        {"A%", {"Percent"}},
        {"A_", {"Underscore"}},
        {"A\\", {"Backslash"}},
        {"Q\"", {"Quote"}},
        {"0NOCC", {}},
        {"0F", {"Half", "Whole"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("ident '" + c.ident + "'");
        EXPECT_EQ(cities(prefixCandidates(db_, c.ident)), c.cities);
    }
}

TEST(CandidateLookupErrors, MissingOrBrokenDatabaseIsAnErrorNamingIt) {
    test::TempDir dir;
    const auto missing = dir / "ndbdata.ndf";
    const auto broken = dir / "broken.ndf";
    test::writeFile(broken, std::string(4096, 'x'));
    for (const auto& path : {missing, broken}) {
        SCOPED_TRACE(path.string());
        const auto before = test::snapshot(dir.path());
        try {
            exactCandidates(path, "NL", "358");
            ADD_FAILURE() << "no error";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(path.filename().string()), std::string::npos)
                << e.what();
        }
        EXPECT_THROW(prefixCandidates(path, "NL"), EngineError);
        EXPECT_EQ(test::snapshot(dir.path()), before);
    }
}

TEST(CandidateText, RemoveXX) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"XX", ""},     {"ON", "ON"}, {"XXX", "X"}, {"XXXX", ""},
        {"AXXB", "AB"}, {"xx", "xx"}, {"", ""},     {"XXONXX", "ON"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(removeXX(in), out) << in;
}

TEST(CandidateText, PlaceText) {
    struct Case {
        std::string row, a, b, place;
    };
    const std::vector<Case> cases = {
        {"Paris", "ON", "France", "Paris, ON, France"},
        {"Paris", "", "France", "Paris, France"},
        {"Paris", "   ", "France", "Paris, France"},
        {"AB", "344.5", "Abtown", "AB, 344.5, Abtown"},  // the unresolved view's columns
        {"Paris", "ON", "", "Paris, ON, "},
    };
    for (const auto& c : cases) EXPECT_EQ(placeText(c.row, c.a, c.b), c.place);
}

TEST(CandidateText, BeaconIdFromCell) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    const std::vector<std::pair<std::string, std::int32_t>> cases = {
        {"12", 12}, {" 7 ", 7}, {"42abc", 42},        {"12.5", 12},          {"13.5", 14},
        {"0.5", 0}, {"1.5", 2}, {"12.6", 13},         {"-2.5", -2},          {"-3.5", -4},
        {"", 0},    {"abc", 0}, {"3000000000", kMax}, {"-3000000000", kMin}, {"2147483647", kMax},
    };
    for (const auto& [cell, id] : cases) EXPECT_EQ(beaconIdFromCell(cell), id) << cell;
}

}  // namespace

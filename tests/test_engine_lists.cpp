#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "matching/StepTwoLists.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::Row;

namespace {

// Location 2 has 3 AMB and 2 MIS records mixed with OK and UNP ones; its
// neighbours carry AMB and MIS records that must never leak into its lists.
const std::vector<Row> kRows = {
    {1, "AMB1", "344", "AMB"},                              // 1
    {2, "XYZ", "344", "AMB", "0915", "20010203", "first"},  // 2
    {2, "OKA", "350", "OK"},                                // 3
    {2, "ABC", "263.5", "MIS"},                             // 4
    {2, "UNPA", "400", "UNP"},                              // 5
    {2, "XYZ", "344", "AMB"},                               // 6
    {2, "LOW", "300", "amb"},                               // 7: codes compare case-sensitively
    {2, "DEF", "512", "MIS"},                               // 8
    {2, "\xC0\xCE", "732", "AMB"},                          // 9: Windows-1252 bytes stay raw
    {3, "MIS3", "300", "MIS"},                              // 10
    {3, "AMB3", "301", "AMB"},                              // 11
};

std::vector<int> recordNumbers(const std::vector<ListedReception>& list) {
    std::vector<int> numbers;
    for (const auto& r : list) numbers.push_back(r.recordNo);
    return numbers;
}

TEST(StepTwoLists, ListsOnlyTheLocationsAmbAndMisRecordsInFileOrder) {
    test::TempDir dir;
    const auto processed = dir / "processed.dat";
    test::writeProcessed(processed, kRows);

    struct Case {
        int location;
        std::vector<int> ambiguous, unresolved;
    };
    const std::vector<Case> cases = {
        {2, {2, 6, 9}, {4, 8}}, {1, {1}, {}}, {3, {11}, {10}}, {4, {}, {}}, {16, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("location " + std::to_string(c.location));
        const auto lists = readStepTwoLists(processed, c.location);
        EXPECT_EQ(recordNumbers(lists.ambiguous), c.ambiguous);
        EXPECT_EQ(recordNumbers(lists.unresolved), c.unresolved);
    }
}

TEST(StepTwoLists, RowsCarryTheFieldsAtFullWidth) {
    test::TempDir dir;
    const auto processed = dir / "processed.dat";
    test::writeProcessed(processed, kRows);

    const auto lists = readStepTwoLists(processed, 2);
    ASSERT_EQ(lists.ambiguous.size(), 3u);
    const auto& first = lists.ambiguous[0];
    EXPECT_EQ(first.ident, "XYZ       ");
    EXPECT_EQ(first.frequency, "344       ");
    EXPECT_EQ(first.time, "0915 ");
    EXPECT_EQ(first.date, "20010203  ");
    EXPECT_EQ(first.comment, "first" + std::string(55, ' '));
    EXPECT_EQ(lists.ambiguous[2].ident, "\xC0\xCE        ");
    ASSERT_EQ(lists.unresolved.size(), 2u);
    EXPECT_EQ(lists.unresolved[0].frequency, "263.5     ");
}

TEST(StepTwoLists, MissingOrPartialFileGivesEmptyListsAndCreatesNothing) {
    test::TempDir dir;
    const auto processed = dir / "processed.dat";
    const auto before = test::snapshot(dir.path());

    const auto lists = readStepTwoLists(processed, 2);
    EXPECT_TRUE(lists.ambiguous.empty());
    EXPECT_TRUE(lists.unresolved.empty());
    EXPECT_FALSE(fs::exists(processed));
    EXPECT_EQ(test::snapshot(dir.path()), before);

    // A trailing partial record is not a reception.
    test::writeFile(processed,
                    test::processedRecord(2, 1, "XYZ", "344", "AMB").encode().substr(0, 101));
    EXPECT_TRUE(readStepTwoLists(processed, 2).ambiguous.empty());
}

}  // namespace

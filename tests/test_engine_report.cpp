// SPDX-License-Identifier: GPL-2.0-or-later
// A location's ambiguous and unresolved receptions, as step two lists them and
// as a report saves them.
#include "DbTestUtil.h"
#include "engine/Report.h"
#include "engine/StepTwoLists.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

const std::string kHeader =
    "Station ID     Frequency      Time           Date           Comments       ";

const std::string kComment = "Heard on a long wire, fades deep at dusk";

// Location 3 has two AMB and one MIS reception among OK and UNP ones; its
// neighbours carry receptions of both kinds that must never be listed.
const std::vector<Row> kRows = {
    {2, "OTHER", "300", "AMB"},                                    // 1
    {3, "XYZ", "344", "AMB", "1234", "20010203", kComment},        // 2
    {3, "OKAY", "350", "OK"},                                      // 3
    {3, "ABC", " 263.5", "MIS", "0900", "20020304", "short"},      // 4: leading blank kept
    {3, "UNPR", "400", "UNP"},                                     // 5
    {3, "\xC0\xCE", "732", "AMB", "2359", "31121999", "caf\xE9"},  // 6: Windows-1252 kept raw
    {4, "MISS4", "301", "MIS"},                                    // 7
    {3, "LOW", "300", "amb"},                                      // 8: codes are case-sensitive
};

std::vector<int> recordNumbers(const std::vector<ListedReception>& list) {
    std::vector<int> numbers;
    for (const auto& r : list) numbers.push_back(r.recordNo);
    return numbers;
}

TEST(Report, ListsAndReportsHoldTheLocationsReceptionsOfTheKindInFileOrder) {
    TempDir dir;
    const auto processed = dir / "processed.dat";
    writeProcessed(processed, kRows);
    const struct {
        ReportKind kind;
        int location;
        std::vector<int> records;
        std::vector<std::string> lines;
    } cases[] = {
        {ReportKind::Ambiguous,
         3,
         {2, 6},
         {"AMBIGUOUS STATION REPORT FOR LOCATION 3", "", kHeader,
          // 4-character time: the time, one blank of field padding, ten more.
          "XYZ            344            1234           20010203       Heard on a long",
          "\xC0\xCE             732            2359           31121999       caf\xE9" +
              std::string(11, ' ')}},
        {ReportKind::Unresolved,
         3,
         {4},
         {"UNRESOLVED STATION REPORT FOR LOCATION 3", "", kHeader,
          "ABC             263.5         0900           20020304       short          "}},
        {ReportKind::Unresolved,
         4,
         {7},
         {"UNRESOLVED STATION REPORT FOR LOCATION 4", "", kHeader,
          "MISS4          301            1200           20010101                      "}},
        {ReportKind::Ambiguous, 16, {}, {"AMBIGUOUS STATION REPORT FOR LOCATION 16", "", kHeader}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("location " + std::to_string(c.location));
        std::string expected;
        for (const auto& line : c.lines) expected += line + "\r\n";
        EXPECT_EQ(buildReport(processed, c.kind, c.location), expected);
        for (std::size_t i = 2; i < c.lines.size(); ++i) EXPECT_EQ(c.lines[i].size(), 75u);
        const auto lists = readStepTwoLists(processed, c.location);
        EXPECT_EQ(
            recordNumbers(c.kind == ReportKind::Ambiguous ? lists.ambiguous : lists.unresolved),
            c.records);
    }
    // The lists carry the fields raw and at full width.
    const auto lists = readStepTwoLists(processed, 3);
    const auto& first = lists.ambiguous.at(0);
    EXPECT_EQ(first.ident + first.frequency + first.time + first.date + first.comment,
              "XYZ       344       1234 20010203  " + kComment + std::string(20, ' '));
    EXPECT_EQ(lists.ambiguous.at(1).ident, "\xC0\xCE        ");
    EXPECT_EQ(lists.unresolved.at(0).frequency, " 263.5    ");
}

TEST(Report, TargetIsTheFolderAndTheNameAsTypedOrRefused) {
    const std::pair<const char*, const char*> accepted[] = {
        {"r.txt", "/data/r.txt"},
        {" spaced name ", "/data/ spaced name "},  // not trimmed
        {"report", "/data/report"},                // no extension added
    };
    for (const auto& [name, target] : accepted) {
        EXPECT_EQ(reportTargetPath("/data", name), target);
        EXPECT_EQ(reportTargetPath("/data/", name), target);
    }
    EXPECT_EQ(reportTargetPath("/", "r.txt"), "/r.txt");
    for (const std::string& name : std::vector<std::string>{"", "a/b.txt", "/etc/r.txt", ".", "..",
                                                            "sub/", std::string("a\0b.txt", 7)}) {
        expectError([&] { reportTargetPath("/data", name); }, {"is not a valid file name"});
    }
    EXPECT_EQ(defaultReportFileName(ReportKind::Unresolved, 16),
              "UnresolvedStations_Location16.txt");
}

TEST(Report, WriteReplacesTheFileWholeOrNamesItAndWritesNothing) {
    TempDir dir;
    const auto processed = dir / "processed.dat";
    writeProcessed(processed, kRows);
    writeFile(dir / "plain", "not a folder");
    fs::create_directory(dir / "folder");
    writeFile(dir / "folder" / "keep.txt", "keep");

    const std::vector<std::pair<fs::path, fs::path>> cases = {
        {processed, dir / "plain" / "r.txt"},      // the folder runs through a plain file
        {processed, dir / "missing" / "r.txt"},    // no such folder
        {processed, dir / std::string(300, 'n')},  // too long for the file system
        {processed, dir / "folder"},               // a folder of that name
        {dir / "gone.dat", dir / "r.txt"},         // no processed.dat: it is not created
    };
    for (const auto& [from, target] : cases) {
        SCOPED_TRACE(target.string());
        const auto before = snapshot(dir.path());
        const fs::path named = from == processed ? target : from;
        expectError([&, &from = from,
                     &target = target] { writeReport(from, ReportKind::Ambiguous, 3, target); },
                    {named.filename().string()});
        EXPECT_EQ(snapshot(dir.path()), before);
    }
    // Without processed.dat the report is an error, the lists are empty; a
    // partial record is no reception. Neither creates the file. A folder in
    // its place is no missing file.
    EXPECT_THROW(buildReport(dir / "gone.dat", ReportKind::Unresolved, 3), EngineError);
    EXPECT_THROW(readStepTwoLists(dir / "folder", 3), EngineError);
    const auto none = readStepTwoLists(dir / "gone.dat", 3);
    EXPECT_TRUE(none.ambiguous.empty() && none.unresolved.empty());
    EXPECT_FALSE(fs::exists(dir / "gone.dat"));
    writeFile(dir / "partial.dat", readFile(processed).substr(102, 101));
    EXPECT_TRUE(readStepTwoLists(dir / "partial.dat", 3).ambiguous.empty());

    // Written over an existing file, the report replaces it whole and leaves nothing else.
    auto expected = snapshot(dir.path());
    writeFile(dir / "r.txt", std::string(5000, 'z'));
    writeReport(processed, ReportKind::Ambiguous, 3, dir / "r.txt");
    expected["r.txt"] = buildReport(processed, ReportKind::Ambiguous, 3);
    EXPECT_EQ(snapshot(dir.path()), expected);
}

}  // namespace

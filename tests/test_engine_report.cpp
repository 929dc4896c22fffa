#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "review/Report.h"
#include "work/EngineError.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::Row;

namespace {

const std::string kHeader =
    "Station ID     Frequency      Time           Date           Comments       ";
const std::string kComment40 = "Heard on a long wire, fades deep at dusk";

// Location 3 has two AMB and one MIS reception among OK and UNP ones; its
// neighbours carry receptions of both kinds that must never be listed.
const std::vector<Row> kRows = {
    {2, "OTHER", "300", "AMB"},
    {3, "XYZ", "344", "AMB", "1234", "20010203", kComment40},
    {3, "OKAY", "350", "OK"},
    {3, "ABC", " 263.5", "MIS", "0900", "20020304", "short"},  // leading blank kept
    {3, "UNPR", "400", "UNP"},
    {3, "\xC0\xCE", "732", "AMB", "2359", "31121999", "caf\xE9"},
    {4, "MISS4", "301", "MIS"},
};

std::string crlf(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

TEST(Report, DialogCaptionAndDefaultName) {
    EXPECT_EQ(reportDialogCaption(ReportKind::Ambiguous), "Ambiguous Station Report Save...");
    EXPECT_EQ(reportDialogCaption(ReportKind::Unresolved), "Unresolved Station Report Save...");
    EXPECT_EQ(defaultReportFileName(ReportKind::Ambiguous, 3), "AmbiguousStations_Location3.txt");
    EXPECT_EQ(defaultReportFileName(ReportKind::Unresolved, 16),
              "UnresolvedStations_Location16.txt");
}

TEST(Report, ListsTheLocationsReceptionsOfTheKindInFileOrder) {
    test::TempDir dir;
    const auto processed = dir / "processed.dat";
    test::writeProcessed(processed, kRows);

    struct Case {
        ReportKind kind;
        int location;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {ReportKind::Ambiguous,
         3,
         {"AMBIGUOUS STATION REPORT FOR LOCATION 3", "", kHeader,
          // 4-character time: the time, one blank of field padding, ten more.
          "XYZ            344            1234           20010203       Heard on a long",
          "\xC0\xCE             732            2359           31121999       caf\xE9" +
              std::string(11, ' ')}},
        {ReportKind::Unresolved,
         3,
         {"UNRESOLVED STATION REPORT FOR LOCATION 3", "", kHeader,
          "ABC             263.5         0900           20020304       short          "}},
        {ReportKind::Ambiguous,
         2,
         {"AMBIGUOUS STATION REPORT FOR LOCATION 2", "", kHeader,
          "OTHER          300            1200           20010101                      "}},
        {ReportKind::Unresolved, 2, {"UNRESOLVED STATION REPORT FOR LOCATION 2", "", kHeader}},
        {ReportKind::Ambiguous, 16, {"AMBIGUOUS STATION REPORT FOR LOCATION 16", "", kHeader}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("location " + std::to_string(c.location));
        const std::string report = buildReport(processed, c.kind, c.location);
        EXPECT_EQ(report, crlf(c.lines));
        for (std::size_t i = 2; i < c.lines.size(); ++i) EXPECT_EQ(c.lines[i].size(), 75u);
    }
}

TEST(Report, EmptyReportsOfLocationThreeHaveTheirFixedSizes) {
    test::TempDir dir;
    const auto processed = dir / "processed.dat";
    test::writeProcessed(processed, {{3, "OKAY", "350", "OK"},
                                     {3, "UNPR", "400", "UNP"},
                                     {2, "OTHER", "300", "AMB"},
                                     {4, "MISS4", "301", "MIS"}});
    const struct {
        ReportKind kind;
        std::size_t bytes;
    } cases[] = {{ReportKind::Ambiguous, 120}, {ReportKind::Unresolved, 121}};
    for (const auto& c : cases) {
        const auto target = dir / "report.txt";
        writeReport(processed, c.kind, 3, target);
        EXPECT_EQ(test::readFile(target).size(), c.bytes);
    }
}

TEST(Report, TargetPathIsTheFolderAndTheNameAsTyped) {
    struct Case {
        fs::path folder;
        std::string name;
        fs::path target;
    };
    const std::vector<Case> cases = {
        {"/data/reports", "r.txt", "/data/reports/r.txt"},
        {"/data/reports/", "r.txt", "/data/reports/r.txt"},
        {"/", "r.txt", "/r.txt"},
        {"/data", " spaced name ", "/data/ spaced name "},  // not trimmed
        {"/data", "report", "/data/report"},                // no extension added
    };
    for (const auto& c : cases) EXPECT_EQ(reportTargetPath(c.folder, c.name), c.target);
}

TEST(Report, InvalidNamesAreRefused) {
    const std::vector<std::string> names = {
        "", "a/b.txt", "/etc/r.txt", ".", "..", std::string("a\0b.txt", 7), "sub/",
    };
    for (const auto& name : names) {
        try {
            reportTargetPath("/data", name);
            ADD_FAILURE() << "accepted '" << name << "'";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find("is not a valid file name"), std::string::npos)
                << e.what();
        }
    }
}

TEST(Report, ExistingFileIsReplacedWholeAndNothingElseIsLeft) {
    test::TempDir dir;
    const auto processed = dir / "processed.dat";
    test::writeProcessed(processed, kRows);
    const auto target = dir / "AmbiguousStations_Location3.txt";
    test::writeFile(target, std::string(5000, 'z'));

    writeReport(processed, ReportKind::Ambiguous, 3, target);
    EXPECT_EQ(test::readFile(target), buildReport(processed, ReportKind::Ambiguous, 3));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"AmbiguousStations_Location3.txt", "processed.dat"}));
}

TEST(Report, FailedWriteNamesTheFileAndWritesNothing) {
    test::TempDir dir;
    const auto processed = dir / "processed.dat";
    test::writeProcessed(processed, kRows);
    test::writeFile(dir / "plain", "not a folder");
    fs::create_directory(dir / "folder");
    test::writeFile(dir / "folder" / "keep.txt", "keep");

    const std::vector<fs::path> targets = {
        dir / "plain" / "r.txt",      // the folder runs through a plain file
        dir / "missing" / "r.txt",    // no such folder
        dir / std::string(300, 'n'),  // too long for the file system
        dir / "folder",               // a folder of that name
    };
    for (const auto& target : targets) {
        SCOPED_TRACE(target.string());
        const auto before = test::snapshot(dir.path());
        try {
            writeReport(processed, ReportKind::Ambiguous, 3, target);
            ADD_FAILURE() << "no error";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(target.filename().string()), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(test::snapshot(dir.path()), before);
    }
}

TEST(Report, MissingProcessedFileIsAnErrorAndIsNotCreated) {
    test::TempDir dir;
    const auto processed = dir / "processed.dat";
    const auto target = dir / "r.txt";
    EXPECT_THROW(buildReport(processed, ReportKind::Unresolved, 3), EngineError);
    EXPECT_THROW(writeReport(processed, ReportKind::Unresolved, 3, target), EngineError);
    EXPECT_FALSE(fs::exists(processed));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace

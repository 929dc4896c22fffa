// The sample-backup writer and the demo backups it makes: the tool through its
// executable, the demo through the real import, look-up and matching run.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "db/Database.h"
#include "matching/MatchingRun.h"
#include "review/CandidateLookup.h"
#include "work/BackupImport.h"
#include "work/Cp1252.h"
#include "work/LocationStates.h"
#include "work/Records.h"
#include "work/TextFields.h"
#include "work/UserBeacons.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// The tool is built beside the converter, in the build tree's root.
fs::path toolPath() { return fs::path(ZOLT_CONVERTER).parent_path() / "zolt-make-sample-backups"; }
fs::path examples() { return fs::path(ZOLT_SOURCE_DIR) / "examples"; }

std::string quoted(const fs::path& path) {
    std::string out = "'";
    for (char c : path.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct ToolRun {
    int status = -1;
    std::string out, err;
};

ToolRun runTool(const fs::path& source, const fs::path& outFolder, const TempDir& scratch) {
    if (!fs::exists(toolPath())) {
        ADD_FAILURE() << toolPath() << " is missing: build the target zolt-make-sample-backups";
        return {};
    }
    const fs::path out = scratch / "tool.out";
    const fs::path err = scratch / "tool.err";
    const std::string command = quoted(toolPath()) + " " + quoted(source) + " " +
                                quoted(outFolder) + " >" + quoted(out) + " 2>" + quoted(err);
    const int raw = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
}

const std::string kGoodLine = "AB | 350 | 1200 | 03/14/99 | fine\n";

}  // namespace

TEST(SampleBackups, CommittedBackupsAreWhatTheToolMakesOfTheCommittedSource) {
    TempDir dir;
    const ToolRun run = runTool(examples() / "backup-source.txt", dir / "backup", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(snapshot(dir / "backup"), snapshot(examples() / "backup"))
        << "regenerate: zolt-make-sample-backups examples/backup-source.txt examples/backup";
}

TEST(SampleBackups, BadLineIsReportedWithItsNumberAndNothingIsWritten) {
    const std::string beacon =
        "ZUT | CAN | ON | Lake | 263 | MH | 25 | 47.1 | -79.8 | 199806 | "
        "8 sec | 1020 | 1020 | 0 | ";
    struct Case {
        std::string source;
        int line;
        std::string reason;
    } cases[] = {
        {"[location 1]\n" + kGoodLine + "ABCDEFGH | 350 | 1200 | 03/14/99 |\n", 3,
         "callsign \"ABCDEFGH\" is longer than 7"},
        {"[location 1]\n" + kGoodLine + " | 350 | 1200 | 03/14/99 |\n", 3, "callsign is empty"},
        // Several bad fields: the first one is named.
        {"[location 1]\n" + kGoodLine + "ABCDEFGH | 35O | 2460 | 3/14/99 |\n", 3,
         "callsign \"ABCDEFGH\""},
        {"[location 1]\n" + kGoodLine + "AB | 35O | 1200 | 03/14/99 |\n", 3, "not a decimal"},
        {"[location 1]\n" + kGoodLine + "AB | 3.5.0 | 1200 | 03/14/99 |\n", 3, "not a decimal"},
        {"[location 1]\n" + kGoodLine + "AB | 3500000 | 1200 | 03/14/99 |\n", 3, "longer than 6"},
        {"[location 1]\n" + kGoodLine + "AB | 350 | 2460 | 03/14/99 |\n", 3, "not HHMM"},
        {"[location 1]\n" + kGoodLine + "AB | 350 | 930 | 03/14/99 |\n", 3, "not HHMM"},
        {"[location 1]\n" + kGoodLine + "AB | 350 | 1200 | 3/14/99 |\n", 3, "not 8 characters"},
        {"[location 1]\n" + kGoodLine + "AB | 350 | 1200 | 03/14/99 | " + std::string(61, 'x') +
             "\n",
         3, "longer than 60"},
        {"[location 1]\n" + kGoodLine + "AB | 350 | 1200 | 03/14/99 | \xE2\x86\x92 north\n", 3,
         "Windows-1252 cannot hold"},
        {"[location 1]\n" + kGoodLine + "AB | 350 | 1200 | 03/14/99\n", 3, "expected 5 fields"},
        {"# header\nAB | 350 | 1200 | 03/14/99 |\n", 2, "line before any [section]"},
        {"[location 1]\n" + kGoodLine + "[location 17]\n", 3, "unknown section"},
        {"[location 2]\n" + kGoodLine + "[Location 2]\n", 3, "appears a second time"},
        {"[user beacons]\n" + beacon + "\nZUT | CAN | ON | Lake | 263\n", 3, "expected 15 fields"},
        {"[user beacons]\n" + beacon + "\n" + beacon.substr(0, beacon.size() - 5) + "12 | \n", 3,
         "daid \"12\" is not one digit"},
        // 0xFF has no code two higher in a byte.
        {"[user beacons]\n" + beacon + "\nZUT | CAN | ON | \xC3\xBF | 263 | | | | | | | | | | \n",
         3, "cannot store"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        TempDir dir;
        fs::create_directory(dir / "out");
        writeFile(dir / "out" / "log0.bak", "earlier bytes");
        writeFile(dir / "source.txt", c.source);
        const auto before = snapshot(dir / "out");

        const ToolRun run = runTool(dir / "source.txt", dir / "out", dir);
        EXPECT_EQ(run.status, 1);
        const std::string where =
            (dir / "source.txt").string() + ":" + std::to_string(c.line) + ": ";
        EXPECT_NE(run.err.find(where), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(snapshot(dir / "out"), before);

        // A folder that was not there is not created either.
        EXPECT_EQ(runTool(dir / "source.txt", dir / "new", dir).status, 1);
        EXPECT_FALSE(fs::exists(dir / "new"));
    }
}

TEST(SampleBackups, EveryBadLineIsReported) {
    TempDir dir;
    writeFile(dir / "s.txt", "[location 1]\nAB | x | 1200 | 03/14/99 |\n" + kGoodLine +
                                 "AB | 350 | 9999 | 03/14/99 |\n");
    const ToolRun run = runTool(dir / "s.txt", dir / "out", dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("s.txt:2: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("s.txt:4: "), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("s.txt:3: "), std::string::npos) << run.err;
}

TEST(SampleBackups, OutputThatCannotBeWrittenLeavesEverythingAsItWas) {
    TempDir dir;
    writeFile(dir / "s.txt", "[location 1]\n" + kGoodLine + "[user beacons]\n");
    writeFile(dir / "plain", "a file");
    // A target name taken by a folder: the other file must not land either.
    fs::create_directories(dir / "out" / "log0.bak");
    const auto before = snapshot(dir.path());

    for (const fs::path& out : {dir / "plain" / "out", dir / "out"}) {
        SCOPED_TRACE(out);
        const ToolRun run = runTool(dir / "s.txt", out, dir);
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(run.err.empty());
        auto after = snapshot(dir.path());
        after.erase("tool.out");
        after.erase("tool.err");
        EXPECT_EQ(after, before);
    }
}

TEST(SampleBackups, ReceptionsAreStoredAsTheOldProgramStoredThem) {
    TempDir dir;
    writeFile(dir / "s.txt",
              "\xEF\xBB\xBF# comment\r\n[location 16]\r\n"
              "AB-CD;2 | 263.5 | 0000 | 19990314 | Tr\xC3\xA8s bon \xE2\x80\x93 90\xC2\xB0\r\n"
              "  x  |  350  |  |  | a | b  \r\n"
              "\r\n[location 3]\r\n");
    const ToolRun run = runTool(dir / "s.txt", dir / "out", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fs::file_size(dir / "out" / "log2.bak"), 0u);  // an empty section
    const auto records = readLogFile(dir / "out" / "log15.bak");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(fs::file_size(dir / "out" / "log15.bak"), 2 * LogBackupRecord::kLength);

    struct Expected {
        std::string callsign, frequency, time, date, comment;
    } expected[] = {
        {"AB-CD;2", "263.5 ", "0000", "19990314", padField("Tr\xE8s bon \x96 90\xB0", 60)},
        {"x      ", "350   ", "    ", "        ", padField("a | b", 60)},
    };
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].Callsign, expected[i].callsign);
        EXPECT_EQ(records[i].Frequency, expected[i].frequency);
        EXPECT_EQ(records[i].Time, expected[i].time);
        EXPECT_EQ(records[i].Date, expected[i].date);
        EXPECT_EQ(records[i].Comment, expected[i].comment);
    }
}

TEST(SampleBackups, UserBeaconFieldsAreShiftedAndPaddedWithRawBlanks) {
    TempDir dir;
    writeFile(dir / "s.txt",
              "[user beacons]\n"
              "QXB | CAN |  | Lake of Bays | 412 | LOM | 25 | 45.04 | -79.30 | 1998 7 | "
              "6 sec | | 1035 | 1 | Martha\xE2\x80\x99s notes | with a bar\n");
    const ToolRun run = runTool(dir / "s.txt", dir / "out", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string bytes = readFile(dir / "out" / "ndb.bak");
    ASSERT_EQ(bytes.size(), UserBeaconRecord::kLength);
    EXPECT_EQ(bytes.substr(0, 7), "SZD    ");           // QXB shifted, raw blank padding
    EXPECT_EQ(bytes.substr(206), std::string(7, ' '));  // the tail nobody reads

    const UserBeaconRecord r = UserBeaconRecord::decode(bytes);
    EXPECT_EQ(r.Ident, "QXB");
    EXPECT_EQ(r.Country, "CAN");
    EXPECT_EQ(r.State, "");
    EXPECT_EQ(r.City, "Lake of Bays");  // inner blanks survive
    EXPECT_EQ(r.Frequency, "412");
    EXPECT_EQ(r.PowerClass, "LOM");
    EXPECT_EQ(r.Power, "25");
    EXPECT_EQ(r.Latitude, "45.04");
    EXPECT_EQ(r.Longitude, "-79.30");
    EXPECT_EQ(r.AsOf, "1998 7");
    EXPECT_EQ(r.Cycle, "6 sec");
    EXPECT_EQ(r.usb, "");
    EXPECT_EQ(r.lsb, "1035");
    EXPECT_EQ(r.DAID, "1");
    EXPECT_EQ(r.GenNotes, "Martha\x92s notes | with a bar");
}

// The demo as designed: what each location holds and what matching makes of it.
namespace {

struct DemoLocation {
    int location, receptions, logged, ambiguous, unresolved, userBeacons, withPrefixCandidates;
};
constexpr DemoLocation kDemo[] = {
    {1, 140, 122, 11, 7, 4, 4},
    {2, 90, 80, 6, 4, 6, 3},
    {4, 70, 61, 5, 4, 2, 3},
};

}  // namespace

TEST(SampleBackups, DemoImportsIntoThreeLocations) {
    TempDir dir;
    fs::copy(examples() / "backup", dir / "backup");
    const int count = buildProcessedFile(dir / "backup", dir / "processed.dat", LogSource::Backups);
    EXPECT_EQ(count, 300);

    std::map<int, int> perLocation;
    for (const auto& r : readProcessedFile(dir / "processed.dat")) {
        ++perLocation[r.Location];
        EXPECT_EQ(r.Ident.find_first_of("-;"), std::string::npos) << r.Ident;
    }
    std::map<int, int> expected;
    for (const auto& d : kDemo) expected[d.location] = d.receptions;
    EXPECT_EQ(perLocation, expected);
}

TEST(SampleBackups, DemoUserBeaconsDecodeToTheSourceValues) {
    // Ident, Country, State, City, Frequency, PowerClass, Power, Latitude,
    // Longitude, AsOf, Cycle, usb, lsb, DAID, GenNotes (Windows-1252).
    using Fields = std::vector<std::string>;
    const Fields expected[] = {
        {"ZUT", "CAN", "ON", "Temagami Lake", "263", "MH", "25", "47.0631", "-79.7925", "199806",
         "8 sec", "1020", "1020", "0",
         "Seaplane base beacon, commissioned spring 1998. Not in the 1998 list yet."},
        {"QXB", "CAN", "ON", "Bracebridge", "412", "LOM", "25", "45.0433", "-79.3048", "199807",
         "6 sec", "", "1035", "0", "Outer marker, new approach."},
        {"WNA", "USA", "OH", "Wauseon", "389", "MH", "50", "41.6094", "-84.1270", "199612",
         "9.5 sec", "1015", "1015", "0",
         "Heard first on 28 Dec 1996; callsign confirmed by QSL letter."},
        {"VKB", "CAN", "ON", "Kleinburg", "245", "H", "100", "43.8742", "-79.6281", "199805",
         "8 sec", "400", "400", "1", "Private field, daytime only?"},
        {"GWB", "USA", "MA", "Gay Head", "516", "MH", "25", "41.3469", "-70.8345", "199908",
         "7 sec", "1040", "", "0", "Heard at the beach, Martha\x92s Vineyard."},
        {"HRV", "FRA", "", "Le Havre Octeville", "350", "HH", "400", "49.5339", "0.0881", "199901",
         "10 sec", "", "", "0", "From a DX bulletin; never heard here."},
    };
    const std::string bytes = readFile(examples() / "backup" / "ndb.bak");
    ASSERT_EQ(bytes.size(), std::size(expected) * UserBeaconRecord::kLength);
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto r =
            UserBeaconRecord::decode(std::string_view(bytes).substr(i * UserBeaconRecord::kLength));
        EXPECT_EQ(
            (Fields{r.Ident, r.Country, r.State, r.City, r.Frequency, r.PowerClass, r.Power,
                    r.Latitude, r.Longitude, r.AsOf, r.Cycle, r.usb, r.lsb, r.DAID, r.GenNotes}),
            expected[i]);
    }
}

TEST(SampleBackups, DemoMatchesAsDesignedAgainstTheShippedBeaconList) {
    TempDir dir;
    fs::copy(examples() / "backup", dir / "backup");
    const auto backupBefore = snapshot(dir / "backup");
    const ProjectPaths paths{dir.path(), dir / "ndbdata.ndf", dir / "processed.dat",
                             dir / "backup"};
    copyPristineDatabase(paths.DatabasePath);
    buildProcessedFile(paths.BackupFolder, paths.ProcessedPath, LogSource::Backups);

    int logged = 0;
    int userRows = 0;
    for (const auto& d : kDemo) {
        SCOPED_TRACE(d.location);
        WorkingSet set = loadWorkingSet(paths.ProcessedPath, d.location);
        const MatchOutcome outcome = runMatching(paths, set);
        EXPECT_EQ(outcome.logged, d.logged);
        EXPECT_EQ(outcome.ambiguous, d.ambiguous);
        EXPECT_EQ(outcome.unresolved, d.unresolved);
        EXPECT_EQ(outcome.userBeacons, d.userBeacons);
        logged += d.logged;
        userRows += d.userBeacons;

        // Unresolved receptions meant to share the start of a listed ident
        // get candidates; the others find none.
        int withCandidates = 0;
        for (const auto& entry : loadWorkingSet(paths.ProcessedPath, d.location).entries) {
            if (trimBlanks(entry.state) == "MIS" &&
                !prefixCandidates(paths.DatabasePath, entry.ident).empty()) {
                ++withCandidates;
            }
            if (trimBlanks(entry.state) == "AMB") {
                EXPECT_GE(exactCandidates(paths.DatabasePath, entry.ident, entry.frequency).size(),
                          2u);
            }
        }
        EXPECT_EQ(withCandidates, d.withPrefixCandidates);
    }

    Database db(paths.DatabasePath, Database::Mode::ReadOnly);
    EXPECT_EQ(db.query("SELECT COUNT(*) AS n FROM NDBLog").text(0, "n"), std::to_string(logged));
    EXPECT_EQ(db.query("SELECT COUNT(*) AS n FROM NDBLog WHERE Beacon_ID > 20000").text(0, "n"),
              std::to_string(userRows));
    // The five beacons heard, added once each in the order first heard; the
    // sixth of ndb.bak was never heard.
    const DbResult added = db.query("SELECT Ident FROM NewBeacons ORDER BY newbeacon_ID");
    std::vector<std::string> idents;
    for (std::size_t r = 0; r < added.rowCount(); ++r) idents.push_back(added.text(r, "Ident"));
    EXPECT_EQ(idents, (std::vector<std::string>{"VKB", "WNA", "ZUT", "QXB", "GWB"}));

    EXPECT_EQ(snapshot(dir / "backup"), backupBefore);
}

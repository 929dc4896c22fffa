// SPDX-License-Identifier: GPL-2.0-or-later
// The sample-backup writer and the demo backups it makes: the tool through its
// executable, the demo through the real import, look-up and matching run.

#include <gtest/gtest.h>

#include <algorithm>

#include "TestUtil.h"
#include "core/TextFields.h"
#include "engine/CandidateLookup.h"
#include "engine/MatchingRun.h"
#include "engine/UserBeacons.h"
#include "work/BackupImport.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// The tool is built beside the converter, in the build tree's root.
fs::path toolPath() { return fs::path(ZOLT_CONVERTER).parent_path() / "zolt-make-sample-backups"; }
fs::path examples() { return fs::path(ZOLT_SOURCE_DIR) / "examples"; }

struct ToolRun {
    int status = -1;
    std::string err;
};

// Runs the tool; its standard error is kept, its report of what it wrote is not.
ToolRun runTool(const fs::path& source, const fs::path& outFolder, const TempDir& scratch) {
    const int status =
        runProgram(toolPath(), {source.string(), outFolder.string()}, {}, scratch / "err");
    return {status, readFile(scratch / "err")};
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

// Every bad line, and only a bad line, is reported with the file, its number
// and the reason; nothing is written, neither into a folder nor a new one.
TEST(SampleBackups, BadLinesAreReportedAndNothingIsWritten) {
    const std::string reception = "[location 1]\n" + kGoodLine;
    const struct {
        std::string source;
        std::vector<std::string> reported;  // "line: reason", one per bad line
    } cases[] = {
        // Several bad fields: the first one is named.
        {reception + "ABCDEFGH | 35O | 2460 | 3/14/99 |\n", {"3: callsign \"ABCDEFGH\" is longer"}},
        {"[location 1]\nAB | 3.5.0 | 1200 | 03/14/99 |\n" + kGoodLine +
             "AB | 350 | 930 | 03/14/99 |\n",
         {"2: frequency \"3.5.0\" is not a decimal", "4: time \"930\" is not HHMM"}},
        {reception + "AB | 350 | 1200 | 03/14/99 | \xE2\x86\x92\n",
         {"3: comment \"\xE2\x86\x92\" holds a character that Windows-1252 cannot hold"}},
        {reception + "AB | 350 | 1200 | 03/14/99\n", {"3: expected 5 fields"}},
        {"# header\nAB | 350 | 1200 | 03/14/99 |\n", {"2: line before any [section]"}},
        {"[location 2]\n" + kGoodLine + "[Location 2]\n", {"3: section [Location 2] appears a"}},
        // 0xFF has no code two higher in a byte.
        {"[user beacons]\nZUT | CAN | ON | \xC3\xBF | 263 | | | | | | | | | | \n",
         {"2: city \"\xC3\xBF\" holds a character the old beacon file cannot store"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        TempDir dir;
        fs::create_directory(dir / "out");
        writeFile(dir / "out" / "log0.bak", "earlier bytes");
        writeFile(dir / "source.txt", c.source);
        const auto before = snapshot(dir / "out");
        for (const fs::path& out : {dir / "out", dir / "new"}) {
            const ToolRun run = runTool(dir / "source.txt", out, dir);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.reported.size());
            for (const auto& line : c.reported) {
                EXPECT_NE(run.err.find((dir / "source.txt").string() + ":" + line),
                          std::string::npos)
                    << run.err;
            }
        }
        EXPECT_EQ(snapshot(dir / "out"), before);
        EXPECT_FALSE(fs::exists(dir / "new"));
    }
}

TEST(SampleBackups, OutputThatCannotBeWrittenLeavesEverythingAsItWas) {
    TempDir dir;
    writeFile(dir / "s.txt", "[location 1]\n" + kGoodLine + "[user beacons]\n");
    writeFile(dir / "plain", "a file");
    // A target name taken by a folder: the other file must not land either.
    fs::create_directories(dir / "out" / "log0.bak");
    const auto before = snapshot(dir.path());
    for (const fs::path& out : {dir / "plain" / "out", dir / "out"}) {
        TempDir scratch;
        const ToolRun run = runTool(dir / "s.txt", out, scratch);
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(run.err.empty());
        EXPECT_EQ(snapshot(dir.path()), before) << out;
    }
}

// Receptions in the old log record, Windows-1252; user beacons shifted up
// by two and padded with raw blanks, so that inner blanks survive decoding
// and every field reads back as written.
TEST(SampleBackups, RecordsAreStoredAsTheOldProgramStoredThem) {
    TempDir dir;
    writeFile(dir / "s.txt",
              "\xEF\xBB\xBF# comment\r\n[location 16]\r\n"
              "AB-CD;2 | 263.5 | 0000 | 19990314 | Tr\xC3\xA8s bon \xE2\x80\x93 90\xC2\xB0\r\n"
              "  x  |  350  |  |  | a | b  \r\n"
              "\r\n[location 3]\r\n[user beacons]\n"
              "QXB | CAN |  | Lake of Bays | 412 | LOM | 25 | 45.04 | -79.30 | 1998 7 | "
              "6 sec | | 1035 | 1 | Martha\xE2\x80\x99s notes | with a bar\n");
    const ToolRun run = runTool(dir / "s.txt", dir / "out", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(dir / "out" / "log2.bak"), "");  // an empty section
    // Callsign 7, frequency 6, time 4, date 8, comment 60.
    EXPECT_EQ(readFile(dir / "out" / "log15.bak"),
              "AB-CD;2263.5 000019990314" + padField("Tr\xE8s bon \x96 90\xB0", 60) +
                  "x      350               " + padField("a | b", 60));

    const std::string bytes = readFile(dir / "out" / "ndb.bak");
    ASSERT_EQ(bytes.size(), UserBeaconRecord::kLength);
    EXPECT_EQ(bytes.substr(0, 12), "SZD    ECP  ");     // QXB, CAN and the empty state
    EXPECT_EQ(bytes.substr(206), std::string(7, ' '));  // the tail nobody reads
    const UserBeaconRecord r = UserBeaconRecord::decode(bytes);
    EXPECT_EQ((std::vector<std::string>{r.Ident, r.Country, r.State, r.City, r.Frequency,
                                        r.PowerClass, r.Power, r.Latitude, r.Longitude, r.AsOf,
                                        r.Cycle, r.usb, r.lsb, r.DAID, r.GenNotes}),
              (std::vector<std::string>{"QXB", "CAN", "", "Lake of Bays", "412", "LOM", "25",
                                        "45.04", "-79.30", "1998 7", "6 sec", "", "1035", "1",
                                        "Martha\x92s notes | with a bar"}));
}

// The demo as designed: what each location holds and what matching makes of it.
TEST(SampleBackups, DemoMatchesAsDesignedAgainstTheShippedBeaconList) {
    const struct {
        int location, receptions, logged, ambiguous, unresolved, userBeacons, withPrefixCandidates;
    } kDemo[] = {{1, 140, 122, 11, 7, 4, 5}, {2, 90, 80, 6, 4, 6, 3}, {4, 70, 61, 5, 4, 2, 3}};
    TempDir dir;
    fs::copy(examples() / "backup", dir / "backup");
    const auto backupBefore = snapshot(dir / "backup");
    const ProjectPaths paths{dir.path(), dir / "ndbdata.ndf", dir / "processed.dat",
                             dir / "backup"};
    copyPristineDatabase(paths.DatabasePath);
    EXPECT_EQ(buildProcessedFile(paths.BackupFolder, paths.ProcessedPath, LogSource::Backups), 300);
    for (const auto& d : kDemo) {
        SCOPED_TRACE(d.location);
        WorkingSet set = loadWorkingSet(paths.ProcessedPath, d.location);
        EXPECT_EQ(set.WorkCount(), d.receptions);
        const MatchOutcome outcome = runMatching(paths, set);
        // Unresolved receptions meant to share the start of a listed ident
        // get candidates, and so does WNA on 389.0 of location 1, typed
        // otherwise than the listener's own WNA on 389; the others find none.
        int withCandidates = 0;
        for (const auto& entry : set.entries) {
            withCandidates += trimBlanks(entry.state) == "MIS" &&
                              !prefixCandidates(paths.DatabasePath, entry.ident).empty();
        }
        EXPECT_EQ(
            std::tuple(outcome.logged, outcome.ambiguous, outcome.unresolved, outcome.userBeacons,
                       withCandidates),
            std::tuple(d.logged, d.ambiguous, d.unresolved, d.userBeacons, d.withPrefixCandidates));
    }
    // The five beacons heard, added once each in the order first heard; the
    // sixth of ndb.bak was never heard.
    Database db(paths.DatabasePath, Database::Mode::ReadOnly);
    const DbResult added = db.query("SELECT Ident FROM NewBeacons ORDER BY newbeacon_ID");
    std::vector<std::string> idents;
    for (std::size_t r = 0; r < added.rowCount(); ++r) idents.push_back(added.text(r, "Ident"));
    EXPECT_EQ(idents, (std::vector<std::string>{"VKB", "WNA", "ZUT", "QXB", "GWB"}));
    EXPECT_EQ(snapshot(dir / "backup"), backupBefore);
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "DbTestUtil.h"
#include "db/BeaconDatabaseCheck.h"
#include "db/Compaction.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

class Compaction : public testing::Test {
  public:
    void SetUp() override { copyPristineDatabase(database); }

    // Logs and then deletes many receptions, leaving free pages behind.
    void fillAndEmptyLog() {
        Database(database).executeScript(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) "
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionComments) "
            "SELECT i, 1, printf('%060d', i) FROM n; DELETE FROM NDBLog;");
    }

    TempDir dir;
    fs::path database = dir / "ndbdata.ndf";
    fs::path compact = dir / "ndbdata1.ndf";
};

TEST_F(Compaction, ShrinksTheDatabaseAndKeepsTheCompactedCopyInPlaceOfAStaleOne) {
    fillAndEmptyLog();
    const auto sizeBefore = fs::file_size(database);
    writeFile(compact, "left over from an earlier run");

    compactMainDatabase(database, compact);

    EXPECT_LT(fs::file_size(database), sizeBefore);
    // Nothing else is left in the folder: no temporary copy, no journal.
    const auto files = snapshot(dir.path());
    EXPECT_EQ(files.size(), 2u);
    EXPECT_EQ(files.at("ndbdata.ndf"), files.at("ndbdata1.ndf"));
    Database db(database);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation"), 7077);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBLog"), 0);
    EXPECT_EQ(count(db,
                    "SELECT count(*) FROM NDBInformation WHERE Ident = 'r' AND "
                    "Frequency = 305"),
              3);
    EXPECT_EQ(count(db, "PRAGMA user_version"), 1);
}

// (A database held by another program is refused by the reset tests.)
TEST_F(Compaction, ACopyThatCannotBeWrittenLeavesTheDatabaseAsItWasAndNamesIt) {
    writeFile(dir / "plain", "a file, not a folder");
    fillAndEmptyLog();
    const auto before = snapshot(dir.path());
    expectError([&] { compactMainDatabase(database, dir / "plain" / "ndbdata1.ndf"); }, {"plain"});
    EXPECT_EQ(snapshot(dir.path()), before);
}

TEST_F(Compaction, ALockedDatabaseLeavesEveryFileAsItWasThePreviousCopyIncluded) {
    writeFile(compact, "the compacted copy of the last reset");
    const auto before = snapshot(dir.path());
    {
        DatabaseLock lock(database);
        expectError([&] { compactMainDatabase(database, compact); }, {database.string()});
    }
    EXPECT_TRUE(snapshot(dir.path()) == before);
    // Once free, the new copy replaces the previous one.
    compactMainDatabase(database, compact);
    EXPECT_EQ(readFile(compact), readFile(database));
}

TEST(BeaconDatabaseCheck, RecognisesWhatIsNoBeaconDatabase) {
    TempDir dir;
    const fs::path good = dir / "good.ndf";
    copyPristineDatabase(good);
    std::string torn = readFile(good);
    torn.resize(torn.size() / 3);  // pages missing: a copy cut short
    std::string scribbled = readFile(good);
    for (std::size_t i = 4096; i < scribbled.size(); i += 7) scribbled[i] = '\x5A';
    const struct {
        const char* name;
        std::string bytes;  // empty: an empty SQLite database of no tables
        const char* reason;
    } cases[] = {
        {"a text file", "these are not the beacons you are looking for\n", "not a database"},
        {"an SQLite database of other tables", "", "no table NDBInformation, NDBLog, NewBeacons"},
        {"a copy cut short", torn, ""},
        {"pages overwritten", scribbled, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir / "bad.ndf";
        fs::remove(file);
        if (c.bytes.empty()) {
            Database(file, Database::Mode::Create).executeScript("CREATE TABLE t (x)");
        } else {
            writeFile(file, c.bytes);
        }
        const std::string before = readFile(file);
        expectError([&] { requireBeaconDatabase(file); },
                    {file.string(), "not a beacon database", c.reason});
        EXPECT_TRUE(readFile(file) == before);
    }
    EXPECT_NO_THROW(requireBeaconDatabase(good));

    // Held by another program, a good database is not called a bad one, and
    // the engine's own words ("database is locked") stay out.
    {
        DatabaseLock lock(good);
        const std::string message = errorOf([&] { requireBeaconDatabase(good); });
        EXPECT_NE(message.find("in use by another program"), std::string::npos) << message;
        EXPECT_NE(message.find("Nothing was changed."), std::string::npos) << message;
        EXPECT_EQ(message.find("not a beacon database"), std::string::npos) << message;
        EXPECT_EQ(message.find("locked"), std::string::npos) << message;
    }
}

TEST(CompactionReplace, FailedReplacementKeepsBothCopies) {
    // A database name so long that the temporary copy beside it cannot be
    // created whatever the process number in its name: 254 characters, the
    // copy's suffix at least 7 more, past the 255 a name may have.
    TempDir dir;
    const fs::path database = dir / (std::string(250, 'd') + ".ndf");
    const fs::path compact = dir / "ndbdata1.ndf";
    copyPristineDatabase(database);
    const std::string before = readFile(database);

    expectError([&] { compactMainDatabase(database, compact); }, {database.string()});
    EXPECT_EQ(readFile(database), before);
    // The database and the compacted copy, nothing half-written.
    EXPECT_EQ(snapshot(dir.path()).size(), 2u);
    Database db(compact, Database::Mode::ReadOnly);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation"), 7077);
}

}  // namespace

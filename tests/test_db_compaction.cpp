// SPDX-License-Identifier: GPL-2.0-or-later
#include <optional>

#include "DbTestUtil.h"
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

TEST_F(Compaction, FailuresLeaveTheDatabaseAsItWasAndNameTheFile) {
    writeFile(dir / "plain", "a file, not a folder");
    const struct {
        const char* name;
        bool locked;  // another program holds the database meanwhile
        fs::path compactPath;
        std::string mentions;
    } cases[] = {
        {"database locked", true, compact, "in use by another program"},
        {"compact folder is a file", false, dir / "plain" / "ndbdata1.ndf", "plain"},
        {"compact name too long", false, dir / (std::string(300, 'n') + ".ndf"), "nnnn"},
    };
    fillAndEmptyLog();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Snapshots are taken while no lock is held: closing a file that this
        // process has open would drop the other connection's lock.
        const auto before = snapshot(dir.path());
        std::string message;
        {
            std::optional<DatabaseLock> lock;
            if (c.locked) lock.emplace(database);
            message = errorOf([&] { compactMainDatabase(database, c.compactPath); });
        }
        EXPECT_NE(message.find(c.mentions), std::string::npos) << message;
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}

TEST(CompactionReplace, FailedReplacementKeepsBothCopies) {
    // A database name so long that the temporary copy beside it cannot be
    // created: compaction succeeds, the replacement fails.
    TempDir dir;
    const fs::path database = dir / (std::string(243, 'd') + ".ndf");
    const fs::path compact = dir / "ndbdata1.ndf";
    copyPristineDatabase(database);
    const std::string before = readFile(database);

    const std::string message = errorOf([&] { compactMainDatabase(database, compact); });
    EXPECT_NE(message.find(database.string()), std::string::npos) << message;
    EXPECT_EQ(readFile(database), before);
    // The database and the compacted copy, nothing half-written.
    EXPECT_EQ(snapshot(dir.path()).size(), 2u);
    Database db(compact, Database::Mode::ReadOnly);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation"), 7077);
}

}  // namespace

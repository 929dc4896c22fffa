#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DbTestUtil.h"
#include "TestUtil.h"
#include "db/Compaction.h"
#include "db/Database.h"

namespace fs = std::filesystem;
using zolt::Database;
using zolt::EngineError;
using zolt::test::count;
using zolt::test::errorOf;
using zolt::test::TempDir;

namespace {

class Compaction : public testing::Test {
  public:
    void SetUp() override { zolt::test::copyPristineDatabase(database); }

    // Logs and then deletes many receptions, leaving free pages behind.
    void fillAndEmptyLog() {
        Database db(database);
        zolt::Transaction t(db);
        auto insert = db.prepare(
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
            "ReceptionComments) VALUES (?, 1, '1200', '20010101', ?)");
        for (std::int64_t id = 1; id <= 5000; ++id) {
            insert.bind({id, std::string(60, 'c')}).execute();
        }
        t.commit();
        db.execute("Delete From NDBLog Where LoggedLocation = 1");
    }

    TempDir dir;
    fs::path database = dir / "ndbdata.ndf";
    fs::path compact = dir / "ndbdata1.ndf";
};

TEST_F(Compaction, ShrinksTheDatabaseAndKeepsTheCompactedCopy) {
    fillAndEmptyLog();
    const auto sizeBefore = fs::file_size(database);

    zolt::compactMainDatabase(database, compact);

    EXPECT_LT(fs::file_size(database), sizeBefore);
    EXPECT_EQ(zolt::test::readFile(database), zolt::test::readFile(compact));
    // Nothing else is left in the folder: no temporary copy, no journal.
    const auto files = zolt::test::snapshot(dir.path());
    EXPECT_EQ(files.size(), 2u);

    Database db(database);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation"), 7077);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBLog"), 0);
    EXPECT_EQ(db.query("SELECT Beacon_ID FROM NDBInformation WHERE Ident = 'r' AND "
                       "Frequency = 305")
                  .rowCount(),
              3u);
    EXPECT_EQ(count(db, "PRAGMA user_version"), 1);
}

TEST_F(Compaction, StaleCompactedCopyIsReplaced) {
    zolt::test::writeFile(compact, "left over from an earlier run");
    zolt::compactMainDatabase(database, compact);
    EXPECT_EQ(zolt::test::readFile(database), zolt::test::readFile(compact));
    Database db(compact, Database::Mode::ReadOnly);
    EXPECT_EQ(count(db, "SELECT count(*) FROM CountryCode"), 175);
}

TEST_F(Compaction, CompactDatabaseNeverOverwritesItsDestination) {
    zolt::test::writeFile(compact, "someone else's file");
    const std::string message = errorOf([&] { zolt::compactDatabase(database, compact); });
    EXPECT_NE(message.find(compact.string()), std::string::npos) << message;
    EXPECT_EQ(zolt::test::readFile(compact), "someone else's file");
}

TEST_F(Compaction, FailuresLeaveTheDatabaseAsItWas) {
    struct Case {
        const char* name;
        bool locked;  // another program holds the database meanwhile
        std::function<fs::path(Compaction&)> compactPath;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {"DatabaseLocked", true, [](Compaction& f) { return f.compact; },
         "in use by another program"},
        {"CompactFolderIsAFile", false,
         [](Compaction& f) {
             zolt::test::writeFile(f.dir / "plain", "a file, not a folder");
             return f.dir / "plain" / "ndbdata1.ndf";
         },
         "plain"},
        {"CompactNameTooLong", false,
         [](Compaction& f) { return f.dir / (std::string(300, 'n') + ".ndf"); }, "nnnn"},
    };
    fillAndEmptyLog();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = c.compactPath(*this);
        // Snapshots are taken while no lock is held: closing a file that this
        // process has open would drop the other connection's lock.
        const auto before = zolt::test::snapshot(dir.path());
        std::string message;
        {
            std::unique_ptr<zolt::test::DatabaseLock> lock;
            if (c.locked) lock = std::make_unique<zolt::test::DatabaseLock>(database);
            message = errorOf([&] { zolt::compactMainDatabase(database, path); });
        }
        EXPECT_NE(message.find(c.mentions), std::string::npos) << message;
        EXPECT_EQ(zolt::test::snapshot(dir.path()), before);
        Database db(database);
        EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation"), 7077);
    }
}

TEST(CompactionReplace, FailedReplacementKeepsBothCopies) {
    // A database name so long that the temporary copy beside it cannot be
    // created: compaction succeeds, the replacement fails.
    TempDir dir;
    const fs::path database = dir / (std::string(243, 'd') + ".ndf");
    const fs::path compact = dir / "ndbdata1.ndf";
    zolt::test::copyPristineDatabase(database);
    const std::string before = zolt::test::readFile(database);

    const std::string message = errorOf([&] { zolt::compactMainDatabase(database, compact); });
    EXPECT_NE(message.find(database.string()), std::string::npos) << message;

    EXPECT_EQ(zolt::test::readFile(database), before);
    const auto files = zolt::test::snapshot(dir.path());
    EXPECT_EQ(files.size(), 2u);  // the database and the compacted copy, nothing half-written
    Database db(compact, Database::Mode::ReadOnly);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation"), 7077);
}

TEST_F(Compaction, MissingDatabaseIsReportedAndNothingIsCreated) {
    fs::remove(database);
    const std::string message = errorOf([&] { zolt::compactMainDatabase(database, compact); });
    EXPECT_NE(message.find(database.string()), std::string::npos) << message;
    EXPECT_NE(message.find("does not exist"), std::string::npos) << message;
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#include <sqlite3.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>

#include "DbTestUtil.h"
#include "db/Compaction.h"
#include "db/Schema.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

TEST(Statement, IsBoundManyTimesAndResultsReadByName) {
    TempDir dir;
    Database db{dir / "scratch.ndf", Database::Mode::Create};
    createSchema(db);
    auto insert = db.prepare(
        "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionComments) VALUES (?, ?, ?)");
    for (const DbValue& comment : {DbValue{}, DbValue{std::string("x")}, DbValue{2.5}}) {
        EXPECT_EQ(insert.bind({std::int64_t{10}, std::int64_t{3}, comment}).execute(), 1);
    }
    const auto rows = db.query("SELECT Beacon_ID, LoggedLocation, receptioncomments FROM NDBLog");
    ASSERT_EQ(rows.rowCount(), 3u);
    EXPECT_EQ(rows.text(0, "beacon_id") + rows.text(0, "LOGGEDLOCATION"), "103");
    std::string comments;
    for (std::size_t r = 0; r < 3; ++r) comments += rows.text(r, "ReceptionComments") + "|";
    EXPECT_EQ(comments, "|x|2.5|");
    EXPECT_FALSE(errorOf([&] { rows.value(0, "City"); }).empty());
    // Too few values is a fault of the caller, not a NULL.
    expectError([&] { insert.bind({std::int64_t{1}}); }, {"takes 3 values"});
    EXPECT_EQ(db.execute("DELETE FROM NDBLog"), 3);
}

// Its row counts are checked by the compaction tests, its look-ups by the
// candidate tests; here the file order and the empty log. The converted
// database goes to the new program: any SQLite reader, with no functions of
// ours, must be able to search and check it.
TEST(Pristine, HoldsTheShippedListsInFileOrderAndAnEmptyLogReadableByAnyProgram) {
    Database db{pristineDatabase(), Database::Mode::ReadOnly};
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation WHERE State <> 'XX'"), 0);
    EXPECT_EQ(count(db, "SELECT max(Beacon_ID) FROM NDBInformation"), 7077);
    EXPECT_EQ(count(db, "SELECT (SELECT count(*) FROM NDBLog) + (SELECT count(*) FROM NewBeacons)"),
              0);
    EXPECT_EQ(count(db, "PRAGMA user_version"), kSchemaVersion);
    // The first row of beacons.csv; a whole frequency reads without decimals.
    const auto first = db.query("SELECT * FROM NDBInformation WHERE Beacon_ID = 1");
    std::string row;
    for (const char* column : {"Ident", "Frequency", "City", "Latitude", "Longitude"}) {
        row += first.text(0, column) + "|";
    }
    EXPECT_EQ(row, "APH|396|A P Hill|38.08778|-77.32492|");

    sqlite3* plain = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2(pristineDatabase().string().c_str(), &plain, SQLITE_OPEN_READONLY, nullptr),
        SQLITE_OK);
    for (const char* sql :
         {"PRAGMA integrity_check", "SELECT count(*) FROM NDBInformation WHERE Ident = 'aph'"}) {
        sqlite3_stmt* stmt = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(plain, sql, -1, &stmt, nullptr), SQLITE_OK) << sql;
        ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW) << sql;
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                     sql[0] == 'P' ? "ok" : "1");
        sqlite3_finalize(stmt);
    }
    sqlite3_close(plain);
}

// (A missing database is reported, and not created, by the candidate and
// reset tests.)
TEST(OpenDatabase, FilesThatAreNoBeaconDatabaseAreReportedAndKept) {
    const std::pair<const char*, std::string> cases[] = {
        {"text.ndf", std::string(4096, 'x')},
        {"empty.ndf", ""},
        {"header-only.ndf", std::string("SQLite format 3") + '\0' + std::string(200, '\x7f')},
    };
    TempDir dir;
    fs::create_directory(dir / "folder.ndf");
    expectError([&] { Database db(dir / "folder.ndf"); }, {"not a file"});
    for (const auto& [name, bytes] : cases) {
        writeFile(dir / name, bytes);
        const auto before = snapshot(dir.path());
        expectError([&, &name = name] { Database db(dir / name); },
                    {(dir / name).string(), "not a beacon database"});
        EXPECT_EQ(snapshot(dir.path()), before);
    }
    expectError([&] { Database db(dir / "text.ndf", Database::Mode::Create); }, {"already exists"});
    EXPECT_EQ(readFile(dir / "text.ndf"), cases[0].second);
}

// Opening, beginning and writing each fail after a short wait, not forever,
// and say who holds the database.
TEST(OpenDatabase, DatabaseHeldByAnotherProgramFailsPromptly) {
    TempDir dir;
    const fs::path path = dir / "ndbdata.ndf";
    copyPristineDatabase(path);
    Database early(path);  // opened before the other program took the lock
    DatabaseLock lock(path);
    const auto start = std::chrono::steady_clock::now();
    const std::initializer_list<std::string> held = {path.string(), "in use by another program"};
    expectError([&] { Database db(path); }, held);
    expectError([&] { Transaction t(early); }, held);
    expectError([&] { early.execute("DELETE FROM NDBLog"); }, held);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
}

TEST(TransactionTest, RowsLandOnlyOnCommitAndErrorsNameTheDatabase) {
    TempDir dir;
    const fs::path path = dir / "ndbdata.ndf";
    copyPristineDatabase(path);
    Database db(path);
    const auto insertTwice = [&](bool commit) {
        Transaction t(db);
        for (int i = 0; i < 2; ++i) {
            db.execute("INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES (1, 2)");
        }
        if (commit) t.commit();
    };
    insertTwice(false);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBLog"), 0);
    insertTwice(true);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBLog"), 2);
    // One file on disk between actions: no journal or log left beside it.
    EXPECT_EQ(snapshot(dir.path()).size(), 1u);

    expectError([&] { db.execute("DELETE FROM NoSuchTable"); }, {path.string(), "no such table"});
    EXPECT_EQ(errorOf([&] { db.execute("DELETE FROM NoSuchTable"); }).find("DELETE"),
              std::string::npos);
    expectError([&] { db.query("SELECT * FROM NDBLog WHERE ReceptionTime = '12"); },
                {path.string(), "unrecognized token"});
}

// Marks a file or folder immutable for as long as it lives: even root cannot
// write there, as on a read-only mount. False when the file system has no
// such mark.
// On Windows the mark is the read-only attribute, which only files heed.
class Immutable {
  public:
#ifdef _WIN32
    explicit Immutable(fs::path path) : path_(std::move(path)) {
        attributes_ = GetFileAttributesW(path_.c_str());
        on_ = attributes_ != INVALID_FILE_ATTRIBUTES && !(attributes_ & FILE_ATTRIBUTE_DIRECTORY) &&
              SetFileAttributesW(path_.c_str(), attributes_ | FILE_ATTRIBUTE_READONLY);
        // Wine keeps the mark as the Unix file's permissions, which do not
        // stop root: only a mark that refuses a writer counts.
        const HANDLE writer = on_ ? CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, 0, nullptr)
                                  : INVALID_HANDLE_VALUE;
        if (writer != INVALID_HANDLE_VALUE) {
            CloseHandle(writer);
            SetFileAttributesW(path_.c_str(), attributes_);
            on_ = false;
        }
    }
    ~Immutable() {
        if (on_) SetFileAttributesW(path_.c_str(), attributes_);
    }
#else
    explicit Immutable(fs::path path) : path_(std::move(path)) {
        on_ = std::system(("chattr +i '" + path_.string() + "' 2>/dev/null").c_str()) == 0;
    }
    ~Immutable() {
        if (on_) (void)std::system(("chattr -i '" + path_.string() + "'").c_str());
    }
#endif
    bool on() const { return on_; }

  private:
    fs::path path_;
    bool on_ = false;
#ifdef _WIN32
    DWORD attributes_ = 0;
#endif
};

// A refused write names what refuses it, the folder or the file, never the
// statement; the database is left as it was.
TEST(UnwritablePlaces, TheMessageNamesTheFolderOrFileThatRefuses) {
    TempDir dir;
    const fs::path folder = dir / "work", path = folder / "ndbdata.ndf";
    fs::create_directories(folder);
    const struct {
        const char* name;
        fs::path marked;
        std::string named;
        bool compact;
    } cases[] = {
        {"folder", folder, "its folder " + folder.string(), false},
        {"file", path, "the file " + path.string(), false},
        {"compaction target's folder", folder, "its folder " + folder.string(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        copyPristineDatabase(path);
        const auto before = snapshot(folder);
        std::string message;
        {
            Immutable mark(c.marked);
#ifdef _WIN32
            if (fs::is_directory(c.marked)) continue;  // no mark for a folder
#endif
            if (!mark.on()) GTEST_SKIP() << "this file system cannot mark files immutable";
            message = errorOf([&] {
                if (c.compact) {
                    compactDatabase(path, folder / "ndbdata1.ndf");
                } else {
                    Database(path).execute("INSERT INTO NDBLog (Beacon_ID) VALUES (1)");
                }
            });
        }
        EXPECT_NE(message.find(c.named + " cannot be written"), std::string::npos) << message;
        // Said plainly, not in the system's words.
        EXPECT_EQ(message.find("Operation not permitted"), std::string::npos) << message;
#ifndef _WIN32
        EXPECT_NE(message.find("the system refuses access to it"), std::string::npos) << message;
#endif
        for (const char* sql : {"INSERT", "VACUUM", "NDBLog"}) {
            EXPECT_EQ(message.find(sql), std::string::npos) << message;
        }
        EXPECT_EQ(snapshot(folder), before);
    }
}

struct BuildRun {
    int status;
    std::string errors;
};

BuildRun runBuilder(const TempDir& dir, const std::string& beacons, const std::string& countries) {
    writeFile(dir / "beacons.csv", beacons);
    writeFile(dir / "countries.csv", countries);
    std::vector<std::string> args;
    for (const char* name : {"beacons.csv", "countries.csv", "out.ndf"})
        args.push_back((dir / name).string());
    const int status = runProgram(pristineDatabase().parent_path() / "zolt-build-ndbdata", args, {},
                                  dir / "errors.txt");
    return {status, readFile(dir / "errors.txt")};
}

const std::string kBeaconHeader = "Ident,Frequency,City,Country,Latitude,Longitude\n";
const std::string kCountries = "CountryShort,CountryLong\r\nUSA,United States\r\n";

TEST(BuildTool, QuotedFieldsKeepCommasAndQuotes) {
    TempDir dir;
    const auto run = runBuilder(
        dir,
        kBeaconHeader +
            "AB,344,\"Town, North\",USA,1.5,-2\n\"C\"\"D\",263.5,\"Two\nLines\",USA,0,0\n",
        kCountries + "\"CIV\",\"C\xC3\xB4te d'Ivoire, the\"\r\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    Database db(dir / "out.ndf", Database::Mode::ReadOnly);
    const auto rows = db.query(
        "SELECT Beacon_ID || '|' || Ident || '|' || Frequency || '|' || City || '|' || State "
        "AS r FROM NDBInformation");
    ASSERT_EQ(rows.rowCount(), 2u);
    EXPECT_EQ(rows.text(0, "r"), "1|AB|344.0|Town, North|XX");
    EXPECT_EQ(rows.text(1, "r"), "2|C\"D|263.5|Two\nLines|XX");
    EXPECT_EQ(db.query("SELECT CountryLong FROM CountryCode WHERE CountryShort = 'CIV'")
                  .text(0, "CountryLong"),
              "C\xC3\xB4te d'Ivoire, the");
}

TEST(BuildTool, BadInputIsReportedWithItsLineAndWritesNothing) {
    const struct {
        std::string beacons, countries, where;
    } cases[] = {
        {kBeaconHeader + "AB,344,X,USA,1,2\nCD,3x4,Y,USA,1,2\n", kCountries, "beacons.csv, line 3"},
        {kBeaconHeader + "AB,344,X,USA,1,2\nCD,344,\"Y,USA,1,2\n", kCountries,
         "beacons.csv, line 3"},
        {kBeaconHeader, kCountries + "USA,Again\r\n", "countries.csv, line 3"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto run = runBuilder(dir, c.beacons, c.countries);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.errors.find(c.where), std::string::npos) << run.errors;
        EXPECT_EQ(snapshot(dir.path()).size(), 3u);  // the two inputs, errors.txt
    }
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>

#include "DbTestUtil.h"
#include "db/Schema.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

bool mentions(const std::string& message, const std::string& part) {
    return message.find(part) != std::string::npos;
}

// ---- The old dialect ---------------------------------------------------------

TEST(TranslateJetSql, RewritesDialectAndBindsLiterals) {
    const struct {
        std::string jet, sql;
        std::vector<std::string> parameters;
    } cases[] = {
        {"dElEtE\t*from   NDBLog", "DELETE FROM   NDBLog", {}},
        {"DELETE*FROM NDBLog", "DELETE FROM NDBLog", {}},
        {"Delete From t Where x = 3", "Delete From t Where x = 3", {}},
        {"SELECT xDelete * From t", "SELECT xDelete * From t", {}},
        {"WHERE x= \"ABC    \" AND y = 344", "WHERE x= ? AND y = 344", {"ABC    "}},
        {"x = 'O''Brien'", "x = ?", {"O'Brien"}},
        {"x = \"say \"\"hi\"\"\"", "x = ?", {"say \"hi\""}},
        {"x = \"O'Brien\"", "x = ?", {"O'Brien"}},
        {"x = ''", "x = ?", {""}},
        {"SELECT 'Delete * From t', \"b\"", "SELECT ?, ?", {"Delete * From t", "b"}},
        {"x = '\xC3\x80\xC3\x8E'", "x = ?", {"\xC3\x80\xC3\x8E"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.jet);
        const auto translated = translateJetSql(c.jet);
        EXPECT_EQ(translated.sql, c.sql);
        EXPECT_EQ(translated.parameters,
                  std::vector<DbValue>(c.parameters.begin(), c.parameters.end()));
    }
    for (const std::string jet : {"x = 'ABC", "x = 'O''", "x = \"a\"\"", "'"}) {
        EXPECT_PRED2(mentions, errorOf([&] { translateJetSql(jet); }), "never closed") << jet;
    }
}

// ---- Letter case of idents ----------------------------------------------------

class ScratchDatabase : public testing::Test {
  protected:
    TempDir dir;
    Database db{dir / "scratch.ndf", Database::Mode::Create};
};

// Idents compare and LIKE-match without regard to letter case, as the old
// engine's did; blanks count (callers leave trailing ones off).
TEST_F(ScratchDatabase, IdentsIgnoreLetterCase) {
    createSchema(db);
    db.execute(
        "INSERT INTO NDBInformation (Beacon_ID, Ident, Frequency) VALUES "
        "(1, 'ABC', 350), (2, 'ABD', 350), (3, 'A%C', 350), (4, 'XABC', 350)");
    const struct {
        const char* where;
        std::string value;
        std::int64_t rows;
    } cases[] = {
        {"Ident = ?", "abc", 1},
        {"Ident = ?", "ABC ", 0},
        {"Ident = ?", " ABC", 0},
        {"Ident LIKE ? ESCAPE '\\'", "ab%", 2},
        {"Ident LIKE ? ESCAPE '\\'", "A\\%C", 1},
        {"Ident LIKE ? ESCAPE '\\'", "A_C", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.where) + " with " + c.value);
        const auto result =
            db.prepare(std::string("SELECT count(*) FROM NDBInformation WHERE ") + c.where)
                .bind({c.value})
                .query();
        EXPECT_EQ(std::get<std::int64_t>(result.rows.at(0).at(0)), c.rows);
    }
}

TEST_F(ScratchDatabase, StatementIsBoundManyTimesAndResultsReadByName) {
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
    EXPECT_PRED2(mentions, errorOf([&] { insert.bind({std::int64_t{1}}); }), "takes 3 values");
    EXPECT_EQ(db.execute("Delete * From NDBLog"), 3);
}

// ---- The pristine database ---------------------------------------------------

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
    ASSERT_EQ(sqlite3_open_v2(pristineDatabase().c_str(), &plain, SQLITE_OPEN_READONLY, nullptr),
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

// ---- Opening -------------------------------------------------------------------

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
    EXPECT_PRED2(mentions, errorOf([&] { Database db(dir / "folder.ndf"); }), "not a file");
    for (const auto& [name, bytes] : cases) {
        writeFile(dir / name, bytes);
        const auto before = snapshot(dir.path());
        const std::string message = errorOf([&] { Database db(dir / name); });
        EXPECT_PRED2(mentions, message, (dir / name).string());
        EXPECT_PRED2(mentions, message, "not a beacon database");
        EXPECT_EQ(snapshot(dir.path()), before);
    }
    // Creating never overwrites.
    EXPECT_PRED2(mentions, errorOf([&] { Database db(dir / "text.ndf", Database::Mode::Create); }),
                 "already exists");
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
    for (const auto& message :
         {errorOf([&] { Database db(path); }), errorOf([&] { Transaction t(early); }),
          errorOf([&] { early.execute("Delete * From NDBLog"); })}) {
        EXPECT_PRED2(mentions, message, path.string());
        EXPECT_PRED2(mentions, message, "in use by another program");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
}

// ---- Transactions ------------------------------------------------------------

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

    const std::string message = errorOf([&] { db.execute("Delete * From NoSuchTable"); });
    for (const std::string& part : {path.string(), std::string("\"Delete * From NoSuchTable\""),
                                    std::string("no such table")})
        EXPECT_PRED2(mentions, message, part);
    const std::string unterminated =
        errorOf([&] { db.query("SELECT * FROM NDBLog WHERE ReceptionTime = '12"); });
    EXPECT_PRED2(mentions, unterminated, path.string());
    EXPECT_PRED2(mentions, unterminated, "never closed");
}

// ---- The builder of the pristine database -----------------------------------

struct BuildRun {
    int status;
    std::string errors;
};

BuildRun runBuilder(const TempDir& dir, const std::string& beacons, const std::string& countries) {
    writeFile(dir / "beacons.csv", beacons);
    writeFile(dir / "countries.csv", countries);
    std::string command = "'" + (pristineDatabase().parent_path() / "zolt-build-ndbdata").string();
    for (const char* name : {"beacons.csv", "countries.csv", "out.ndf"})
        command += "' '" + (dir / name).string();
    const int status =
        std::system((command + "' 2>'" + (dir / "errors.txt").string() + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir / "errors.txt")};
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
        EXPECT_PRED2(mentions, run.errors, c.where);
        EXPECT_EQ(snapshot(dir.path()).size(), 3u);  // the two inputs, errors.txt
    }
}

}  // namespace

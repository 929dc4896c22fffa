// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DbTestUtil.h"
#include "TestUtil.h"
#include "db/Database.h"
#include "db/Schema.h"

namespace fs = std::filesystem;
using zolt::Database;
using zolt::DbValue;
using zolt::EngineError;
using zolt::test::count;
using zolt::test::errorOf;
using zolt::test::TempDir;

namespace {

// ---- The old dialect ---------------------------------------------------------

TEST(TranslateJetSql, RewritesDialectAndBindsLiterals) {
    const struct {
        std::string jet, sql;
        std::vector<std::string> parameters;
    } cases[] = {
        {"dElEtE\t*from   NDBLog", "DELETE FROM   NDBLog", {}},
        {"DELETE*FROM NDBLog", "DELETE FROM NDBLog", {}},
        {"Delete From NDBLog Where LoggedLocation = 3",
         "Delete From NDBLog Where LoggedLocation = 3",
         {}},
        {"SELECT xDelete * From t", "SELECT xDelete * From t", {}},
        {"WHERE Ident ='ABC' AND Frequency = 350", "WHERE Ident =? AND Frequency = 350", {"ABC"}},
        {"WHERE Ident= \"ABC    \" AND Frequency = 344",
         "WHERE Ident= ? AND Frequency = 344",
         {"ABC    "}},
        {"x = 'O''Brien'", "x = ?", {"O'Brien"}},
        {"x = \"say \"\"hi\"\"\"", "x = ?", {"say \"hi\""}},
        {"x = \"O'Brien\"", "x = ?", {"O'Brien"}},
        {"x = 'a\"b'", "x = ?", {"a\"b"}},
        {"x = ''", "x = ?", {""}},
        {"SELECT 'Delete * From t', \"b\"", "SELECT ?, ?", {"Delete * From t", "b"}},
        {"x = '\xC3\x80\xC3\x8E'", "x = ?", {"\xC3\x80\xC3\x8E"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.jet);
        const auto translated = zolt::translateJetSql(c.jet);
        EXPECT_EQ(translated.sql, c.sql);
        EXPECT_EQ(translated.parameters,
                  std::vector<DbValue>(c.parameters.begin(), c.parameters.end()));
    }
}

TEST(TranslateJetSqlErrors, UnterminatedLiteralIsRefused) {
    for (const std::string jet : {"x = 'ABC", "x = \"ABC", "x = 'O''", "x = \"a\"\"", "'"}) {
        SCOPED_TRACE(jet);
        const std::string message = errorOf([&] { zolt::translateJetSql(jet); });
        EXPECT_NE(message.find("never closed"), std::string::npos) << message;
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
    zolt::createSchema(db);
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

// The converted database goes to the new program: any SQLite reader, with no
// functions of ours, must be able to search and check it.
TEST(Pristine, IsReadableByAnyProgram) {
    sqlite3* plain = nullptr;
    ASSERT_EQ(sqlite3_open_v2(zolt::test::pristineDatabase().c_str(), &plain, SQLITE_OPEN_READONLY,
                              nullptr),
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

TEST_F(ScratchDatabase, StatementIsBoundManyTimesAndResultsReadByName) {
    zolt::createSchema(db);
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
    EXPECT_NE(errorOf([&] { insert.bind({std::int64_t{1}}); }).find("takes 3 values"),
              std::string::npos);
    EXPECT_EQ(db.execute("Delete * From NDBLog"), 3);
}

// ---- The pristine database ---------------------------------------------------

// Its row counts are checked by the compaction tests; here the file order,
// the empty log and the converter's ambiguity and place queries (the look-ups
// by ident and frequency are covered by the candidate tests).
TEST(Pristine, HoldsTheShippedListsAndAnswersTheConverterQueries) {
    Database db{zolt::test::pristineDatabase(), Database::Mode::ReadOnly};
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation WHERE State <> 'XX'"), 0);
    EXPECT_EQ(count(db, "SELECT max(Beacon_ID) FROM NDBInformation"), 7077);
    EXPECT_EQ(count(db, "SELECT (SELECT count(*) FROM NDBLog) + (SELECT count(*) FROM NewBeacons)"),
              0);
    EXPECT_EQ(count(db, "PRAGMA user_version"), zolt::kSchemaVersion);
    // The first row of beacons.csv; a whole frequency reads without decimals.
    const auto first = db.query("SELECT * FROM NDBInformation WHERE Beacon_ID = 1");
    std::string row;
    for (const char* column : {"Ident", "Frequency", "City", "Latitude", "Longitude"}) {
        row += first.text(0, column) + "|";
    }
    EXPECT_EQ(row, "APH|396|A P Hill|38.08778|-77.32492|");

    const std::string grouped =
        " GROUP BY Ident,Frequency HAVING (count(Ident)>1) and (Count(frequency)>1)";
    EXPECT_EQ(db.query("SELECT Ident,Frequency FROM NDBInformation" + grouped).rowCount(), 65u);
    EXPECT_EQ(
        db.query("SELECT Ident FROM NDBInformation WHERE Ident = 'r' AND Frequency = 305" + grouped)
            .rowCount(),
        1u);
    const auto aph = db.query(
        "SELECT Beacon_ID, City, State, CountryLong FROM NDBInformation, CountryCode WHERE "
        "NDBInformation.Country=CountryCode.CountryShort AND Ident= \"aph\" AND Frequency = "
        "396.0");
    ASSERT_EQ(aph.rowCount(), 1u);
    EXPECT_EQ(aph.text(0, "CountryLong"), "United States of America");
}

// ---- Opening -------------------------------------------------------------------

// (A missing database is reported, and not created, by the candidate and
// reset tests.)
TEST(OpenDatabase, FilesThatAreNoBeaconDatabaseAreReportedAndKept) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"text.ndf", std::string(4096, 'x')},
        {"empty.ndf", ""},
        {"header-only.ndf", std::string("SQLite format 3") + '\0' + std::string(200, '\x7f')},
    };
    TempDir dir;
    fs::create_directory(dir / "folder.ndf");
    EXPECT_NE(errorOf([&] { Database db(dir / "folder.ndf"); }).find("not a file"),
              std::string::npos);
    for (const auto& c : cases) {
        zolt::test::writeFile(dir / c.name, c.bytes);
        const auto before = zolt::test::snapshot(dir.path());
        const std::string message = errorOf([&] { Database db(dir / c.name); });
        EXPECT_NE(message.find((dir / c.name).string()), std::string::npos) << message;
        EXPECT_NE(message.find("not a beacon database"), std::string::npos) << message;
        EXPECT_EQ(zolt::test::snapshot(dir.path()), before);
    }
    // Creating never overwrites.
    EXPECT_NE(errorOf([&] {
                  Database db(dir / "text.ndf", Database::Mode::Create);
              }).find("already exists"),
              std::string::npos);
    EXPECT_EQ(zolt::test::readFile(dir / "text.ndf"), cases[0].bytes);
}

TEST(OpenDatabase, DatabaseHeldByAnotherProgramFailsPromptly) {
    TempDir dir;
    const fs::path path = dir / "ndbdata.ndf";
    zolt::test::copyPristineDatabase(path);
    Database early(path);  // opened before the other program took the lock
    zolt::test::DatabaseLock lock(path);

    const auto start = std::chrono::steady_clock::now();
    const std::string openError = errorOf([&] { Database db(path); });
    const std::string beginError = errorOf([&] { zolt::Transaction t(early); });
    const std::string deleteError = errorOf([&] { early.execute("Delete * From NDBLog"); });
    const auto elapsed = std::chrono::steady_clock::now() - start;

    for (const auto& message : {openError, beginError, deleteError}) {
        EXPECT_NE(message.find(path.string()), std::string::npos) << message;
        EXPECT_NE(message.find("in use by another program"), std::string::npos) << message;
    }
    EXPECT_LT(elapsed, std::chrono::seconds(6));  // three waits of about a second
}

// ---- Transactions ------------------------------------------------------------

TEST(TransactionTest, RowsLandOnlyOnCommitAndErrorsNameTheDatabase) {
    TempDir dir;
    const fs::path path = dir / "ndbdata.ndf";
    zolt::test::copyPristineDatabase(path);
    Database db(path);
    const auto insertTwice = [&](bool commit) {
        zolt::Transaction t(db);
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
    EXPECT_EQ(zolt::test::snapshot(dir.path()).size(), 1u);

    const std::string message = errorOf([&] { db.execute("Delete * From NoSuchTable"); });
    const std::string unterminated =
        errorOf([&] { db.query("SELECT * FROM NDBLog WHERE ReceptionTime = '12"); });
    for (const std::string& part : {path.string(), std::string("\"Delete * From NoSuchTable\""),
                                    std::string("no such table")}) {
        EXPECT_NE(message.find(part), std::string::npos) << message;
    }
    EXPECT_NE(unterminated.find(path.string()), std::string::npos) << unterminated;
    EXPECT_NE(unterminated.find("never closed"), std::string::npos) << unterminated;
}

// ---- The builder of the pristine database -----------------------------------

struct BuildRun {
    int status;
    std::string errors;
};

BuildRun runBuilder(const TempDir& dir, const std::string& beacons, const std::string& countries) {
    zolt::test::writeFile(dir / "beacons.csv", beacons);
    zolt::test::writeFile(dir / "countries.csv", countries);
    const fs::path tool = zolt::test::pristineDatabase().parent_path() / "zolt-build-ndbdata";
    const std::string command = "'" + tool.string() + "' '" + (dir / "beacons.csv").string() +
                                "' '" + (dir / "countries.csv").string() + "' '" +
                                (dir / "out.ndf").string() + "' 2>'" +
                                (dir / "errors.txt").string() + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, zolt::test::readFile(dir / "errors.txt")};
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
        EXPECT_EQ(zolt::test::snapshot(dir.path()).size(), 3u);  // the two inputs, errors.txt
    }
}

}  // namespace

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
using zolt::test::TempDir;
using zolt::test::count;
using zolt::test::errorOf;

namespace {

// ---- The old dialect ---------------------------------------------------------

struct TranslateCase {
    const char* name;
    std::string jet;
    std::string sql;
    std::vector<std::string> parameters;
};

class TranslateJetSql : public testing::TestWithParam<TranslateCase> {};

TEST_P(TranslateJetSql, RewritesDialectAndBindsLiterals) {
    const auto& c = GetParam();
    const auto translated = zolt::translateJetSql(c.jet);
    EXPECT_EQ(translated.sql, c.sql);
    std::vector<DbValue> expected(c.parameters.begin(), c.parameters.end());
    EXPECT_EQ(translated.parameters, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TranslateJetSql,
    testing::Values(
        TranslateCase{"DeleteStar", "Delete * From NDBLog", "DELETE FROM NDBLog", {}},
        TranslateCase{
            "DeleteStarAnyCaseAndBlanks", "dElEtE\t*from   NDBLog", "DELETE FROM   NDBLog", {}},
        TranslateCase{"DeleteStarNoBlanks", "DELETE*FROM NDBLog", "DELETE FROM NDBLog", {}},
        TranslateCase{"DeleteWhereKept",
                      "Delete From NDBLog Where LoggedLocation = 3",
                      "Delete From NDBLog Where LoggedLocation = 3",
                      {}},
        TranslateCase{
            "DeleteInsideWordKept", "SELECT xDelete * From t", "SELECT xDelete * From t", {}},
        TranslateCase{"Apostrophes",
                      "SELECT Beacon_ID FROM NDBInformation WHERE Ident ='ABC' AND Frequency = 350",
                      "SELECT Beacon_ID FROM NDBInformation WHERE Ident =? AND Frequency = 350",
                      {"ABC"}},
        TranslateCase{"DoubleQuotesKeepBlanks",
                      "WHERE Ident= \"ABC    \" AND Frequency = 344",
                      "WHERE Ident= ? AND Frequency = 344",
                      {"ABC    "}},
        TranslateCase{"DoubledApostrophe", "x = 'O''Brien'", "x = ?", {"O'Brien"}},
        TranslateCase{"DoubledQuote", "x = \"say \"\"hi\"\"\"", "x = ?", {"say \"hi\""}},
        TranslateCase{"ApostropheInsideQuotes", "x = \"O'Brien\"", "x = ?", {"O'Brien"}},
        TranslateCase{"QuoteInsideApostrophes", "x = 'a\"b'", "x = ?", {"a\"b"}},
        TranslateCase{"EmptyLiteral", "x = ''", "x = ?", {""}},
        TranslateCase{"LikePattern", "Ident LIKE 'AB%' ", "Ident LIKE ? ", {"AB%"}},
        TranslateCase{"DeleteInsideLiteralKept",
                      "SELECT 'Delete * From t', \"b\"",
                      "SELECT ?, ?",
                      {"Delete * From t", "b"}},
        TranslateCase{"NonAsciiLiteral", "x = '\xC3\x80\xC3\x8E'", "x = ?", {"\xC3\x80\xC3\x8E"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TranslateJetSqlErrors, UnterminatedLiteralIsRefused) {
    for (const std::string jet : {"x = 'ABC", "x = \"ABC", "x = 'O''", "x = \"a\"\"", "'"}) {
        SCOPED_TRACE(jet);
        const std::string message = errorOf([&] { zolt::translateJetSql(jet); });
        EXPECT_NE(message.find("never closed"), std::string::npos) << message;
    }
}

// ---- Collation and LIKE ------------------------------------------------------

class ScratchDatabase : public testing::Test {
  protected:
    TempDir dir;
    Database db{dir / "scratch.ndf", Database::Mode::Create};
};

TEST_F(ScratchDatabase, IdentCollationIgnoresCaseAndTrailingBlanks) {
    struct Case {
        std::string left, right;
        int order;
    };
    const std::vector<Case> cases = {
        {"ABC", "abc", 0},
        {"ABC   ", "ABC", 0},
        {"abc", "ABC  ", 0},
        {"\xC3\x80\xC3\x8E", "\xC3\xA0\xC3\xAE", 0},  // ÀÎ, àî
        {"\xC3\x9E", "\xC3\xBE", 0},                  // Þ, þ
        {"\xC3\x97", "\xC3\xB7", -1},                 // × and ÷ are no letters
        {"ABC", "ABD", -1},
        {"abd", "ABC", 1},
        {"AB", "ABC", -1},
        {" ABC", "ABC", -1},  // leading blanks count
        {"", "   ", 0},
    };
    auto compare = db.prepare(
        "SELECT CASE WHEN ?1 = ?2 COLLATE IDENT THEN 0 WHEN ?1 < ?2 COLLATE IDENT THEN -1 "
        "ELSE 1 END");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.left + " | " + c.right);
        const auto result = compare.bind({c.left, c.right}).query();
        EXPECT_EQ(std::get<std::int64_t>(result.rows.at(0).at(0)), c.order);
    }
}

TEST_F(ScratchDatabase, LikeFoldsTheSameLettersAsTheCollation) {
    struct Case {
        std::string text, pattern;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"ABC", "ab%", true},
        {"ABC   ", "ABC%", true},
        {"XABC", "ABC%", false},
        {"\xC3\x80\xC3\x8E", "\xC3\xA0\xC3\xAE%", true},  // ÀÎ LIKE 'àî%'
        {"\xC3\x80\xC3\x8E", "_\xC3\x8E", true},          // '_' is one character, not one byte
        {"ABC", "A_C", true},
        {"AC", "A_C", false},
        {"ABC", "%", true},
        {"", "%", true},
        {"ABC", "A%B%C", true},
        {"ABC", "A%D", false},
    };
    auto like = db.prepare("SELECT ?1 LIKE ?2");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " LIKE " + c.pattern);
        const auto result = like.bind({c.text, c.pattern}).query();
        EXPECT_EQ(std::get<std::int64_t>(result.rows.at(0).at(0)), c.matches ? 1 : 0);
    }
    const auto escaped = db.query(
        "SELECT 'A%C' LIKE 'A\\%C' ESCAPE '\\', 'ABC' LIKE 'A\\%C' "
        "ESCAPE '\\'");
    EXPECT_EQ(escaped.rows.at(0), (std::vector<DbValue>{std::int64_t{1}, std::int64_t{0}}));
}

TEST_F(ScratchDatabase, StatementIsBoundManyTimesAndResultsReadByName) {
    zolt::createSchema(db);
    auto insert = db.prepare(
        "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionComments) "
        "VALUES (?, ?, ?, ?)");
    insert.bind({std::int64_t{10}, std::int64_t{1}, std::string("1200"), std::monostate{}})
        .execute();
    insert.bind({std::int64_t{11}, std::int64_t{3}, std::string("1300"), std::string("x")})
        .execute();
    EXPECT_EQ(insert.bind({std::int64_t{12}, std::int64_t{3}, std::string("1400"), 2.5}).execute(),
              1);

    const auto rows = db.query(
        "SELECT Beacon_ID, LoggedLocation, receptiontime, "
        "ReceptionComments FROM NDBLog WHERE ReceptionTime <> '1200'");
    ASSERT_EQ(rows.rowCount(), 2u);
    EXPECT_EQ(rows.text(0, "beacon_id"), "11");
    EXPECT_EQ(rows.text(0, "LOGGEDLOCATION"), "3");
    EXPECT_EQ(rows.text(1, "ReceptionComments"), "2.5");
    EXPECT_EQ(db.query("SELECT ReceptionComments FROM NDBLog").text(0, "ReceptionComments"), "");
    EXPECT_FALSE(errorOf([&] { rows.value(0, "City"); }).empty());

    // Too few values is a fault of the caller, not a NULL.
    EXPECT_NE(errorOf([&] { insert.bind({std::int64_t{1}}); }).find("takes 4 values"),
              std::string::npos);

    EXPECT_EQ(db.execute("Delete From NDBLog Where LoggedLocation = 3"), 2);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBLog"), 1);
    EXPECT_EQ(db.execute("Delete * From NDBLog"), 1);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBLog"), 0);
}

TEST(DbValueText, PlainForms) {
    EXPECT_EQ(zolt::dbValueText(std::monostate{}), "");
    EXPECT_EQ(zolt::dbValueText(std::int64_t{20017}), "20017");
    EXPECT_EQ(zolt::dbValueText(350.0), "350");
    EXPECT_EQ(zolt::dbValueText(263.5), "263.5");
    EXPECT_EQ(zolt::dbValueText(std::string(" XX ")), " XX ");
}

// ---- The pristine database ---------------------------------------------------

class Pristine : public testing::Test {
  protected:
    Database db{zolt::test::pristineDatabase(), Database::Mode::ReadOnly};
};

TEST_F(Pristine, HoldsTheShippedLists) {
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation"), 7077);
    EXPECT_EQ(count(db, "SELECT min(Beacon_ID) FROM NDBInformation"), 1);
    EXPECT_EQ(count(db, "SELECT max(Beacon_ID) FROM NDBInformation"), 7077);
    EXPECT_EQ(count(db, "SELECT count(*) FROM CountryCode"), 175);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBInformation WHERE State <> 'XX'"), 0);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBLog"), 0);
    EXPECT_EQ(count(db, "SELECT count(*) FROM NewBeacons"), 0);
    EXPECT_EQ(count(db, "PRAGMA user_version"), zolt::kSchemaVersion);
    EXPECT_EQ(db.query("PRAGMA journal_mode").text(0, "journal_mode"), "delete");
    // File order: the first and last rows of beacons.csv.
    const auto first = db.query("SELECT * FROM NDBInformation WHERE Beacon_ID = 1");
    EXPECT_EQ(first.text(0, "Ident"), "APH");
    EXPECT_EQ(first.text(0, "Frequency"), "396");
    EXPECT_EQ(first.text(0, "City"), "A P Hill");
    EXPECT_EQ(first.text(0, "Latitude"), "38.08778");
    EXPECT_EQ(first.text(0, "Longitude"), "-77.32492");
}

TEST_F(Pristine, QueriesOfTheConverterReturnExactRowCounts) {
    struct Case {
        const char* sql;
        std::size_t rows;
    };
    const std::vector<Case> cases = {
        {"SELECT Ident,Frequency FROM NDBInformation GROUP BY Ident,Frequency "
         "HAVING (count(Ident)>1) and (Count(frequency)>1)",
         65},
        {"SELECT Ident,Frequency FROM NDBInformation WHERE Ident = 'R' AND Frequency = 305 "
         "GROUP BY Ident,Frequency HAVING (count(Ident)>1) and (Count(frequency)>1)",
         1},
        {"SELECT Ident,Frequency FROM NDBInformation WHERE Ident = 'APH' AND Frequency = 396 "
         "GROUP BY Ident,Frequency HAVING (count(Ident)>1) and (Count(frequency)>1)",
         0},
        {"SELECT Beacon_ID,Ident,Frequency FROM NDBInformation WHERE Ident ='R' AND "
         "Frequency = 305",
         3},
        {"SELECT Beacon_ID,Ident,Frequency FROM NDBInformation WHERE Ident ='aph' AND "
         "Frequency = 396.0",
         1},
        {"SELECT Beacon_ID,Ident,Frequency FROM NDBInformation WHERE Ident ='APH' AND "
         "Frequency = 396.5",
         0},
        {"SELECT Beacon_ID, City, State, CountryLong FROM NDBInformation, CountryCode WHERE "
         "NDBInformation.Country=CountryCode.CountryShort AND Ident= \"AG     \" AND Frequency = "
         "233",
         2},
        {"SELECT Beacon_ID, City, State, CountryLong FROM NDBInformation, CountryCode WHERE "
         "NDBInformation.Country=CountryCode.CountryShort AND Ident= \"\xC3\xA0\xC3\xAE\" AND "
         "Frequency = 732",
         1},
        {"SELECT Beacon_ID, Ident, Frequency, City, State, CountryLong FROM NDBInformation, "
         "CountryCode WHERE NDBInformation.Country=CountryCode.CountryShort AND Ident LIKE 'AP%' ",
         18},
        {"SELECT Beacon_ID FROM NDBInformation WHERE Ident = 'R'", 22},
        {"SELECT Beacon_ID FROM NDBInformation WHERE Country = 'XXX'", 149},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(db.query(c.sql).rowCount(), c.rows);
    }
    const auto joined = db.query(
        "SELECT Beacon_ID, City, State, CountryLong FROM NDBInformation, CountryCode WHERE "
        "NDBInformation.Country=CountryCode.CountryShort AND Ident= \"APH\" AND Frequency = 396");
    ASSERT_EQ(joined.rowCount(), 1u);
    EXPECT_EQ(joined.text(0, "CountryLong"), "United States of America");
    EXPECT_EQ(joined.text(0, "Beacon_ID"), "1");
}

// ---- Opening -------------------------------------------------------------------

TEST(OpenDatabase, MissingDatabaseIsReportedAndNotCreated) {
    TempDir dir;
    const fs::path path = dir / "ndbdata.ndf";
    for (auto mode : {Database::Mode::ReadWrite, Database::Mode::ReadOnly}) {
        const std::string message = errorOf([&] { Database db(path, mode); });
        EXPECT_NE(message.find(path.string()), std::string::npos) << message;
        EXPECT_NE(message.find("does not exist"), std::string::npos) << message;
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(OpenDatabase, FilesThatAreNoBeaconDatabaseAreReported) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"text.ndf", std::string(4096, 'x'), "not a beacon database"},
        {"empty.ndf", "", "not a beacon database"},
        {"header-only.ndf", std::string("SQLite format 3") + '\0' + std::string(200, '\x7f'),
         "not a beacon database"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zolt::test::writeFile(dir / c.name, c.bytes);
        const auto before = zolt::test::snapshot(dir.path());
        const std::string message = errorOf([&] { Database db(dir / c.name); });
        EXPECT_NE(message.find((dir / c.name).string()), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_EQ(zolt::test::snapshot(dir.path()), before);
    }
    fs::create_directory(dir / "folder.ndf");
    EXPECT_NE(errorOf([&] { Database db(dir / "folder.ndf"); }).find("not a file"),
              std::string::npos);
}

TEST(OpenDatabase, CreateRefusesAnExistingFile) {
    TempDir dir;
    zolt::test::writeFile(dir / "taken.ndf", "keep me");
    EXPECT_NE(errorOf([&] {
                  Database db(dir / "taken.ndf", Database::Mode::Create);
              }).find("already exists"),
              std::string::npos);
    EXPECT_EQ(zolt::test::readFile(dir / "taken.ndf"), "keep me");
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

TEST(TransactionTest, RowsLandOnlyOnCommit) {
    TempDir dir;
    const fs::path path = dir / "ndbdata.ndf";
    zolt::test::copyPristineDatabase(path);
    Database db(path);
    const char* insert =
        "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
        "ReceptionComments) VALUES (1, 2, '1200', '20010101', 'heard')";
    {
        zolt::Transaction t(db);
        db.execute(insert);
        db.execute(insert);
    }
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBLog"), 0);
    {
        zolt::Transaction t(db);
        db.execute(insert);
        t.commit();
    }
    EXPECT_EQ(count(db, "SELECT count(*) FROM NDBLog"), 1);
    // One file on disk between actions: no journal or log left beside it.
    EXPECT_EQ(zolt::test::snapshot(dir.path()).size(), 1u);
}

TEST(TransactionTest, StatementErrorsNameTheDatabase) {
    TempDir dir;
    const fs::path path = dir / "ndbdata.ndf";
    zolt::test::copyPristineDatabase(path);
    Database db(path);
    const std::string message = errorOf([&] { db.execute("Delete * From NoSuchTable"); });
    EXPECT_NE(message.find(path.string()), std::string::npos) << message;
    EXPECT_NE(message.find("Delete * From NoSuchTable"), std::string::npos) << message;
    EXPECT_NE(message.find("no such table"), std::string::npos) << message;
    const std::string unterminated =
        errorOf([&] { db.query("SELECT * FROM NDBLog WHERE ReceptionTime = '12"); });
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
    const auto rows = db.query("SELECT * FROM NDBInformation");
    ASSERT_EQ(rows.rowCount(), 2u);
    EXPECT_EQ(rows.text(0, "City"), "Town, North");
    EXPECT_EQ(rows.text(0, "State"), "XX");
    EXPECT_EQ(rows.text(1, "Beacon_ID"), "2");
    EXPECT_EQ(rows.text(1, "Ident"), "C\"D");
    EXPECT_EQ(rows.text(1, "Frequency"), "263.5");
    EXPECT_EQ(rows.text(1, "City"), "Two\nLines");
    EXPECT_EQ(db.query("SELECT CountryLong FROM CountryCode WHERE CountryShort = 'CIV'")
                  .text(0, "CountryLong"),
              "C\xC3\xB4te d'Ivoire, the");
}

TEST(BuildTool, BadInputIsReportedWithItsLineAndWritesNothing) {
    struct Case {
        const char* name;
        std::string beacons, countries, where;
    };
    const std::vector<Case> cases = {
        {"BadFrequency", kBeaconHeader + "AB,344,X,USA,1,2\nCD,3x4,Y,USA,1,2\n", kCountries,
         "beacons.csv, line 3"},
        {"MissingField", kBeaconHeader + "AB,344,X,USA,1\n", kCountries, "beacons.csv, line 2"},
        {"UnclosedQuote", kBeaconHeader + "AB,344,X,USA,1,2\nCD,344,\"Y,USA,1,2\n", kCountries,
         "beacons.csv, line 3"},
        {"LatitudeOutOfRange", kBeaconHeader + "AB,344,X,USA,91,2\n", kCountries,
         "beacons.csv, line 2"},
        {"MissingColumn", "Ident,Frequency,City,Country,Latitude\n", kCountries,
         "beacons.csv, line 1"},
        {"DuplicateCountry", kBeaconHeader, kCountries + "USA,Again\r\n", "countries.csv, line 3"},
        {"NotUtf8", kBeaconHeader + "AB,344,C\xF4te,USA,1,2\n", kCountries, "beacons.csv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto run = runBuilder(dir, c.beacons, c.countries);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.errors.find(c.where), std::string::npos) << run.errors;
        auto files = zolt::test::snapshot(dir.path());
        files.erase("errors.txt");
        files.erase("beacons.csv");
        files.erase("countries.csv");
        EXPECT_TRUE(files.empty()) << files.begin()->first;
    }
}

}  // namespace

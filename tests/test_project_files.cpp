#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "app/Project.h"
#include "work/EngineError.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::readFile;
using zolt::test::snapshot;
using zolt::test::TempDir;
using zolt::test::writeFile;

namespace {

// Expects `action` to throw EngineError whose text contains `needle`.
void expectErrorNaming(const std::function<void()>& action, const std::string& needle) {
    try {
        action();
        ADD_FAILURE() << "no error; expected one naming " << needle;
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find(needle), std::string::npos)
            << e.what() << "\n  should name " << needle;
    }
}

// A plain sqlite connection, independent of the code under test.
class RawDb {
  public:
    explicit RawDb(const fs::path& path) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << "cannot open";
    }
    ~RawDb() { sqlite3_close(db_); }
    void exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            ADD_FAILURE() << sql << ": " << (error ? error : "?");
        }
        sqlite3_free(error);
    }
    long long count(const std::string& where = "1") {
        sqlite3_stmt* stmt = nullptr;
        const std::string sql = "SELECT COUNT(*) FROM NDBLog WHERE " + where;
        long long n = -1;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            n = sqlite3_column_int64(stmt, 0);
        }
        sqlite3_finalize(stmt);
        return n;
    }

  private:
    sqlite3* db_ = nullptr;
};

// A started project: database with log rows of locations 3 and 12,
// settings.ini and processed.dat.
struct Project {
    TempDir home;
    ProjectPaths paths = projectPathsFor(home / "Documents");

    Project() {
        fs::create_directories(paths.WorkFolder);
        zolt::test::copyPristineDatabase(paths.DatabasePath);
        RawDb db(paths.DatabasePath);
        db.exec(
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
            "ReceptionComments) VALUES (1, 3, '1200', '20010101', ''), (2, 12, '1300', "
            "'20010102', 'x'), (3, 12, '1400', '20010103', ''), (4, 16, '1500', '20010104', '')");
        writeSettings(paths, "/data/Logs");
        zolt::test::writeProcessed(
            paths.ProcessedPath,
            {{3, "ABC", "350", "OK"}, {12, "XY", "263.5", "OK"}, {12, "QQ", "400", "MIS"}});
    }
    fs::path file(const char* name) const { return paths.WorkFolder / name; }
};

// ---- paths -------------------------------------------------------------------

TEST(ProjectPaths, InsideTheDocumentsFolder) {
    const ProjectPaths p = projectPathsFor("/home/u/Documents");
    EXPECT_EQ(p.WorkFolder, fs::path("/home/u/Documents/ZOLT"));
    EXPECT_EQ(p.DatabasePath, fs::path("/home/u/Documents/ZOLT/ndbdata.ndf"));
    EXPECT_EQ(p.ProcessedPath, fs::path("/home/u/Documents/ZOLT/processed.dat"));

    const ProjectPaths relative = projectPathsFor({});
    EXPECT_EQ(relative.WorkFolder, fs::path("ZOLT"));
    EXPECT_EQ(relative.DatabasePath, fs::path("ZOLT/ndbdata.ndf"));
}

TEST(ProjectPaths, ApplicationDataFolder) {
    TempDir dir;
    fs::create_directories(dir / "build");
    writeFile(dir / "build" / "ndbdata.ndf", "db");
    EXPECT_EQ(applicationDataFolder(dir / "build"), dir / "build");
    fs::create_directories(dir / "usr" / "bin");
    EXPECT_EQ(applicationDataFolder(dir / "usr" / "bin"), dir / "usr" / "share" / "zolt-converter");
}

TEST(ProjectPaths, ExistenceTests) {
    TempDir dir;
    writeFile(dir / "f", "x");
    EXPECT_TRUE(DirExists(dir.path()));
    EXPECT_FALSE(DirExists(dir / "f"));
    EXPECT_TRUE(FExists(dir / "f"));
    EXPECT_FALSE(FExists(dir.path()));
    EXPECT_FALSE(FExists(dir / "f" / "below"));  // through a file: false, no exception
    EXPECT_FALSE(DirExists(dir / "missing"));
}

// ---- start-up ------------------------------------------------------------------

TEST(PrepareWorkFolder, FirstStartCopiesTheDatabase) {
    for (const bool documentsExists : {true, false}) {
        TempDir home;
        if (documentsExists) fs::create_directories(home / "Documents");
        const ProjectPaths paths = projectPathsFor(home / "Documents");
        const fs::path appData = zolt::test::pristineDatabase().parent_path();
        prepareWorkFolder(paths, appData);
        ASSERT_TRUE(FExists(paths.DatabasePath));
        EXPECT_EQ(readFile(paths.DatabasePath), readFile(appData / "ndbdata.ndf"));
        // No temporary file is left beside it.
        EXPECT_EQ(snapshot(paths.WorkFolder).size(), 1u);
    }
}

TEST(PrepareWorkFolder, SecondStartNeverReplacesTheDatabase) {
    TempDir home;
    const ProjectPaths paths = projectPathsFor(home / "Documents");
    fs::create_directories(home / "app");
    writeFile(home / "app" / "ndbdata.ndf", "a newer pristine database");
    prepareWorkFolder(paths, home / "app");
    writeFile(paths.DatabasePath, "the user's converted database");
    const auto before = snapshot(home.path());
    prepareWorkFolder(paths, home / "app");
    EXPECT_EQ(snapshot(home.path()), before);
    // Even with no pristine file at all, an existing database is enough.
    fs::remove(home / "app" / "ndbdata.ndf");
    EXPECT_NO_THROW(prepareWorkFolder(paths, home / "app"));
    EXPECT_EQ(readFile(paths.DatabasePath), "the user's converted database");
}

TEST(PrepareWorkFolder, MissingPristineDatabaseCreatesNothing) {
    TempDir home;
    fs::create_directories(home / "Documents");
    fs::create_directories(home / "app");
    const ProjectPaths paths = projectPathsFor(home / "Documents");
    const auto before = snapshot(home.path());
    expectErrorNaming([&] { prepareWorkFolder(paths, home / "app"); },
                      (home / "app" / "ndbdata.ndf").string());
    EXPECT_EQ(snapshot(home.path()), before);
}

TEST(PrepareWorkFolder, FolderThatCannotBeMade) {
    TempDir home;
    writeFile(home / "Documents", "a plain file where the folder should be");
    const ProjectPaths paths = projectPathsFor(home / "Documents");
    const auto before = snapshot(home.path());
    expectErrorNaming(
        [&] { prepareWorkFolder(paths, zolt::test::pristineDatabase().parent_path()); },
        paths.WorkFolder.string());
    EXPECT_EQ(snapshot(home.path()), before);
}

// ---- settings.ini --------------------------------------------------------------

struct SettingsCase {
    const char* name;
    std::string bytes;
    std::optional<std::string> folder;
};

class SettingsRead : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsRead, FirstField) {
    TempDir home;
    const ProjectPaths paths = projectPathsFor(home.path());
    fs::create_directories(paths.WorkFolder);
    writeFile(paths.WorkFolder / kSettingsFile, GetParam().bytes);
    const auto folder = readSettings(paths);
    ASSERT_EQ(folder.has_value(), GetParam().folder.has_value());
    if (folder) {
        EXPECT_EQ(folder->string(), *GetParam().folder);
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, SettingsRead,
                         ::testing::ValuesIn(std::vector<SettingsCase>{
                             {"CrLf", "/data/Logs/\r\n", "/data/Logs/"},
                             {"LfOnly", "/data/Logs/\n", "/data/Logs/"},
                             {"NoLineEnd", "/data/Logs/", "/data/Logs/"},
                             {"LeadingBlanksSkipped", "  \t/data/Logs/\r\n", "/data/Logs/"},
                             {"TrailingBlanksKept", "/data/My Logs /\r\n", "/data/My Logs /"},
                             {"CutAtComma", "/data/a,b/\r\n", "/data/a"},
                             {"QuotedKeepsComma", "\"/data/a,b/\"\r\n", "/data/a,b/"},
                             {"OnlyFirstLine", "/data/one/\r\n/data/two/\r\n", "/data/one/"},
                             {"EmptyFile", "", std::nullopt},
                             {"EmptyLine", "\r\n/data/Logs/\r\n", std::nullopt},
                             {"BlankLine", "   \r\n", std::nullopt},
                             {"CommaFirst", ",/data/Logs/\r\n", std::nullopt},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Settings, MissingFileIsNoProject) {
    TempDir home;
    EXPECT_FALSE(readSettings(projectPathsFor(home.path())).has_value());
}

TEST(Settings, UnreadableFileIsAnError) {
    TempDir home;
    const ProjectPaths paths = projectPathsFor(home.path());
    fs::create_directories(paths.WorkFolder / kSettingsFile);
    expectErrorNaming([&] { readSettings(paths); }, (paths.WorkFolder / kSettingsFile).string());
}

TEST(Settings, RoundTrip) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/data/Logs", "/data/Logs/\r\n"},
        {"  /data/Logs/ ", "/data/Logs/\r\n"},
        {"/data/a,b", "\"/data/a,b/\"\r\n"},
        {"/data/K\xC3\xB6ln", "/data/K\xC3\xB6ln/\r\n"},
    };
    TempDir home;
    const ProjectPaths paths = projectPathsFor(home.path());
    fs::create_directories(paths.WorkFolder);
    for (const auto& [folder, bytes] : cases) {
        writeSettings(paths, folder);
        EXPECT_EQ(readFile(paths.WorkFolder / kSettingsFile), bytes);
        const auto read = readSettings(paths);
        ASSERT_TRUE(read.has_value()) << folder;
        EXPECT_EQ(read->string(), backupFolderText(folder));
    }
    EXPECT_EQ(snapshot(paths.WorkFolder).size(), 1u);  // no temporary file left
}

TEST(Settings, UnwritableFolderLeavesTheOldFile) {
    TempDir home;
    const ProjectPaths paths = projectPathsFor(home.path());
    fs::create_directories(paths.WorkFolder);
    writeSettings(paths, "/data/Logs");
    const auto before = snapshot(home.path());
    EXPECT_THROW(writeSettings(paths, "/data/a\",b"), EngineError);
    EXPECT_THROW(writeSettings(paths, "   "), EngineError);
    EXPECT_EQ(snapshot(home.path()), before);
    EXPECT_THROW(writeSettings(projectPathsFor(home / "ZOLT" / kSettingsFile), "/data"),
                 EngineError);
}

TEST(Settings, BackupFolderText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/data/Logs", "/data/Logs/"},
        {"/data/Logs/", "/data/Logs/"},
        {"/", "/"},
        {"  /data/x  ", "/data/x/"},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(backupFolderText(in), out) << '"' << in << '"';
}

// ---- working files and resets ------------------------------------------------

TEST(RemoveWorkingFiles, RemovesTheThreeFilesOnly) {
    Project p;
    writeFile(p.file(kCompactFile), "old compacted copy");
    const std::string database = readFile(p.paths.DatabasePath);
    removeWorkingFiles(p.paths);
    const auto left = snapshot(p.paths.WorkFolder);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.at(kDatabaseFile), database);
    EXPECT_NO_THROW(removeWorkingFiles(p.paths));  // nothing left to remove is no error
}

TEST(RemoveWorkingFiles, StopsAtTheFirstFailure) {
    Project p;
    writeFile(p.file(kCompactFile), "old compacted copy");
    fs::remove(p.paths.ProcessedPath);
    fs::create_directories(p.paths.ProcessedPath / "in the way");
    EXPECT_THROW(removeWorkingFiles(p.paths), EngineError);
    EXPECT_TRUE(FExists(p.file(kCompactFile)));
    EXPECT_TRUE(FExists(p.file(kSettingsFile)));
}

TEST(StartNewProject, ClearsTheProjectAndTheLog) {
    Project p;
    writeFile(p.file(kCompactFile), "stale");
    startNewProject(p.paths);
    EXPECT_FALSE(fs::exists(p.file(kSettingsFile)));
    EXPECT_FALSE(fs::exists(p.paths.ProcessedPath));
    EXPECT_TRUE(FExists(p.file(kCompactFile)));
    EXPECT_EQ(RawDb(p.paths.DatabasePath).count(), 0);
    EXPECT_EQ(RawDb(p.file(kCompactFile)).count(), 0);
    EXPECT_FALSE(readSettings(p.paths).has_value());
}

TEST(StartNewProject, OnAMachineWhereNothingWasStarted) {
    TempDir home;
    const ProjectPaths paths = projectPathsFor(home / "Documents");
    prepareWorkFolder(paths, zolt::test::pristineDatabase().parent_path());
    startNewProject(paths);
    const auto files = snapshot(paths.WorkFolder);
    EXPECT_EQ(files.size(), 2u);
    EXPECT_TRUE(files.count(kDatabaseFile));
    EXPECT_TRUE(files.count(kCompactFile));
    EXPECT_EQ(RawDb(paths.DatabasePath).count(), 0);
}

TEST(StartNewProject, FailedFileRemovalKeepsTheLogRows) {
    Project p;
    fs::remove(p.paths.ProcessedPath);
    fs::create_directories(p.paths.ProcessedPath / "in the way");
    EXPECT_THROW(startNewProject(p.paths), EngineError);
    EXPECT_EQ(RawDb(p.paths.DatabasePath).count(), 4);
    EXPECT_FALSE(fs::exists(p.file(kCompactFile)));
}

TEST(StartOver, DeletesOnlyThatLocationsRowsAndMakesItsReceptionsUnmatched) {
    Project p;
    const auto settings = readFile(p.file(kSettingsFile));
    std::string processed = readFile(p.paths.ProcessedPath);
    // Only the State bytes of location 12's records change, to UNP, so that
    // the receptions whose rows are gone can be matched again.
    processed.replace(102 + 99, 3, "UNP");
    processed.replace(204 + 99, 3, "UNP");
    startOver(p.paths, 12);
    RawDb db(p.paths.DatabasePath);
    EXPECT_EQ(db.count("loggedlocation = 12"), 0);
    EXPECT_EQ(db.count("loggedlocation = 3"), 1);
    EXPECT_EQ(db.count("loggedlocation = 16"), 1);
    EXPECT_TRUE(FExists(p.file(kCompactFile)));
    EXPECT_EQ(readFile(p.file(kSettingsFile)), settings);
    EXPECT_EQ(readFile(p.paths.ProcessedPath), processed);
}

TEST(StartOver, NoSuchLocation) {
    Project p;
    const auto before = snapshot(p.home.path());
    for (const int location : {0, 17, -1}) EXPECT_THROW(startOver(p.paths, location), EngineError);
    EXPECT_EQ(snapshot(p.home.path()), before);
}

struct ResetCase {
    const char* name;
    std::function<void(const ProjectPaths&)> run;
    friend void PrintTo(const ResetCase& c, std::ostream* os) { *os << c.name; }
};

class LockedDatabase : public ::testing::TestWithParam<ResetCase> {};

// Another program holding the database: the command fails, and the project
// is exactly as it was.
TEST_P(LockedDatabase, ChangesNothing) {
    Project p;
    const auto before = snapshot(p.home.path());
    {
        RawDb other(p.paths.DatabasePath);
        other.exec("BEGIN EXCLUSIVE");
        expectErrorNaming([&] { GetParam().run(p.paths); }, p.paths.DatabasePath.string());
        other.exec("ROLLBACK");
    }
    EXPECT_EQ(snapshot(p.home.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Resets, LockedDatabase,
    ::testing::Values(
        ResetCase{"StartNewProject", [](const ProjectPaths& p) { startNewProject(p); }},
        ResetCase{"StartOver", [](const ProjectPaths& p) { startOver(p, 12); }},
        ResetCase{"Compact", [](const ProjectPaths& p) { compactProjectDatabase(p); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Resets, MissingDatabaseIsAnErrorAndCreatesNothing) {
    Project p;
    fs::remove(p.paths.DatabasePath);
    const auto before = snapshot(p.home.path());
    expectErrorNaming([&] { startNewProject(p.paths); }, p.paths.DatabasePath.string());
    expectErrorNaming([&] { startOver(p.paths, 3); }, p.paths.DatabasePath.string());
    EXPECT_EQ(snapshot(p.home.path()), before);
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#include <functional>

#include "DbTestUtil.h"
#include "core/FileUtil.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// NDBLog rows of the database at `path` that satisfy `where`.
std::int64_t logged(const fs::path& path, const std::string& where = "1") {
    Database db(path, Database::Mode::ReadOnly);
    return count(db, "SELECT COUNT(*) FROM NDBLog WHERE " + where);
}

// A started project: database with log rows of locations 3, 12 (two) and 16,
// settings.ini and processed.dat.
struct Project {
    TempDir home;
    ProjectPaths paths = projectPathsFor(home / "Documents");

    Project() {
        fs::create_directories(paths.WorkFolder);
        copyPristineDatabase(paths.DatabasePath);
        Database(paths.DatabasePath)
            .execute(
                "INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES (1, 3), (2, 12), "
                "(3, 12), (4, 16)");
        writeSettings(paths, "/data/Logs");
        writeProcessed(
            paths.ProcessedPath,
            {{3, "ABC", "350", "OK"}, {12, "XY", "263.5", "OK"}, {12, "QQ", "400", "MIS"}});
    }
    fs::path file(const char* name) const { return paths.WorkFolder / name; }
};

// The pristine database beside the executable in a build tree, in share/ when
// installed.
TEST(ProjectPaths, ApplicationData) {
    TempDir dir;
    fs::create_directories(dir / "usr" / "bin");
    EXPECT_EQ(applicationDataFolder(dir / "usr" / "bin"), dir / "usr" / "share" / "zolt-converter");
    writeFile(dir / "usr" / "bin" / "ndbdata.ndf", "db");
    EXPECT_EQ(applicationDataFolder(dir / "usr" / "bin"), dir / "usr" / "bin");
}

TEST(PrepareWorkFolder, CopiesTheDatabaseOnlyOnceAndNamesWhatFails) {
    TempDir home;  // without a Documents folder yet
    const ProjectPaths paths = projectPathsFor(home / "Documents");
    fs::create_directories(home / "app");
    writeFile(home / "Blocked", "a plain file where the folder should be");
    // No pristine database to copy; a work folder that cannot be made.
    const auto empty = snapshot(home.path());
    expectError([&] { prepareWorkFolder(paths, home / "app"); },
                {(home / "app" / "ndbdata.ndf").string()});
    const ProjectPaths blocked = projectPathsFor(home / "Blocked");
    expectError([&] { prepareWorkFolder(blocked, pristineDatabase().parent_path()); },
                {blocked.WorkFolder.string()});
    EXPECT_EQ(snapshot(home.path()), empty);

    writeFile(home / "app" / "ndbdata.ndf", "the pristine database");
    prepareWorkFolder(paths, home / "app");
    // The copy, and no temporary file beside it.
    EXPECT_EQ(snapshot(paths.WorkFolder),
              (std::map<std::string, std::string>{{kDatabaseFile, "the pristine database"}}));
    writeFile(paths.DatabasePath, "the user's converted database");
    writeFile(home / "app" / "ndbdata.ndf", "a newer pristine database");
    const auto before = snapshot(paths.WorkFolder);
    prepareWorkFolder(paths, home / "app");
    fs::remove(home / "app" / "ndbdata.ndf");
    EXPECT_NO_THROW(prepareWorkFolder(paths, home / "app"));
    EXPECT_EQ(snapshot(paths.WorkFolder), before);
}

TEST(Settings, ReadsTheFolderFromTheFirstFieldOfTheFirstLine) {
    const struct {
        std::string bytes;
        std::optional<std::string> folder;
    } cases[] = {
        {"/data/Logs/\n", "/data/Logs/"},
        {"  \t/data/Logs/\r\n", "/data/Logs/"},      // leading blanks skipped
        {"/data/My Logs /\r\n", "/data/My Logs /"},  // trailing blanks kept
        {"/data/a,b/\r\n", "/data/a"},               // cut at a comma
        {"\"/data/a,b/\"\r\n", "/data/a,b/"},        // unless quoted
        {"/data/one/\r\n/data/two/\r\n", "/data/one/"},
        {"", std::nullopt},
        {"\r\n/data/Logs/\r\n", std::nullopt},
        {"   \r\n", std::nullopt},
        {",/data/Logs/\r\n", std::nullopt},
        // A lone CR ends the line as LF does, never a name with a CR in it; a
        // NUL ends the text, as the system cannot take a path with one.
        {"/x/y/\r/other/\r\n", "/x/y/"},
        {std::string("/x/\0/etc/\r\n", 11), "/x/"},
        {std::string("\0/x/\r\n", 6), std::nullopt},
        {"\"/a,b/\r\n", "/a,b/"},  // a quote never closed
    };
    TempDir home;
    const ProjectPaths paths = projectPathsFor(home.path());
    EXPECT_FALSE(readSettings(paths).has_value());  // no file: no project
    fs::create_directories(paths.WorkFolder);
    for (const auto& c : cases) {
        writeFile(paths.WorkFolder / kSettingsFile, c.bytes);
        const auto folder = readSettings(paths);
        EXPECT_EQ(folder ? std::optional(folder->string()) : std::nullopt, c.folder)
            << testing::PrintToString(c.bytes);
    }
    fs::remove(paths.WorkFolder / kSettingsFile);
    fs::create_directories(paths.WorkFolder / kSettingsFile);
    expectError([&] { readSettings(paths); }, {(paths.WorkFolder / kSettingsFile).string()});
}

TEST(Settings, WriteAndReadBack) {
    // The separator appended is the system's own (a backslash on Windows).
    const std::string sep(1, static_cast<char>(fs::path::preferred_separator));
    const struct {
        std::string folder, bytes, read;
    } cases[] = {
        {"/data/Logs", "/data/Logs" + sep + "\r\n", "/data/Logs" + sep},
        {"  /data/Logs/ ", "/data/Logs/\r\n", "/data/Logs/"},
        {"/data/a,b", "\"/data/a,b" + sep + "\"\r\n", "/data/a,b" + sep},
        {"/data/K\xC3\xB6ln", "/data/K\xC3\xB6ln" + sep + "\r\n", "/data/K\xC3\xB6ln" + sep},
    };
    TempDir home;
    const ProjectPaths paths = projectPathsFor(home.path());
    fs::create_directories(paths.WorkFolder);
    for (const auto& c : cases) {
        // A path from UTF-8 text: on Windows a narrow string would be read in
        // the ANSI code page, and "K\xC3\xB6ln" would come back as "K\xC3\x83\xC2\xB6ln".
        writeSettings(paths, pathFromUtf8(c.folder));
        EXPECT_EQ(snapshot(paths.WorkFolder),  // no temporary file left
                  (std::map<std::string, std::string>{{kSettingsFile, c.bytes}}));
        EXPECT_EQ(readSettings(paths).value_or("").string(), c.read);
    }
    EXPECT_EQ(backupFolderText("/") + "|" + backupFolderText("   "), "/|");
    // What cannot be written leaves the old file.
    const auto before = snapshot(home.path());
    EXPECT_THROW(writeSettings(paths, "/data/a\",b"), EngineError);
    EXPECT_THROW(writeSettings(paths, "   "), EngineError);
    EXPECT_THROW(writeSettings(projectPathsFor(home / "ZOLT" / kSettingsFile), "/data"),
                 EngineError);
    EXPECT_EQ(snapshot(home.path()), before);
}

// A file that cannot be removed stops a reset before the log rows go, and
// the removal of the working files at the first failure.
TEST(Resets, AFileThatCannotBeRemovedStopsThem) {
    Project p;
    fs::remove(p.paths.ProcessedPath);
    fs::create_directories(p.paths.ProcessedPath / "in the way");
    EXPECT_THROW(startNewProject(p.paths), EngineError);
    EXPECT_EQ(logged(p.paths.DatabasePath), 4);
    EXPECT_FALSE(fs::exists(p.file(kCompactFile)));

    writeFile(p.file(kCompactFile), "old compacted copy");
    EXPECT_THROW(removeWorkingFiles(p.paths), EngineError);
    EXPECT_TRUE(FExists(p.file(kCompactFile)));
}

// (The window tests start a new project where nothing was started and
// finalize one.)
TEST(StartNewProject, ClearsTheProjectAndTheLog) {
    Project p;
    writeFile(p.file(kCompactFile), "stale");
    startNewProject(p.paths);
    EXPECT_FALSE(fs::exists(p.file(kSettingsFile)) || fs::exists(p.paths.ProcessedPath));
    EXPECT_EQ(logged(p.paths.DatabasePath), 0);
    EXPECT_EQ(logged(p.file(kCompactFile)), 0);
    EXPECT_NO_THROW(removeWorkingFiles(p.paths));  // files already gone are no error
    EXPECT_EQ(snapshot(p.paths.WorkFolder).size(), 1u);
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
    EXPECT_EQ(logged(p.paths.DatabasePath, "loggedlocation = 12"), 0);
    EXPECT_EQ(logged(p.paths.DatabasePath), 2);
    EXPECT_TRUE(FExists(p.file(kCompactFile)));
    EXPECT_EQ(readFile(p.file(kSettingsFile)), settings);
    EXPECT_EQ(readFile(p.paths.ProcessedPath), processed);

    const auto before = snapshot(p.home.path());
    for (const int location : {0, 17, -1}) EXPECT_THROW(startOver(p.paths, location), EngineError);
    EXPECT_EQ(snapshot(p.home.path()), before);
}

// Another program holding the database, or no database at all: the command
// fails naming it, and the project is exactly as it was.
TEST(Resets, LockedOrMissingDatabaseChangesNothing) {
    const std::vector<std::pair<const char*, std::function<void(const ProjectPaths&)>>> resets = {
        {"StartNewProject", [](const ProjectPaths& p) { startNewProject(p); }},
        {"StartOver", [](const ProjectPaths& p) { startOver(p, 12); }},
        {"Compact", [](const ProjectPaths& p) { compactProjectDatabase(p); }},
    };
    for (const bool locked : {true, false}) {
        for (const auto& [name, run] : resets) {
            SCOPED_TRACE(std::string(name) + (locked ? " locked" : " missing"));
            Project p;
            if (!locked) fs::remove(p.paths.DatabasePath);
            const auto before = snapshot(p.home.path());
            {
                std::optional<DatabaseLock> lock;
                if (locked) lock.emplace(p.paths.DatabasePath);
                expectError([&, &run = run] { run(p.paths); }, {p.paths.DatabasePath.string()});
            }
            EXPECT_EQ(snapshot(p.home.path()), before);
        }
    }
}

}  // namespace

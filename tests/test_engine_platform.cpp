// SPDX-License-Identifier: GPL-2.0-or-later
// A whole project where Windows differs from Linux: every folder and file
// named beyond the ANSI code page, and FINALIZE, which renames a compacted
// database over the working one and removes processed.dat, something
// Windows allows only once every view and handle of those files is closed.
// Both run on both systems; scripts/test-windows.sh runs them under Wine.
#include <algorithm>

#include "EngineTestUtil.h"
#include "core/FileUtil.h"
#include "core/MappedFile.h"
#include "engine/DecisionRecord.h"
#include "engine/MatchAll.h"
#include "engine/Project.h"
#include "engine/Report.h"
#include "engine/StepTwoLists.h"
#include "engine/WorkingFileRebuild.h"
#include "work/BackupImport.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// "Köln Αθήνα 東京": one letter of Windows-1252, two scripts beyond it.
const std::string kName =
    "K\xC3\xB6ln \xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xE6\x9D\xB1\xE4\xBA\xAC";

fs::path demoBackups(const fs::path& into) {
    fs::copy(fs::path(ZOLT_SOURCE_DIR) / "examples" / "backup", into);
    return into;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(pathToUtf8(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// The Documents folder, the program's folder, the backup folder and the
// report all carry such names: the project runs from the first start to a
// saved report and a compacted database as anywhere else.
TEST(WidePaths, AProjectInFoldersBeyondTheAnsiCodePage) {
    TempDir dir;
    const fs::path documents = dir.path() / pathFromUtf8("Dokumente " + kName);
    const fs::path program = dir.path() / pathFromUtf8("Programme " + kName);
    fs::create_directories(program);
    copyPristineDatabase(program / kDatabaseFile);
    const ProjectPaths paths = projectPathsFor(documents);
    prepareWorkFolder(paths, applicationDataFolder(program));
    ASSERT_TRUE(FExists(paths.DatabasePath));

    const fs::path backups = demoBackups(dir.path() / pathFromUtf8("Sicherung " + kName));
    EXPECT_EQ(buildProcessedFile(backups, paths.ProcessedPath, LogSource::Backups), 300);
    writeSettings(paths, backups);
    const auto stored = readSettings(paths);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(pathToUtf8(*stored), backupFolderText(pathToUtf8(backups)));
    EXPECT_TRUE(DirExists(*stored));

    ProjectPaths project = paths;
    project.BackupFolder = *stored;
    const MatchAllResult result = runMatchAll(project, planMatchAll(project.ProcessedPath), {});
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(result.matched.size(), 3u);
    EXPECT_EQ(assessWorkingFile(project).problem, "");

    const fs::path report =
        reportTargetPath(documents, "Bericht " + kName + " AmbiguousStations_Location1.txt");
    writeReport(project.ProcessedPath, ReportKind::Ambiguous, 1, report);
    const std::string bytes = readFile(report);
    EXPECT_FALSE(bytes.empty());
    EXPECT_NE(bytes.find("\r\n"), std::string::npos);  // the old program's line ends, as on Linux
    EXPECT_EQ(bytes, buildReport(project.ProcessedPath, ReportKind::Ambiguous, 1));

    compactProjectDatabase(project);
    EXPECT_TRUE(FExists(project.WorkFolder / kCompactFile));
    EXPECT_GT(loggedReceptionCount(project), 0);
}

// FINALIZE as the window runs it, after every reader of processed.dat and
// of the database has had its turn (the location buttons, the working set,
// the step-two lists, a report, the start-up check): the record is dropped
// inside a compacted copy renamed over the database, the working files are
// removed, and the finished database is all that stays. On Windows a view or
// handle left open by any of those readers would make the rename or the
// removal fail.
TEST(Finalize, EveryViewIsClosedBeforeFinalizeRenamesAndRemoves) {
    TempDir dir;
    ProjectPaths paths = makeProject(dir.path());
    demoBackups(paths.BackupFolder / "demo");
    paths.BackupFolder /= "demo";
    buildProcessedFile(paths.BackupFolder, paths.ProcessedPath, LogSource::Backups);
    writeSettings(paths, paths.BackupFolder);

    (void)scanLocationStates(paths.ProcessedPath);
    const MatchAllResult result = runMatchAll(paths, planMatchAll(paths.ProcessedPath), {});
    ASSERT_EQ(result.failure, "");
    ASSERT_EQ(result.matched.size(), 3u);
    for (const auto& matched : result.matched) {
        const int location = matched.location;
        const WorkingSet set = loadWorkingSet(paths.ProcessedPath, location);
        (void)readStepTwoLists(paths.ProcessedPath, location);
        (void)buildReport(paths.ProcessedPath, ReportKind::Unresolved, location);
        EXPECT_GT(set.WorkCount(), 0);
    }
    EXPECT_EQ(assessWorkingFile(paths).problem, "");
    EXPECT_EQ(checkPendingWork(paths.ProcessedPath, paths.BackupFolder, true),
              PendingWork::WorkLeft);
    const std::int64_t logged = loggedReceptionCount(paths);

    // cmdFinalize_Click, then Finalize.
    if (!finalizeDecisionRecord(paths)) compactProjectDatabase(paths);
    finalizeDecisionRecord(paths);
    removeWorkingFiles(paths);

    EXPECT_EQ(namesIn(paths.WorkFolder), std::vector<std::string>{kDatabaseFile});
    EXPECT_EQ(loggedReceptionCount(paths), logged);
    Database db(paths.DatabasePath, Database::Mode::ReadOnly);
    EXPECT_FALSE(hasDecisionRecord(db));
}

// Another program that holds the database open (the new logbook version,
// say) keeps Windows from renaming the compacted copy over it: FINALIZE then
// stops with a message naming the database, and the project stays as it was,
// record and working files included. Linux renames over an open file.
TEST(Finalize, ADatabaseHeldOpenStopsFinalizeWithNothingLost) {
    TempDir dir;
    ProjectPaths paths = makeProject(dir.path());
    demoBackups(paths.BackupFolder / "demo");
    paths.BackupFolder /= "demo";
    buildProcessedFile(paths.BackupFolder, paths.ProcessedPath, LogSource::Backups);
    writeSettings(paths, paths.BackupFolder);
    ASSERT_EQ(runMatchAll(paths, planMatchAll(paths.ProcessedPath), {}).failure, "");
    const auto before = snapshot(paths.WorkFolder);
    {
        Database other(paths.DatabasePath, Database::Mode::ReadOnly);
        const MappedFile view(paths.ProcessedPath);
#ifdef _WIN32
        expectError([&] { finalizeDecisionRecord(paths); }, {pathToUtf8(paths.DatabasePath)});
        std::map<std::string, std::string> now = snapshot(paths.WorkFolder);
        now.erase("ndbdata1.ndf");  // the compacted copy beside it is no loss
        std::map<std::string, std::string> was = before;
        was.erase("ndbdata1.ndf");
        EXPECT_EQ(now, was);
        EXPECT_TRUE(hasDecisionRecord(other));
#else
        EXPECT_TRUE(finalizeDecisionRecord(paths));
#endif
        EXPECT_FALSE(view.bytes().empty());
    }
}

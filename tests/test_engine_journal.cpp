// SPDX-License-Identifier: GPL-2.0-or-later
// A process killed between an action's commit and the end of its state write
// must leave the location either before or after the action: never with rows
// logged and their receptions still waiting to be logged again.
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

#include "EngineTestUtil.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "engine/AddToLog.h"
#include "engine/CandidateLookup.h"
#include "engine/DecisionRecord.h"
#include "engine/Project.h"
#include "engine/Reversal.h"
#include "engine/StateJournal.h"
#include "engine/UserBeacons.h"
#include "engine/WorkingFileRebuild.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// Location 2 between neighbours; the own beacon WUT/499 of ndb.dat reads "USR" on 277.
const std::vector<Row> kRows = {
    {1, "APH", "396", "UNP"},
    {2, "APH", "396", "UNP", "0900", "20010101", "unique"},
    {2, "USR", "277", "UNP", "0930", "20010101", "own"},
    {2, "GL", "201", "UNP", "1000", "20010102", "first"},
    {2, "GL", "201", "UNP", "1000", "20010102", "again"},
    {2, "NOPE", "999", "UNP", "1200", "20010104", "gone"},
    {3, "APH", "396", "UNP"},
};

StateWritePoint killAt = StateWritePoint::AfterCommit;

#ifdef _WIN32

// Windows has no fork, so the kill is played: at the point, the project's
// files are copied as they are on the disk, which is all that a killed
// process leaves behind; the action is abandoned there, and once it has let
// go of its files the copies are put back in their place.
struct Killed {};
fs::path killedProject;  // the folder of the last Project made
std::map<std::string, std::string> leftOnDisk;

void killHere(StateWritePoint point) {
    if (point != killAt) return;
    leftOnDisk = snapshot(killedProject);
    throw Killed{};
}

bool killedAt(StateWritePoint point, const std::function<void()>& action) {
    killAt = point;
    leftOnDisk.clear();
    setStateWriteHook(&killHere);
    bool killed = false;
    try {
        action();
    } catch (const Killed&) {
        killed = true;
    } catch (...) {
    }
    setStateWriteHook(nullptr);
    if (!killed) return false;
    for (const auto& entry : fs::directory_iterator(killedProject)) fs::remove_all(entry.path());
    for (const auto& [name, bytes] : leftOnDisk) {  // a folder comes before what it holds
        const fs::path path = killedProject / pathFromUtf8(name);
        if (bytes == "<dir>") {
            fs::create_directories(path);
        } else {
            writeFile(path, bytes);
        }
    }
    return true;
}

#else

void killHere(StateWritePoint point) {
    if (point == killAt) ::kill(::getpid(), SIGKILL);
}

// Runs `action` in a child process that is killed at `point`; true when it was.
bool killedAt(StateWritePoint point, const std::function<void()>& action) {
    killAt = point;
    const pid_t child = ::fork();
    if (child == 0) {
        setStateWriteHook(&killHere);
        try {
            action();
        } catch (...) {
        }
        ::_exit(0);  // the point was never reached
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) &&
           WTERMSIG(status) == SIGKILL;
}

#endif

// A project with location 2 matched once: what every action below starts from.
struct Project {
    Project() {
#ifdef _WIN32
        killedProject = dir.path();
#endif
        writeOwnBeaconFile(paths);
        writeProcessed(paths.ProcessedPath, kRows);
        matchLocations(paths, {2});
    }

    // Everything a kill could leave out of step, as the program reads it.
    struct Seen {
        std::string processed;
        std::vector<LogRow> rows;
        std::map<int, std::string> how;  // position -> how it was decided
        std::string undo;                // what Undo offers
    };
    Seen seen() {
        Seen s{readFile(paths.ProcessedPath), sortedLogRows(paths.DatabasePath), {}, {}};
        for (const auto& r : readLoggedReceptions(paths, 2, std::nullopt)) {
            s.how[r.position] = r.how;
        }
        if (const auto offer = nextUndo(paths, 2)) {
            s.undo = offer->action + " of " + std::to_string(offer->receptions);
        }
        return s;
    }

    TempDir dir;
    ProjectPaths paths = makeProject(dir.path());
};

using Action = std::function<void(const ProjectPaths&)>;

void pickGlAt4(const ProjectPaths& p) {
    WorkingSet set = loadWorkingSet(p.ProcessedPath, 2);
    addToLog(p, set, selectionAt(p, 4, listedBeacon(p, "GL", "201")), false);
}

struct ActionCase {
    std::string name;
    Action before;  // run uninterrupted first
    Action action;  // the one killed
};
const std::vector<ActionCase> kActions = {
    {"matching run", [](const ProjectPaths& p) { startOver(p, 2); },
     [](const ProjectPaths& p) { matchLocations(p, {2}); }},
    {"Add To Log", [](const ProjectPaths&) {}, &pickGlAt4},
    {"Return To Waiting", [](const ProjectPaths&) {},
     [](const ProjectPaths& p) {
         WorkingSet set = loadWorkingSet(p.ProcessedPath, 2);
         returnToWaiting(p, set, {2, 3});
     }},
    {"Undo", &pickGlAt4,
     [](const ProjectPaths& p) {
         WorkingSet set = loadWorkingSet(p.ProcessedPath, 2);
         undoLastAction(p, set);
     }},
    {"Start Over", [](const ProjectPaths&) {}, [](const ProjectPaths& p) { startOver(p, 2); }},
};

const std::vector<std::pair<std::string, StateWritePoint>> kPoints = {
    {"after the commit", StateWritePoint::AfterCommit},
    {"in the middle of the write", StateWritePoint::MidWrite},
    {"after the write", StateWritePoint::AfterWrite},
};

TEST(StateJournal, AKillAtAnyPointOfAnActionLeavesTheLocationAsAfterIt) {
    for (const auto& [name, before, action] : kActions) {
        // The same action, never interrupted: what "after" looks like, and
        // what a matching run afterwards gives.
        Project reference;
        before(reference.paths);
        action(reference.paths);
        const Project::Seen after = reference.seen();
        matchLocations(reference.paths, {2});
        const Project::Seen afterRepeat = reference.seen();

        for (const auto& [where, point] : kPoints) {
            SCOPED_TRACE(name + ", killed " + where);
            Project project;
            before(project.paths);
            ASSERT_TRUE(killedAt(point, [&, &action = action] { action(project.paths); }));

            // Opened as the program does: the location check comes first.
            const WorkingFileHealth health = assessWorkingFile(project.paths);
            EXPECT_EQ(health.problem, "");
            const Project::Seen seen = project.seen();
            EXPECT_EQ(seen.processed, after.processed);
            EXPECT_EQ(seen.rows, after.rows);
            EXPECT_EQ(seen.how, after.how);
            EXPECT_EQ(seen.undo, after.undo);

            // Nothing is logged twice by the next run.
            matchLocations(project.paths, {2});
            EXPECT_EQ(project.seen().rows, afterRepeat.rows);
            EXPECT_EQ(project.seen().processed, afterRepeat.processed);
        }
    }
}

// The next action completes a write left behind before it reads the file, so
// a window that still shows the receptions as waiting cannot log them again.
TEST(StateJournal, TheNextActionCompletesTheWriteAndRefusesWhatItSettled) {
    Project project;
    WorkingSet stale = loadWorkingSet(project.paths.ProcessedPath, 2);
    const Selection pick = selectionAt(project.paths, 4, listedBeacon(project.paths, "GL", "201"));
    ASSERT_TRUE(killedAt(StateWritePoint::AfterCommit, [&] {
        WorkingSet set = stale;
        addToLog(project.paths, set, pick, false);
    }));
    const auto rows = logRows(project.paths.DatabasePath);

    EXPECT_THROW(addToLog(project.paths, stale, pick, false), SettledElsewhere);
    EXPECT_EQ(logRows(project.paths.DatabasePath), rows);
    EXPECT_EQ(trimBlanks(readProcessedRecord(project.paths.ProcessedPath, 4).State), "OK");
    EXPECT_EQ(trimBlanks(readProcessedRecord(project.paths.ProcessedPath, 5).State), "OK");
}

// A journaled write is applied only to the file it was made for.
TEST(StateJournal, AWriteIsCompletedOnlyInTheFileItWasMadeFor) {
    struct Case {
        std::string name;
        std::function<void(const fs::path&)> change;  // done to processed.dat after the kill
        bool completed;
    };
    const auto recordBytes = [](int location, int number, std::string_view comment) {
        return processedRecord(location, number, "GL", "201", "UNP", "1000", "20010102", comment)
            .encode();
    };
    const std::vector<Case> cases = {
        {"left as the kill left it", [](const fs::path&) {}, true},
        {"its State field cut in two",
         [](const fs::path& file) {
             std::string bytes = readFile(file);
             bytes.replace(2 * ProcessedRecord::kLength - 3, 3, "OKP");
             writeFile(file, bytes);
         },
         true},
        {"one reception's comment differs",
         [&](const fs::path& file) {
             std::string bytes = readFile(file);
             bytes.replace(1 * ProcessedRecord::kLength, ProcessedRecord::kLength,
                           recordBytes(2, 2, "other"));
             writeFile(file, bytes);
         },
         false},
        {"a record appended",
         [&](const fs::path& file) { writeFile(file, readFile(file) + recordBytes(3, 8, "")); },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Project project;
        ASSERT_TRUE(killedAt(StateWritePoint::AfterCommit, [&] {
            WorkingSet set = loadWorkingSet(project.paths.ProcessedPath, 2);
            returnToWaiting(project.paths, set, {2});
        }));
        c.change(project.paths.ProcessedPath);

        const auto before = snapshot(project.paths.WorkFolder);
        // As the location check finds it.
        if (c.completed) {
            EXPECT_EQ(assessWorkingFile(project.paths).problem, "");
            EXPECT_EQ(trimBlanks(readProcessedRecord(project.paths.ProcessedPath, 2).State), "AMB");
            EXPECT_FALSE(completeStateWrites(project.paths));  // cleared
        } else {
            expectError([&] { assessWorkingFile(project.paths); },
                        {project.paths.ProcessedPath.string(), project.paths.DatabasePath.string(),
                         "nothing was changed"});
            EXPECT_EQ(snapshot(project.paths.WorkFolder), before);
        }
    }
}

// FINALIZE drops the record inside the copy it compacts: when the compaction
// fails, the project goes on with its record, its Undo and the bytes it had.
TEST(StateJournal, AFailedFinalizeKeepsTheDecisionRecord) {
    struct Case {
        std::string name;
        std::function<std::unique_ptr<DatabaseLock>(const ProjectPaths&)> obstruct;
    };
    const std::vector<Case> cases = {
        {"the database is locked",
         [](const ProjectPaths& p) { return std::make_unique<DatabaseLock>(p.DatabasePath); }},
        {"a folder stands where the compacted copy goes",
         [](const ProjectPaths& p) {
             fs::create_directories(p.WorkFolder / kCompactFile);
             writeFile(p.WorkFolder / kCompactFile / "keep", "x");
             return std::unique_ptr<DatabaseLock>();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Project project;
        pickGlAt4(project.paths);
        const auto rows = logRows(project.paths.DatabasePath);
        const auto before = snapshot(project.paths.WorkFolder);
        {
            auto obstruction = c.obstruct(project.paths);
            const auto obstructed = snapshot(project.paths.WorkFolder);
            // What FINALIZE runs, stopping at the first failure.
            EXPECT_THROW(
                {
                    finalizeDecisionRecord(project.paths);
                    compactProjectDatabase(project.paths);
                },
                EngineError);
            EXPECT_EQ(snapshot(project.paths.WorkFolder), obstructed);
        }
        fs::remove_all(project.paths.WorkFolder / kCompactFile);
        EXPECT_EQ(snapshot(project.paths.WorkFolder), before);
        WorkingSet set = loadWorkingSet(project.paths.ProcessedPath, 2);
        EXPECT_EQ(undoLastAction(project.paths, set).receptions, 2);
        EXPECT_EQ(logRows(project.paths.DatabasePath).size(), rows.size() - 1);
    }
}

}  // namespace

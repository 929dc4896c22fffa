// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <functional>
#include <optional>

#include "EngineTestUtil.h"
#include "core/TextFields.h"
#include "engine/AddToLog.h"
#include "engine/CandidateLookup.h"
#include "engine/DecisionRecord.h"
#include "engine/Project.h"
#include "engine/Reversal.h"
#include "engine/StepTwoLists.h"
#include "engine/SuggestedPicks.h"
#include "engine/UserBeacons.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// Location 2 between neighbours that must never change.
const std::vector<Row> kRows = {
    {1, "APH", "396", "UNP"},
    {2, "APH", "396", "UNP", "0900", "20010101", "unique"},     // 2: unique match
    {2, "USR", "277", "UNP", "0930", "20010101", "own"},        // 3: own beacon
    {2, "GL", "201", "UNP", "1000", "20010102", "first"},       // 4: ambiguous
    {2, "GL", "201", "UNP", "1000", "20010102", "again"},       // 5: 4 logged twice
    {2, "GL", "201", "UNP", "1100", "20010103", "later"},       // 6: ambiguous
    {2, "NOPE", "999", "UNP", "1200", "20010104", "gone"},      // 7: unresolved
    {2, "NOPE", "999", "UNP", "1300", "20010105", "gone too"},  // 8: unresolved
    {3, "APH", "396", "UNP"},
};

std::vector<std::string> schemaOf(const fs::path& database) {
    Database db(database, Database::Mode::ReadOnly);
    std::vector<std::string> schema;
    for (const auto& row :
         db.query("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name").rows) {
        std::string line;
        for (const auto& cell : row) line += dbValueText(cell) + "|";
        schema.push_back(line);
    }
    return schema;
}

class DecisionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeOwnBeaconFile(paths);
        writeProcessed(paths.ProcessedPath, kRows);
        set = loadWorkingSet(paths.ProcessedPath, 2);
        runMatching(paths, set);
        glBeacon = listedBeacon(paths, "GL", "201");
    }

    // The location's logged receptions: position -> how.
    std::map<int, std::string> howByPosition() {
        std::map<int, std::string> result;
        for (const auto& r : readLoggedReceptions(paths, 2, std::nullopt)) {
            result[r.position] = r.how;
            // Listed with the fields of its own record.
            const auto record = readProcessedRecord(paths.ProcessedPath, r.position);
            EXPECT_EQ(
                std::tie(r.ident, r.frequency, r.time, r.date, r.comment),
                std::tie(record.Ident, record.Frequency, record.Time, record.Date, record.Comment));
        }
        return result;
    }

    std::string stateAt(int position) {
        return trimBlanks(readProcessedRecord(paths.ProcessedPath, position).State);
    }

    TempDir dir;
    ProjectPaths paths = makeProject(dir.path());
    WorkingSet set;
    std::int32_t glBeacon = 0;
};

TEST_F(DecisionTest, EveryActionRecordsHowEachReceptionWasDecided) {
    EXPECT_EQ(howByPosition(),
              (std::map<int, std::string>{{2, "unique match"}, {3, "own beacon"}}));
    addToLog(paths, set, selectionAt(paths, 4, glBeacon), false);  // settles 4 and 5 with one row
    addToLog(paths, set, selectionAt(paths, 7, 1), true);
    SuggestedPickPlan plan;
    plan.picks.push_back({"GL", "201", glBeacon, 1});
    addSuggestedPicks(paths, set, plan);
    EXPECT_EQ(howByPosition(), (std::map<int, std::string>{{2, "unique match"},
                                                           {3, "own beacon"},
                                                           {4, "picked"},
                                                           {5, "picked"},
                                                           {6, "suggested"},
                                                           {7, "picked for all"},
                                                           {8, "picked for all"}}));
    // The export's view: one entry per row, the shared row once.
    {
        // Closed before the database is replaced below, which Windows refuses
        // while the file is open.
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        const auto byLogId = howDecidedByLogId(db);
        EXPECT_EQ(byLogId.size(), logRows(paths.DatabasePath).size());
    }

    // The same rows with no record, as a location matched before it existed,
    // still pair up with their receptions.
    finalizeDecisionRecord(paths);
    for (const auto& r : readLoggedReceptions(paths, 2, std::nullopt)) {
        SCOPED_TRACE(r.position);
        EXPECT_EQ(r.how, "logged earlier");
        EXPECT_EQ(r.logId != 0, r.position != 5) << "4's twin has no row of its own";
    }
}

TEST_F(DecisionTest, ReturnToWaitingPutsEachKindOfRowInItsList) {
    addToLog(paths, set, selectionAt(paths, 4, glBeacon), false);
    addToLog(paths, set, selectionAt(paths, 7, 1), true);
    struct Case {
        const char* name;
        std::vector<int> chosen;
        std::vector<std::pair<int, std::string>> states;  // position, state after
        bool forgetRecord = false;
    };
    const std::vector<Case> cases = {
        {"unique match: the beacon list has candidates", {2}, {{2, "AMB"}}},
        {"own beacon: none listed, so unresolved", {3}, {{3, "MIS"}}},
        {"picked: back to ambiguous, with its twin", {4}, {{4, "AMB"}, {5, "AMB"}}},
        {"picked for all from unresolved", {8}, {{7, "OK"}, {8, "MIS"}}},
        {"logged earlier, listed", {2}, {{2, "AMB"}}, true},
        {"logged earlier, not listed", {7}, {{7, "MIS"}, {8, "OK"}}, true},
    };
    const std::string processed = readFile(paths.ProcessedPath);
    const auto rows = sortedLogRows(paths.DatabasePath);
    const std::string database = readFile(paths.DatabasePath);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(paths.ProcessedPath, processed);
        writeFile(paths.DatabasePath, database);
        set = loadWorkingSet(paths.ProcessedPath, 2);
        if (c.forgetRecord) finalizeDecisionRecord(paths);
        const auto returned = std::count_if(c.states.begin(), c.states.end(),
                                            [](const auto& s) { return s.second != "OK"; });
        EXPECT_EQ(returnToWaiting(paths, set, c.chosen), returned);
        const StepTwoLists lists = readStepTwoLists(paths.ProcessedPath, 2);
        auto listed = [](const std::vector<ListedReception>& list, int position) {
            return std::any_of(list.begin(), list.end(),
                               [&](const ListedReception& r) { return r.recordNo == position; });
        };
        for (const auto& [position, state] : c.states) {
            EXPECT_EQ(stateAt(position), state) << position;
            EXPECT_EQ(listed(lists.ambiguous, position), state == "AMB") << position;
            EXPECT_EQ(listed(lists.unresolved, position), state == "MIS") << position;
        }
        EXPECT_EQ(stateAt(1), "UNP");
        EXPECT_EQ(stateAt(9), "UNP");
        // Each returned reception's row has left the log.
        EXPECT_LT(logRows(paths.DatabasePath).size(), rows.size());
    }
}

TEST_F(DecisionTest, UndoStepsBackThroughEveryActionToTheMatchingRun) {
    std::vector<std::pair<std::string, std::vector<LogRow>>> before;
    auto keep = [&] {
        before.emplace_back(readFile(paths.ProcessedPath), sortedLogRows(paths.DatabasePath));
    };
    const std::vector<std::pair<const char*, std::function<void()>>> actions = {
        {"Add To Log", [&] { addToLog(paths, set, selectionAt(paths, 4, glBeacon), false); }},
        {"Add To Log", [&] { addToLog(paths, set, selectionAt(paths, 7, 1), true); }},
        {"Return To Waiting",
         [&] {
             returnToWaiting(paths, set, {2, 3, 5, 8});
         }},
        {"Add Suggested Picks",
         [&] {
             SuggestedPickPlan plan;
             plan.picks.push_back({"GL", "201", glBeacon, 3});
             addSuggestedPicks(paths, set, plan);
         }},
        {"Return To Waiting", [&] { returnToWaiting(paths, set, {4}); }},
    };
    EXPECT_FALSE(nextUndo(paths, 2)) << "the matching run is the floor";
    for (const auto& [name, act] : actions) {
        keep();
        act();
        ASSERT_TRUE(nextUndo(paths, 2));
        EXPECT_EQ(nextUndo(paths, 2)->action, name);
    }
    for (std::size_t i = actions.size(); i-- > 0;) {
        SCOPED_TRACE(actions[i].first);
        EXPECT_EQ(undoLastAction(paths, set).action, actions[i].first);
        EXPECT_EQ(readFile(paths.ProcessedPath), before[i].first);
        EXPECT_EQ(sortedLogRows(paths.DatabasePath), before[i].second);
        EXPECT_EQ(set.entries.size(), 7u);
    }
    EXPECT_FALSE(nextUndo(paths, 2));
    expectError([&] { undoLastAction(paths, set); }, {"Nothing was undone", "no action left"});
    // What the run decided is still on record after all that.
    EXPECT_EQ(howByPosition(),
              (std::map<int, std::string>{{2, "unique match"}, {3, "own beacon"}}));
}

TEST_F(DecisionTest, AFailureOrAStaleRecordChangesNothing) {
    addToLog(paths, set, selectionAt(paths, 7, 1), true);
    returnToWaiting(paths, set, {2});
    const auto processed = readFile(paths.ProcessedPath);
    struct Case {
        const char* name;
        std::function<void()> spoil;  // applied before the action, undone after
        std::function<void()> action;
        std::vector<std::string> message;
    };
    std::optional<DatabaseLock> lock;
    std::optional<test::DatabaseReader> reader;
    auto undo = [&] { undoLastAction(paths, set); };
    auto returning = [&] { returnToWaiting(paths, set, {3}); };
    const std::vector<Case> cases = {
        {"database held by another program",
         [&] { lock.emplace(paths.DatabasePath); },
         undo,
         {paths.DatabasePath.string(), "in use"}},
        {"commit blocked after processed.dat was written",
         [&] { reader.emplace(paths.DatabasePath); },
         returning,
         {paths.DatabasePath.string()}},
        {"commit blocked during an undo",
         [&] { reader.emplace(paths.DatabasePath); },
         undo,
         {paths.DatabasePath.string()}},
        {"processed.dat missing",
         [&] { fs::remove(paths.ProcessedPath); },
         returning,
         {paths.ProcessedPath.string()}},
        {"processed.dat replaced",
         [&] { writeProcessed(paths.ProcessedPath, kRows); },
         undo,
         {"refused", paths.ProcessedPath.string(), "Nothing was changed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = snapshot(paths.WorkFolder);
        c.spoil();
        const auto spoiled = snapshot(paths.WorkFolder);
        const std::string message = errorOf(c.action);
        for (const auto& part : c.message) {
            EXPECT_NE(message.find(part), std::string::npos) << message << " / " << part;
        }
        EXPECT_EQ(snapshot(paths.WorkFolder), spoiled);
        lock.reset();
        reader.reset();
        writeFile(paths.ProcessedPath, processed);
        EXPECT_EQ(snapshot(paths.WorkFolder), folder);
    }

    // Rows removed by hand: the undo of Add To Log would restore states of
    // receptions whose rows are gone.
    undoLastAction(paths, set);  // the Return To Waiting
    Database(paths.DatabasePath).execute("Delete From NDBLog Where ReceptionComments = 'gone'");
    const auto folder = snapshot(paths.WorkFolder);
    expectError([&] { undoLastAction(paths, set); }, {"refused", "no longer holds 1 of the 2"});
    EXPECT_EQ(snapshot(paths.WorkFolder), folder);
}

// (Start Over's share of the record is StartOverLeavesNoDecisionOfItsLocationBehind's.)
TEST_F(DecisionTest, FinalizeAndStartNewProjectRemoveTheRecord) {
    addToLog(paths, set, selectionAt(paths, 7, 1), true);
    // FINALIZE: the record goes before the compaction, and the database is
    // the pristine one's in every table, column and index.
    EXPECT_NE(schemaOf(paths.DatabasePath), schemaOf(pristineDatabase()));
    finalizeDecisionRecord(paths);
    compactProjectDatabase(paths);
    EXPECT_EQ(schemaOf(paths.DatabasePath), schemaOf(pristineDatabase()));

    matchLocations(paths, {3});
    EXPECT_NE(schemaOf(paths.DatabasePath), schemaOf(pristineDatabase()));  // a record again
    startNewProject(paths);
    EXPECT_EQ(schemaOf(paths.DatabasePath), schemaOf(pristineDatabase()));
}

// Each decision names the NDBLog row of its own reception: the row carries
// that reception's time, date and comment. A decision naming another
// reception's row would make Return To Waiting delete the wrong row.
TEST_F(DecisionTest, EachDecisionNamesItsOwnReceptionsRow) {
    // The receptions each decision's row was written for, by position.
    auto rowsNamed = [&] {
        std::map<int, std::tuple<std::string, std::string, std::string>> named;
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        for (const auto& row :
             db.query("SELECT d.Position, l.ReceptionTime, l.ReceptionDate, l.ReceptionComments "
                      "FROM ConverterDecision d JOIN NDBLog l ON l.Log_ID = d.Log_ID")
                 .rows) {
            named[static_cast<int>(std::get<std::int64_t>(row[0]))] = {
                dbValueText(row[1]), dbValueText(row[2]), dbValueText(row[3])};
        }
        return named;
    };
    auto ownFields = [&](int position) {
        const auto r = readProcessedRecord(paths.ProcessedPath, position);
        return std::tuple(trimBlanks(r.Time), trimBlanks(r.Date), trimBlanks(r.Comment));
    };
    const struct {
        const char* name;
        std::function<void()> act;
        std::vector<int> decided;  // every decision on record afterwards
    } steps[] = {
        {"matching run: two rows", [] {}, {2, 3}},
        {"Add To Log for all: a row each",
         [&] { addToLog(paths, set, selectionAt(paths, 7, 1), true); },
         {2, 3, 7, 8}},
        {"Add Suggested Picks: a row each",
         [&] {
             SuggestedPickPlan plan;
             plan.picks.push_back({"GL", "201", glBeacon, 3});
             addSuggestedPicks(paths, set, plan);
         },
         {2, 3, 4, 5, 6, 7, 8}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        const auto named = rowsNamed();
        std::vector<int> decided;
        for (const auto& [position, fields] : named) {
            decided.push_back(position);
            EXPECT_EQ(fields, ownFields(position)) << "reception " << position;
        }
        EXPECT_EQ(decided, step.decided);
    }

    // Returning one reception takes exactly its own row out.
    const auto rows = logRows(paths.DatabasePath);
    const auto [time, date, comment] = ownFields(7);
    EXPECT_EQ(returnToWaiting(paths, set, {7}), 1);
    std::vector<LogRow> left;
    for (const auto& row : rows) {
        if (std::tie(row.time, row.date, row.comment) != std::tie(time, date, comment)) {
            left.push_back(row);
        }
    }
    ASSERT_EQ(left.size(), rows.size() - 1);
    EXPECT_EQ(logRows(paths.DatabasePath), left);
    for (const auto& [position, fields] : rowsNamed()) EXPECT_EQ(fields, ownFields(position));
}

// Start Over forgets everything the record holds of its location, and
// nothing of any other.
TEST_F(DecisionTest, StartOverLeavesNoDecisionOfItsLocationBehind) {
    // Location 1 matched and returned, location 3 matched.
    WorkingSet first = loadWorkingSet(paths.ProcessedPath, 1);
    runMatching(paths, first);
    returnToWaiting(paths, first, {1});
    WorkingSet third = loadWorkingSet(paths.ProcessedPath, 3);
    runMatching(paths, third);
    addToLog(paths, set, selectionAt(paths, 4, glBeacon), false);
    addToLog(paths, set, selectionAt(paths, 7, 1), true);
    returnToWaiting(paths, set, {2, 8});
    // Rows of each table of the record, by location.
    auto recordOf = [&](int location) {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        const std::string at = std::to_string(location);
        return std::vector<std::int64_t>{
            count(db, "SELECT count(*) FROM ConverterAction WHERE loggedlocation = " + at),
            count(db, "SELECT count(*) FROM ConverterDecision WHERE loggedlocation = " + at),
            count(db,
                  "SELECT count(*) FROM ConverterReturned WHERE Action_ID IN (SELECT Action_ID "
                  "FROM ConverterAction WHERE loggedlocation = " +
                      at + ")"),
            count(db, "SELECT count(*) FROM ConverterStateWrite WHERE loggedlocation = " + at),
            count(db, "SELECT count(*) FROM NDBLog WHERE loggedlocation = " + at)};
    };
    auto everything = [&] {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        return std::vector<std::int64_t>{count(db, "SELECT count(*) FROM ConverterAction"),
                                         count(db, "SELECT count(*) FROM ConverterDecision"),
                                         count(db, "SELECT count(*) FROM ConverterReturned"),
                                         count(db, "SELECT count(*) FROM ConverterStateWrite"),
                                         count(db, "SELECT count(*) FROM NDBLog")};
    };
    const std::vector<std::vector<std::int64_t>> kept = {recordOf(1), recordOf(3)};
    EXPECT_EQ(kept[0], (std::vector<std::int64_t>{2, 0, 1, 0, 0}));
    EXPECT_EQ(kept[1], (std::vector<std::int64_t>{1, 1, 0, 0, 1}));
    EXPECT_EQ(recordOf(2), (std::vector<std::int64_t>{4, 4, 2, 0, 3}));

    startOver(paths, 2);
    EXPECT_EQ(recordOf(2), (std::vector<std::int64_t>{0, 0, 0, 0, 0}));
    EXPECT_EQ(recordOf(1), kept[0]);
    EXPECT_EQ(recordOf(3), kept[1]);
    // Nothing left that belongs to no location's action.
    std::vector<std::int64_t> both(kept[0].size());
    for (std::size_t i = 0; i < both.size(); ++i) both[i] = kept[0][i] + kept[1][i];
    EXPECT_EQ(everything(), both);
    set = loadWorkingSet(paths.ProcessedPath, 2);
    EXPECT_EQ(states(set), std::vector<std::string>(7, "UNP"));
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "core/TextFields.h"
#include "engine/CandidateLookup.h"
#include "engine/LocationSession.h"
#include "engine/ProcessedBytes.h"
#include "engine/Project.h"
#include "engine/UserBeacons.h"
#include "work/WorkingFileCheck.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

using Change = LocationSession::Change;

// Location 2 between neighbours; the own beacon WUT/499 of ndb.dat reads "USR" on 277.
const std::vector<Row> kRows = {
    {1, "APH", "396", "UNP"},
    {2, "APH", "396", "UNP", "0900", "20010101", "unique"},  // 2: unique match
    {2, "USR", "277", "UNP", "0930", "20010101", "own"},     // 3: own beacon
    {2, "GL", "201", "UNP", "1000", "20010102", "first"},    // 4: ambiguous
    {2, "GL", "201", "UNP", "1000", "20010102", "again"},    // 5: 4 logged twice
    {2, "GL", "201", "UNP", "1100", "20010103", "later"},    // 6: ambiguous
    {2, "NOPE", "999", "UNP", "1200", "20010104", "gone"},   // 7: unresolved
    {3, "APH", "396", "UNP"},
};

// What the session holds, in a form that compares.
struct Held {
    int location = 0;
    std::vector<std::string> states;
    std::vector<int> ambiguous, unresolved, logged;
    std::string undo, home;
    int settled = 0;
    bool operator==(const Held&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Held& h) {
    out << "location " << h.location << ", states";
    for (const auto& s : h.states) out << ' ' << s;
    out << ", ambiguous";
    for (int p : h.ambiguous) out << ' ' << p;
    out << ", unresolved";
    for (int p : h.unresolved) out << ' ' << p;
    out << ", logged";
    for (int p : h.logged) out << ' ' << p;
    return out << ", undo '" << h.undo << "', home '" << h.home << "', settled " << h.settled;
}

Held heldBy(const LocationSession& s) {
    Held h;
    h.location = s.location();
    h.states = states(s.work());
    for (const auto& r : s.lists().ambiguous) h.ambiguous.push_back(r.recordNo);
    for (const auto& r : s.lists().unresolved) h.unresolved.push_back(r.recordNo);
    for (const auto& r : s.logged()) h.logged.push_back(r.position);
    if (s.undoOffer()) {
        h.undo = s.undoOffer()->action + " of " + std::to_string(s.undoOffer()->receptions);
    }
    h.home = s.home().entered;
    h.settled = s.settledCount();
    return h;
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeOwnBeaconFile(paths);
        writeProcessed(paths.ProcessedPath, kRows);
        writeSettings(paths, paths.BackupFolder);
        session.observe([this](unsigned changes) { told.push_back(changes); });
        glBeacon = listedBeacon(paths, "GL", "201");
    }

    TempDir dir;
    ProjectPaths paths = makeProject(dir.path());
    LocationSession session{paths};
    std::vector<unsigned> told;
    std::int32_t glBeacon = 0;
};

constexpr unsigned kAfterAction = Change::Lists | Change::Home | Change::Undo | Change::Logged;

TEST_F(SessionTest, EachActionChangesWhatItHoldsAndTellsTheObservers) {
    const std::vector<std::string> unp(6, "UNP");
    const std::vector<std::string> matched = {"OK", "OK", "AMB", "AMB", "AMB", "MIS"};
    const std::vector<std::string> picked = {"OK", "OK", "OK", "OK", "AMB", "MIS"};
    struct Case {
        const char* name;
        std::function<void()> act;
        std::vector<unsigned> told;  // to every observer, in order
        Held held;
    };
    const std::vector<Case> cases = {
        {"choose",
         [&] { session.choose(2); },
         {Change::Everything},
         {2, unp, {}, {}, {}, "", "", 0}},
        {"matching run",
         [&] { EXPECT_EQ(session.match({}).logged, 2); },
         {Change::Lists | Change::Home | Change::Undo},
         {2, matched, {4, 5, 6}, {7}, {}, "", "", 2}},
        {"logged receptions wanted",
         [&] { session.wantLogged(true); },
         {Change::Logged},
         {2, matched, {4, 5, 6}, {7}, {2, 3}, "", "", 2}},
        {"Add To Log",
         [&] { EXPECT_EQ(session.addToLog(selectionAt(paths, 4, glBeacon), false), 1); },
         {kAfterAction},
         {2, picked, {6}, {7}, {2, 3, 4, 5}, "Add To Log of 2", "", 4}},
        {"the receptions a return takes: a row goes whole",
         [&] {
             EXPECT_EQ(session.returnedWith({5}), (std::vector<int>{4, 5}));
         },
         {},
         {2, picked, {6}, {7}, {2, 3, 4, 5}, "Add To Log of 2", "", 4}},
        {"Return To Waiting",
         [&] {
             EXPECT_EQ(session.returnToWaiting({4, 5}), 2);
         },
         {kAfterAction},
         {2, matched, {4, 5, 6}, {7}, {2, 3}, "Return To Waiting of 2", "", 2}},
        {"Undo",
         [&] { EXPECT_EQ(session.undoLastAction().action, "Return To Waiting"); },
         {kAfterAction},
         {2, picked, {6}, {7}, {2, 3, 4, 5}, "Add To Log of 2", "", 4}},
        {"a typed home",
         [&] { session.setHomeEntry("JO65"); },
         {Change::Home | Change::Logged},
         {2, picked, {6}, {7}, {2, 3, 4, 5}, "Add To Log of 2", "JO65", 4}},
        {"the plan reads the home anew",
         [&] { session.planSuggestedPicks(); },
         {Change::Home},
         {2, picked, {6}, {7}, {2, 3, 4, 5}, "Add To Log of 2", "JO65", 4}},
        {"Add Suggested Picks",
         [&] {
             SuggestedPickPlan plan;
             plan.picks.push_back({"GL", "201", glBeacon, 1});
             EXPECT_EQ(session.addSuggestedPicks(plan), 1);
         },
         {kAfterAction},
         {2,
          {"OK", "OK", "OK", "OK", "OK", "MIS"},
          {},
          {7},
          {2, 3, 4, 5, 6},
          "Add Suggested Picks of 1",
          "JO65",
          5}},
        {"Start Over",
         [&] { session.startOver(); },
         {Change::Everything},
         {0, {}, {}, {}, {}, "", "", 0}},
        {"chosen again: unmatched",
         [&] { session.choose(2); },
         {Change::Everything},
         {2, unp, {}, {}, {}, "", "JO65", 0}},
        {"no location",
         [&] { session.clear(); },
         {Change::Everything},
         {0, {}, {}, {}, {}, "", "", 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        told.clear();
        c.act();
        EXPECT_EQ(told, c.told);
        EXPECT_EQ(heldBy(session), c.held);
    }
}

TEST_F(SessionTest, AFailedActionLeavesTheSessionAsItWas) {
    session.choose(2);
    session.match({});
    session.wantLogged(true);
    session.addToLog(selectionAt(paths, 7, 1), true);
    struct Case {
        const char* name;
        std::function<void()> act;
    };
    SuggestedPickPlan plan;
    plan.picks.push_back({"GL", "201", glBeacon, 3});
    const std::vector<Case> cases = {
        {"choose", [&] { session.choose(3); }},
        {"Add To Log", [&] { session.addToLog(selectionAt(paths, 4, glBeacon), true); }},
        {"Add Suggested Picks", [&] { session.addSuggestedPicks(plan); }},
        {"Return To Waiting", [&] { session.returnToWaiting({2}); }},
        {"Undo", [&] { session.undoLastAction(); }},
        {"Start Over", [&] { session.startOver(); }},
        {"a typed home", [&] { session.setHomeEntry("JO65"); }},
    };
    const Held before = heldBy(session);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = snapshot(paths.WorkFolder);
        told.clear();
        {
            DatabaseLock lock(paths.DatabasePath);
            EXPECT_THROW(c.act(), EngineError);
        }
        EXPECT_EQ(told, std::vector<unsigned>{});
        EXPECT_EQ(heldBy(session), before);
        EXPECT_EQ(snapshot(paths.WorkFolder), folder);
    }
    told.clear();
    expectError([&] { session.setHomeEntry("not a place"); }, {});
    EXPECT_EQ(heldBy(session), before);
    EXPECT_EQ(told, std::vector<unsigned>{});
}

// The action is stored but what follows it cannot be read (here the logged
// receptions' beacons): the failure is told, and the session holds the
// receptions as they now are, so that none of them is offered for logging a
// second time.
TEST_F(SessionTest, AStoredActionIsHeldWhenTheRefreshAfterItFails) {
    session.choose(2);
    session.match({});
    session.wantLogged(true);
    Database(paths.DatabasePath).execute("ALTER TABLE CountryCode RENAME TO Elsewhere");
    told.clear();
    EXPECT_THROW(session.addToLog(selectionAt(paths, 4, glBeacon), false), EngineError);
    EXPECT_EQ(told, std::vector<unsigned>{Change::Lists});
    EXPECT_EQ(states(session.work()), states(loadWorkingSet(paths.ProcessedPath, 2)));
    EXPECT_EQ(states(session.work()),
              (std::vector<std::string>{"OK", "OK", "OK", "OK", "AMB", "MIS"}));
    ASSERT_EQ(session.lists().ambiguous.size(), 1u);
    EXPECT_EQ(session.lists().ambiguous[0].recordNo, 6);
}

// Another window settled the receptions first: the refusal stands, and the
// session shows what the file now says.
TEST_F(SessionTest, ReceptionsSettledElsewhereAreLoadedAnew) {
    session.choose(2);
    session.match({});
    LocationSession other(paths);
    other.choose(2);
    other.addToLog(selectionAt(paths, 4, glBeacon), false);
    told.clear();
    EXPECT_THROW(session.addToLog(selectionAt(paths, 4, glBeacon), false), SettledElsewhere);
    EXPECT_EQ(told, std::vector<unsigned>{Change::Lists | Change::Home | Change::Undo});
    EXPECT_EQ(heldBy(session), heldBy(other));
}

// A click of Add To Log, Return To Waiting or Undo, with everything the
// window shows refreshed after it (lists, counts, home, logged receptions,
// undo offer), opens the database once and reads processed.dat at most once.
TEST_F(SessionTest, AClickOpensTheDatabaseOnceAndReadsTheWorkingFileAtMostOnce) {
    session.choose(2);
    session.match({});
    session.wantLogged(true);
    const std::vector<std::pair<const char*, std::function<void()>>> clicks = {
        {"Add To Log", [&] { session.addToLog(selectionAt(paths, 4, glBeacon), true); }},
        {"Return To Waiting",
         [&] {
             session.returnToWaiting(session.returnedWith({2, 5}));
         }},
        {"Undo of the return", [&] { session.undoLastAction(); }},
        {"Undo of Add To Log", [&] { session.undoLastAction(); }},
    };
    for (const auto& [name, click] : clicks) {
        SCOPED_TRACE(name);
        const Held before = heldBy(session);
        const std::uint64_t opens = Database::opens(), reads = ProcessedBytes::reads();
        click();
        EXPECT_EQ(Database::opens() - opens, 1u);
        EXPECT_LE(ProcessedBytes::reads() - reads, 1u);
        EXPECT_NE(heldBy(session), before);
        // What it holds is what a fresh look at the project gives.
        LocationSession fresh(paths);
        fresh.wantLogged(true);
        fresh.choose(2);
        EXPECT_EQ(heldBy(session), heldBy(fresh));
        ASSERT_EQ(session.logged().size(), fresh.logged().size());
        for (std::size_t i = 0; i < fresh.logged().size(); ++i) {
            const LoggedReception &held = session.logged()[i], &read = fresh.logged()[i];
            EXPECT_EQ(std::tie(held.logId, held.how, held.call, held.time, held.comment),
                      std::tie(read.logId, read.how, read.call, read.time, read.comment));
        }
        EXPECT_EQ(states(session.work()), states(loadWorkingSet(paths.ProcessedPath, 2)));
    }
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iomanip>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "TestUtil.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/AddToLog.h"
#include "engine/HomePosition.h"
#include "engine/Project.h"
#include "engine/SuggestedPicks.h"

namespace fs = std::filesystem;
using namespace zolt;
using test::logRows;
using test::Row;
using test::states;

namespace {

Candidate at(std::int64_t id, std::optional<LatLon> position, const char* frequency = "344") {
    return {id, "", frequency, "", "", "", position};
}

constexpr LatLon kHome{55.6, 12.6};
// About 10, 110, 560 and 1,110 km north of kHome.
constexpr LatLon kNear{55.69, 12.6}, kClose{56.6, 12.6}, kMid{60.6, 12.6}, kFar{65.6, 12.6};

// The exact view ranks by distance alone, the unresolved view (a logged
// frequency) only those within two kilohertz of it, band edges included; the
// rule itself is clearlyNearest's, tested in core.
TEST(Ranking, ByDistanceAndWithinTwoKilohertz) {
    const struct {
        const char* name;
        std::optional<double> logged;  // none: the exact view
        std::vector<Candidate> candidates;
        int suggested;
        std::optional<LatLon> home = kHome;
    } cases[] = {
        {"clearly nearest", {}, {at(1, kMid), at(2, kNear), at(3, kFar)}, 1},
        {"no position", {}, {at(1, kNear), at(2, {})}, -1},
        {"home unknown", {}, {at(1, kNear), at(2, kFar)}, -1, std::nullopt},
        {"nearest off the band", 344, {at(1, kFar), at(2, kNear, "350"), at(3, kClose, "346")}, 2},
        {"edges", 344, {at(1, kMid, "342"), at(2, kNear, "346.5"), at(3, kClose, "346")}, 2},
        {"decimal edge", 254.1, {at(1, kNear, "256.1")}, 0},  // a hair above 2 in binary
        {"a tie", 263.5, {at(1, kClose, "263"), at(2, kNear, "300"), at(3, kClose, "264")}, -1},
        {"no position in the band", 344, {at(1, kNear), at(2, {}, "345")}, -1},
        {"no position off the band", 344, {at(1, kNear), at(2, {}, "347")}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RankedCandidates ranked = c.logged ? rankPrefix(c.candidates, c.home, *c.logged)
                                                 : rankExact(c.candidates, c.home);
        ASSERT_EQ(ranked.rows.size(), c.candidates.size());
        for (std::size_t i = 0; i < ranked.rows.size(); ++i) {
            const auto& row = ranked.rows[i];
            const Candidate& candidate = c.candidates[i];
            EXPECT_EQ(row.candidate.beaconId, candidate.beaconId);  // the look-up's order
            ASSERT_EQ(row.frequencyOffsetKHz.has_value(), c.logged.has_value());
            if (c.logged) {
                EXPECT_NEAR(*row.frequencyOffsetKHz, std::stod(candidate.frequency) - *c.logged,
                            1e-9);
            }
            ASSERT_EQ(row.distanceKm.has_value(), c.home && candidate.position);
            if (row.distanceKm) {
                EXPECT_NEAR(*row.distanceKm, greatCircleKm(*c.home, *candidate.position), 1e-9);
            }
        }
        EXPECT_EQ(ranked.suggested, c.suggested);
    }
}

// Sorted, as the index keeps its own order; ident and frequency only where
// both sides fill them in.
std::vector<std::string> keysOf(const std::vector<Candidate>& candidates, bool withIdent) {
    std::vector<std::string> keys;
    for (const auto& c : candidates) {
        std::ostringstream key;
        key << std::setprecision(17) << c.beaconId << '|' << c.city << '|' << c.province << '|'
            << c.country << '|';
        if (c.position) key << c.position->lat << ' ' << c.position->lon;
        if (withIdent) key << '|' << c.ident << '|' << c.frequency;
        keys.push_back(key.str());
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Each waiting ident/frequency pair once, as Add To Log groups them, with
// the view that lists it.
struct WaitingPair {
    std::string ident, frequency;
    bool ambiguous;
};

std::vector<WaitingPair> waitingPairs(const WorkingSet& set) {
    std::vector<WaitingPair> pairs;
    std::map<std::pair<std::string, std::string>, std::size_t> seen;
    for (const auto& e : set.entries) {
        const std::string code = trimBlanks(e.state);
        if (code != "AMB" && code != "MIS") continue;
        const auto [it, added] =
            seen.try_emplace({trimBlanks(e.ident), trimBlanks(e.frequency)}, pairs.size());
        if (added) pairs.push_back({e.ident, e.frequency, false});
        pairs[it->second].ambiguous = pairs[it->second].ambiguous || code == "AMB";
    }
    return pairs;
}

void expectIndexAsLookups(const CandidateIndex& index, const fs::path& database,
                          const std::string& ident, const std::string& frequency) {
    SCOPED_TRACE("ident [" + ident + "] frequency [" + frequency + "]");
    const auto listed = [&](const std::vector<std::size_t>& at) {
        std::vector<Candidate> candidates;
        for (std::size_t i : at) candidates.push_back(index.candidates().at(i));
        return candidates;
    };
    EXPECT_EQ(keysOf(listed(index.exact(ident, frequency)), false),
              keysOf(exactCandidates(database, ident, frequency), false));
    EXPECT_EQ(keysOf(listed(index.prefix(ident)), true),
              keysOf(prefixCandidates(database, ident), true));
}

// For every waiting pair, the index names what the look-ups name, and the
// plan picks the beacon the window suggests when that pair is selected.
void expectPlanAsWindowSuggests(const ProjectPaths& paths, const WorkingSet& set,
                                std::optional<LatLon> home, const SuggestedPickPlan& plan) {
    const CandidateIndex index(paths.DatabasePath);
    std::map<std::pair<std::string, std::string>, std::int32_t> picked;
    for (const auto& p : plan.picks)
        picked[{trimBlanks(p.ident), trimBlanks(p.frequency)}] = p.beaconId;
    int suggestions = 0;
    for (const auto& pair : waitingPairs(set)) {
        expectIndexAsLookups(index, paths.DatabasePath, pair.ident, pair.frequency);
        SCOPED_TRACE("ident [" + pair.ident + "] frequency [" + pair.frequency + "]");
        const RankedCandidates ranked =
            pair.ambiguous
                ? rankExact(exactCandidates(paths.DatabasePath, pair.ident, pair.frequency), home)
                : rankPrefix(prefixCandidates(paths.DatabasePath, pair.ident), home,
                             leadingNumber(pair.frequency));
        const auto it = picked.find({trimBlanks(pair.ident), trimBlanks(pair.frequency)});
        if (ranked.suggested < 0) {
            EXPECT_TRUE(it == picked.end());
        } else {
            ++suggestions;
            ASSERT_TRUE(it != picked.end());
            EXPECT_EQ(it->second,
                      ranked.rows[static_cast<std::size_t>(ranked.suggested)].candidate.beaconId);
        }
    }
    EXPECT_EQ(static_cast<int>(plan.picks.size()), suggestions);
}

// The demo backups; home inferred from what the run logged at once.
std::optional<LatLon> demo(const ProjectPaths& paths, int location) {
    test::importDemoBackups(paths);
    test::matchLocations(paths, {1, 2, 4});
    return locationHome(paths, location).position;
}

// Hand-made: shared pairs around Prague (JO70), with the same pair typed in
// several ways, an entry already settled and another location's receptions.
std::optional<LatLon> prague(const ProjectPaths& paths) {
    test::writeProcessed(paths.ProcessedPath,
                         {
                             {2, "D", "429", "AMB"},  // another location
                             {3, "D", "429", "AMB", "0100", "20020101", "a"},
                             {3, " D ", "429 ", "AMB", "0200", "20020102", "b"},  // same pair
                             {3, "d", "429", "AMB", "0300", "20020103", "c"},     // another text
                             {3, "D", "429.0", "AMB", "0400", "20020104", "d"},
                             {3, "BI", "310", "AMB", "0500", "20020105", "e"},
                             {3, "BH", "224", "AMB", "0600", "20020106", "f"},  // both far
                             {3, "AI", "320", "AMB", "0700", "20020107", "g"},  // one listed, far
                             {3, "DA", "214", "AMB", "0800", "20020108", "h"},
                             {3, "D", "429", "OK", "0900", "20020109", "settled"},
                             {3, "D", "430", "MIS", "1000", "20020110", "i"},
                             {3, "BNR", "335", "MIS", "1100", "20020111", "j"},
                             {3, "DA", "214", "AMB", "1200", "20020112", "k"},
                             {3, "UNKNOWN", "300", "MIS", "1300", "20020113", "l"},
                         });
    writeSettings(paths, paths.BackupFolder);
    writeHomeEntry(paths, 3, "JO70");
    return locationHome(paths, 3).position;
}

TEST(CandidateIndex, MatchesLikeAndNoCaseOnAwkwardIdents) {
    // LIKE wildcards and its escape character taken literally, letter case
    // folded for A-Z only, blanks, a NUL (which ends a LIKE pattern early),
    // the empty ident (a prefix of every ident), Windows-1252 letters.
    const char* const idents[] = {"%",    "_",        "\\", "H%",  "h_",       "'",        "hk",
                                  "HK  ", " HK",      "",   "   ", "\xC0\xCE", "\xE0\xEE", "\xC0",
                                  "D-",   "ZZZZZZZZ", "b",  "BNR", "AI"};
    const char* const frequencies[] = {"332", "332.0", " 332", "abc", "", "320", "732", "334"};
    test::TempDir dir;
    const ProjectPaths paths = test::makeProject(dir.path());
    // A beacon whose country has no CountryCode row (Aitutaki) is a candidate,
    // and so is one without a position; own beacons are in the index too.
    Database(paths.DatabasePath)
        .executeScript(
            "UPDATE NDBInformation SET Latitude = NULL WHERE Beacon_ID = 5540; "
            "INSERT INTO NewBeacons (Ident, Country, frequency, Latitude, Longitude) "
            "VALUES ('hk', 'XXX', 332, '22.3', '114.2'), ('BNR', 'USA', 335, '', '')");
    const auto ai = exactCandidates(paths.DatabasePath, "AI", "320");
    ASSERT_EQ(ai.size(), 2u);
    EXPECT_EQ(ai[0].country, "unknown");
    EXPECT_FALSE(ai[1].position);
    for (const auto& c : prefixCandidates(paths.DatabasePath, "BI")) {
        EXPECT_TRUE(c.position && c.position->lat != 0.0 && c.position->lon != 0.0) << c.ident;
    }
    const CandidateIndex index(paths.DatabasePath);
    for (const char* ident : idents) {
        for (const char* frequency : frequencies) {
            expectIndexAsLookups(index, paths.DatabasePath, ident, frequency);
        }
    }
    const std::string withNul("H\0K", 3);
    expectIndexAsLookups(index, paths.DatabasePath, withNul, "332");
    expectIndexAsLookups(index, paths.DatabasePath, std::string("\0", 1), "332");
}

// Two identical projects, one settled by Add Suggested Picks, the other by
// Add To Log for all instances pick after pick: rows and states must agree.
TEST(AddSuggestedPicks, PicksWhatTheWindowSuggestsAndSettlesAsAddToLogByHandWould) {
    // Projects whose receptions at `location` have had their matching run;
    // `build` fills one and says where home is.
    const struct {
        const char* name;
        int location;
        std::function<std::optional<LatLon>(const ProjectPaths&)> build;
    } scenarios[] = {
        {"demo location 1", 1, [](const ProjectPaths& p) { return demo(p, 1); }},
        {"demo location 4", 4, [](const ProjectPaths& p) { return demo(p, 4); }},
        {"around Prague", 3, prague},
    };
    for (const auto& s : scenarios) {
        SCOPED_TRACE(s.name);
        test::TempDir bulkDir, handDir;
        const ProjectPaths bulk = test::makeProject(bulkDir.path());
        const auto home = s.build(bulk);
        const ProjectPaths hand = test::makeProject(handDir.path());
        // Into a fresh folder: this C++ library cannot overwrite a file on Windows.
        fs::remove_all(hand.WorkFolder);
        fs::copy(bulk.WorkFolder, hand.WorkFolder,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);

        WorkingSet bulkSet = loadWorkingSet(bulk.ProcessedPath, s.location);
        WorkingSet handSet = loadWorkingSet(hand.ProcessedPath, s.location);
        const SuggestedPickPlan plan = planSuggestedPicks(bulk, bulkSet, home);
        ASSERT_FALSE(plan.picks.empty());
        expectPlanAsWindowSuggests(bulk, bulkSet, home, plan);

        EXPECT_EQ(addSuggestedPicks(bulk, bulkSet, plan), plan.receptions);
        int byHand = 0;
        for (const auto& pick : plan.picks) {
            byHand += addToLog(hand, handSet,
                               {pick.ident, pick.frequency, "", "", "", pick.beaconId}, true);
        }
        EXPECT_EQ(byHand, plan.receptions);
        EXPECT_EQ(logRows(bulk.DatabasePath), logRows(hand.DatabasePath));
        EXPECT_EQ(test::readFile(bulk.ProcessedPath), test::readFile(hand.ProcessedPath));
        EXPECT_EQ(states(bulkSet), states(handSet));
        EXPECT_EQ(std::tuple(bulkSet.ambCount, bulkSet.misCount),
                  std::tuple(handSet.ambCount, handSet.misCount));

        // Again: everything suggested is settled, and nothing is logged twice.
        const auto settled = test::snapshot(bulk.WorkFolder);
        EXPECT_EQ(addSuggestedPicks(bulk, bulkSet, plan), 0);
        EXPECT_TRUE(planSuggestedPicks(bulk, bulkSet, home).picks.empty());
        EXPECT_EQ(test::snapshot(bulk.WorkFolder), settled);
    }
}

TEST(AddSuggestedPicks, AroundPragueLogsTheNearBeaconsAndLeavesTheRestWaiting) {
    test::TempDir dir;
    const ProjectPaths paths = test::makeProject(dir.path());
    const auto home = prague(paths);
    WorkingSet set = loadWorkingSet(paths.ProcessedPath, 3);
    const SuggestedPickPlan plan = planSuggestedPicks(paths, set, home);
    // D 429 in Prague, not Bratislava, whether logged as ambiguous or on 430
    // as unresolved; BI 310 near Kyiv, not in India; DA 214 in Romania, not
    // in Canada. BH 224 (both in the USA) and AI 320 (the one
    // listed candidate in Brazil) are too far to suggest.
    std::set<std::string> picks;
    for (const auto& p : plan.picks) {
        picks.insert(trimBlanks(p.ident) + "/" + trimBlanks(p.frequency) + ": " +
                     std::to_string(p.beaconId) + " x" + std::to_string(p.receptions));
    }
    EXPECT_EQ(picks,
              (std::set<std::string>{"D/429: 1614 x2", "d/429: 1614 x1", "D/429.0: 1614 x1",
                                     "BI/310: 804 x1", "DA/214: 1636 x2", "D/430: 1614 x1"}));
    EXPECT_EQ(planSuggestedPicks(paths, set, std::nullopt).picks.size(), 0u);

    // A database held by another program, or a plan naming no beacon:
    // nothing changes.
    const auto unchanged = test::snapshot(paths.WorkFolder);
    const WorkingSet loaded = set;
    SuggestedPickPlan broken = plan;
    broken.picks.back().beaconId = 0;
    for (bool lockIt : {true, false}) {
        std::optional<test::DatabaseLock> lock;
        if (lockIt) lock.emplace(paths.DatabasePath);
        test::expectError([&] { addSuggestedPicks(paths, set, lockIt ? plan : broken); },
                          {lockIt ? paths.DatabasePath.string() : ""});
        lock.reset();
        EXPECT_EQ(test::snapshot(paths.WorkFolder), unchanged);
        EXPECT_EQ(states(set), states(loaded));
    }

    // A pair settled by hand after the plan was made is not logged again.
    EXPECT_EQ(addToLog(paths, set, {"BI", "310", "0500", "20020105", "e", 626}, true), 1);
    // Nor is entry "settled", OK before the plan.
    const auto before = logRows(paths.DatabasePath).size();
    EXPECT_EQ(addSuggestedPicks(paths, set, plan), plan.receptions - 1);
    EXPECT_EQ(logRows(paths.DatabasePath).size(), before + std::size_t(plan.receptions - 1));
    const std::vector<std::string> waiting = {"OK", "OK", "OK", "OK",  "OK", "AMB", "AMB",
                                              "OK", "OK", "OK", "MIS", "OK", "MIS"};
    EXPECT_EQ(states(set), waiting);
    EXPECT_EQ(states(loadWorkingSet(paths.ProcessedPath, 2)), std::vector<std::string>{"AMB"});
}

}  // namespace

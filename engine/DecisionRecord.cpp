// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/DecisionRecord.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "db/Compaction.h"
#include "db/Database.h"
#include "engine/CandidateLookup.h"
#include "engine/LogStore.h"
#include "engine/ProcessedBytes.h"
#include "engine/Project.h"
#include "engine/StateJournal.h"
#include "engine/UserBeacons.h"
#include "work/Records.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

struct BeaconDetails {
    std::string call, frequency, city, province, country;
    std::optional<LatLon> position;
};

// The beacons the location's rows point at, listed ones and the listener's
// own (Beacon_ID above the offset), each read once.
std::unordered_map<std::int64_t, BeaconDetails> beaconsOfLocation(LogStore& store, int location) {
    std::unordered_map<std::int64_t, BeaconDetails> listed;
    for (const auto& row : store.listedBeaconsLoggedAt(location).rows) {
        const auto* id = std::get_if<std::int64_t>(&row[0]);
        if (!id) continue;
        BeaconDetails& b = listed[*id];
        b.call = dbValueText(row[1]);
        b.frequency = dbValueText(row[2]);
        b.city = dbValueText(row[3]);
        b.province = removeXX(dbValueText(row[4]));
        b.country = dbValueText(row[5]);
        const auto lat = dbValueNumber(row[6]);
        const auto lon = dbValueNumber(row[7]);
        if (lat && lon) b.position = LatLon{*lat, *lon};
    }
    return listed;
}

std::unordered_map<std::int64_t, BeaconDetails> ownBeaconsOfLocation(LogStore& store,
                                                                     int location) {
    std::unordered_map<std::int64_t, BeaconDetails> own;
    for (const auto& row : store.ownBeaconsLoggedAt(location).rows) {
        const auto* id = std::get_if<std::int64_t>(&row[0]);
        if (!id) continue;
        BeaconDetails& b = own[*id + kUserBeaconOffset];
        b.call = dbValueText(row[1]);
        b.frequency = dbValueText(row[2]);
        b.city = dbValueText(row[3]);
        b.province = removeXX(dbValueText(row[4]));
        b.country = dbValueText(row[5]);
        b.position = ownBeaconPosition(dbValueText(row[6]), dbValueText(row[7]));
    }
    return own;
}

}  // namespace

void PendingDecisions::settle(std::size_t row, std::string_view howDecided,
                              const WorkEntry& before) {
    settled.push_back({row, std::string(howDecided), positionOf(before), before.state});
}

int positionOf(const WorkEntry& entry) { return entry.recordNo; }

bool hasDecisionRecord(Database& db) { return LogStore(db).hasRecord(); }

bool finalizeDecisionRecord(const ProjectPaths& paths) {
    // Whatever the journal still holds is written before it goes: the
    // waiting receptions FINALIZE reports are those the file then shows.
    completeStateWrites(paths);
    {
        LogStore store(paths, LogStore::Mode::Read);
        if (!store.holdsConverterParts()) return false;
    }
    // Dropped inside the compacted copy, which replaces the database only
    // once it is complete: a compaction that fails (the database locked, the
    // folder refusing the copy) leaves the record, so that the project goes
    // on with its Undo and its decisions rather than without them.
    compactMainDatabase(paths.DatabasePath, paths.WorkFolder / kCompactFile,
                        [](Database& copy) { LogStore(copy).dropRecord(); });
    return true;
}

bool dropDecisionRecord(const ProjectPaths& paths) { return finalizeDecisionRecord(paths); }

std::unordered_map<std::int64_t, std::string> howDecidedByLogId(Database& db) {
    return LogStore(db).howByLogId();
}

namespace {

// The logged receptions of `set`; their fields are moved out of the set's
// entries when it is `movable` (a set read for this alone).
std::vector<LoggedReception> loggedOf(LogStore& store, const WorkingSet& set, WorkingSet* movable,
                                      std::optional<LatLon> home) {
    const int location = set.location;
    const std::vector<PairedReception> paired = store.pairLogged(set);
    const auto listed = beaconsOfLocation(store, location);
    const auto own = ownBeaconsOfLocation(store, location);
    std::vector<LoggedReception> logged;
    logged.reserve(paired.size());
    // Both in file order: one walk finds each reception's entry.
    std::size_t at = 0;
    for (const auto& p : paired) {
        while (set.entries.at(at).recordNo != p.position) ++at;
        logged.emplace_back();
        LoggedReception& reception = logged.back();
        reception.position = p.position;
        if (movable) {
            WorkEntry& r = movable->entries[at];
            reception.ident = std::move(r.ident);
            reception.frequency = std::move(r.frequency);
            reception.time = std::move(r.time);
            reception.date = std::move(r.date);
            reception.comment = std::move(r.comment);
        } else {
            const WorkEntry& r = set.entries[at];
            reception.ident = r.ident;
            reception.frequency = r.frequency;
            reception.time = r.time;
            reception.date = r.date;
            reception.comment = r.comment;
        }
        reception.logId = p.logId;
        reception.beaconId = p.beaconId;
        reception.how = p.how;
        if (reception.logId == 0) continue;
        // The listener's own beacons share the number range above the
        // offset with listed ones; the record says which was meant, and a
        // row logged earlier is taken for a listed beacon when one exists.
        const bool ownFirst = reception.how == how::kOwnBeacon;
        const auto inListed = listed.find(reception.beaconId);
        const auto inOwn = own.find(reception.beaconId);
        const BeaconDetails* beacon = nullptr;
        if (ownFirst && inOwn != own.end()) {
            beacon = &inOwn->second;
        } else if (inListed != listed.end()) {
            beacon = &inListed->second;
        } else if (inOwn != own.end()) {
            beacon = &inOwn->second;
        }
        if (!beacon) continue;
        reception.call = beacon->call;
        reception.beaconFrequency = beacon->frequency;
        reception.city = beacon->city;
        reception.province = beacon->province;
        reception.country = beacon->country;
        reception.beaconPosition = beacon->position;
        if (home && beacon->position) {
            reception.distanceKm = greatCircleKm(*home, *beacon->position);
        }
    }
    return logged;
}

}  // namespace

std::vector<LoggedReception> readLoggedReceptions(const ProjectPaths& paths, int location,
                                                  std::optional<LatLon> home) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(paths.ProcessedPath, ec))) return {};
    const ProcessedBytes processed(paths.ProcessedPath, ProcessedBytes::How::Copied);
    LogStore store(paths, LogStore::Mode::Read);
    WorkingSet set = settledOf(processed.bytes(), location);
    return loggedOf(store, set, &set, home);
}

std::vector<LoggedReception> loggedReceptionsOf(LogStore& store, const WorkingSet& set,
                                                std::optional<LatLon> home) {
    return loggedOf(store, set, nullptr, home);
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/MatchingRun.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/LocationActions.h"
#include "engine/ProcessedBytes.h"

namespace zolt {
namespace {

// The hash key of an ident and a frequency: the frequency's bytes first (a
// fixed width, so no two pairs run into one key), then the ident in a form in
// which texts NOCASE calls equal are equal byte for byte: ASCII letters
// lower-cased, and every byte after the first NUL made a NUL, since NOCASE
// stops comparing bytes there and only the lengths count.
void makeKey(std::string& key, std::string_view ident, double frequency) {
    // 0 and -0 are one number to SQLite.
    if (frequency == 0.0) frequency = 0.0;
    key.resize(sizeof frequency + ident.size());
    char* out = key.data();
    std::memcpy(out, &frequency, sizeof frequency);
    out += sizeof frequency;
    bool afterNul = false;
    for (const char c : ident) {
        afterNul = afterNul || c == '\0';
        *out++ = afterNul ? '\0' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
}

}  // namespace

ListedBeacons::ListedBeacons(Database& db) {
    Statement rows = db.prepare("SELECT Beacon_ID, Ident, Frequency FROM NDBInformation");
    std::string key;
    while (rows.step()) {
        // Only what can compare equal at all: Ident stored as text, Frequency
        // as a number (the REAL column gives every number it holds as a real).
        const int frequencyType = rows.columnType(2);
        if (rows.columnType(1) != SQLITE_TEXT ||
            (frequencyType != SQLITE_FLOAT && frequencyType != SQLITE_INTEGER)) {
            continue;
        }
        makeKey(key, rows.columnText(1), rows.columnDouble(2));
        Match& match = beacons_[key];
        // Beacon_ID is the table's row number, so always an integer.
        if (match.count == 0) match.beaconId = rows.columnInt64(0);
        if (match.count < 2) ++match.count;
    }
}

ListedBeacons::Match ListedBeacons::find(std::string_view ident, double frequency) const {
    std::string key;
    makeKey(key, ident, frequency);
    const auto found = beacons_.find(std::string_view(key));
    return found == beacons_.end() ? Match{} : found->second;
}

MatchOutcome runMatching(const ProjectPaths& paths, WorkingSet& set,
                         const MatchProgress& progress) {
    // Nothing to match and no state to save: the database and processed.dat
    // are left alone.
    if (set.WorkCount() == 0) return {};
    MatchingRunAction action(set, progress);
    std::optional<LogStore> store;
    const Performed performed = perform(action, paths, set.location, store);
    // The caller's set changes only once the rows and processed.dat have
    // both been stored.
    if (performed.done) performed.written.applyTo(set);
    return action.outcome();
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "bench/LiteralRun.h"

#include <fstream>
#include <string>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "work/Records.h"

namespace fs = std::filesystem;

namespace zolt::literal {
namespace {

std::string removeCode30(std::string text) {
    std::erase(text, static_cast<char>(30));
    return text;
}

// Appends one log row in a statement of its own, stored at once.
void appendLogRow(Database& db, std::int64_t beaconId, int location, const WorkEntry& entry) {
    db.prepare(
          "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
          "ReceptionComments) VALUES (?, ?, ?, ?, ?)")
        .bind({beaconId, std::int64_t{location}, cp1252ToUtf8(trimBlanks(entry.time)),
               cp1252ToUtf8(trimBlanks(entry.date)), cp1252ToUtf8(trimBlanks(entry.comment))})
        .execute();
}

std::int64_t integerOf(const DbValue& cell) {
    return static_cast<std::int64_t>(leadingNumber(dbValueText(cell)));
}

}  // namespace

UserBeaconLookup lookupUserBeacon(const fs::path& backupFolder, const fs::path& databasePath,
                                  std::string_view ident, std::string_view frequency,
                                  const UserBeaconLookup& previous) {
    UserBeaconLookup result;
    result.UserBeaconID = previous.UserBeaconID;
    Database db(databasePath);

    std::ifstream file(backupFolder / "ndb.dat", std::ios::binary);
    if (!file) return result;
    file.seekg(0, std::ios::end);
    const auto length = static_cast<std::size_t>(file.tellg());
    const std::size_t count = (length + UserBeaconRecord::kLength / 2) / UserBeaconRecord::kLength;

    for (std::size_t r = 1; r <= count; ++r) {
        std::string bytes(UserBeaconRecord::kLength, ' ');
        file.clear();
        file.seekg(static_cast<std::streamoff>((r - 1) * UserBeaconRecord::kLength));
        file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        const std::string_view raw(bytes);
        if (removeCode30(trimBlanks(UnshiftText(raw.substr(0, 7)))) != ident) continue;
        if (removeCode30(trimBlanks(UnshiftText(raw.substr(42, 6)))) != frequency) continue;
        const UserBeaconRecord rec = UserBeaconRecord::decode(bytes);

        // Walk every row of NewBeacons; the last one that matches wins.
        const std::string identUtf8 = cp1252ToUtf8(ident);
        const DbResult rows = db.query("SELECT * FROM NewBeacons");
        for (std::size_t row = 0; row < rows.rowCount(); ++row) {
            if (trimBlanks(rows.text(row, "Ident")) == identUtf8 &&
                leadingNumber(rows.text(row, "frequency")) == leadingNumber(frequency)) {
                result.UserBeaconKnown = true;
                result.UserBeaconFound = true;
                result.UserBeaconID =
                    static_cast<std::int32_t>(integerOf(rows.value(row, "newbeacon_ID")));
            }
        }
        if (!result.UserBeaconKnown) {
            const NewBeaconRow add = mapUserBeacon(rec, ident, frequency);
            db.prepare(
                  "INSERT INTO NewBeacons (Ident, Country, State, City, frequency, Power, "
                  "PowerClass, Latitude, Longitude, AsOf, Cycle, usb, lsb, DAID, GenNotes) "
                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                .bind({add.Ident, add.Country, add.State, add.City, add.frequency, add.Power,
                       add.PowerClass, add.Latitude, add.Longitude, add.AsOf, add.Cycle, add.usb,
                       add.lsb, add.DAID, add.GenNotes})
                .execute();
            result.UserBeaconFound = true;
            const DbResult counted = db.query("SELECT COUNT(*) AS n FROM NewBeacons");
            result.UserBeaconID = static_cast<std::int32_t>(integerOf(counted.value(0, "n")));
        }
    }
    return result;
}

MatchOutcome runMatching(const ProjectPaths& paths, WorkingSet& set) {
    MatchOutcome outcome;
    Database db(paths.DatabasePath);
    UserBeaconLookup user;
    const int count = set.WorkCount();
    for (int i = 1; i <= count; ++i) {
        WorkEntry& entry = set.entries[static_cast<std::size_t>(i - 1)];
        const std::string ident = trimBlanks(entry.ident);
        const std::string frequencyText = shortestDecimal(leadingNumber(entry.frequency));
        const std::string sqlIdent = cp1252ToUtf8(ident);

        // The ident was a text literal of the old statement: bound, as the
        // old engine took it.
        const DbResult q1 =
            db.prepare(
                  "SELECT Ident,Frequency FROM NDBInformation WHERE Ident = ? AND Frequency = " +
                  frequencyText + " " +
                  "GROUP BY Ident,Frequency HAVING (count(Ident)>1) and (Count(frequency)>1)")
                .bind({sqlIdent})
                .query();
        if (q1.rowCount() > 0) {
            entry.state = state::AMB;
            ++outcome.ambiguous;
            continue;
        }
        const DbResult q2 =
            db.prepare(
                  "SELECT Beacon_ID,Ident,Frequency FROM NDBInformation WHERE Ident = ? AND "
                  "Frequency = " +
                  frequencyText)
                .bind({sqlIdent})
                .query();
        if (q2.rowCount() == 1) {
            appendLogRow(db, integerOf(q2.value(0, "Beacon_ID")), set.location, entry);
            ++outcome.logged;
            entry.state = state::OK;
        } else {
            user = lookupUserBeacon(paths.BackupFolder, paths.DatabasePath, ident,
                                    trimBlanks(entry.frequency), user);
            if (user.UserBeaconFound) {
                entry.state = state::OK;
                appendLogRow(db, std::int64_t{user.UserBeaconID} + kUserBeaconOffset, set.location,
                             entry);
                ++outcome.logged;
                ++outcome.userBeacons;
            } else {
                entry.state = state::MIS;
                ++outcome.unresolved;
            }
        }
    }
    literal::saveWorkStates(paths.ProcessedPath, set);
    return outcome;
}

void saveWorkStates(const fs::path& processedPath, const WorkingSet& set) {
    std::fstream file(processedPath, std::ios::binary | std::ios::in | std::ios::out);
    if (!file) throw EngineError("Could not open " + describePath(processedPath) + ".");
    std::string bytes(ProcessedRecord::kLength, '\0');
    for (const auto& entry : set.entries) {
        const auto offset = static_cast<std::streamoff>(entry.recordNo - 1) *
                            static_cast<std::streamoff>(ProcessedRecord::kLength);
        file.seekg(offset);
        file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ProcessedRecord rec = ProcessedRecord::decode(bytes);
        rec.State = padField(trimBlanks(entry.state), 3);
        file.seekp(offset);
        const std::string out = rec.encode();
        file.write(out.data(), static_cast<std::streamsize>(out.size()));
    }
    file.flush();
    if (!file) throw EngineError("Could not write " + describePath(processedPath) + ".");
}

}  // namespace zolt::literal

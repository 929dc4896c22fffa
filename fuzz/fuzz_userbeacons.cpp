// SPDX-License-Identifier: GPL-2.0-or-later
// The listener's own beacon file (ndb.dat / ndb.bak, 213-byte records) read
// as a matching run reads it: every beacon in it is found by its own ident
// and frequency, is added to NewBeacons once, and a second look-up finds the
// row the first one added.

#include <cstdlib>

#include "core/EngineError.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/LogStore.h"
#include "engine/UserBeacons.h"
#include "fuzz/FuzzUtil.h"

namespace fs = std::filesystem;
using namespace zolt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input = fuzz::asText(data, size);
    const ProjectPaths paths = fuzz::freshProject("userbeacons");
    // The first byte picks the file's name: the working file, its backup, or
    // the backup as copied from a disk that shouts.
    const char* names[] = {"ndb.dat", "ndb.bak", "NDB.BAK"};
    const std::size_t pick = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % 3;
    if (!input.empty()) input.remove_prefix(1);
    fuzz::writeFile(paths.BackupFolder / names[pick], input);

    Database db(paths.DatabasePath);
    Transaction transaction(db);
    LogStore store(db);
    UserBeaconIndex index(paths.BackupFolder, store);
    for (std::size_t at = 0; at + UserBeaconRecord::kLength <= input.size();
         at += UserBeaconRecord::kLength) {
        const UserBeaconRecord record =
            UserBeaconRecord::decode(input.substr(at, UserBeaconRecord::kLength));
        (void)ownBeaconPosition(record.Latitude, record.Longitude);
        const std::string ident = trimBlanks(record.Ident);
        const std::string frequency = trimBlanks(record.Frequency);
        (void)mapUserBeacon(record, ident, frequency);
        const UserBeaconLookup first = index.LookupUserBeacon(ident, frequency);
        const UserBeaconLookup again = index.LookupUserBeacon(ident, frequency);
        if (!first.UserBeaconFound || !again.UserBeaconKnown ||
            again.UserBeaconID != first.UserBeaconID) {
            std::abort();
        }
    }
    transaction.commit();
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/Geo.h"
#include "db/Database.h"

namespace zolt {

// Offset added to a user beacon's newbeacon_ID to make its log Beacon_ID.
inline constexpr std::int32_t kUserBeaconOffset = 20000;

// Decodes a text field of the old beacon file: every byte less 2, then every
// code-30 character (a stored blank) removed. Bytes 0 and 1 decode to nothing.
std::string UnshiftText(std::string_view stored);

// One beacon of the old product's beacon file ndb.dat (213-byte records),
// fields decoded (raw Windows-1252 bytes, untrimmed).
struct UserBeaconRecord {
    static constexpr std::size_t kLength = 213;
    std::string Ident, Country, State, City, Frequency, PowerClass, Power, Latitude, Longitude,
        AsOf, Cycle, usb, lsb, DAID, GenNotes;
    static UserBeaconRecord decode(std::string_view bytes);  // bytes.size() >= kLength
};

// The column values of a NewBeacons row made from a record (UTF-8 texts).
struct NewBeaconRow {
    std::string Ident, Country, State, City;
    double frequency = 0;
    std::string Power, PowerClass, Latitude, Longitude, AsOf, Cycle, usb, lsb, DAID, GenNotes;
};
NewBeaconRow mapUserBeacon(const UserBeaconRecord& rec, std::string_view ident,
                           std::string_view frequency);

// Where one of the listener's own beacons stands. The old beacon file kept
// latitude and longitude as typed text; each must be one decimal number of
// degrees within its range ("47.0631", "-79.7925", blanks around allowed),
// else the position is unknown.
std::optional<LatLon> ownBeaconPosition(std::string_view latitude, std::string_view longitude);

// The file the listener's own beacons are read from: ndb.dat of the backup
// folder, or where only the backups were kept, ndb.bak (letter case ignored);
// none when the folder holds neither.
std::optional<std::filesystem::path> ownBeaconFile(const std::filesystem::path& backupFolder);

struct UserBeaconLookup {
    bool UserBeaconKnown = false;   // already present in NewBeacons
    bool UserBeaconFound = false;   // found in ndb.dat (and now in NewBeacons)
    std::int32_t UserBeaconID = 0;  // newbeacon_ID of that row
};

// The user's own beacons for one matching run: ndb.dat (or ndb.bak where no
// ndb.dat is present) of the backup folder is read once, NewBeacons once.
// Rows it adds go through `store`, inside the caller's transaction.
class LogStore;
class UserBeaconIndex {
  public:
    UserBeaconIndex(const std::filesystem::path& backupFolder, LogStore& store);

    // `ident` and `frequency` are the reception's trimmed texts (raw
    // Windows-1252 bytes). A found beacon not yet in NewBeacons is added.
    UserBeaconLookup LookupUserBeacon(std::string_view ident, std::string_view frequency);

  private:
    LogStore& store_;
    // (decoded trimmed ident, decoded trimmed frequency text) -> first record
    // and the number of records that carry this beacon
    std::unordered_map<std::string, std::pair<UserBeaconRecord, int>> records_;
    // (trimmed ident, numeric frequency) -> newbeacon_ID of the last such row
    std::unordered_map<std::string, std::int64_t> known_;
    std::string key_;  // the key of the last look-up, kept for its buffer
};

}  // namespace zolt

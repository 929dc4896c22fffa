// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/Geo.h"

namespace zolt::bench {

struct GeneratorOptions {
    int receptions = 32767;  // receptions of the one location
    int location = 1;        // written to log<location - 1>.bak
    int userBeacons = 2000;  // records of ndb.dat
    double ambiguousShare = 0.10;
    double unlistedShare = 0.15;  // half of these are user beacons
    std::uint64_t seed = 0x5eed2013;
    // When not 0, the receptions are drawn with this seed (the beacons with
    // `seed`), so that each location of an archive gets a log of its own.
    std::uint64_t logSeed = 0;
    // Where the listener sits: when set, most receptions of beacons with a
    // pair of their own come from within nearKm of it, as a real log's do;
    // unset, they are drawn from the whole list (and the same options give
    // the same bytes as before this existed).
    std::optional<LatLon> listener;
    double nearShare = 0.97;
    double nearKm = 1500.0;
};

struct GeneratedBackups {
    int receptions = 0;
    int ambiguous = 0;   // on an ident and frequency of several listed beacons
    int unique = 0;      // on a listed beacon of its own
    int userBeacon = 0;  // on no listed beacon, but one of ndb.dat
    int unlisted = 0;    // on no beacon at all
    int userBeaconRecords = 0;
};

// Writes the old log of one location and the old beacon file ndb.dat into
// `backupFolder`, drawing the receptions from the beacons of `database` (the
// pristine beacon database). The same options give the same bytes.
GeneratedBackups writeBenchmarkBackups(const std::filesystem::path& database,
                                       const std::filesystem::path& backupFolder,
                                       const GeneratorOptions& options = {});

// The inverse of UnshiftText for one field: every byte plus 2, padded with
// stored blanks (which decode to nothing) to `width`.
std::string shiftField(std::string_view text, std::size_t width);

}  // namespace zolt::bench

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "db/Database.h"

namespace zolt {

// Version of the tables below, kept in PRAGMA user_version.
inline constexpr int kSchemaVersion = 1;

// Creates the tables NDBInformation, CountryCode, NDBLog and NewBeacons with
// the index on (Ident, Frequency), and sets the schema version.
void createSchema(Database& db);

}  // namespace zolt

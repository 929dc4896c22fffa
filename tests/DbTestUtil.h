// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Helpers for tests that read the beacon database (header only, so that
// tests of the layers without a database need not link it).

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "core/EngineError.h"
#include "db/Database.h"

namespace zolt::test {

// Runs `action`, expects an EngineError and returns its text.
template <typename F>
std::string errorOf(F&& action) {
    try {
        action();
    } catch (const EngineError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no EngineError was thrown";
    return {};
}

// Runs `action`, expects an EngineError whose text holds each of `parts`.
template <typename F>
void expectError(F&& action, std::initializer_list<std::string> parts) {
    const std::string message = errorOf(std::forward<F>(action));
    for (const auto& part : parts) {
        EXPECT_NE(message.find(part), std::string::npos) << message << "\n  should name " << part;
    }
}

// The single number a query such as SELECT count(*) gives.
inline std::int64_t count(Database& db, const std::string& sql) {
    return std::get<std::int64_t>(db.query(sql).rows.at(0).at(0));
}

// One row of NDBLog as the converter writes it.
struct LogRow {
    std::int64_t beaconId, location;
    std::string time, date, comment;
    bool operator==(const LogRow&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LogRow& r) {
    return out << "{" << r.beaconId << ", " << r.location << ", " << r.time << ", " << r.date
               << ", " << r.comment << "}";
}

// Every NDBLog row in the order it was stored.
inline std::vector<LogRow> logRows(const std::filesystem::path& database) {
    Database db(database, Database::Mode::ReadOnly);
    std::vector<LogRow> rows;
    for (const auto& r :
         db.prepare("SELECT Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
                    "ReceptionComments FROM NDBLog ORDER BY Log_ID")
             .query()
             .rows) {
        rows.push_back({std::get<std::int64_t>(r[0]), std::get<std::int64_t>(r[1]),
                        dbValueText(r[2]), dbValueText(r[3]), dbValueText(r[4])});
    }
    return rows;
}

}  // namespace zolt::test

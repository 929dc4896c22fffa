// SPDX-License-Identifier: GPL-2.0-or-later
#include "db/BeaconDatabaseCheck.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>
#include <string>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "db/Database.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

// Why the file is not a beacon database; empty when it is one. `busy`: it
// could not be read because another program holds it, which says nothing
// about the file itself.
std::string whatIsWrong(const fs::path& path, bool& busy) {
    sqlite3* raw = nullptr;
    const int opened =
        sqlite3_open_v2(pathToUtf8(path).c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, &sqlite3_close);
    // The engine's reason in plain words.
    const auto failure = [&] {
        const int code = sqlite3_extended_errcode(raw);
        busy = (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED;
        return databaseReason(path, code, sqlite3_errmsg(raw));
    };
    if (opened != SQLITE_OK) return raw ? failure() : "it cannot be opened";
    sqlite3_busy_timeout(raw, 1000);

    std::set<std::string> tables;
    std::string check;
    auto run = [&](const char* sql, auto&& row) -> bool {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(raw, sql, -1, &statement, nullptr) != SQLITE_OK) return false;
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            const auto* text = sqlite3_column_text(statement, 0);
            row(text ? std::string(reinterpret_cast<const char*>(text)) : std::string());
        }
        sqlite3_finalize(statement);
        return rc == SQLITE_DONE;
    };
    if (!run("SELECT name FROM sqlite_master WHERE type = 'table'",
             [&](std::string name) { tables.insert(lowerAscii(name)); })) {
        return failure();
    }
    std::string missing;
    for (const char* table : {"NDBInformation", "NDBLog", "NewBeacons"}) {
        if (tables.count(lowerAscii(table))) continue;
        missing += missing.empty() ? table : std::string(", ") + table;
    }
    if (!missing.empty()) return "it holds no table " + missing;
    // The first problem the quick check finds is enough to say it is damaged.
    if (!run("PRAGMA quick_check(1)", [&](std::string line) { check = std::move(line); })) {
        return failure();
    }
    if (check != "ok") return "it is damaged (" + check + ")";
    return {};
}

}  // namespace

void requireBeaconDatabase(const fs::path& path) {
    bool busy = false;
    const std::string reason = whatIsWrong(path, busy);
    if (reason.empty()) return;
    if (busy) {
        throw EngineError("The database " + path.string() + " could not be checked: " + reason +
                          ". Nothing was changed.");
    }
    throw EngineError("The database " + path.string() +
                      " is not a beacon database the converter can use: " + reason +
                      ". It was left as it is. Put a good copy of it in its place, or move it "
                      "aside so that the converter places a fresh one there at its next start.");
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "db/Database.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "core/FileUtil.h"
#include "core/TextFields.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

// How long a statement waits for another program to release the file before
// it gives up: long enough to ride out a brief lock, short enough that the
// user sees a message instead of a frozen window.
constexpr int kBusyTimeoutMs = 1000;

std::atomic<std::uint64_t> databaseOpens{0};

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

// ---- Messages ---------------------------------------------------------------

std::string databaseName(const fs::path& path) { return path.string(); }

bool isBusy(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Codes behind which a file or folder that cannot be written may hide: the
// engine's own words ("attempt to write a readonly database", "unable to open
// database file") blame the database even when it is the folder that refuses
// the journal file a change needs.
bool mayBeUnwritable(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR ||
           primary == SQLITE_PERM;
}

std::string reasonOf(const fs::path& path, int code, const char* message) {
    if (mayBeUnwritable(code)) {
        if (std::string blocker = writeProblem(path); !blocker.empty()) return blocker;
    }
    // The engine's own words ("database is locked", "database or disk is
    // full") are put plainly where the listener can act on them.
    if (isBusy(code)) return "it is in use by another program; close that program and try again";
    if ((code & 0xFF) == SQLITE_FULL) return "the disk is full";
    return message ? message : sqlite3_errstr(code);
}

// `what` ends where the database is named: "Writing to", "Reading from" …
// Statements are never quoted: their text tells the user nothing to act on.
[[noreturn]] void throwFailure(const fs::path& path, std::string_view what, int code,
                               const char* message) {
    throw EngineError(std::string(what) + " the database " + databaseName(path) +
                      " failed: " + reasonOf(path, code, message) + ".");
}

[[noreturn]] void throwOpenFailure(const fs::path& path, const std::string& reason) {
    throw EngineError("The beacon database " + databaseName(path) +
                      " could not be opened: " + reason + ".");
}

// ---- Statement steps ---------------------------------------------------------

// What a failing statement was doing, for its message.
const char* runningWhat(sqlite3_stmt* stmt) {
    return sqlite3_stmt_readonly(stmt) ? "Reading from" : "Writing to";
}

void bindAll(sqlite3_stmt* stmt, const std::vector<DbValue>& values, const fs::path& path) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    const int expected = sqlite3_bind_parameter_count(stmt);
    if (static_cast<std::size_t>(expected) != values.size()) {
        throw EngineError(std::string(runningWhat(stmt)) + " the database " + databaseName(path) +
                          " failed: the statement takes " + std::to_string(expected) +
                          " values but " + std::to_string(values.size()) + " were given.");
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        int rc = SQLITE_OK;
        const DbValue& v = values[i];
        if (std::holds_alternative<std::monostate>(v)) {
            rc = sqlite3_bind_null(stmt, index);
        } else if (const auto* n = std::get_if<std::int64_t>(&v)) {
            rc = sqlite3_bind_int64(stmt, index, *n);
        } else if (const auto* d = std::get_if<double>(&v)) {
            rc = sqlite3_bind_double(stmt, index, *d);
        } else {
            const auto& s = std::get<std::string>(v);
            rc =
                sqlite3_bind_text64(stmt, index, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        if (rc != SQLITE_OK) {
            throwFailure(path, runningWhat(stmt), rc, sqlite3_errmsg(sqlite3_db_handle(stmt)));
        }
    }
}

// Steps to the end, collecting rows when `rows` is given. On an error the
// statement is reset (releasing its locks) before the exception leaves.
void runToEnd(sqlite3_stmt* stmt, DbResult* result, const fs::path& path) {
    sqlite3* db = sqlite3_db_handle(stmt);
    if (result) {
        const int count = sqlite3_column_count(stmt);
        result->columns.clear();
        result->rows.clear();
        for (int c = 0; c < count; ++c) {
            const char* name = sqlite3_column_name(stmt, c);
            result->columns.emplace_back(name ? name : "");
        }
    }
    for (;;) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) break;
        if (rc == SQLITE_ROW) {
            if (!result) continue;
            std::vector<DbValue> row;
            const int count = sqlite3_column_count(stmt);
            row.reserve(static_cast<std::size_t>(count));
            for (int c = 0; c < count; ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                    case SQLITE_INTEGER:
                        row.emplace_back(std::int64_t{sqlite3_column_int64(stmt, c)});
                        break;
                    case SQLITE_FLOAT:
                        row.emplace_back(sqlite3_column_double(stmt, c));
                        break;
                    case SQLITE_NULL:
                        row.emplace_back(std::monostate{});
                        break;
                    default: {
                        const auto* data = sqlite3_column_blob(stmt, c);
                        const int size = sqlite3_column_bytes(stmt, c);
                        row.emplace_back(data ? std::string(static_cast<const char*>(data),
                                                            static_cast<std::size_t>(size))
                                              : std::string());
                        break;
                    }
                }
            }
            result->rows.push_back(std::move(row));
            continue;
        }
        const std::string message = sqlite3_errmsg(db);
        const int code = sqlite3_extended_errcode(db);
        sqlite3_reset(stmt);
        throwFailure(path, runningWhat(stmt), code, message.c_str());
    }
    sqlite3_reset(stmt);
}

}  // namespace

std::string databaseReason(const fs::path& path, int code, const char* message) {
    return reasonOf(path, code, message);
}

std::string writeProblem(const fs::path& file) {
#ifdef _WIN32
    // Windows keeps who may write in access lists that only an attempt
    // answers; what shows is the read-only mark a file may carry.
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    if (ec) absolute = file;
    const DWORD attributes = GetFileAttributesW(absolute.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "the file " + absolute.string() + " cannot be written to (it is read-only)";
    }
#else
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    if (ec) absolute = file;
    const auto refused = [](const fs::path& path, int& error) {
        if (::access(path.c_str(), W_OK) == 0) return false;
        error = errno;
        return error != ENOENT;
    };
    int error = 0;
    if (refused(absolute, error)) {
        return "the file " + absolute.string() + " cannot be written: " + plainReason(error);
    }
    const fs::path folder = absolute.parent_path();
    if (!folder.empty() && refused(folder, error)) {
        return "its folder " + folder.string() + " cannot be written (" + plainReason(error) +
               "); the database needs to create a file there while it changes";
    }
#endif
    return {};
}

// ---- Values and results ---------------------------------------------------

std::string dbValueText(const DbValue& value) {
    if (std::holds_alternative<std::monostate>(value)) return {};
    if (const auto* n = std::get_if<std::int64_t>(&value)) return std::to_string(*n);
    if (const auto* d = std::get_if<double>(&value)) return shortestDecimal(*d);
    return std::get<std::string>(value);
}

std::optional<double> dbValueNumber(const DbValue& value) {
    double number = 0;
    if (const auto* real = std::get_if<double>(&value)) {
        number = *real;
    } else if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        number = static_cast<double>(*integer);
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(number)) return std::nullopt;
    return number;
}

const DbValue& DbResult::value(std::size_t row, std::string_view column) const {
    if (row >= rows.size()) {
        throw EngineError("The query result has no row " + std::to_string(row + 1) + " (it has " +
                          std::to_string(rows.size()) + ").");
    }
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (equalsNoCase(columns[c], column)) return rows[row][c];
    }
    throw EngineError("The query result has no field named " + std::string(column) + ".");
}

std::string DbResult::text(std::size_t row, std::string_view column) const {
    return dbValueText(value(row, column));
}

// ---- Statement ---------------------------------------------------------------

Statement::Statement(Database* db, sqlite3_stmt* stmt, std::string sql)
    : db_(db), stmt_(stmt), sql_(std::move(sql)) {}

Statement::Statement(Statement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)),
      stmt_(std::exchange(other.stmt_, nullptr)),
      sql_(std::move(other.sql_)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        db_ = std::exchange(other.db_, nullptr);
        stmt_ = std::exchange(other.stmt_, nullptr);
        sql_ = std::move(other.sql_);
    }
    return *this;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(const std::vector<DbValue>& values) {
    bindAll(stmt_, values, db_->path());
    return *this;
}

Statement& Statement::bindInt64(int index, std::int64_t value) {
    const int rc = sqlite3_bind_int64(stmt_, index, value);
    if (rc != SQLITE_OK) db_->fail(runningWhat(stmt_));
    return *this;
}

Statement& Statement::bindDouble(int index, double value) {
    const int rc = sqlite3_bind_double(stmt_, index, value);
    if (rc != SQLITE_OK) db_->fail(runningWhat(stmt_));
    return *this;
}

Statement& Statement::bindTextInPlace(int index, std::string_view utf8) {
    const int rc =
        sqlite3_bind_text64(stmt_, index, utf8.data(), utf8.size(), SQLITE_STATIC, SQLITE_UTF8);
    if (rc != SQLITE_OK) db_->fail(runningWhat(stmt_));
    return *this;
}

Statement& Statement::bindText(int index, std::string_view utf8) {
    const int rc =
        sqlite3_bind_text64(stmt_, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK) db_->fail(runningWhat(stmt_));
    return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
    // A zero-length blob from a null pointer would be bound as NULL.
    static const char none = 0;
    const int rc = sqlite3_bind_blob64(stmt_, index, bytes.empty() ? &none : bytes.data(),
                                       bytes.size(), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) db_->fail(runningWhat(stmt_));
    return *this;
}

int Statement::execute() {
    runToEnd(stmt_, nullptr, db_->path());
    return sqlite3_changes(sqlite3_db_handle(stmt_));
}

DbResult Statement::query() {
    DbResult result;
    runToEnd(stmt_, &result, db_->path());
    return result;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) {
        sqlite3_reset(stmt_);
        return false;
    }
    sqlite3* db = sqlite3_db_handle(stmt_);
    const std::string message = sqlite3_errmsg(db);
    const int code = sqlite3_extended_errcode(db);
    sqlite3_reset(stmt_);
    throwFailure(db_->path(), runningWhat(stmt_), code, message.c_str());
}

int Statement::columnType(int column) const { return sqlite3_column_type(stmt_, column); }

std::int64_t Statement::columnInt64(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double Statement::columnDouble(int column) const { return sqlite3_column_double(stmt_, column); }

std::string_view Statement::columnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    return text ? std::string_view(text, static_cast<std::size_t>(size)) : std::string_view();
}

std::string Statement::columnBlob(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
}

// ---- Database ----------------------------------------------------------------

Database::Database(const fs::path& path, Mode mode) : path_(path) {
    ++databaseOpens;
    std::error_code ec;
    // An absolute path never looks like a "file:" address to the engine.
    const fs::path absolute = fs::absolute(path, ec);
    const fs::path target = ec ? path : absolute;
    const auto status = fs::status(target, ec);
    int flags = SQLITE_OPEN_NOMUTEX;
    if (mode == Mode::Create) {
        if (fs::exists(fs::symlink_status(target, ec))) {
            throw EngineError("The beacon database " + databaseName(path) +
                              " could not be created: a file of that name already exists.");
        }
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    } else {
        // Checked first because the engine would otherwise create an empty
        // database in place of a missing one.
        if (!fs::exists(status)) throwOpenFailure(path, "it does not exist");
        if (!fs::is_regular_file(status)) throwOpenFailure(path, "it is not a file");
        flags |= mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    }

    const int rc = sqlite3_open_v2(pathToUtf8(target).c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        if (mode == Mode::Create) {
            throw EngineError("The beacon database " + databaseName(path) +
                              " could not be created: " + reason + ".");
        }
        throwOpenFailure(path, reasonOf(target, rc, reason.c_str()));
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);

    // Reading the schema proves that the file is a database at all (and not
    // locked by another program); the beacon table proves it is ours.
    std::string problem;
    sqlite3_stmt* check = nullptr;
    int code = sqlite3_prepare_v2(
        db_, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='NDBInformation'", -1,
        &check, nullptr);
    bool found = false;
    if (code == SQLITE_OK) {
        code = sqlite3_step(check);
        if (code == SQLITE_ROW) {
            found = sqlite3_column_int(check, 0) > 0;
            code = SQLITE_OK;
        }
    }
    if (code != SQLITE_OK) problem = sqlite3_errmsg(db_);
    sqlite3_finalize(check);
    if (code == SQLITE_OK && !found && mode != Mode::Create) {
        problem = "it is not a beacon database (it has no table NDBInformation)";
    }
    if (problem.empty()) {
        // One file on disk: a rollback journal that is removed after each
        // transaction, never a write-ahead log beside the database. Every
        // commit is flushed to disk in full whatever the library's default.
        char* message = nullptr;
        code = sqlite3_exec(db_, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL", nullptr,
                            nullptr, &message);
        if (code != SQLITE_OK) problem = message ? message : sqlite3_errstr(code);
        sqlite3_free(message);
    }
    if (!problem.empty()) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        if (isBusy(code) || mayBeUnwritable(code)) {
            throwOpenFailure(path, reasonOf(path, code, problem.c_str()));
        }
        if ((code & 0xFF) == SQLITE_NOTADB) {
            throwOpenFailure(path, "it is not a beacon database (" + problem + ")");
        }
        throwOpenFailure(path, problem);
    }
}

Database::Database(Database&& other) noexcept
    : path_(std::move(other.path_)), db_(std::exchange(other.db_, nullptr)) {}

Database::~Database() {
    // close_v2 also copes with statements that are still alive: the
    // connection goes once the last of them is finalized.
    if (db_) sqlite3_close_v2(db_);
}

int Database::execute(std::string_view sql) { return prepare(sql).execute(); }

DbResult Database::query(std::string_view sql) { return prepare(sql).query(); }

std::uint64_t Database::opens() { return databaseOpens.load(); }

Statement Database::prepare(std::string_view sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) !=
        SQLITE_OK) {
        fail("Preparing a statement for");
    }
    if (!stmt) {
        throw EngineError("Preparing a statement for the database " + databaseName(path_) +
                          " failed: the text holds no statement.");
    }
    return Statement(this, stmt, std::string(sql));
}

void Database::executeScript(std::string_view sql) {
    const std::string text(sql);
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string reason = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throwFailure(path_, "Changing", rc, reason.c_str());
    }
}

std::int64_t Database::lastInsertRowId() const { return sqlite3_last_insert_rowid(db_); }

void Database::fail(std::string_view what) const {
    const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_MISUSE;
    throwFailure(path_, what, code, db_ ? sqlite3_errmsg(db_) : nullptr);
}

// ---- Transaction -------------------------------------------------------------

Transaction::Transaction(Database& db) : db_(&db) {
    // IMMEDIATE takes the write lock now, so that a database held by another
    // program fails here, before any row has been written.
    if (sqlite3_exec(db.handle(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        db.fail("Starting a change of");
    }
}

Transaction::~Transaction() {
    if (open_) sqlite3_exec(db_->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    if (!open_) return;
    if (sqlite3_exec(db_->handle(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        // Still open: the destructor rolls it back.
        db_->fail("Saving the changes to");
    }
    open_ = false;
}

}  // namespace zolt

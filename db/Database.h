// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/EngineError.h"

namespace zolt {

// One value of a result cell or of a bound parameter. Text is UTF-8.
using DbValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// Plain-text form of a cell: empty for NULL, a number in its shortest plain
// decimal form (344, 344.5), text as it is.
std::string dbValueText(const DbValue& value);
// A numeric cell (a REAL column such as Latitude) as a finite number; none
// for NULL, for text the column could not take as a number, or for NaN/inf.
std::optional<double> dbValueNumber(const DbValue& value);

// The result of a query, read completely so that its row count is exact.
struct DbResult {
    std::vector<std::string> columns;
    std::vector<std::vector<DbValue>> rows;

    std::size_t rowCount() const { return rows.size(); }
    // Value of a named column (case-insensitive) in row `row`; throws if unknown.
    const DbValue& value(std::size_t row, std::string_view column) const;
    std::string text(std::size_t row, std::string_view column) const;
};

class Database;

// Why `file` (or a file of that name) cannot be written: the file or its
// folder refuses writing, named with the reason in plain words. Empty when
// nothing is found that refuses it.
std::string writeProblem(const std::filesystem::path& file);

// Why an operation on the database `path` failed, in plain words: what
// refuses writing (writeProblem), another program holding it, a full disk;
// otherwise the engine's `message`. `code` is the engine's result code.
std::string databaseReason(const std::filesystem::path& path, int code, const char* message);

// A prepared statement: prepared once, bound and run many times.
class Statement {
  public:
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // Binds parameters 1..n (after clearing earlier bindings) and resets.
    Statement& bind(const std::vector<DbValue>& values);
    // Binds the one parameter `index` (1-based), keeping the others: for a
    // statement run once per row of a large run, where building a list of
    // values per row costs more than the row itself. Text is UTF-8 and
    // copied, so it need not outlive the call.
    Statement& bindInt64(int index, std::int64_t value);
    Statement& bindDouble(int index, double value);
    Statement& bindText(int index, std::string_view utf8);
    // The same without the copy, for texts that stay where they are, unchanged,
    // until the statement has run (and is bound anew before it runs again).
    Statement& bindTextInPlace(int index, std::string_view utf8);
    // Bytes kept as they are (NUL bytes too), copied.
    Statement& bindBlob(int index, std::string_view bytes);
    // Runs an action statement; returns the number of rows it changed.
    int execute();
    // Runs a query and reads all its rows.
    DbResult query();
    // Reads a query a row at a time, without a DbResult to hold them all:
    // true while there is a row, whose cells the column functions read;
    // false at the end, where the statement is reset.
    bool step();
    int columnType(int column) const;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, ...
    std::int64_t columnInt64(int column) const;
    double columnDouble(int column) const;
    std::string_view columnText(int column) const;  // valid until the next step
    std::string columnBlob(int column) const;

  private:
    friend class Database;
    Statement(Database* db, sqlite3_stmt* stmt, std::string sql);
    Database* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
    std::string sql_;
};

// Rolls back unless committed: the rows of one user action land together or
// not at all.
class Transaction {
  public:
    explicit Transaction(Database& db);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    void commit();

  private:
    Database* db_;
    bool open_ = true;
};

// The beacon database. Opening never creates a file: a missing database is an
// error that names the file.
class Database {
  public:
    enum class Mode { ReadWrite, ReadOnly, Create };

    explicit Database(const std::filesystem::path& path, Mode mode = Mode::ReadWrite);
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) = delete;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    const std::filesystem::path& path() const { return path_; }

    // Runs one statement without parameters; returns changed rows.
    int execute(std::string_view sql);
    // Runs one query without parameters and reads all rows.
    DbResult query(std::string_view sql);
    // Prepares a statement in SQLite's own dialect with ? placeholders.
    Statement prepare(std::string_view sql);
    // Runs SQLite statements with no parameters (schema scripts).
    void executeScript(std::string_view sql);

    std::int64_t lastInsertRowId() const;
    sqlite3* handle() const { return db_; }

    // Throws EngineError "<what> the database <file> failed: <reason>", where
    // `what` is "Reading from", "Writing to" …
    [[noreturn]] void fail(std::string_view what) const;

    // Databases opened since the process started, for the tests that count
    // what a click costs.
    static std::uint64_t opens();

  private:
    std::filesystem::path path_;
    sqlite3* db_ = nullptr;
};

}  // namespace zolt

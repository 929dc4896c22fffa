// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "work/Records.h"

struct sqlite3;

namespace zolt {
struct WorkingSet;
}

namespace zolt::test {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const std::filesystem::path& path);

// Every file below `folder` with its bytes: compare two snapshots to prove
// that nothing was written, created or removed.
std::map<std::string, std::string> snapshot(const std::filesystem::path& folder);

// The pristine database built for this build tree.
std::filesystem::path pristineDatabase();
// A copy of the pristine database at `target`.
void copyPristineDatabase(const std::filesystem::path& target);

// An old log record from its parts (padded/cut to the field widths).
LogBackupRecord logRecord(std::string_view callsign, std::string_view frequency,
                          std::string_view time = "1200", std::string_view date = "20010101",
                          std::string_view comment = "");
// A log file of these records.
void writeLogFile(const std::filesystem::path& path, const std::vector<LogBackupRecord>& records);

// A working record; State as given ("OK" is padded to "OK ").
ProcessedRecord processedRecord(int location, int recordNo, std::string_view ident,
                                std::string_view frequency, std::string_view state,
                                std::string_view time = "1200", std::string_view date = "20010101",
                                std::string_view comment = "");
// processed.dat from (location, ident, frequency, state) rows numbered 1 … n.
struct Row {
    int location;
    std::string ident, frequency, state;
    std::string time = "1200", date = "20010101", comment = "";
};
void writeProcessed(const std::filesystem::path& path, const std::vector<Row>& rows);
// The entries' states without blanks, in order ("OK", "AMB", ...).
std::vector<std::string> states(const WorkingSet& set);

// Holds the database locked the way another program would, with an
// exclusive transaction on a second connection, until destroyed.
class DatabaseLock {
  public:
    explicit DatabaseLock(const std::filesystem::path& path);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

  private:
    ::sqlite3* db_ = nullptr;
};

// Holds a shared lock through an open read transaction, as a program that is
// reading would: an action can start writing, but its commit cannot finish.
class DatabaseReader {
  public:
    explicit DatabaseReader(const std::filesystem::path& path);
    ~DatabaseReader();
    DatabaseReader(const DatabaseReader&) = delete;
    DatabaseReader& operator=(const DatabaseReader&) = delete;

  private:
    ::sqlite3* db_ = nullptr;
};

// Points HOME, XDG folders and WINEPREFIX at `home` for this process.
void useHome(const std::filesystem::path& home);

// Sets or removes an environment variable of this process.
void setEnvironment(const char* name, const std::string& value);
void unsetEnvironment(const char* name);

// Runs `program` (on Windows its .exe) with `args`, its standard output and
// error written to the given files (empty: discarded), and waits for it.
// The exit status, or -1 when it did not exit normally.
int runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
               const std::filesystem::path& outFile, const std::filesystem::path& errFile);

}  // namespace zolt::test

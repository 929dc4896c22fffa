// SPDX-License-Identifier: GPL-2.0-or-later
#include "TestUtil.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <fstream>
#include <stdexcept>

#include "core/TextFields.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;

namespace zolt::test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zolt-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them removable.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto name = fs::relative(entry.path(), folder).string();
        files[name] = entry.is_regular_file() ? readFile(entry.path()) : std::string("<dir>");
    }
    return files;
}

fs::path pristineDatabase() { return ZOLT_NDBDATA; }

void copyPristineDatabase(const fs::path& target) {
    fs::copy_file(pristineDatabase(), target, fs::copy_options::overwrite_existing);
}

LogBackupRecord logRecord(std::string_view callsign, std::string_view frequency,
                          std::string_view time, std::string_view date, std::string_view comment) {
    return {padField(callsign, 7), padField(frequency, 6), padField(time, 4), padField(date, 8),
            padField(comment, 60)};
}

void writeLogFile(const fs::path& path, const std::vector<LogBackupRecord>& records) {
    std::string bytes;
    for (const auto& r : records) bytes += r.encode();
    writeFile(path, bytes);
}

ProcessedRecord processedRecord(int location, int recordNo, std::string_view ident,
                                std::string_view frequency, std::string_view state,
                                std::string_view time, std::string_view date,
                                std::string_view comment) {
    return {static_cast<std::int16_t>(location),
            static_cast<std::int16_t>(recordNo),
            padField(ident, 10),
            padField(frequency, 10),
            padField(time, 5),
            padField(date, 10),
            padField(comment, 60),
            padField(state, 3)};
}

void writeProcessed(const fs::path& path, const std::vector<Row>& rows) {
    std::string bytes;
    int n = 0;
    for (const auto& r : rows) {
        bytes += processedRecord(r.location, ++n, r.ident, r.frequency, r.state, r.time, r.date,
                                 r.comment)
                     .encode();
    }
    writeFile(path, bytes);
}

std::vector<std::string> states(const WorkingSet& set) {
    std::vector<std::string> out;
    for (const auto& e : set.entries) out.push_back(trimBlanks(e.state));
    return out;
}

DatabaseLock::DatabaseLock(const fs::path& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw std::runtime_error("cannot lock " + path.string());
    }
}

DatabaseLock::~DatabaseLock() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
}

DatabaseReader::DatabaseReader(const fs::path& path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(db_, "BEGIN; SELECT count(*) FROM NDBLog;", nullptr, nullptr, nullptr);
}

DatabaseReader::~DatabaseReader() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
}

void useHome(const fs::path& home) {
    fs::create_directories(home / "Documents");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    ::setenv("XDG_DOCUMENTS_DIR", (home / "Documents").c_str(), 1);
    ::setenv("WINEPREFIX", (home / ".wine").c_str(), 1);
}

}  // namespace zolt::test

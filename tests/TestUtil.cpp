// SPDX-License-Identifier: GPL-2.0-or-later
#include "TestUtil.h"

#include <sqlite3.h>
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <fstream>
#include <random>
#include <stdexcept>

#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;

namespace zolt::test {

TempDir::TempDir() {
#ifdef _WIN32
    // No mkdtemp: a random name, taken only when the folder is new.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "zolt-test-%08x", static_cast<unsigned>(random()));
        const fs::path candidate = fs::temp_directory_path() / name;
        if (fs::create_directory(candidate)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("no temporary folder could be made");
#else
    std::string pattern = (fs::temp_directory_path() / "zolt-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
#ifdef _WIN32
    // remove_all of this C++ library loops for ever on Windows over a file
    // whose deletion waits for a handle still open: each entry is removed
    // once, deepest first, and what cannot go stays.
    std::vector<fs::path> entries;
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        entries.push_back(it->path());
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only ones too
    }
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) fs::remove(*it, ec);
    fs::remove(path_, ec);
#else
    // Tests may leave read-only folders behind; make them removable.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
#endif
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
        // With forward slashes on every system: "work/processed.dat".
        const auto name = fs::relative(entry.path(), folder).generic_string();
        files[name] = entry.is_regular_file() ? readFile(entry.path()) : std::string("<dir>");
    }
    return files;
}

fs::path pristineDatabase() { return ZOLT_NDBDATA; }

void copyPristineDatabase(const fs::path& target) {
#ifdef _WIN32
    // This C++ library's copy_file cannot overwrite on Windows ("File exists").
    std::error_code ec;
    fs::remove(target, ec);
#endif
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
    if (sqlite3_open_v2(path.string().c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw std::runtime_error("cannot lock " + path.string());
    }
}

DatabaseLock::~DatabaseLock() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
}

DatabaseReader::DatabaseReader(const fs::path& path) {
    sqlite3_open_v2(path.string().c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(db_, "BEGIN; SELECT count(*) FROM NDBLog;", nullptr, nullptr, nullptr);
}

DatabaseReader::~DatabaseReader() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
}

void useHome(const fs::path& home) {
    fs::create_directories(home / "Documents");
    setEnvironment("HOME", home.string());
    setEnvironment("XDG_CONFIG_HOME", (home / ".config").string());
    setEnvironment("XDG_DATA_HOME", (home / ".local/share").string());
    setEnvironment("XDG_DOCUMENTS_DIR", (home / "Documents").string());
    setEnvironment("WINEPREFIX", (home / ".wine").string());
}

#ifdef _WIN32

void setEnvironment(const char* name, const std::string& value) {
    ::_putenv_s(name, value.c_str());
}

void unsetEnvironment(const char* name) { ::_putenv_s(name, ""); }

namespace {

// One argument as CommandLineToArgvW and the C runtime read it back.
std::wstring quotedArgument(const std::wstring& arg) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

HANDLE outputFile(const fs::path& file) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(file.empty() ? L"NUL" : file.c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int runProgram(const fs::path& program, const std::vector<std::string>& args,
               const fs::path& outFile, const fs::path& errFile) {
    fs::path exe = program;
    if (exe.extension() != ".exe") exe += ".exe";
    std::wstring line = quotedArgument(exe.wstring());
    for (const auto& arg : args) line += L" " + quotedArgument(zolt::pathFromUtf8(arg).wstring());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputFile(outFile);
    startup.hStdError = outputFile(errFile);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    if (!started) return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

#else

void setEnvironment(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}

void unsetEnvironment(const char* name) { ::unsetenv(name); }

int runProgram(const fs::path& program, const std::vector<std::string>& args,
               const fs::path& outFile, const fs::path& errFile) {
    const auto quoted = [](const std::string& text) {
        std::string out = "'";
        for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    std::string command = quoted(program.string());
    for (const auto& arg : args) command += " " + quoted(arg);
    command += " >" + (outFile.empty() ? std::string("/dev/null") : quoted(outFile.string()));
    command += " 2>" + (errFile.empty() ? std::string("/dev/null") : quoted(errFile.string()));
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

}  // namespace zolt::test

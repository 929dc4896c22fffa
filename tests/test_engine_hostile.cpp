// SPDX-License-Identifier: GPL-2.0-or-later
// Hostile files: seeded random mutations of valid files for every reader of the
// old backups and of the converter's own files. A call succeeds, with a few
// invariants intact, or throws EngineError naming the file; it never crashes,
// hangs, throws anything else, or writes to the backups or outside the work folder.

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <set>

#include "DbTestUtil.h"
#include "TestUtil.h"
#include "engine/LocationNames.h"
#include "engine/LogStore.h"
#include "engine/Project.h"
#include "engine/Report.h"
#include "engine/StepTwoLists.h"
#include "engine/UserBeacons.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

using Rng = std::mt19937_64;  // fixed by the standard: a seed gives the same case anywhere
std::size_t below(Rng& rng, std::size_t n) { return n == 0 ? 0 : rng() % n; }
template <typename T>
const T& pick(Rng& rng, const std::vector<T>& items) {
    return items[below(rng, items.size())];
}

// Bounds the running case: one that hangs prints what it was and ends the
// process, so that CI shows the case and not only a timeout.
char gCase[200] = "";
#ifdef _WIN32
// No alarm signal on Windows: a timer of the thread pool ends the process.
HANDLE gTimer = nullptr;
void bound(const std::string& what) {
    std::snprintf(gCase, sizeof gCase, "%s\n", what.c_str());
    if (gTimer) DeleteTimerQueueTimer(nullptr, gTimer, INVALID_HANDLE_VALUE);
    gTimer = nullptr;
    if (what.empty()) return;
    CreateTimerQueueTimer(
        &gTimer, nullptr,
        [](PVOID, BOOLEAN) {
            std::fputs(gCase, stderr);
            std::_Exit(124);
        },
        nullptr, 30'000, 0, WT_EXECUTEONLYONCE);
}
#else
void bound(const std::string& what) {
    std::snprintf(gCase, sizeof gCase, "%s\n", what.c_str());
    std::signal(SIGALRM, [](int) {
        [[maybe_unused]] auto n = ::write(2, gCase, std::strlen(gCase));
        std::_Exit(124);
    });
    ::alarm(what.empty() ? 0 : 30);
}
#endif

// Runs `count` cases from fixed seeds (ZOLT_FUZZ_ROUNDS=<factor> runs more or
// fewer) up to the first that fails, which ZOLT_FUZZ_CASE=<seed> replays.
template <typename Body>
void fuzz(std::uint64_t tag, int count, Body body) {
    const char* only = std::getenv("ZOLT_FUZZ_CASE");
    const char* rounds = std::getenv("ZOLT_FUZZ_ROUNDS");
    count = only ? 1 : std::max(1, static_cast<int>(count * (rounds ? std::atof(rounds) : 1)));
    for (int i = 0; i < count && !::testing::Test::HasFailure(); ++i) {
        const std::uint64_t seed = only ? std::stoull(only, nullptr, 0) : tag * 100'000 + i;
        bound("ZOLT_FUZZ_CASE=" + std::to_string(seed) + " replays this case");
        Rng rng(seed);
        body(rng);
        if (::testing::Test::HasFailure()) ADD_FAILURE() << gCase;
    }
    bound("");
}

const std::vector<char> kHostile = {'\0', '\xFF', ' ', '-', ';', '"', '\\'};
const std::vector<std::string> kBadUtf8 = {"\x80",         "\xC0\x80",         "\xC3",
                                           "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFE\xFF"};
constexpr std::size_t kLine = std::string::npos;

// A reader's own hostile texts: each written over the field at its offset in
// a random record, or (offset kLine) inserted as a line of its own.
using Tokens = std::vector<std::pair<std::size_t, std::string>>;

// One to four random changes; `unit` is the record length, 0 for a text file.
std::string mutate(std::string b, Rng& rng, std::size_t unit, const Tokens& tokens = {}) {
    const std::size_t len = unit == 0 ? 64 : unit;
    for (std::size_t round = 1 + below(rng, 4); round > 0; --round) {
        const std::size_t pos = below(rng, b.size()), at = below(rng, b.size() + 1);
        const std::size_t n = std::min(b.size() - pos, 1 + below(rng, 16));
        const std::size_t record = below(rng, b.size() / len + 1) * len;
        // Cut to nothing, anywhere, into a record, or just past the last whole one.
        const std::size_t cuts[] = {0, at, record + len / 2, b.size() / len * len + 1};
        const std::size_t op = below(rng, tokens.empty() ? 8 : 10);
        if (op == 0 && n > 0) b[pos] = static_cast<char>(b[pos] ^ (1 << below(rng, 8)));
        if (op == 1) b.replace(pos, n, n, pick(rng, kHostile));
        if (op == 2) b.resize(std::min(b.size(), cuts[below(rng, 4)]));
        if (op == 3) std::generate_n(std::back_inserter(b), 1 + below(rng, 300), std::ref(rng));
        if (op == 4) b.insert(record, b.substr(pos / len * len, len));
        if (op == 5) b.insert(at, below(rng, 2) ? pick(rng, kBadUtf8) : std::string(n, '\0'));
        if (op == 6) b.erase(pos, below(rng, 4));
        if (op == 7) b.insert(at, 1, static_cast<char>(rng()));
        if (op < 8) continue;
        const auto& [offset, text] = pick(rng, tokens);
        if (offset == kLine) {
            b.insert(b.rfind('\n', at) + 1, text + "\n");  // npos + 1 is 0: the first line
        } else if (b.size() >= unit) {
            b.replace(below(rng, b.size() / unit) * unit + offset, text.size(), text);
        }
    }
    return b;
}

// True when the call succeeds, false when it refuses with an EngineError
// naming one of `files`; anything else fails the test.
template <typename Call>
bool attempt(Call&& call, const std::vector<fs::path>& files) {
    try {
        call();
        return true;
    } catch (const EngineError& e) {
        const std::string text = e.what();
        const auto named = [&](const fs::path& p) { return text.find(p.string()) != kLine; };
        EXPECT_TRUE(std::any_of(files.begin(), files.end(), named)) << "names no file: " << text;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "not an EngineError (" << typeid(e).name() << "): " << e.what();
    }
    return false;
}

std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        out.insert(entry.path().filename().string());
    }
    return out;
}

// Judged by the system's converter, not by the code under test.
#ifdef _WIN32
bool validUtf8(std::string text) {
    return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) > 0;
}
#else
bool validUtf8(std::string text) {
    const iconv_t cd = ::iconv_open("UTF-32LE", "UTF-8");
    std::string out(4 * text.size() + 4, '\0');
    char *in = text.data(), *to = out.data();
    std::size_t inLeft = text.size(), outLeft = out.size();
    const bool ok = ::iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    return ok && inLeft == 0;
}
#endif

// A temporary folder holding an old backup folder and the work folder.
struct Folders {
    test::TempDir dir;
    ProjectPaths paths = projectPathsFor(dir.path());
    fs::path backup = dir / "backup";
    Folders() {
        fs::create_directories(backup);
        fs::create_directories(paths.WorkFolder);
    }
    // The backups are as they were, and nothing appeared but the `work` files.
    void expectOnlyWorkWritten(const std::map<std::string, std::string>& backupBefore,
                               const std::set<std::string>& work) const {
        EXPECT_EQ(test::snapshot(backup), backupBefore) << "the backup folder was written";
        EXPECT_EQ(names(dir.path()).size(), 2u) << "a file appeared beside the two folders";
        EXPECT_EQ(names(paths.WorkFolder), work);
    }
};

void readEveryWay(const fs::path& processed, int location) {
    attempt([&] { (void)scanLocationStates(processed); }, {processed});
    attempt([&] { (void)readStepTwoLists(processed, location); }, {processed});
    attempt([&] { (void)buildReport(processed, ReportKind::Ambiguous, location); }, {processed});
    attempt([&] { (void)buildReport(processed, ReportKind::Unresolved, location); }, {processed});
}

TEST(Hostile, MutatedLogsGiveAWellFormedWorkingFileOrAreRefused) {
    const std::string previous = "the previous processed.dat";
    std::string log, tooMany;
    for (const char* call : {"AB-CD", "ABC;2", "-------", "", ";X", "LAST"}) {
        log += test::logRecord(call, *call ? "277" : "", "0930", "19991231", "\xE9").encode();
    }
    for (int i = 0; i <= kMaxWorkingSet; ++i) tooMany += log.substr(0, 85);
    Folders f;
    const fs::path& processed = f.paths.ProcessedPath;
    for (const LogSource source : {LogSource::Backups, LogSource::WorkLogs}) {
        fuzz(source == LogSource::Backups ? 11 : 12, 150, [&](Rng& rng) {
            fs::remove_all(f.backup);
            fs::create_directories(f.backup);
            for (const char* name : {"log0.bak", "LOG3.BAK", "log15.bak", "log0.dat", "Log3.Dat"}) {
                if (below(rng, 20) != 0) test::writeFile(f.backup / name, mutate(log, rng, 85));
            }
            // Rarely more receptions than a location can take: refused, the old file kept.
            const bool refuse = below(rng, 50) == 0;
            if (refuse) test::writeFile(f.backup / "log15.bak", tooMany);
            test::writeFile(processed, previous);
            const auto before = test::snapshot(f.backup);
            int count = -1;
            const bool ok =
                attempt([&] { count = buildProcessedFile(f.backup, processed, source); },
                        {processed, f.backup});
            f.expectOnlyWorkWritten(before, {kProcessedFile});
            const std::string written = test::readFile(processed);
            ASSERT_EQ(ok, !refuse);
            ASSERT_TRUE(ok || written == previous) << "refused, but wrote";
            ASSERT_EQ(written.size(), ok ? count * ProcessedRecord::kLength : previous.size());
            EXPECT_LE(count, kMaxProcessedRecords);
            for (int i = 0; i < count; ++i) {
                const auto r = ProcessedRecord::decode(std::string_view(written).substr(i * 102));
                ASSERT_TRUE(r.RecordNo == i + 1 && r.State == "UNP")
                    << "record " << i + 1 << " reads " << r.RecordNo << " " << r.State;
            }
        });
    }
}

TEST(Hostile, MutatedProcessedFileIsReadOrRefusedAndSavedOnlyInTheStates) {
    const std::vector<std::string> codes = {"UNP", "AMB", "MIS", "OK"};
    std::string seed;
    for (int i = 0; i < 28; ++i) {
        seed +=
            test::processedRecord(std::vector{1, 1, 2, 5, 5, 16, 16}[i / 4], i + 1, "AB1", "277",
                                  codes[i % 4], "1200", "20010101", std::to_string(i) + "th")
                .encode();
    }
    Tokens tokens = {{99, "UNP"}, {99, "OK "}, {99, "ok "}, {99, "   "}, {99, "\xFF\xFF\xFF"}};
    for (const int v : {0, 1, 5, 17, -1, -32768, 32767, 257}) {
        const std::string le16 = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
        tokens.insert(tokens.end(), {{0, le16}, {2, le16}});  // Location, RecordNo
    }
    const std::set<std::string> validStates = {"UNP", "AMB", "MIS", "OK "};
    Folders f;
    const fs::path& processed = f.paths.ProcessedPath;

    fuzz(21, 300, [&](Rng& rng) {
        const std::string bytes = mutate(seed, rng, ProcessedRecord::kLength, tokens);
        test::writeFile(processed, bytes);
        const int location = std::vector{1, 2, 5, 16, 3, 0, 17, -1}[below(rng, 8)];
        readEveryWay(processed, location);
        std::vector<ProcessedRecord> records;
        WorkingSet set;
        if (attempt([&] { records = readProcessedFile(processed); }, {processed})) {
            EXPECT_EQ(records.size(), bytes.size() / ProcessedRecord::kLength);
        }
        attempt([&] { set = loadWorkingSet(processed, location); }, {processed});
        EXPECT_EQ(test::readFile(processed), bytes) << "a reader wrote";

        // The write-back changes State fields only, each to a valid code.
        for (auto& e : set.entries) e.state = pick(rng, codes);
        const bool saved = attempt([&] { saveWorkStates(processed, set); }, {processed});
        const std::string after = test::readFile(processed);
        f.expectOnlyWorkWritten({}, {kProcessedFile});
        ASSERT_TRUE(after.size() == bytes.size() && (saved || after == bytes))
            << "refused, but wrote";
        for (std::size_t i = 0; i < after.size(); ++i) {
            if (after[i] == bytes[i]) continue;
            ASSERT_TRUE(i < bytes.size() / 102 * 102 && i % 102 >= 99)
                << "the save changed byte " << i % 102 << " of record " << i / 102 + 1;
            EXPECT_EQ(validStates.count(after.substr(i / 102 * 102 + 99, 3)), 1u);
        }
        // The start-up check removes a file of no whole record; it changes no other.
        test::writeFile(processed, bytes);
        attempt([&] { (void)checkPendingWork(processed, f.backup, true); }, {processed});
        EXPECT_TRUE(bytes.size() < 102 || test::readFile(processed) == bytes);
    });
}

// Damaged files that must not pass for whole ones: two records claiming one
// number (the save must not write one reception's state into another, of
// another location or of the same one, leaving the loaded state stale), and a
// record in no valid state (the start-up check would take the project for
// finished and finalize it, removing the working files).
TEST(Hostile, DamagedRecordsAreRefusedAndKept) {
    Folders f;
    const fs::path& path = f.paths.ProcessedPath;
    const auto record = [](int location, int number, const char* ident, const std::string& state) {
        return test::processedRecord(location, number, ident, "1", state).encode();
    };
    for (const int locationOf3 : {2, 1}) {
        const std::string bytes = record(1, 1, "A", "UNP") + record(1, 3, "B", "UNP") +
                                  record(locationOf3, 3, "C", "UNP");
        test::writeFile(path, bytes);
        WorkingSet set = loadWorkingSet(path, 1);
        for (auto& e : set.entries) e.state = "OK";
        EXPECT_FALSE(attempt([&] { saveWorkStates(path, set); }, {path}));
        EXPECT_EQ(test::readFile(path), bytes) << "record 3 of location " << locationOf3;
    }
    for (const std::string& state : std::vector<std::string>{
             "XYZ", "ok ", "unp", "   ", "OK!", "\xFF\xFF\xFF", {"\0\0\0", 3}}) {
        const std::string bytes = record(1, 1, "A", "OK") + record(1, 2, "B", state);
        test::writeFile(path, bytes);
        EXPECT_FALSE(attempt([&] { checkPendingWork(path, f.backup, true); }, {path})) << state;
        EXPECT_EQ(test::readFile(path), bytes);
    }
}

// A record of the old beacon file; every text byte is stored two higher.
std::string beaconRecord(std::string ident, std::string frequency) {
    ident.resize(7, ' ');
    frequency.resize(6, ' ');
    std::string out = ident + "USA ON Springfield" + std::string(17, ' ') + frequency +
                      "HW   25   45.1N    075.5W    200104 a note";
    out.resize(UserBeaconRecord::kLength, ' ');
    for (char& ch : out) ch = static_cast<char>(ch + 2);
    return out;
}

TEST(Hostile, MutatedUserBeaconFileIsReadOrRefusedAndLookupsAreStable) {
    Folders f;
    test::copyPristineDatabase(f.paths.DatabasePath);
    Database db(f.paths.DatabasePath);
    const std::int64_t rowsAtStart = test::count(db, "SELECT COUNT(*) FROM NewBeacons");
    const std::string seed = beaconRecord("AB1", "277") + beaconRecord("ZZB", "263.5") +
                             beaconRecord("AB1", "277") + beaconRecord("X Y", " 400");
    const std::vector<std::pair<std::string, std::string>> lookups = {
        {"AB1", "277"}, {"ZZB", "263.5"}, {"XY", "400"}, {"NONE", "1"}};

    fuzz(31, 200, [&](Rng& rng) {
        fs::remove_all(f.backup);
        fs::create_directories(f.backup);
        const fs::path file = f.backup / (below(rng, 2) ? "ndb.dat" : "NDB.BAK");
        test::writeFile(file, mutate(seed, rng, UserBeaconRecord::kLength));
        const auto before = test::snapshot(f.backup);
        Transaction tx(db);  // never committed: every case starts from the pristine table
        LogStore store(db);
        std::optional<UserBeaconIndex> index;
        const bool ok = attempt([&] { index.emplace(f.backup, store); }, {file});
        f.expectOnlyWorkWritten(before, {kDatabaseFile});
        if (!ok) return;
        for (const auto& [ident, frequency] : lookups) {
            UserBeaconLookup found;
            ASSERT_TRUE(attempt(
                [&, &ident = ident, &frequency = frequency] {
                    found = index->LookupUserBeacon(ident, frequency);
                },
                {f.paths.DatabasePath}));
            const UserBeaconLookup again = index->LookupUserBeacon(ident, frequency);
            EXPECT_TRUE(!found.UserBeaconFound ||
                        (again.UserBeaconKnown && again.UserBeaconID == found.UserBeaconID))
                << ident << " was found, then not known under the same ID";
        }
    });
    EXPECT_EQ(test::count(db, "SELECT COUNT(*) FROM NewBeacons"), rowsAtStart)
        << "a rolled-back case left rows behind";
}

TEST(Hostile, MutatedSettingsGiveAFolderFromOneLineOrNone) {
    Folders f;
    const fs::path file = f.paths.WorkFolder / kSettingsFile;
    const std::vector<std::string> seeds = {"/media/old backups/zolt/\r\n", "\"/media/a,b/\"\r\n",
                                            "  /x/y/\r\n/second/line/\r\n"};
    fuzz(41, 300, [&](Rng& rng) {
        const std::string bytes = mutate(pick(rng, seeds), rng, 0);
        test::writeFile(file, bytes);
        std::optional<fs::path> folder;
        if (attempt([&] { folder = readSettings(f.paths); }, {file}) && folder) {
            EXPECT_EQ(folder->string().find_first_of(std::string("\r\n\0", 3)), kLine);
        }
        EXPECT_EQ(test::readFile(file), bytes);
        f.expectOnlyWorkWritten({}, {kSettingsFile});
    });
}

TEST(Hostile, MutatedRegistryFileGivesSixteenCaptions) {
    const std::string seed =
        "WINE REGISTRY Version 2\n\n[Software\\\\ZOLT6.1\\\\ListeningLocations] 1699999999\n"
        "\"Location(0)\"=\"Home\"\n\"Location(1)\"=\"  Cabin \\\"North\\\" \"\n"
        "\"Location(2)\"=\"\"\n\"Location(3)\"=dword:0000002a\n\"Location(4)\"=\"Caf\\xe9\"\n"
        "\"Location(5)\"=hex(1):48,00,69,00,00,00\n\"location(6)\"=\"lower \xC3\x98\"\n"
        "\"Location(8)\"=hex(1):41,00,42,00,\\\n  43,00,00,00\n\"Location(9)\"=str(2):\"%HOME%\"\n"
        "\"Location(12)\"=\"\\x263a\\xd83d\\xde00\"\n@=\"default\"\n\n[Software\\\\Other]\n";
    std::string continued = "\"Location(2)\"=hex(1):";  // a huge value over many lines
    for (int i = 0; i < 1 << 17; ++i) continued += "41,00,\\\n";
    const Tokens none, huge = {{kLine, "\"Location(1)\"=\"" + std::string(1 << 20, 'A') + "\""},
                               {kLine, "\"Location(1)\"=\"" + std::string(1 << 20, '\\')},
                               {kLine, "[" + std::string(1 << 20, '\\')},
                               {kLine, continued + "00"}};
    Folders f;
    const fs::path file = f.paths.WorkFolder / "user.reg";

    fuzz(51, 300, [&](Rng& rng) {
        const std::string bytes = mutate(seed, rng, 0, below(rng, 4) ? none : huge);
        test::writeFile(file, bytes);
        std::array<std::string, 16> captions;
        if (attempt([&] { captions = LoadLocationNames(file); }, {file})) {
            for (const std::string& caption : captions) {
                EXPECT_TRUE(!caption.empty() && validUtf8(caption) && caption.find('\0') == kLine)
                    << ::testing::PrintToString(caption);
            }
        }
        const std::string name = "Location(" + std::to_string(below(rng, 16)) + ")";
        attempt([&] { (void)GetRegistryString(kLocationsKey, name, file); }, {file});
        EXPECT_EQ(test::readFile(file), bytes);
        f.expectOnlyWorkWritten({}, {"user.reg"});
    });
}

// Every reader meets its file as a folder, a dangling link or a named pipe
// (which must not block): it reads nothing or refuses naming the file, and
// writes nothing anywhere.
TEST(Hostile, FilesThatAreNotFilesAreRefusedOrIgnored) {
#ifdef _WIN32
    // Windows' file systems hold no named pipes, and a symbolic link needs a
    // privilege that users lack: a folder is what can stand in a file's place.
    for (const std::string kind : {"folder"}) {
#else
    for (const std::string kind : {"folder", "dangling link", "pipe"}) {
#endif
        SCOPED_TRACE(kind);
        bound("a reader blocked on a " + kind);
        Folders f;
        const fs::path& processed = f.paths.ProcessedPath;
        const fs::path settings = f.paths.WorkFolder / kSettingsFile, registry = f.dir / "user.reg";
        for (const fs::path& p :
             {f.backup / "log3.bak", f.backup / "ndb.dat", processed, settings, registry}) {
            if (kind == "folder") fs::create_directories(p);
            if (kind == "dangling link") fs::create_symlink(f.dir / "nowhere", p);
#ifndef _WIN32
            if (kind == "pipe" && ::mkfifo(p.c_str(), 0600) != 0) ADD_FAILURE() << "no pipe";
#endif
        }
        test::writeLogFile(f.backup / "log0.bak", {test::logRecord("AB1", "277")});
        test::copyPristineDatabase(f.paths.DatabasePath);
        const auto before = test::snapshot(f.dir.path());

        const fs::path imported = f.paths.WorkFolder / "imported.dat";
        int count = -1;
        EXPECT_TRUE(
            attempt([&] { count = buildProcessedFile(f.backup, imported, LogSource::Backups); },
                    {imported}));
        EXPECT_EQ(count, 1);  // log3.bak is no log and contributes nothing
        fs::remove(imported);
        readEveryWay(processed, 1);
        attempt([&] { (void)readProcessedFile(processed); }, {processed});
        attempt([&] { (void)loadWorkingSet(processed, 1); }, {processed});
        attempt([&] { (void)readSettings(f.paths); }, {settings});
        for (const auto& caption : LoadLocationNames(registry)) EXPECT_EQ(caption, "Empty");
        EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(0)", registry), "");
        {
            Database db(f.paths.DatabasePath);
            Transaction tx(db);
            LogStore store(db);
            EXPECT_FALSE(
                UserBeaconIndex(f.backup, store).LookupUserBeacon("AB1", "277").UserBeaconFound);
        }
        EXPECT_EQ(test::snapshot(f.dir.path()), before);
        // A link to nowhere is a missing processed.dat: the start-up check
        // rebuilds it in place of the link, never through it.
        PendingWork startUp = PendingWork::NoProject;
        attempt([&] { startUp = checkPendingWork(processed, f.backup, true); }, {processed});
        EXPECT_EQ(startUp == PendingWork::Rebuilt, kind == "dangling link");
        EXPECT_FALSE(fs::exists(f.dir / "nowhere"));
    }
    bound("");
}

}  // namespace

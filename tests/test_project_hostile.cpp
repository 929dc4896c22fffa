// Hostile files: every reader of the old backups and of the converter's own
// files is fed seeded random mutations of valid files. A call must either
// succeed with its invariants intact or throw EngineError naming the file; it
// must not crash, hang, throw anything else or write where it should not.
//
// The base seed is fixed so that every run checks the same cases. A failure
// prints the case seed; ZOLT_FUZZ_CASE=<seed> replays exactly that case (pick
// the reader with --gtest_filter), ZOLT_FUZZ_ROUNDS=<factor> runs more or
// fewer cases, ZOLT_FUZZ_BASE=<seed> explores other cases.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <typeinfo>
#include <vector>

#include "TestUtil.h"
#include "app/LocationNames.h"
#include "app/Project.h"
#include "db/Database.h"
#include "matching/StepTwoLists.h"
#include "review/Report.h"
#include "work/BackupImport.h"
#include "work/EngineError.h"
#include "work/LocationStates.h"
#include "work/Records.h"
#include "work/UserBeacons.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace std::chrono_literals;

namespace {

// ---- Seeds, replay and the random source ----------------------------------

constexpr std::uint64_t kBaseSeed = 0x2001'0DB7'5EED'0001ULL;

std::uint64_t splitmix(std::uint64_t x) {
    x += 0x9E37'79B9'7F4A'7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58'476D'1CE4'E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D0'49BB'1331'11EBULL;
    return x ^ (x >> 31);
}

std::optional<std::uint64_t> envNumber(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return std::nullopt;
    return std::strtoull(text, nullptr, 0);
}

// The case seeds of one reader: `count` of them, or only the one to replay.
std::vector<std::uint64_t> caseSeeds(std::uint64_t readerTag, int count) {
    if (const auto only = envNumber("ZOLT_FUZZ_CASE")) return {*only};
    const std::uint64_t base = envNumber("ZOLT_FUZZ_BASE").value_or(kBaseSeed);
    double factor = 1.0;
    if (const char* rounds = std::getenv("ZOLT_FUZZ_ROUNDS")) factor = std::atof(rounds);
    const int n = std::max(1, static_cast<int>(count * factor));
    std::vector<std::uint64_t> seeds;
    for (int i = 0; i < n; ++i) {
        seeds.push_back(splitmix(base ^ splitmix(readerTag) ^ static_cast<std::uint64_t>(i)));
    }
    return seeds;
}

// mt19937_64 is fully specified, so a seed gives the same case everywhere.
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : engine_(seed) {}
    std::size_t below(std::size_t n) {
        return n == 0 ? 0 : static_cast<std::size_t>(engine_() % n);
    }
    bool percent(unsigned p) { return below(100) < p; }
    char byte() { return static_cast<char>(engine_() & 0xFF); }
    template <typename T, std::size_t N>
    const T& pick(const T (&items)[N]) {
        return items[below(N)];
    }
    template <typename T>
    const T& pick(const std::vector<T>& items) {
        return items[below(items.size())];
    }

  private:
    std::mt19937_64 engine_;
};

std::string hex(std::uint64_t value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%016llx", static_cast<unsigned long long>(value));
    return buf;
}

// What was done to the seed file, for the failure message.
struct Case {
    std::uint64_t seed = 0;
    std::vector<std::string> notes;

    void note(std::string text) { notes.push_back(std::move(text)); }
    std::string describe() const {
        std::string out = "case seed " + hex(seed) + "; mutations:";
        for (const auto& n : notes) out += " [" + n + "]";
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        out += "\nreplay: ZOLT_FUZZ_CASE=" + hex(seed) +
               " test_project_hostile --gtest_filter=" + std::string(test->test_suite_name()) +
               "." + test->name();
        return out;
    }
};

// Ends the process with the case when one call runs far longer than any case
// should: a hang would otherwise only show as a CI timeout without the seed.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void beat(std::string what) {
        std::lock_guard<std::mutex> lock(mutex_);
        what_ = std::move(what);
        last_ = std::chrono::steady_clock::now();
    }

  private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            wake_.wait_for(lock, 200ms);
            if (!stop_ && std::chrono::steady_clock::now() - last_ > limit_) {
                std::fprintf(stderr, "HANG: a hostile-file case ran for more than %lld s: %s\n",
                             static_cast<long long>(limit_.count()), what_.c_str());
                std::fflush(stderr);
                std::_Exit(124);
            }
        }
    }
    std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
    std::string what_ = "setting up";
    bool stop_ = false;
    std::thread thread_;
};

// Runs the cases of one reader; stops at the first failing case and prints it.
template <typename Body>
void fuzzReader(std::uint64_t readerTag, int count, Body body) {
    Watchdog dog(30s);
    for (const std::uint64_t seed : caseSeeds(readerTag, count)) {
        Rng rng(seed);
        Case c{seed, {}};
        dog.beat(hex(seed));
        body(rng, c);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << c.describe();
            return;
        }
    }
}

// ---- Mutations ---------------------------------------------------------------

using Structured = std::function<void(std::string&, Rng&, Case&)>;

constexpr char kHostileBytes[] = {'\0', '\xFF', ' ', '-', ';', '"', '\\'};

const std::vector<std::string> kInvalidUtf8 = {
    "\x80",     "\xC0\x80",         "\xC3",     "\xED\xA0\x80", "\xF8\x88\x80\x80\x80",
    "\xFE\xFF", "\xF4\x90\x80\x80", "\xE2\x82", "\xEF\xBF\xBF", "\xC2",
};

std::string byteName(char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
    return buf;
}

void mutateOnce(std::string& b, Rng& rng, std::size_t recordLength, const Structured& structured,
                Case& c) {
    const std::size_t pos = b.empty() ? 0 : rng.below(b.size());
    const std::size_t insertAt = rng.below(b.size() + 1);
    const std::size_t unit = recordLength == 0 ? 64 : recordLength;
    switch (rng.below(structured ? 14 : 12)) {
        case 0:
            if (b.empty()) {
                b += rng.byte();
                c.note("add a byte to an empty file");
            } else {
                const int bit = static_cast<int>(rng.below(8));
                b[pos] = static_cast<char>(b[pos] ^ (1 << bit));
                c.note("flip bit " + std::to_string(bit) + " of byte " + std::to_string(pos));
            }
            break;
        case 1:
            if (!b.empty()) {
                b[pos] = rng.pick(kHostileBytes);
                c.note("byte " + std::to_string(pos) + " = " + byteName(b[pos]));
            }
            break;
        case 2: {
            if (b.empty()) break;
            const std::size_t n = std::min(b.size() - pos, 1 + rng.below(16));
            const char with = rng.pick(kHostileBytes);
            std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(pos), n, with);
            c.note(std::to_string(n) + " bytes at " + std::to_string(pos) + " = " + byteName(with));
            break;
        }
        case 3: {
            std::size_t length = 0;
            switch (rng.below(5)) {
                case 0:
                    length = 0;
                    break;
                case 1:
                    length = rng.below(b.size() + 1);
                    break;
                case 2:
                    length = (b.size() / unit) * unit + (rng.percent(50) ? 1 : 0);
                    break;
                case 3:
                    length = rng.below(b.size() / unit + 1) * unit + unit / 2;
                    break;
                default:
                    length = b.empty() ? 0 : b.size() - 1;
            }
            if (length < b.size()) {
                b.resize(length);
                c.note("truncate to " + std::to_string(length));
            }
            break;
        }
        case 4: {
            const std::size_t n = 1 + rng.below(300);
            for (std::size_t i = 0; i < n; ++i) b += rng.byte();
            c.note("append " + std::to_string(n) + " random bytes");
            break;
        }
        case 5:
            if (recordLength > 0 && b.size() >= recordLength) {
                const std::size_t count = b.size() / recordLength;
                const std::size_t from = rng.below(count) * recordLength;
                const std::size_t to = rng.below(count + 1) * recordLength;
                b.insert(to, b.substr(from, recordLength));
                c.note("duplicate the record at " + std::to_string(from) + " to " +
                       std::to_string(to));
            } else if (recordLength == 0 && !b.empty()) {
                const std::size_t start = b.rfind('\n', pos);
                const std::size_t lineStart = start == std::string::npos ? 0 : start + 1;
                std::size_t end = b.find('\n', pos);
                end = end == std::string::npos ? b.size() : end + 1;
                std::string line = b.substr(lineStart, end - lineStart);
                if (line.empty() || line.back() != '\n') line += '\n';
                b.insert(lineStart, line);
                c.note("duplicate the line at " + std::to_string(lineStart));
            }
            break;
        case 6: {
            const std::string& bad = rng.pick(kInvalidUtf8);
            b.insert(insertAt, bad);
            c.note("insert invalid UTF-8 at " + std::to_string(insertAt));
            break;
        }
        case 7: {
            const std::size_t n = 1 + rng.below(8);
            b.insert(insertAt, std::string(n, '\0'));
            c.note("insert " + std::to_string(n) + " NULs at " + std::to_string(insertAt));
            break;
        }
        case 8: {
            if (b.empty()) break;
            const std::size_t n = std::min(b.size() - pos, 1 + rng.below(3));
            b.erase(pos, n);
            c.note("delete " + std::to_string(n) + " bytes at " + std::to_string(pos));
            break;
        }
        case 9: {
            const char with = rng.percent(50) ? rng.byte() : rng.pick(kHostileBytes);
            b.insert(insertAt, 1, with);
            c.note("insert " + byteName(with) + " at " + std::to_string(insertAt));
            break;
        }
        case 10:
            if (rng.percent(25)) {
                const std::size_t n = rng.below(3 * unit + 2);
                b.clear();
                for (std::size_t i = 0; i < n; ++i) b += rng.byte();
                c.note("replace everything with " + std::to_string(n) + " random bytes");
                break;
            }
            [[fallthrough]];
        case 11:
            if (!b.empty()) {
                b[pos] = rng.byte();
                c.note("byte " + std::to_string(pos) + " = " + byteName(b[pos]));
            }
            break;
        default:
            structured(b, rng, c);
    }
}

std::string mutate(std::string bytes, Rng& rng, std::size_t recordLength,
                   const Structured& structured, Case& c) {
    const std::size_t rounds = 1 + rng.below(4);
    for (std::size_t i = 0; i < rounds; ++i) mutateOnce(bytes, rng, recordLength, structured, c);
    return bytes;
}

// Overwrites `width` bytes at `offset` of a random whole record with `text`.
void overwriteField(std::string& b, Rng& rng, std::size_t recordLength, std::size_t offset,
                    std::string_view text, Case& c, const char* what) {
    const std::size_t count = b.size() / recordLength;
    if (count == 0) return;
    const std::size_t at = rng.below(count) * recordLength + offset;
    b.replace(at, text.size(), text);
    c.note(std::string(what) + " of the record at " + std::to_string(at - offset));
}

// ---- Checks shared by the readers -------------------------------------------

struct Attempt {
    bool ok = false;
    std::string refusal;
};

// Runs one call. An EngineError is an accepted refusal when it names one of
// `named`; any other exception is a failure.
template <typename Call>
Attempt attempt(Call&& call, const std::vector<fs::path>& named) {
    Attempt a;
    try {
        call();
        a.ok = true;
    } catch (const EngineError& e) {
        a.refusal = e.what();
        const bool names = std::any_of(named.begin(), named.end(), [&](const fs::path& p) {
            return a.refusal.find(p.string()) != std::string::npos;
        });
        EXPECT_TRUE(names) << "the refusal names none of the files involved: " << a.refusal;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "an exception other than EngineError (" << typeid(e).name()
                      << "): " << e.what();
    } catch (...) {
        ADD_FAILURE() << "an exception other than EngineError";
    }
    return a;
}

std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        out.insert(entry.path().filename().string());
    }
    return out;
}

bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, cp = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, cp = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, cp = lead & 0x07u;
        } else {
            return false;
        }
        if (i + extra >= s.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3Fu);
        }
        const std::uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

std::string pad(std::string_view s, std::size_t width) {
    std::string out(s.substr(0, width));
    out.resize(width, ' ');
    return out;
}

// Bytes as text a failure message can show: controls and high bytes in hex.
std::string printable(std::string_view bytes) {
    std::string out;
    for (char ch : bytes) {
        const auto code = static_cast<unsigned char>(ch);
        out += (code >= 0x20 && code < 0x7F) ? std::string(1, ch) : "<" + byteName(ch) + ">";
    }
    return out;
}

int int16At(std::string_view b, std::size_t at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(
        static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8)));
}

// ---- Old logs: buildProcessedFile ------------------------------------------

std::string logBytes(const std::vector<LogBackupRecord>& records) {
    std::string out;
    for (const auto& r : records) out += r.encode();
    return out;
}

// A processed.dat record as the import must write it from an old record, or
// nothing when the record is to be skipped.
std::optional<std::string> expectedConversion(std::string_view old, int location, int number) {
    const std::string_view callsign = old.substr(0, 7), frequency = old.substr(7, 6);
    std::string ident;
    for (char ch : callsign) {
        if (ch != '-') ident += ch;
    }
    ident = pad(ident, 10);
    if (const auto semi = ident.find(';'); semi != std::string::npos) {
        ident = pad(ident.substr(0, semi), 10);
    }
    if (ident.find('\0') != std::string::npos) return std::nullopt;
    if (trim(callsign).empty() && trim(frequency).empty()) return std::nullopt;
    std::string out;
    out += static_cast<char>(location & 0xFF);
    out += static_cast<char>((location >> 8) & 0xFF);
    out += static_cast<char>(number & 0xFF);
    out += static_cast<char>((number >> 8) & 0xFF);
    out += ident;
    out += pad(frequency, 10);
    out += pad(old.substr(13, 4), 5);
    out += pad(old.substr(17, 8), 10);
    out += old.substr(25, 60);
    out += "UNP";
    return out;
}

struct LogFixture {
    // The file each location reads, in order of preference.
    std::vector<std::vector<std::string>> candidates = std::vector<std::vector<std::string>>(16);
    std::map<std::string, std::string> seeds;
};

LogFixture logFixture(LogSource source) {
    using test::logRecord;
    const std::string first =
        logBytes({
            logRecord("AB-CD", "277"),
            logRecord("ABC;2", "350.5", "0930", "19991231", "caf\xE9 comment"),
            logRecord("-------", "263"),
            logRecord("", "", "1200", "20010101", "only a comment"),
            logRecord(";X", "1000"),
        }) +
        std::string(85, '\0') + logBytes({logRecord("LAST", "415")});
    const std::string fourth =
        logBytes({logRecord("Q", "199.5"), logRecord("Q-Q;Q", "200", "2359", "29991231")});
    const std::string last =
        logBytes({logRecord("ZZ", "530", "0000", "00000000", std::string(70, 'x')),
                  logRecord("zz", " 530 "), logRecord("  Z   ", "530.0")});
    LogFixture f;
    if (source == LogSource::Backups) {
        f.seeds = {{"log0.bak", first},
                   {"LOG3.BAK", fourth},
                   {"log15.bak", last},
                   {"log9.dat", fourth},
                   {"ndb.bak", std::string(213, ' ')}};
        f.candidates[0] = {"log0.bak"};
        f.candidates[3] = {"LOG3.BAK"};
        f.candidates[15] = {"log15.bak"};
    } else {
        f.seeds = {{"log0.dat", first},  {"Log3.Dat", fourth}, {"log3.bak", last},
                   {"log9.dat", fourth}, {"log15.bak", last},  {"log7.bak", first}};
        f.candidates[0] = {"log0.dat"};
        f.candidates[3] = {"Log3.Dat", "log3.bak"};
        f.candidates[7] = {"log7.bak"};
        f.candidates[9] = {"log9.dat"};
        f.candidates[15] = {"log15.bak"};
    }
    return f;
}

void logStructured(std::string& b, Rng& rng, Case& c) {
    static const std::string callsigns[] = {
        "-------", ";;;;;;;",         std::string(7, '\0'),       "       ",
        "A-B;C-D", "\xFF\xFE-;\"\\ ", std::string("AB\0CD  ", 7), ";------"};
    static const std::string frequencies[] = {"      ", std::string(6, '\0'), "-1e308", "\xFF\xFF"};
    if (rng.percent(60)) {
        overwriteField(b, rng, 85, 0, rng.pick(callsigns), c, "hostile callsign");
    } else {
        overwriteField(b, rng, 85, 7, rng.pick(frequencies), c, "hostile frequency");
    }
}

class HostileImport : public ::testing::TestWithParam<LogSource> {};

TEST_P(HostileImport, MutatedLogsImportExactlyOrAreRefused) {
    const LogSource source = GetParam();
    const LogFixture fixture = logFixture(source);
    test::TempDir dir;
    const fs::path backup = dir / "backup", work = dir / "work";
    const fs::path processed = work / "processed.dat";
    fs::create_directories(backup);
    fs::create_directories(work);
    const std::string sentinel = "the previous processed.dat";

    fuzzReader(source == LogSource::Backups ? 11 : 12, 200, [&](Rng& rng, Case& c) {
        // Every seed file is written afresh; one or two of them mutated, some
        // perhaps left out altogether.
        std::map<std::string, std::string> files = fixture.seeds;
        const std::size_t mutations = 1 + rng.below(2);
        for (std::size_t m = 0; m < mutations; ++m) {
            auto it =
                std::next(files.begin(), static_cast<std::ptrdiff_t>(rng.below(files.size())));
            c.note("mutate " + it->first);
            if (rng.percent(5)) {
                files.erase(it);
                c.note("remove it");
                continue;
            }
            it->second = mutate(it->second, rng, LogBackupRecord::kLength, logStructured, c);
        }
        // Rarely a log past the limit of the record numbers.
        if (rng.percent(1)) {
            std::string& log = files.begin()->second;
            const std::string one = test::logRecord("BIG", "300").encode();
            log.reserve(log.size() + 32768 * one.size());
            for (int i = 0; i < 32768; ++i) log += one;
            c.note("inflate " + files.begin()->first + " past 32767 records");
        }
        for (const auto& entry : fs::directory_iterator(backup)) fs::remove(entry.path());
        for (const auto& [name, bytes] : files) test::writeFile(backup / name, bytes);
        test::writeFile(processed, sentinel);

        // What the import must write: locations in order, the first present
        // candidate of each, kept records numbered from 1.
        std::string expected;
        int kept = 0;
        for (std::size_t loc = 0; loc < 16; ++loc) {
            for (const auto& name : fixture.candidates[loc]) {
                const auto it = files.find(name);
                if (it == files.end()) continue;
                for (std::size_t r = 0; r + 85 <= it->second.size(); r += 85) {
                    const auto rec = expectedConversion(std::string_view(it->second).substr(r, 85),
                                                        static_cast<int>(loc) + 1, kept + 1);
                    if (!rec) continue;
                    ++kept;
                    if (kept <= kMaxProcessedRecords) expected += *rec;
                }
                break;
            }
        }

        // The log reader itself keeps every whole record and nothing else.
        for (const auto& [name, bytes] : files) {
            std::vector<LogBackupRecord> read;
            attempt([&] { read = readLogFile(backup / name); }, {backup / name});
            EXPECT_EQ(read.size(), bytes.size() / 85) << name;
            for (std::size_t i = 0; i < read.size(); ++i) {
                ASSERT_EQ(read[i].encode(), bytes.substr(i * 85, 85)) << name << " record " << i;
            }
        }

        const auto before = test::snapshot(backup);
        int count = -1;
        const Attempt a = attempt([&] { count = buildProcessedFile(backup, processed, source); },
                                  {processed, backup});
        EXPECT_EQ(test::snapshot(backup), before) << "the backup folder was written";
        EXPECT_EQ(names(work), std::set<std::string>{"processed.dat"});
        const std::string written = test::readFile(processed);
        if (kept > kMaxProcessedRecords) {
            EXPECT_FALSE(a.ok) << "more than 32767 receptions were imported";
            EXPECT_NE(a.refusal.find(std::to_string(kept)), std::string::npos) << a.refusal;
            EXPECT_EQ(written, sentinel);
            return;
        }
        ASSERT_TRUE(a.ok) << "refused: " << a.refusal;
        EXPECT_EQ(count, kept);
        EXPECT_LE(count, kMaxProcessedRecords);
        ASSERT_EQ(written.size(), static_cast<std::size_t>(kept) * ProcessedRecord::kLength);
        int lastLocation = 1;
        for (int i = 0; i < kept; ++i) {
            const std::string_view rec =
                std::string_view(written).substr(static_cast<std::size_t>(i) * 102, 102);
            ASSERT_EQ(int16At(rec, 2), i + 1) << "RecordNo of record " << i + 1;
            ASSERT_EQ(rec.substr(99), "UNP") << "record " << i + 1;
            const int location = int16At(rec, 0);
            ASSERT_TRUE(location >= lastLocation && location <= 16) << "record " << i + 1;
            lastLocation = location;
        }
        if (written != expected) {
            std::size_t at = 0;
            while (at < written.size() && written[at] == expected[at]) ++at;
            const std::size_t rec = at / 102;
            ADD_FAILURE() << "processed.dat differs from the conversion rule in record " << rec + 1
                          << " at byte " << at % 102
                          << "\nwritten:  " << printable(written.substr(rec * 102, 102))
                          << "\nexpected: " << printable(expected.substr(rec * 102, 102));
        }
    });
}

INSTANTIATE_TEST_SUITE_P(FromBothSources, HostileImport,
                         ::testing::Values(LogSource::Backups, LogSource::WorkLogs),
                         [](const auto& info) {
                             return std::string(info.param == LogSource::Backups ? "Backups"
                                                                                 : "WorkLogs");
                         });

// ---- processed.dat: every reader, and the state write-back ------------------

std::string processedSeed() {
    const struct {
        int location;
        std::string ident, frequency, state, comment;
    } rows[] = {
        {1, "AB1", "277", "UNP", ""},
        {1, "XY", "350.0", "AMB", "two of them"},
        {1, "Q1", "263.5", "MIS", "\xE9t\xE9"},
        {1, "OK1", "400", "OK", ""},
        {2, "DONE", "500", "OK", ""},
        {5, "M5", "199", "MIS", ""},
        {5, "A5", "199", "AMB", ""},
        {5, "A5", "199", "AMB", "again"},
        {16, "L16", "1000", "UNP", std::string(60, 'c')},
    };
    std::string bytes;
    int number = 0;
    for (const auto& r : rows) {
        bytes += test::processedRecord(r.location, ++number, r.ident, r.frequency, r.state, "1200",
                                       "20010101", r.comment)
                     .encode();
    }
    return bytes;
}

void processedStructured(std::string& b, Rng& rng, Case& c) {
    static const int numbers[] = {0, 1, 2, 5, 16, 17, -1, -32768, 32767, 257, 3, 9, 10};
    static const std::string states[] = {
        "UNP", "AMB", "MIS",         "OK ", "OK\0", "ok ", "UN ", "   ", std::string(3, '\0'),
        " AM", " MI", "\xFF\xFF\xFF"};
    auto int16 = [](int v) {
        std::string s(2, '\0');
        s[0] = static_cast<char>(v & 0xFF);
        s[1] = static_cast<char>((v >> 8) & 0xFF);
        return s;
    };
    switch (rng.below(3)) {
        case 0:
            overwriteField(b, rng, 102, 0, int16(rng.pick(numbers)), c, "hostile Location");
            break;
        case 1:
            overwriteField(b, rng, 102, 2, int16(rng.pick(numbers)), c, "hostile RecordNo");
            break;
        default:
            overwriteField(b, rng, 102, 99, rng.pick(states), c, "hostile State");
    }
}

struct ProcessedView {
    int location, recordNo;
    std::string_view ident, frequency, time, date, comment, state;
};

std::vector<ProcessedView> viewRecords(std::string_view b) {
    std::vector<ProcessedView> out;
    for (std::size_t at = 0; at + 102 <= b.size(); at += 102) {
        const auto r = b.substr(at, 102);
        out.push_back({int16At(r, 0), int16At(r, 2), r.substr(4, 10), r.substr(14, 10),
                       r.substr(24, 5), r.substr(29, 10), r.substr(39, 60), r.substr(99, 3)});
    }
    return out;
}

bool pending(std::string_view state) {
    const std::string code = trim(state);
    return code == "UNP" || code == "AMB" || code == "MIS";
}

TEST(Hostile, MutatedProcessedFileIsReadConsistentlyByEveryReader) {
    test::TempDir dir;
    const fs::path backup = dir / "backup", work = dir / "work";
    const fs::path processed = work / "processed.dat";
    fs::create_directories(backup);
    fs::create_directories(work);
    const std::string seed = processedSeed();
    const auto backupBefore = test::snapshot(backup);
    const int locations[] = {1, 2, 5, 16, 3, 0, 17, -1};
    const std::string codes[] = {"UNP", "AMB", "MIS", "OK"};

    fuzzReader(21, 500, [&](Rng& rng, Case& c) {
        const std::string bytes =
            mutate(seed, rng, ProcessedRecord::kLength, processedStructured, c);
        test::writeFile(processed, bytes);
        const auto view = viewRecords(bytes);
        const int location = rng.pick(locations);
        c.note("location " + std::to_string(location));
        const std::vector<fs::path> named = {processed};
        auto unchanged = [&](const char* reader) {
            EXPECT_EQ(test::readFile(processed), bytes) << reader << " changed processed.dat";
            EXPECT_EQ(names(work), std::set<std::string>{"processed.dat"}) << reader;
        };

        std::vector<ProcessedRecord> records;
        EXPECT_TRUE(attempt([&] { records = readProcessedFile(processed); }, named).ok);
        ASSERT_EQ(records.size(), view.size());
        for (std::size_t i = 0; i < view.size(); ++i) {
            ASSERT_EQ(records[i].encode(), bytes.substr(i * 102, 102)) << "record " << i + 1;
        }

        const std::size_t number = rng.below(view.size() + 2);
        const Attempt one = attempt([&] { (void)readProcessedRecord(processed, number); }, named);
        EXPECT_EQ(one.ok, number >= 1 && number <= view.size()) << "record " << number;

        std::array<LocationStatus, kLocationCount> buttons{};
        EXPECT_TRUE(attempt([&] { buttons = scanLocationStates(processed); }, named).ok);
        std::array<LocationStatus, kLocationCount> wanted{};
        for (const auto& r : view) {
            if (r.location < 1 || r.location > 16) continue;
            auto& b = wanted[static_cast<std::size_t>(r.location - 1)];
            const std::string code = trim(r.state);
            if (b.enabled || !pending(r.state)) continue;
            b = {true, code == "UNP" ? LocationColour::LightRed : LocationColour::Yellow};
        }
        for (std::size_t k = 0; k < kLocationCount; ++k) {
            EXPECT_EQ(buttons[k].enabled, wanted[k].enabled) << "button " << k + 1;
            EXPECT_EQ(buttons[k].colour, wanted[k].colour) << "button " << k + 1;
        }

        WorkingSet set;
        EXPECT_TRUE(attempt([&] { set = loadWorkingSet(processed, location); }, named).ok);
        std::vector<std::size_t> positions;  // file positions of the location's records
        for (std::size_t i = 0; i < view.size(); ++i) {
            if (view[i].location == location) positions.push_back(i);
        }
        ASSERT_EQ(set.entries.size(), positions.size());
        int unp = 0, amb = 0, mis = 0;
        for (std::size_t k = 0; k < positions.size(); ++k) {
            const auto& r = view[positions[k]];
            const auto& e = set.entries[k];
            EXPECT_EQ(e.recordNo, r.recordNo);
            EXPECT_EQ(e.ident, r.ident);
            EXPECT_EQ(e.comment, r.comment);
            EXPECT_EQ(e.state, r.state);
            const std::string code = trim(r.state);
            unp += code == "UNP", amb += code == "AMB", mis += code == "MIS";
        }
        EXPECT_EQ(set.unpCount, unp);
        EXPECT_EQ(set.ambCount, amb);
        EXPECT_EQ(set.misCount, mis);

        StepTwoLists lists;
        EXPECT_TRUE(attempt([&] { lists = readStepTwoLists(processed, location); }, named).ok);
        std::vector<int> ambiguous, unresolved;
        for (const auto& r : view) {
            if (r.location != location) continue;
            if (trim(r.state) == "AMB") ambiguous.push_back(r.recordNo);
            if (trim(r.state) == "MIS") unresolved.push_back(r.recordNo);
        }
        std::vector<int> gotAmbiguous, gotUnresolved;
        for (const auto& l : lists.ambiguous) gotAmbiguous.push_back(l.recordNo);
        for (const auto& l : lists.unresolved) gotUnresolved.push_back(l.recordNo);
        EXPECT_EQ(gotAmbiguous, ambiguous);
        EXPECT_EQ(gotUnresolved, unresolved);

        const ReportKind kind = rng.percent(50) ? ReportKind::Ambiguous : ReportKind::Unresolved;
        std::string report;
        EXPECT_TRUE(attempt([&] { report = buildReport(processed, kind, location); }, named).ok);
        std::string lines;
        for (const auto& r : view) {
            if (r.location != location ||
                trim(r.state) != (kind == ReportKind::Ambiguous ? "AMB" : "MIS")) {
                continue;
            }
            lines += pad(r.ident, 15) + pad(r.frequency, 15) + pad(r.time, 15) + pad(r.date, 15) +
                     pad(r.comment, 15) + "\r\n";
        }
        ASSERT_GE(report.size(), lines.size());
        EXPECT_TRUE(report.substr(report.size() - lines.size()) == lines)
            << "the report's lines differ from the records";
        unchanged("the readers");

        // The write-back: only the State fields of the loaded records change,
        // and only to one of the four codes; a record that no longer carries
        // its number refuses the whole save. Each save waits for the disk;
        // half the cases are plenty.
        if (rng.percent(50)) {
            for (auto& e : set.entries) e.state = rng.pick(codes);
            // Each loaded record must be found again at its number: in the
            // file, carrying that number, of the same location, and only once.
            std::string afterSave = bytes;
            bool consistent = true;
            std::set<int> seen;
            for (const auto& e : set.entries) {
                const bool inFile =
                    e.recordNo >= 1 && static_cast<std::size_t>(e.recordNo) <= view.size();
                const ProcessedView* there =
                    inFile ? &view[static_cast<std::size_t>(e.recordNo - 1)] : nullptr;
                if (!there || there->recordNo != e.recordNo || there->location != e.location ||
                    !seen.insert(e.recordNo).second) {
                    consistent = false;
                    break;
                }
                afterSave.replace(static_cast<std::size_t>(e.recordNo - 1) * 102 + 99, 3,
                                  pad(e.state, 3));
            }
            const Attempt save = attempt([&] { saveWorkStates(processed, set); }, named);
            EXPECT_EQ(save.ok, consistent) << save.refusal;
            EXPECT_TRUE(test::readFile(processed) == (save.ok ? afterSave : bytes))
                << "the write-back changed more than the states";
            EXPECT_EQ(names(work), std::set<std::string>{"processed.dat"});
            test::writeFile(processed, bytes);
        }

        // The start-up check; a file without a whole record goes, and one
        // with a record in no valid state is refused rather than finalized.
        const bool damaged = std::any_of(view.begin(), view.end(), [](const auto& r) {
            return !pending(r.state) && trim(r.state) != "OK";
        });
        PendingWork startUp = PendingWork::NoProject;
        EXPECT_EQ(
            attempt([&] { startUp = checkPendingWork(processed, backup, true); }, named).ok,
            view.empty() || !damaged);
        if (damaged && !view.empty()) {
            unchanged("checkPendingWork");
        } else if (view.empty()) {
            EXPECT_EQ(startUp, PendingWork::NothingImported);
            EXPECT_FALSE(fs::exists(processed));
        } else {
            const bool left = std::any_of(view.begin(), view.end(),
                                          [](const auto& r) { return pending(r.state); });
            EXPECT_EQ(startUp, left ? PendingWork::WorkLeft : PendingWork::NothingLeft);
            unchanged("checkPendingWork");
        }
    });
    EXPECT_EQ(test::snapshot(backup), backupBefore) << "the backup folder was written";
}

// A damaged file in which two records claim one number: the save must not
// write one reception's state into another (of another location, or of the
// same one, leaving the loaded record's state stale).
TEST(Hostile, SaveNeverWritesIntoAnotherReception) {
    const struct {
        const char* name;
        int claimedBy2;   // RecordNo stored in record 2 (location 1)
        int locationOf3;  // Location of record 3 (which carries number 3)
    } cases[] = {
        {"record 3 belongs to another location", 3, 2},
        {"record 3 belongs to the same location", 3, 1},
    };
    test::TempDir dir;
    const fs::path path = dir / "processed.dat";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = test::processedRecord(1, 1, "A", "1", "UNP").encode() +
                                  test::processedRecord(1, c.claimedBy2, "B", "1", "UNP").encode() +
                                  test::processedRecord(c.locationOf3, 3, "C", "1", "UNP").encode();
        test::writeFile(path, bytes);
        WorkingSet set = loadWorkingSet(path, 1);
        for (auto& e : set.entries) e.state = "OK";
        const Attempt save = attempt([&] { saveWorkStates(path, set); }, {path});
        EXPECT_FALSE(save.ok) << "record 3 now reads " << readProcessedRecord(path, 3).State;
        EXPECT_EQ(test::readFile(path), bytes);
    }
}

// ---- ndb.dat / ndb.bak: UserBeaconIndex and LookupUserBeacon ----------------

std::string storedField(std::string_view text, std::size_t width) {
    std::string out;
    for (char ch : text.substr(0, width))
        out += static_cast<char>(static_cast<unsigned char>(ch) + 2);
    out.resize(width, ' ');
    return out;
}

std::string beaconRecord(std::string_view ident, std::string_view frequency,
                         std::string_view city = "Springfield", std::string_view country = "USA") {
    return storedField(ident, 7) + storedField(country, 3) + storedField("ON", 2) +
           storedField(city, 30) + storedField(frequency, 6) + storedField("HW", 7) +
           storedField("25", 5) + storedField("45.12345N", 9) + storedField("075.54321W", 10) +
           storedField("20 01 04", 6) + storedField("ID 8s", 20) + storedField("1020", 5) +
           storedField("", 5) + storedField("3", 1) + storedField("a note", 90) +
           std::string(7, ' ');
}

// The decoded, trimmed text of a stored field: every byte two lower, stored
// blanks (and codes 0 and 1, which have nothing below) gone.
std::string decodedKey(std::string_view stored) {
    std::string out;
    for (char ch : stored) {
        const auto code = static_cast<unsigned char>(ch);
        if (code < 2 || code == 32) continue;
        out += static_cast<char>(code - 2);
    }
    return trim(out);
}

void ndbStructured(std::string& b, Rng& rng, Case& c) {
    static const std::string idents[] = {
        std::string(7, '\0'), std::string(7, '\x01'),         "       ",
        "\"\"\"\"\"\"\"",     "\xFF\xFF\xFF\xFF\xFF\xFF\xFF", storedField("AB1", 7)};
    switch (rng.below(3)) {
        case 0:
            overwriteField(b, rng, 213, 0, rng.pick(idents), c, "hostile ident");
            break;
        case 1:
            overwriteField(b, rng, 213, 42, rng.pick(idents).substr(0, 6), c, "hostile frequency");
            break;
        default: {
            static const char fills[] = {'\0', '\x01', ' ', '\xFF'};
            const char with = rng.pick(fills);
            overwriteField(b, rng, 213, 0, std::string(213, with), c,
                           ("whole record of " + byteName(with)).c_str());
        }
    }
}

TEST(Hostile, MutatedUserBeaconFileFindsExactlyItsBeacons) {
    test::TempDir dir;
    const fs::path backup = dir / "backup", work = dir / "work";
    fs::create_directories(backup);
    fs::create_directories(work);
    const fs::path database = work / "ndbdata.ndf";
    test::copyPristineDatabase(database);
    Database db(database);
    auto rowCount = [&] {
        return std::get<std::int64_t>(
            db.prepare("SELECT COUNT(*) FROM NewBeacons").query().rows.at(0).at(0));
    };
    const std::int64_t rowsAtStart = rowCount();
    const std::string seed = beaconRecord("AB1", "277") + beaconRecord("ZZB", "263.5", "Bergen") +
                             beaconRecord("AB1", "277", "Twice") +
                             beaconRecord("X Y", " 400",
                                          "Montr\xE9"
                                          "al",
                                          " U ") +
                             beaconRecord("Q-1", "1000.5");
    const std::vector<std::pair<std::string, std::string>> seedBeacons = {
        {"AB1", "277"}, {"ZZB", "263.5"}, {"XY", "400"}, {"Q-1", "1000.5"}, {"NONE", "1"}};
    const char* fileNames[] = {"ndb.dat", "NDB.DAT", "ndb.bak", "Ndb.Bak"};

    fuzzReader(31, 300, [&](Rng& rng, Case& c) {
        const std::string bytes = mutate(seed, rng, UserBeaconRecord::kLength, ndbStructured, c);
        for (const auto& entry : fs::directory_iterator(backup)) fs::remove(entry.path());
        const std::string name = rng.pick(fileNames);
        c.note("as " + name);
        test::writeFile(backup / name, bytes);
        // A backup beside the working file must not be read instead of it.
        if (name == "ndb.dat" && rng.percent(30)) {
            test::writeFile(backup / "ndb.bak", beaconRecord("BAK", "100"));
            c.note("plus an ndb.bak");
        }
        const auto before = test::snapshot(backup);

        // The beacons the file holds: a last record of which at least half is
        // there counts, its missing bytes reading as stored blanks.
        std::set<std::pair<std::string, std::string>> inFile;
        std::string padded = bytes;
        padded.resize((bytes.size() + 106) / 213 * 213, ' ');
        for (std::size_t at = 0; at + 213 <= padded.size(); at += 213) {
            inFile.insert(
                {decodedKey(padded.substr(at, 7)), decodedKey(padded.substr(at + 42, 6))});
        }
        std::vector<std::pair<std::string, std::string>> lookups = seedBeacons;
        for (int k = 0; k < 3 && !inFile.empty(); ++k) {
            lookups.push_back(
                *std::next(inFile.begin(), static_cast<std::ptrdiff_t>(rng.below(inFile.size()))));
        }

        Transaction tx(db);  // never committed: every case starts from the pristine table
        std::optional<UserBeaconIndex> index;
        const fs::path file = backup / name;
        if (!attempt([&] { index.emplace(backup, db); }, {file, database}).ok) return;
        for (const auto& [ident, frequency] : lookups) {
            const std::int64_t rowsBefore = rowCount();
            UserBeaconLookup found;
            ASSERT_TRUE(
                attempt([&] { found = index->LookupUserBeacon(ident, frequency); }, {database}).ok);
            const bool expected = inFile.count({ident, frequency}) > 0;
            EXPECT_EQ(found.UserBeaconFound, expected) << ident << " / " << frequency;
            EXPECT_TRUE(found.UserBeaconFound || !found.UserBeaconKnown);
            if (!found.UserBeaconFound) {
                EXPECT_EQ(rowCount(), rowsBefore) << "a row was added for a beacon not found";
                continue;
            }
            EXPECT_LE(rowCount(), rowsBefore + 1);
            // The row exists, and every text that went into the database is UTF-8.
            const DbResult row =
                db.prepare(
                      "SELECT Ident, Country, State, City, Power, PowerClass, Latitude, "
                      "Longitude, AsOf, Cycle, usb, lsb, DAID, GenNotes FROM NewBeacons "
                      "WHERE newbeacon_ID = ?")
                    .bind({static_cast<std::int64_t>(found.UserBeaconID)})
                    .query();
            ASSERT_EQ(row.rowCount(), 1u) << "no NewBeacons row " << found.UserBeaconID;
            for (std::size_t col = 0; col < row.columns.size(); ++col) {
                const std::string text = dbValueText(row.rows[0][col]);
                EXPECT_TRUE(validUtf8(text)) << row.columns[col] << " is not UTF-8";
            }
            const UserBeaconLookup again = index->LookupUserBeacon(ident, frequency);
            EXPECT_TRUE(again.UserBeaconKnown && again.UserBeaconFound);
            EXPECT_EQ(again.UserBeaconID, found.UserBeaconID);
        }
        EXPECT_EQ(test::snapshot(backup), before) << "the backup folder was written";
    });
    EXPECT_EQ(rowCount(), rowsAtStart) << "a rolled-back case left rows behind";
    EXPECT_EQ(names(work), std::set<std::string>{"ndbdata.ndf"});
}

// ---- settings.ini: readSettings ----------------------------------------------

void settingsStructured(std::string& b, Rng& rng, Case& c) {
    static const std::string lines[] = {"\"", "\"/a,b/", ",",      "\t\t/x/", "\r\n",
                                        "\n", "\r",      " , /x/", "\"\"",    "\"/q/\"rest,more"};
    if (rng.percent(20)) {
        const std::size_t n = 1 + rng.below(1 << 20);
        b.insert(0, std::string(n, rng.percent(50) ? ' ' : 'a'));
        c.note("a first line " + std::to_string(n) + " bytes longer");
        return;
    }
    const std::string& line = rng.pick(lines);
    b.insert(rng.below(b.size() + 1), line);
    c.note("insert a settings token");
}

TEST(Hostile, MutatedSettingsGiveAFolderFromTheFirstLineOrNone) {
    test::TempDir dir;
    ProjectPaths paths = projectPathsFor(dir.path());
    fs::create_directories(paths.WorkFolder);
    const fs::path file = paths.WorkFolder / kSettingsFile;
    const std::string seeds[] = {"/media/old backups/zolt/\r\n", "\"/media/a,b/\"\r\n",
                                 "  /x/y/\r\n/second/line/\r\n", "C:\\ZOLT\\\r\n"};

    fuzzReader(41, 400, [&](Rng& rng, Case& c) {
        const std::string bytes = mutate(rng.pick(seeds), rng, 0, settingsStructured, c);
        test::writeFile(file, bytes);
        std::optional<fs::path> folder;
        ASSERT_TRUE(attempt([&] { folder = readSettings(paths); }, {file}).ok);
        EXPECT_EQ(test::readFile(file), bytes);
        EXPECT_EQ(names(paths.WorkFolder), std::set<std::string>{kSettingsFile});
        if (!folder) return;
        const std::string text = folder->string();
        const std::string firstLine = bytes.substr(0, bytes.find('\n'));
        EXPECT_FALSE(text.empty());
        EXPECT_NE(firstLine.find(text), std::string::npos) << "not from the first line";
        EXPECT_EQ(text.find_first_of(std::string_view("\r\n\0", 3)), std::string::npos);
        // A plain field is cut at the comma and loses its leading blanks; a
        // quoted one keeps both, up to the closing quotation mark.
        const bool quoted = firstLine[firstLine.find_first_not_of(" \t")] == '"';
        if (quoted) {
            EXPECT_EQ(text.find('"'), std::string::npos);
        } else {
            EXPECT_EQ(text.find(','), std::string::npos);
            EXPECT_TRUE(text.front() != ' ' && text.front() != '\t');
        }
    });
}

// A lone carriage return ends the line as a line feed does: the folder is the
// text before it, never a name with a CR in it. A NUL ends the text too, as it
// would for the system, which cannot take a path with a NUL in it.
TEST(Hostile, SettingsLineEndsAtCarriageReturnOrNul) {
    const struct {
        std::string bytes;
        std::optional<std::string> folder;
    } cases[] = {
        {"/x/y/\r\r\n", "/x/y/"},
        {"/x/y/\r/other/\r\n", "/x/y/"},
        {"/x/y/\r", "/x/y/"},
        {std::string("/x/\0/etc/\r\n", 11), "/x/"},
        {std::string("\0/x/\r\n", 6), std::nullopt},
        {"\r/x/y/\r\n", std::nullopt},
        {"\"/a,b/\r\n", "/a,b/"},
    };
    test::TempDir dir;
    const ProjectPaths paths = projectPathsFor(dir.path());
    fs::create_directories(paths.WorkFolder);
    for (const auto& c : cases) {
        SCOPED_TRACE(printable(c.bytes));
        test::writeFile(paths.WorkFolder / kSettingsFile, c.bytes);
        const auto folder = readSettings(paths);
        EXPECT_EQ(folder.has_value(), c.folder.has_value());
        if (folder && c.folder) {
            EXPECT_EQ(folder->string(), *c.folder);
        }
    }
}

// ---- The registry file: GetRegistryString and LoadLocationNames ------------

const char* const kUserReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win32\n"
    "\n"
    "[Software\\\\ZOLT6.1\\\\ListeningLocations] 1699999999\n"
    "#time=1d9a2b3c4d5e6f7\n"
    "\"Location(0)\"=\"Home\"\n"
    "\"Location(1)\"=\"  Cabin \\\"North\\\" \"\n"
    "\"Location(2)\"=\"\"\n"
    "\"Location(3)\"=dword:0000002a\n"
    "\"Location(4)\"=\"Caf\\xe9\"\n"
    "\"Location(5)\"=hex(1):48,00,69,00,00,00\n"
    "\"location(6)\"=\"lower\"\n"
    "\"Location(7)\"=hex(4):2a,00,00,00\n"
    "\"Location(8)\"=hex(1):41,00,42,00,\\\n"
    "  43,00,00,00\n"
    "\"Location(9)\"=str(2):\"%HOME%\"\n"
    "\"Location(10)\"=\"Bergen \xC3\x98\"\n"
    "\"Location(11)\"=dword:ffffffff\n"
    "\"Location(12)\"=\"\\x263a\\xd83d\\xde00\"\n"
    "@=\"default\"\n"
    "\n"
    "[Software\\\\Other]\n"
    "\"Location(13)\"=\"not ours\"\n";

const std::vector<std::string> kRegistryTokens = {
    "[Software\\\\ZOLT6.1\\\\ListeningLocations]",
    "[SOFTWARE\\\\zolt6.1\\\\listeninglocations] 123",
    "[Software\\\\ZOLT6.1\\\\ListeningLocations",
    "\"Location(3)\"=dword:",
    "\"Location(3)\"=dword:123456789",
    "\"Location(3)\"=dword:-1",
    "\"Location(4)\"=hex(ffffffff):41,00",
    "\"Location(4)\"=hex(80000000):41,00",
    "\"Location(4)\"=hex(7fffffff):41,00",
    "\"Location(4)\"=hex(1):4",
    "\"Location(4)\"=hex(1):41,00,\\",
    "\"Location(4)\"=hex(4):01,02,03",
    "\"Location(4)\"=hex(1):,,",
    "\"Location(5)\"=\"\\x\"",
    "\"Location(5)\"=\"\\xd800\"",
    "\"Location(5)\"=\"\\xdc00\\xd800\"",
    "\"Location(5)\"=\"\\777\\0\"",
    "\"Location(5)\"=\"unterminated",
    "\"Location(5)\"=\"a\" trailing",
    "\"Location(5)\"=\"\\",
    "\"Location(6)\"=\"a\\x0000b\"",
    "\"Location(6)\"=\"\xC0\x80\xED\xA0\x80\xFF\"",
    "@=\"x\"",
    "\"Location(7)\"",
    "\"Location(7)\"= ",
    "=",
    "\"",
    "[",
    "\\",
    "hex(1):",
    "\"Location(1)\"=str(2):\"x\"",
    "\"Location(15)\"=\"last\"",
};

void registryStructured(std::string& b, Rng& rng, Case& c) {
    if (rng.percent(6)) {
        // A huge line: a long name, an endless escape run, or raw data
        // continued over many lines.
        const std::size_t n = 1 + rng.below(1 << 20);
        std::string line;
        switch (rng.below(4)) {
            case 0:
                line = "\"Location(1)\"=\"" + std::string(n, 'A') + "\"";
                break;
            case 1:
                line = "\"Location(1)\"=\"" + std::string(n, '\\');
                break;
            case 2: {
                line = "\"Location(2)\"=hex(1):";
                for (std::size_t i = 0; i < n / 8; ++i) line += "41,00,\\\n";
                line += "00,00";
                break;
            }
            default:
                line = "[" + std::string(n, '\\') + "x";
                break;
        }
        const std::size_t at = b.find("\"Location(0)\"");
        b.insert(at == std::string::npos ? 0 : at, line + "\n");
        c.note("a huge line of " + std::to_string(line.size()) + " bytes");
        return;
    }
    const std::string& token = rng.pick(kRegistryTokens);
    const std::size_t at = b.rfind('\n', rng.below(b.size() + 1));
    b.insert(at == std::string::npos ? 0 : at + 1, token + (rng.percent(80) ? "\n" : ""));
    c.note("insert line " + token);
}

TEST(Hostile, MutatedRegistryFileGivesSixteenCaptionsAndNeverFails) {
    test::TempDir dir;
    const fs::path file = dir / "user.reg";
    const std::string key = kLocationsKey;

    fuzzReader(51, 400, [&](Rng& rng, Case& c) {
        const std::string bytes = mutate(kUserReg, rng, 0, registryStructured, c);
        test::writeFile(file, bytes);
        std::array<std::string, 16> captions;
        try {
            captions = LoadLocationNames(file);
        } catch (const std::exception& e) {
            FAIL() << "the registry reader threw: " << e.what();
        }
        // Reading every value again is slow for a huge file; a few will do.
        std::vector<std::size_t> checked;
        for (std::size_t n = 0; n < 16; ++n) {
            if (bytes.size() < 65536 || rng.percent(15)) checked.push_back(n);
        }
        for (std::size_t n = 0; n < 16; ++n) {
            const std::string& caption = captions[n];
            EXPECT_FALSE(caption.empty()) << "Location(" << n << ")";
            EXPECT_EQ(caption.find('\0'), std::string::npos) << "Location(" << n << ")";
            EXPECT_TRUE(validUtf8(caption)) << "Location(" << n << ") is not UTF-8";
        }
        for (const std::size_t n : checked) {
            const std::string name = "Location(" + std::to_string(n) + ")";
            std::string value, upper;
            try {
                value = GetRegistryString(key, name, file);
                upper = GetRegistryString("software\\zolt6.1\\LISTENINGLOCATIONS",
                                          "LOCATION(" + std::to_string(n) + ")", file);
            } catch (const std::exception& e) {
                FAIL() << "the registry reader threw: " << e.what();
            }
            EXPECT_EQ(captions[n], value.empty() ? "Empty" : value) << name;
            EXPECT_EQ(upper, value) << name << " depends on letter case";
        }
        EXPECT_EQ(test::readFile(file), bytes);
        EXPECT_EQ(names(dir.path()), std::set<std::string>{"user.reg"});
    });
}

// Raw registry types run up to eight hex digits; the largest must read as
// "another type" (empty text), not overflow while the type is parsed. The
// overflow itself only shows in a build with the undefined-behaviour checker.
TEST(Hostile, RegistryRawTypesOfEightHexDigits) {
    const struct {
        const char* data;
        const char* caption;
    } cases[] = {
        {"hex(ffffffff):41,00,00,00", "Empty"}, {"hex(80000000):41,00,00,00", "Empty"},
        {"hex(7fffffff):41,00,00,00", "Empty"}, {"hex(100000001):41,00,00,00", "Empty"},
        {"hex(00000001):41,00,00,00", "A"},     {"hex(00000004):2a,00,00,00", "42"},
    };
    test::TempDir dir;
    const fs::path file = dir / "user.reg";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        test::writeFile(file, std::string("[Software\\\\ZOLT6.1\\\\ListeningLocations]\n"
                                          "\"Location(4)\"=") +
                                  c.data + "\n");
        EXPECT_EQ(LoadLocationNames(file)[4], c.caption);
    }
}

// ---- Files that are not files ------------------------------------------------

// Each reader meets its file as a folder, a dangling link or a named pipe
// (which must not block): it reads nothing or refuses naming the file, and
// writes nothing anywhere.
TEST(Hostile, FilesThatAreNotFilesAreRefusedOrIgnored) {
    enum class Kind { Folder, DanglingLink, Pipe };
    const struct {
        const char* reader;
        Kind kind;
    } cases[] = {
        {"import", Kind::Folder},
        {"import", Kind::DanglingLink},
        {"import", Kind::Pipe},
        {"processed", Kind::Folder},
        {"processed", Kind::DanglingLink},
        {"processed", Kind::Pipe},
        {"ndb", Kind::Folder},
        {"ndb", Kind::DanglingLink},
        {"ndb", Kind::Pipe},
        {"settings", Kind::Folder},
        {"settings", Kind::Pipe},
        {"settings", Kind::DanglingLink},
        {"registry", Kind::Folder},
        {"registry", Kind::DanglingLink},
        {"registry", Kind::Pipe},
    };
    Watchdog dog(30s);
    for (const auto& tc : cases) {
        const std::string label = std::string(tc.reader) + " " +
                                  (tc.kind == Kind::Folder         ? "folder"
                                   : tc.kind == Kind::DanglingLink ? "dangling link"
                                                                   : "pipe");
        SCOPED_TRACE(label);
        dog.beat(label);
        test::TempDir dir;
        ProjectPaths paths = projectPathsFor(dir.path());
        const fs::path backup = dir / "backup";
        fs::create_directories(backup);
        fs::create_directories(paths.WorkFolder);
        auto place = [&](const fs::path& p) {
            switch (tc.kind) {
                case Kind::Folder:
                    fs::create_directories(p);
                    break;
                case Kind::DanglingLink:
                    fs::create_symlink(dir / "nowhere", p);
                    break;
                case Kind::Pipe:
                    ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
                    break;
            }
        };
        const std::string reader = tc.reader;
        fs::path target;
        if (reader == "import") target = backup / "log3.bak";
        if (reader == "processed") target = paths.ProcessedPath;
        if (reader == "ndb") target = backup / "ndb.dat";
        if (reader == "settings") target = paths.WorkFolder / kSettingsFile;
        if (reader == "registry") target = dir / "user.reg";
        place(target);
        const auto before = test::snapshot(dir.path());
        const std::vector<fs::path> named = {target};

        if (reader == "import") {
            test::writeLogFile(backup / "log0.bak", {test::logRecord("AB1", "277")});
            const auto withLog = test::snapshot(dir.path());
            int count = -1;
            EXPECT_TRUE(attempt(
                            [&] {
                                count = buildProcessedFile(backup, paths.ProcessedPath,
                                                           LogSource::Backups);
                            },
                            named)
                            .ok);
            EXPECT_EQ(count, 1);  // log3.bak is no log and contributes nothing
            fs::remove(paths.ProcessedPath);
            EXPECT_EQ(test::snapshot(dir.path()), withLog);
            continue;
        }
        if (reader == "processed") {
            attempt([&] { (void)readProcessedFile(paths.ProcessedPath); }, named);
            attempt([&] { (void)scanLocationStates(paths.ProcessedPath); }, named);
            attempt([&] { (void)loadWorkingSet(paths.ProcessedPath, 1); }, named);
            attempt([&] { (void)readStepTwoLists(paths.ProcessedPath, 1); }, named);
            attempt([&] { (void)buildReport(paths.ProcessedPath, ReportKind::Ambiguous, 1); },
                    named);
            if (tc.kind == Kind::DanglingLink) {
                // A link to nowhere is a missing processed.dat: the start-up
                // check rebuilds it, here from an empty backup folder. The
                // link is replaced; its target is never written.
                PendingWork startUp = PendingWork::NoProject;
                EXPECT_TRUE(
                    attempt([&] { startUp = checkPendingWork(paths.ProcessedPath, backup, true); },
                            named)
                        .ok);
                EXPECT_EQ(startUp, PendingWork::Rebuilt);
                EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(paths.ProcessedPath)));
                EXPECT_FALSE(fs::exists(dir / "nowhere"));
                continue;
            }
            attempt([&] { (void)checkPendingWork(paths.ProcessedPath, backup, true); }, named);
        }
        if (reader == "ndb") {
            test::copyPristineDatabase(paths.DatabasePath);
            const auto withDatabase = test::snapshot(backup);
            Database db(paths.DatabasePath);
            Transaction tx(db);
            UserBeaconIndex index(backup, db);
            EXPECT_FALSE(index.LookupUserBeacon("AB1", "277").UserBeaconFound);
            EXPECT_EQ(test::snapshot(backup), withDatabase);
            continue;
        }
        if (reader == "settings") attempt([&] { (void)readSettings(paths); }, named);
        if (reader == "registry") {
            const auto captions = LoadLocationNames(target);
            for (const auto& caption : captions) EXPECT_EQ(caption, "Empty");
            EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(0)", target), "");
        }
        EXPECT_EQ(test::snapshot(dir.path()), before);
    }
}

}  // namespace

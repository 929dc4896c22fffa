// SPDX-License-Identifier: GPL-2.0-or-later
#include "bench/DataGenerator.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/Cp1252.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "work/Records.h"

namespace fs = std::filesystem;

namespace zolt::bench {
namespace {

// splitmix64: small, fast, and the same sequence on every platform and
// standard library (the standard distributions are not).
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // 0 … n-1
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
    bool chance(double p) { return unit() < p; }

  private:
    std::uint64_t state_;
};

struct Beacon {
    std::string ident;      // Windows-1252
    std::string frequency;  // text as logged
    LatLon position;
};

std::string upper(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string randomLetters(Random& rng, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += static_cast<char>('A' + rng.below(26));
    return out;
}

std::string digits(int value, int width) {
    std::string text = std::to_string(value);
    while (static_cast<int>(text.size()) < width) text.insert(text.begin(), '0');
    return text;
}

// Degrees and five decimals; the draws are made one after the other so that
// the sequence does not depend on the compiler's order of evaluation.
std::string coordinate(Random& rng, int degrees, int width) {
    std::string text =
        digits(static_cast<int>(rng.below(static_cast<std::size_t>(degrees))), width);
    text += ".";
    text += digits(static_cast<int>(rng.below(100000)), 5);
    return text;
}

const char* const kWords[] = {"good",  "fair",  "weak", "strong", "QSB",    "QRM",    "under",
                              "DGPS",  "night", "dawn", "dusk",   "nulled", "café",   "über",
                              "long",  "id",    "tone", "cw",     "1020",   "usb",    "lsb",
                              "heard", "again", "new",  "one",    "Señor",  "beacon", "1st"};

std::string randomText(Random& rng, std::size_t maxLength) {
    std::string text;
    const std::size_t target = rng.below(maxLength + 1);
    while (text.size() < target) {
        if (!text.empty()) text += ' ';
        text += utf8ToCp1252(kWords[rng.below(std::size(kWords))]);
    }
    return text.substr(0, target);
}

// A comment of mixed length: a third empty, some short, some filling the field.
std::string randomComment(Random& rng) {
    switch (rng.below(6)) {
        case 0:
        case 1:
            return {};
        case 2:
            return randomText(rng, 60);
        case 3:
            return randomText(rng, 12);
        default:
            return randomText(rng, 30);
    }
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

std::string shiftField(std::string_view text, std::size_t width) {
    std::string out;
    for (char c : text.substr(0, width)) {
        out += static_cast<char>(static_cast<unsigned char>(c) + 2);
    }
    out.resize(width, ' ');
    return out;
}

GeneratedBackups writeBenchmarkBackups(const fs::path& database, const fs::path& backupFolder,
                                       const GeneratorOptions& options) {
    Random rng(options.seed);

    // The listed beacons, grouped by ident (letter case ignored, as the
    // database compares it) and frequency.
    std::map<std::pair<std::string, std::string>, std::vector<Beacon>> groups;
    {
        Database db(database, Database::Mode::ReadOnly);
        const DbResult rows =
            db.query("SELECT Ident, Frequency, Latitude, Longitude FROM NDBInformation");
        for (std::size_t r = 0; r < rows.rowCount(); ++r) {
            Beacon b{utf8ToCp1252(trimBlanks(rows.text(r, "Ident"))), rows.text(r, "Frequency"),
                     LatLon{leadingNumber(rows.text(r, "Latitude")),
                            leadingNumber(rows.text(r, "Longitude"))}};
            // Idents that need more than the log's seven characters, or
            // carry an apostrophe, cannot be logged the old way anyway.
            if (b.ident.empty() || b.ident.size() > 7 || b.frequency.size() > 6) continue;
            if (b.ident.find_first_of("'\";-") != std::string::npos) continue;
            groups[{upper(b.ident), b.frequency}].push_back(b);
        }
    }
    std::vector<Beacon> unique, ambiguous;
    std::set<std::string> listedIdents;
    for (const auto& [key, beacons] : groups) {
        listedIdents.insert(key.first);
        (beacons.size() > 1 ? ambiguous : unique).push_back(beacons.front());
    }
    if (unique.empty() || ambiguous.empty()) {
        throw std::runtime_error("the beacon database holds too few beacons to draw from");
    }
    std::vector<Beacon> near;
    if (options.listener) {
        for (const auto& b : unique) {
            if (greatCircleKm(*options.listener, b.position) <= options.nearKm) near.push_back(b);
        }
        if (near.empty()) throw std::runtime_error("no beacon lies near the listener");
    }

    // Beacons of no listed ident: those of the old beacon file, and others
    // that nothing knows.
    std::set<std::string> taken;
    auto newUnlisted = [&]() {
        for (;;) {
            std::string ident = randomLetters(rng, 2 + rng.below(4));
            if (listedIdents.count(ident)) continue;
            std::string frequency = std::to_string(190 + rng.below(1560));
            if (rng.chance(0.3)) frequency += "." + std::to_string(rng.below(10));
            if (!taken.insert(ident + "/" + frequency).second) continue;
            return Beacon{ident, frequency, {}};
        }
    };
    std::vector<Beacon> userBeacons, strangers;
    for (int i = 0; i < options.userBeacons; ++i) {
        // A few beacons were entered twice; the first record is the one used.
        if (i > 0 && i % 100 == 0) {
            const Beacon again = userBeacons[rng.below(userBeacons.size())];
            userBeacons.push_back(again);
        } else {
            userBeacons.push_back(newUnlisted());
        }
    }
    for (int i = 0; i < std::max(options.userBeacons, 100); ++i) strangers.push_back(newUnlisted());

    // ndb.dat: every text field stored shifted up by 2, padded with blanks.
    std::string ndb;
    static const char* const kCountries[] = {"USA", "CAN", "DEU", "", "FRA", "U K"};
    static const char* const kStates[] = {"ON", "TX", "", "BC", " "};
    for (const auto& b : userBeacons) {
        std::string record;
        record += shiftField(b.ident, 7);
        record += shiftField(kCountries[rng.below(std::size(kCountries))], 3);
        record += shiftField(kStates[rng.below(std::size(kStates))], 2);
        record += shiftField(randomText(rng, 30), 30);
        record += shiftField(b.frequency, 6);
        record += shiftField(rng.chance(0.5) ? "HW" : "MH", 7);
        record += shiftField(std::to_string(25 + rng.below(1000)), 5);
        record += shiftField(coordinate(rng, 90, 2) + "N", 9);
        record += shiftField(coordinate(rng, 180, 3) + "W", 10);
        record += shiftField(rng.chance(0.5) ? "2001 04" : "199912", 6);
        record += shiftField(randomText(rng, 20), 20);
        record += shiftField(std::to_string(400 + rng.below(600)), 5);
        record += shiftField(rng.chance(0.7) ? std::to_string(400 + rng.below(600)) : "", 5);
        record += shiftField(rng.chance(0.8) ? std::to_string(rng.below(10)) : "", 1);
        record += shiftField(randomText(rng, 90), 90);
        record += std::string(7, ' ');
        ndb += record;
    }

    // The logs of several locations share one ndb.dat: the same seed gives
    // the same beacons, a log seed of its own different receptions.
    if (options.logSeed != 0) rng = Random(options.logSeed);

    GeneratedBackups made;
    made.userBeaconRecords = static_cast<int>(userBeacons.size());
    std::string log;
    for (int i = 0; i < options.receptions; ++i) {
        const double draw = rng.unit();
        Beacon b;
        if (draw < options.ambiguousShare) {
            b = ambiguous[rng.below(ambiguous.size())];
            ++made.ambiguous;
        } else if (draw < options.ambiguousShare + options.unlistedShare / 2) {
            b = userBeacons[rng.below(userBeacons.size())];
            ++made.userBeacon;
        } else if (draw < options.ambiguousShare + options.unlistedShare) {
            b = strangers[rng.below(strangers.size())];
            ++made.unlisted;
        } else {
            // The extra draw happens only with a listener, so that data made
            // without one stays what it always was.
            const bool nearby = options.listener && rng.chance(options.nearShare);
            b = nearby ? near[rng.below(near.size())] : unique[rng.below(unique.size())];
            ++made.unique;
            // The list is matched without regard to letter case and reads the
            // frequency as a number: vary both where it changes nothing.
            if (rng.chance(0.05)) b.ident = lower(b.ident);
            if (rng.chance(0.05) && b.frequency.size() <= 4) b.frequency += ".0";
        }
        std::string callsign = b.ident;
        // Suffixes after ";" and dashes are cleaned away on import.
        if (callsign.size() <= 5 && rng.chance(0.03)) callsign += ";" + randomLetters(rng, 1);
        if (callsign.size() >= 2 && callsign.size() <= 6 && rng.chance(0.03)) {
            callsign.insert(1, "-");
        }
        std::string time = digits(static_cast<int>(rng.below(24)), 2);
        time += digits(static_cast<int>(rng.below(60)), 2);
        std::string date = digits(static_cast<int>(1990 + rng.below(20)), 4);
        date += digits(static_cast<int>(1 + rng.below(12)), 2);
        date += digits(static_cast<int>(1 + rng.below(28)), 2);
        LogBackupRecord rec;
        rec.Callsign = padField(callsign, 7);
        rec.Frequency = padField(b.frequency, 6);
        rec.Time = padField(time, 4);
        rec.Date = padField(date, 8);
        rec.Comment = padField(randomComment(rng), 60);
        log += rec.encode();
    }
    made.receptions = options.receptions;

    fs::create_directories(backupFolder);
    writeBytes(backupFolder / ("log" + std::to_string(options.location - 1) + ".bak"), log);
    writeBytes(backupFolder / "ndb.dat", ndb);
    return made;
}

}  // namespace zolt::bench

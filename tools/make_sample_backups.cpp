// SPDX-License-Identifier: GPL-2.0-or-later
// zolt-make-sample-backups SOURCE.txt OUTFOLDER
//
// Writes a folder of old-format backups (log<n>.bak, ndb.bak) from a readable
// text file, so that demo data and tests never have to be edited as bytes.
//
// Source format (UTF-8; every text must fit Windows-1252, which the old
// files hold):
//
//   # a comment line                      (lines whose first non-blank is #)
//   [location 1]                          (1 ... 16: written as log0.bak ... log15.bak)
//   callsign | frequency | time | date | comment
//   ...
//   [user beacons]                        (written as ndb.bak)
//   ident | country | state | city | frequency | powerclass | power | lat | lon |
//       asof | cycle | usb | lsb | daid | notes           (one line per beacon)
//
// Fields are separated by "|" and trimmed of blanks at both ends; the last
// field of a line (comment, notes) takes the rest of the line, "|" included,
// but its separator must be there even when it is empty. Blank lines are
// ignored; each section may appear once; an empty section writes an empty
// file.
//
// Receptions: callsign as the user typed it (1 to 7 characters, "-" and a
// ";suffix" allowed), frequency a decimal number (at most 6 characters, kept as
// typed: "389" and "389.0" are different texts to the old beacon file), time
// HHMM (00:00 to 23:59) or empty, date exactly 8 characters (any style, e.g.
// 03/14/99) or empty, comment at most 60 characters.
//
// User beacons: the widths of the old beacon record (ident 7, country 3,
// state 2, city 30, frequency 6, powerclass 7, power 5, lat 9, lon 10, asof 6,
// cycle 20, usb 5, lsb 5, daid 1, notes 90); ident and frequency as for
// receptions, daid one digit or empty.
//
// Every bad line is reported as "file:line: reason" on stderr; then the tool
// exits with status 1 and writes nothing. On success every file is first
// written beside its final name and then renamed into place, so OUTFOLDER
// never holds a half-written backup; nothing outside OUTFOLDER is written
// (OUTFOLDER itself is created when missing, its parent is not). Other files
// in OUTFOLDER are left alone; stale backups among them are named on stderr.

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "engine/UserBeacons.h"
#include "work/Records.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A bad line: the reason, without the "file:line: " the report adds.
struct LineError {
    std::string reason;
};

std::string trimField(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

// Splits at "|" into at most `count` fields; the last one takes the rest.
std::vector<std::string> splitFields(std::string_view line, std::size_t count) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (fields.size() + 1 < count) {
        const std::size_t bar = line.find('|', start);
        if (bar == std::string_view::npos) break;
        fields.push_back(trimField(line.substr(start, bar - start)));
        start = bar + 1;
    }
    fields.push_back(trimField(line.substr(start)));
    return fields;
}

// The field's Windows-1252 bytes; a character the old files cannot hold is
// refused rather than silently turned into "?".
std::string toOldText(std::string_view name, const std::string& utf8, std::size_t width,
                      unsigned char highest = 0xFF) {
    const std::string bytes = zolt::utf8ToCp1252(utf8);
    if (zolt::cp1252ToUtf8(bytes) != utf8) {
        throw LineError{std::string(name) + " \"" + utf8 +
                        "\" holds a character that Windows-1252 cannot hold"};
    }
    for (char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) {
            throw LineError{std::string(name) + " \"" + utf8 + "\" holds a control character"};
        }
        if (code > highest) {
            throw LineError{std::string(name) + " \"" + utf8 +
                            "\" holds a character the old beacon file cannot store"};
        }
    }
    if (bytes.size() > width) {
        throw LineError{std::string(name) + " \"" + utf8 + "\" is longer than " +
                        std::to_string(width) + " characters"};
    }
    return bytes;
}

void requireNonEmpty(std::string_view name, const std::string& value) {
    if (value.empty()) throw LineError{std::string(name) + " is empty"};
}

// Digits with at most one decimal point, at least one digit.
void requireDecimal(std::string_view name, const std::string& value) {
    int digits = 0;
    int points = 0;
    for (char c : value) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            ++digits;
        } else if (c == '.') {
            ++points;
        } else {
            digits = -1;
            break;
        }
    }
    if (digits <= 0 || points > 1) {
        throw LineError{std::string(name) + " \"" + value + "\" is not a decimal number"};
    }
}

void requireTime(const std::string& value) {
    if (value.empty()) return;
    bool digits = value.size() == 4;
    for (char c : value) digits = digits && std::isdigit(static_cast<unsigned char>(c));
    if (!digits || std::stoi(value.substr(0, 2)) > 23 || std::stoi(value.substr(2, 2)) > 59) {
        throw LineError{"time \"" + value + "\" is not HHMM (0000 to 2359)"};
    }
}

void requireDate(const std::string& bytes, const std::string& utf8) {
    if (!bytes.empty() && bytes.size() != 8) {
        throw LineError{"date \"" + utf8 + "\" is not 8 characters long"};
    }
}

void requireFieldCount(const std::vector<std::string>& fields, std::size_t count,
                       std::string_view layout) {
    if (fields.size() != count) {
        throw LineError{"expected " + std::to_string(count) + " fields separated by \"|\" (" +
                        std::string(layout) + "), found " + std::to_string(fields.size())};
    }
}

std::string receptionRecord(std::string_view line) {
    const auto f = splitFields(line, 5);
    requireFieldCount(f, 5, "callsign | frequency | time | date | comment");
    // Checked in field order, so the reason names the first bad field.
    zolt::LogBackupRecord record;
    requireNonEmpty("callsign", f[0]);
    record.Callsign = zolt::padField(toOldText("callsign", f[0], 7), 7);
    requireNonEmpty("frequency", f[1]);
    requireDecimal("frequency", f[1]);
    record.Frequency = zolt::padField(toOldText("frequency", f[1], 6), 6);
    requireTime(f[2]);
    record.Time = zolt::padField(toOldText("time", f[2], 4), 4);
    const std::string date = toOldText("date", f[3], 8);
    requireDate(date, f[3]);
    record.Date = zolt::padField(date, 8);
    record.Comment = zolt::padField(toOldText("comment", f[4], 60), 60);
    return record.encode();
}

// The old product stored its beacon texts shifted up by two; what it padded
// with were plain blanks, which the reader drops again. So the text is shifted
// (a blank inside it becomes 0x22 and survives decoding) and the padding is
// left as raw 0x20.
std::string shiftedField(const std::string& bytes, std::size_t width) {
    std::string out;
    out.reserve(width);
    for (char c : bytes) out += static_cast<char>(static_cast<unsigned char>(c) + 2);
    out.append(width - out.size(), ' ');
    return out;
}

std::string userBeaconRecord(std::string_view line) {
    struct Field {
        const char* name;
        std::size_t width;
    };
    // In record order; the record's offsets follow from the widths.
    static constexpr Field kFields[] = {
        {"ident", 7},      {"country", 3}, {"state", 2}, {"city", 30}, {"frequency", 6},
        {"powerclass", 7}, {"power", 5},   {"lat", 9},   {"lon", 10},  {"asof", 6},
        {"cycle", 20},     {"usb", 5},     {"lsb", 5},   {"daid", 1},  {"notes", 90},
    };
    constexpr std::size_t kCount = std::size(kFields);
    const auto f = splitFields(line, kCount);
    requireFieldCount(f, kCount,
                      "ident | country | state | city | frequency | powerclass | power | lat | "
                      "lon | asof | cycle | usb | lsb | daid | notes");
    std::string record;
    record.reserve(zolt::UserBeaconRecord::kLength);
    for (std::size_t i = 0; i < kCount; ++i) {
        const std::string& value = f[i];
        const std::string_view name = kFields[i].name;
        if (name == "ident" || name == "frequency") requireNonEmpty(name, value);
        if (name == "frequency") requireDecimal(name, value);
        if (name == "daid" && !value.empty() &&
            !(value.size() == 1 && std::isdigit(static_cast<unsigned char>(value[0])))) {
            throw LineError{"daid \"" + value + "\" is not one digit"};
        }
        // Bytes above 0xFD have no code two higher.
        record += shiftedField(toOldText(name, value, kFields[i].width, 0xFD), kFields[i].width);
    }
    // The tail of the record is never read.
    record.append(zolt::UserBeaconRecord::kLength - record.size(), ' ');
    return record;
}

struct Section {
    std::string fileName;  // log<n>.bak or ndb.bak
    bool userBeacons = false;
    std::string bytes;
    int records = 0;
};

// "[location 4]" -> log3.bak; "[user beacons]" -> ndb.bak.
std::optional<Section> parseSectionHeader(const std::string& text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string inner = trimField(std::string_view(lower).substr(1, lower.size() - 2));
    Section section;
    if (inner == "user beacons") {
        section.fileName = "ndb.bak";
        section.userBeacons = true;
        return section;
    }
    constexpr std::string_view kLocation = "location";
    if (inner.rfind(kLocation, 0) != 0) return std::nullopt;
    const std::string number = trimField(std::string_view(inner).substr(kLocation.size()));
    if (number.empty() || number.size() > 2) return std::nullopt;
    for (char c : number) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    const int location = std::stoi(number);
    if (location < 1 || location > 16 || number[0] == '0') return std::nullopt;
    section.fileName = "log" + std::to_string(location - 1) + ".bak";
    return section;
}

// Parses the whole source; every bad line is reported. Returns false when any
// line was bad.
bool parseSource(const std::string& sourceName, std::istream& in, std::vector<Section>& sections) {
    bool good = true;
    const auto report = [&](int lineNo, const std::string& reason) {
        std::cerr << sourceName << ':' << lineNo << ": " << reason << '\n';
        good = false;
    };
    std::map<std::string, int> seen;  // file name -> line of its header
    Section* current = nullptr;
    bool inBadSection = false;  // lines under a reported header are not reported again
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (lineNo == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        const std::string text = trimField(line);
        if (text.empty() || text[0] == '#') continue;

        if (text.front() == '[' && text.back() == ']') {
            auto header = parseSectionHeader(text);
            if (!header) {
                report(lineNo, "unknown section " + text +
                                   " (expected [location 1] ... [location 16] or [user beacons])");
                current = nullptr;
                inBadSection = true;
                continue;
            }
            if (const auto it = seen.find(header->fileName); it != seen.end()) {
                report(lineNo, "section " + text + " appears a second time (first at line " +
                                   std::to_string(it->second) + ")");
                current = nullptr;
                inBadSection = true;
                continue;
            }
            seen[header->fileName] = lineNo;
            sections.push_back(std::move(*header));
            current = &sections.back();
            inBadSection = false;
            continue;
        }
        if (!current) {
            if (!inBadSection) report(lineNo, "line before any [section]");
            continue;
        }
        try {
            current->bytes += current->userBeacons ? userBeaconRecord(text) : receptionRecord(text);
            ++current->records;
        } catch (const LineError& e) {
            report(lineNo, e.reason);
        }
    }
    if (good && sections.empty()) {
        std::cerr << sourceName << ": no [location N] or [user beacons] section\n";
        good = false;
    }
    return good;
}

bool isOldBackupName(const std::string& name) {
    std::string lower;
    for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "ndb.bak" || lower == "ndb.dat") return true;
    if (lower.rfind("log", 0) != 0 || lower.size() < 8) return false;
    const std::string ext = lower.substr(lower.size() - 4);
    const std::string number = lower.substr(3, lower.size() - 7);
    if (ext != ".bak" && ext != ".dat") return false;
    for (char c : number) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return !number.empty();
}

// Writes every section's file into `folder`, all or nothing as far as the
// file system allows: all new files are written and flushed first, then
// renamed into place.
void writeSections(const fs::path& folder, const std::vector<Section>& sections) {
    std::error_code ec;
    bool created = false;
    if (!fs::exists(folder, ec)) {
        created = fs::create_directory(folder, ec);
        if (ec) {
            throw zolt::EngineError("The folder " + folder.string() +
                                    " could not be created: " + ec.message() + ".");
        }
    } else if (!fs::is_directory(folder, ec)) {
        throw zolt::EngineError("The output " + folder.string() + " is not a folder.");
    }
    try {
        for (const auto& section : sections) {
            const fs::path target = folder / section.fileName;
            if (fs::exists(fs::symlink_status(target, ec)) &&
                !fs::is_regular_file(fs::symlink_status(target, ec))) {
                throw zolt::EngineError("The output " + target.string() +
                                        " exists and is not a plain file; nothing was written.");
            }
        }
        std::vector<std::unique_ptr<zolt::PendingFileReplace>> pending;
        for (const auto& section : sections) {
            pending.push_back(std::make_unique<zolt::PendingFileReplace>(folder / section.fileName,
                                                                         section.bytes));
        }
        for (auto& file : pending) file->commit();
    } catch (...) {
        if (created) fs::remove(folder, ec);
        throw;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: zolt-make-sample-backups SOURCE.txt OUTFOLDER\n"
                     "Writes log<n>.bak and ndb.bak into OUTFOLDER from the text file SOURCE.txt\n"
                     "(its format is described at the top of tools/make_sample_backups.cpp).\n";
        return kExitUsage;
    }
    const std::string sourceName = argv[1];
    const fs::path outFolder = argv[2];

    std::ifstream in(sourceName, std::ios::binary);
    if (!in) {
        std::cerr << sourceName << ": cannot be read\n";
        return kExitFailed;
    }
    std::vector<Section> sections;
    if (!parseSource(sourceName, in, sections)) return kExitFailed;
    if (in.bad()) {
        std::cerr << sourceName << ": reading failed\n";
        return kExitFailed;
    }

    try {
        writeSections(outFolder, sections);
    } catch (const zolt::EngineError& e) {
        std::cerr << e.what() << '\n';
        return kExitFailed;
    }

    std::set<std::string> written;
    for (const auto& section : sections) {
        written.insert(section.fileName);
        std::cout << (outFolder / section.fileName).string() << ": " << section.records
                  << (section.userBeacons ? " beacons\n" : " receptions\n");
    }
    // A backup of an earlier run for a section no longer in the source would
    // still be imported; name it rather than delete it.
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(outFolder, ec)) {
        const std::string name = entry.path().filename().string();
        if (isOldBackupName(name) && !written.count(name)) {
            std::cerr << "warning: " << entry.path().string()
                      << " was not written by this run and is left as it is\n";
        }
    }
    return kExitOk;
}

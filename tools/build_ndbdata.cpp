// SPDX-License-Identifier: GPL-2.0-or-later
// Builds the pristine beacon database from the shipped lists:
//
//   zolt-build-ndbdata beacons.csv countries.csv out.ndf
//
// The database is written to a temporary file beside out.ndf and renamed into
// place only when complete, so a failed build never leaves a half-filled
// database where the program would pick it up.

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "db/Database.h"
#include "db/Schema.h"

namespace fs = std::filesystem;

namespace {

// A fault in one of the input files, with the line it was found on.
struct InputError {
    std::string message;
};

struct CsvRow {
    std::size_t line = 0;  // line on which the row begins
    std::vector<std::string> fields;
};

std::string where(const fs::path& file, std::size_t line) {
    return file.string() + ", line " + std::to_string(line) + ": ";
}

bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80                   ? 1
                             : (c >= 0xC2 && c <= 0xDF) ? 2
                             : (c >= 0xE0 && c <= 0xEF) ? 3
                             : (c >= 0xF0 && c <= 0xF4) ? 4
                                                        : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

// Comma-separated values with a header row. A field in double quotes may
// hold commas, line breaks and doubled quotes; lines may end in LF or CR LF.
std::vector<CsvRow> parseCsv(const fs::path& file, std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<CsvRow> rows;
    std::size_t line = 1;
    std::size_t i = 0;
    while (i < text.size()) {
        CsvRow row;
        row.line = line;
        for (;;) {
            std::string field;
            if (i < text.size() && text[i] == '"') {
                const std::size_t openedOn = line;
                ++i;
                for (;;) {
                    if (i >= text.size()) {
                        throw InputError{where(file, openedOn) + "a quoted field is never closed."};
                    }
                    const char c = text[i++];
                    if (c == '"') {
                        if (i < text.size() && text[i] == '"') {
                            field += '"';
                            ++i;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n') ++line;
                    field += c;
                }
                if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                    throw InputError{where(file, line) +
                                     "text follows the closing quote of a field."};
                }
            } else {
                while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                    if (text[i] == '"') {
                        throw InputError{where(file, line) +
                                         "a quote stands inside a field that is not quoted."};
                    }
                    field += text[i++];
                }
            }
            row.fields.push_back(std::move(field));
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            break;
        }
        if (i < text.size() && text[i] == '\r') ++i;
        if (i < text.size()) {
            if (text[i] != '\n') {
                throw InputError{where(file, line) + "a line ends in a lone carriage return."};
            }
            ++i;
            ++line;
        }
        // A blank line carries no row.
        if (row.fields.size() == 1 && row.fields[0].empty()) continue;
        rows.push_back(std::move(row));
    }
    return rows;
}

// The rows of a file whose header names `columns` (in any order, other
// columns ignored); each result row holds those columns in the order asked.
std::vector<CsvRow> readTable(const fs::path& file, const std::vector<std::string>& columns) {
    std::string text;
    try {
        text = zolt::readWholeFile(file);
    } catch (const zolt::EngineError& error) {
        throw InputError{error.what()};
    }
    if (!validUtf8(text)) throw InputError{file.string() + ": the file is not UTF-8 text."};
    std::vector<CsvRow> rows = parseCsv(file, text);
    if (rows.empty()) throw InputError{where(file, 1) + "the header row is missing."};
    const CsvRow header = rows.front();
    std::vector<std::size_t> positions;
    for (const auto& column : columns) {
        std::size_t found = header.fields.size();
        for (std::size_t k = 0; k < header.fields.size(); ++k) {
            if (header.fields[k] == column) {
                if (found != header.fields.size()) {
                    throw InputError{where(file, header.line) + "the column " + column +
                                     " appears twice in the header."};
                }
                found = k;
            }
        }
        if (found == header.fields.size()) {
            throw InputError{where(file, header.line) + "the header has no column " + column + "."};
        }
        positions.push_back(found);
    }
    std::vector<CsvRow> out;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const CsvRow& row = rows[r];
        if (row.fields.size() != header.fields.size()) {
            throw InputError{where(file, row.line) + "the row has " +
                             std::to_string(row.fields.size()) + " fields, the header " +
                             std::to_string(header.fields.size()) + "."};
        }
        CsvRow picked;
        picked.line = row.line;
        for (std::size_t p : positions) picked.fields.push_back(row.fields[p]);
        out.push_back(std::move(picked));
    }
    return out;
}

double number(const fs::path& file, const CsvRow& row, std::size_t index, std::string_view name,
              double low, double high) {
    const std::string& text = row.fields[index];
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
        throw InputError{where(file, row.line) + "the " + std::string(name) + " \"" + text +
                         "\" is not a number."};
    }
    if (value < low || value > high) {
        throw InputError{where(file, row.line) + "the " + std::string(name) + " " + text +
                         " lies outside " + std::to_string(static_cast<int>(low)) + " to " +
                         std::to_string(static_cast<int>(high)) + "."};
    }
    return value;
}

void requireText(const fs::path& file, const CsvRow& row, std::size_t index,
                 std::string_view name) {
    if (row.fields[index].empty()) {
        throw InputError{where(file, row.line) + "the " + std::string(name) + " is empty."};
    }
}

void build(const fs::path& beaconsFile, const fs::path& countriesFile, const fs::path& temp) {
    // Column order of the rows below: as listed here.
    const auto beacons =
        readTable(beaconsFile, {"Ident", "Frequency", "City", "Country", "Latitude", "Longitude"});
    const auto countries = readTable(countriesFile, {"CountryShort", "CountryLong"});

    zolt::Database db(temp, zolt::Database::Mode::Create);
    zolt::createSchema(db);
    zolt::Transaction transaction(db);

    auto insertBeacon = db.prepare(
        "INSERT INTO NDBInformation (Beacon_ID, Ident, Frequency, City, State, Country, "
        "Latitude, Longitude) VALUES (?, ?, ?, ?, 'XX', ?, ?, ?)");
    std::int64_t id = 0;
    for (const auto& row : beacons) {
        requireText(beaconsFile, row, 0, "Ident");
        requireText(beaconsFile, row, 3, "Country");
        const double frequency = number(beaconsFile, row, 1, "Frequency", 0.0, 100000.0);
        const double latitude = number(beaconsFile, row, 4, "Latitude", -90.0, 90.0);
        const double longitude = number(beaconsFile, row, 5, "Longitude", -180.0, 180.0);
        insertBeacon
            .bind(
                {++id, row.fields[0], frequency, row.fields[2], row.fields[3], latitude, longitude})
            .execute();
    }

    auto insertCountry =
        db.prepare("INSERT INTO CountryCode (CountryShort, CountryLong) VALUES (?, ?)");
    std::map<std::string, std::size_t> seen;
    for (const auto& row : countries) {
        requireText(countriesFile, row, 0, "CountryShort");
        if (const auto [it, added] = seen.emplace(row.fields[0], row.line); !added) {
            throw InputError{where(countriesFile, row.line) + "the country code " + row.fields[0] +
                             " was already given on line " + std::to_string(it->second) + "."};
        }
        insertCountry.bind({row.fields[0], row.fields[1]}).execute();
    }
    transaction.commit();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: zolt-build-ndbdata beacons.csv countries.csv out.ndf\n";
        return 2;
    }
    const fs::path beaconsFile = argv[1];
    const fs::path countriesFile = argv[2];
    const fs::path output = argv[3];
    fs::path temp = output;
    temp += ".build" + std::to_string(::getpid());

    auto removeTemp = [&] {
        std::error_code ignored;
        fs::remove(temp, ignored);
        fs::path journal = temp;
        journal += "-journal";
        fs::remove(journal, ignored);
    };
    try {
        removeTemp();
        build(beaconsFile, countriesFile, temp);
        std::error_code ec;
        fs::rename(temp, output, ec);
        if (ec) {
            throw zolt::EngineError("Could not put the database in place as " +
                                    zolt::describePath(output) + ": " + ec.message() + ".");
        }
    } catch (const InputError& error) {
        removeTemp();
        std::cerr << "zolt-build-ndbdata: " << error.message << "\n";
        return 1;
    } catch (const std::exception& error) {
        removeTemp();
        std::cerr << "zolt-build-ndbdata: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

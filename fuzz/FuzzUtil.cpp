// SPDX-License-Identifier: GPL-2.0-or-later
#include "fuzz/FuzzUtil.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "db/Database.h"
#include "db/Schema.h"
#include "work/BackupImport.h"

namespace fs = std::filesystem;

namespace zolt::fuzz {
namespace {

// The process's scratch folder, removed when the process ends normally.
struct ScratchRoot {
    fs::path path;
    ScratchRoot() {
        std::error_code ec;
        const fs::path base =
            fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
        path = base / ("zolt-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~ScratchRoot() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

const fs::path& scratchRoot() {
    static const ScratchRoot root;
    return root.path;
}

// Made once per process and written anew for each input. Kept as bytes: a
// file copy by sendfile() fails when the fuzzer's timer signal interrupts it.
const std::string& templateDatabase() {
    static const std::string bytes = [] {
        const fs::path file = scratchRoot() / "template.ndf";
        fs::remove(file);
        {
            Database db(file, Database::Mode::Create);
            createSchema(db);
            Statement insert = db.prepare(
                "INSERT INTO NDBInformation (Ident, Frequency, City, State, Country, Latitude, "
                "Longitude) VALUES (?, ?, 'City', '', 'Country', ?, ?)");
            for (const SmallBeacon& beacon : smallBeacons()) {
                insert.bindText(1, beacon.ident)
                    .bindDouble(2, beacon.frequency)
                    .bindDouble(3, beacon.latitude)
                    .bindDouble(4, beacon.longitude)
                    .execute();
            }
        }
        return readFile(file);
    }();
    return bytes;
}

}  // namespace

std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

std::vector<std::string_view> splitParts(std::string_view input, std::size_t most) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < most) {
        const std::size_t mark = input.find(kPartMark);
        if (mark == std::string_view::npos) break;
        parts.push_back(input.substr(0, mark));
        input.remove_prefix(mark + kPartMark.size());
    }
    parts.push_back(input);
    return parts;
}

fs::path freshFolder(std::string_view name) {
    const fs::path folder = scratchRoot() / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> writeOldLogs(const fs::path& folder,
                                   const std::vector<std::string_view>& parts) {
    std::vector<fs::path> written;
    for (std::string_view part : parts) {
        if (part.empty()) continue;
        const auto pick = static_cast<unsigned char>(part[0]);
        part.remove_prefix(1);
        const std::string number = std::to_string(pick % kLocationCount);
        written.push_back(folder /
                          ((pick & 0x80) ? "LOG" + number + ".BAK" : "log" + number + ".bak"));
        writeFile(written.back(), part);
    }
    return written;
}

void addLoggedRows(const fs::path& database, std::string_view rows) {
    Database db(database);
    Transaction transaction(db);
    Statement insert = db.prepare(
        "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
        "ReceptionComments) VALUES (?, ?, ?, ?, ?)");
    for (std::int64_t row = 0; !rows.empty(); ++row) {
        const std::size_t end = std::min(rows.find('\n'), rows.size());
        std::string_view line = rows.substr(0, end);
        rows.remove_prefix(std::min(end + 1, rows.size()));
        std::string_view fields[4];
        for (std::size_t f = 0; f < 4; ++f) {
            const std::size_t bar = f < 3 ? line.find('|') : std::string_view::npos;
            fields[f] = line.substr(0, bar);
            line.remove_prefix(bar == std::string_view::npos ? line.size() : bar + 1);
        }
        std::int64_t location = 0;
        for (const char c : fields[0].substr(0, 4)) {
            if (c >= '0' && c <= '9') location = location * 10 + (c - '0');
        }
        insert.bindInt64(1, 1 + row % static_cast<std::int64_t>(smallBeacons().size()))
            .bindInt64(2, location)
            .bindText(3, fields[1])
            .bindText(4, fields[2])
            .bindText(5, fields[3])
            .execute();
    }
    transaction.commit();
}

ProjectPaths freshProject(std::string_view name) {
    const fs::path root = freshFolder(name);
    const ProjectPaths paths{root / "work", root / "work" / "ndbdata.ndf",
                             root / "work" / "processed.dat", root / "backup"};
    fs::create_directories(paths.WorkFolder);
    fs::create_directories(paths.BackupFolder);
    writeFile(paths.DatabasePath, templateDatabase());
    return paths;
}

const std::vector<SmallBeacon>& smallBeacons() {
    // Two pairs share ident and frequency (ambiguous), one ident has two
    // frequencies, one has lower-case letters in the list.
    static const std::vector<SmallBeacon> beacons{
        {"APH", 396, 38.08778, -77.32492},
        {"GL", 398, 57.08382, 9.68009},
        {"BNR", 334, 52.3, -1.9},
        {"BNR", 334, 40.1, -80.2},
        {"CI", 400, 48.5, 2.1},
        {"CI", 400, 35.2, 139.7},
        {"HK", 332, 60.2, 24.9},
        {"HK", 344, 22.3, 114.2},
        {"ZZR", 280.5, 45.0, 7.5},
        {"Qb", 255, -33.9, 151.2},
    };
    return beacons;
}

}  // namespace zolt::fuzz

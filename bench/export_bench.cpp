// SPDX-License-Identifier: GPL-2.0-or-later
// Times the export of one full location: 32,767 logged receptions of beacons
// drawn from the shipped list (every tenth one of the listener's own), with
// the working file still present so that the idents as typed are looked up
// too. Each format is timed whole, as the window and the command line run it:
// reading the database and the working file, building the file, writing it
// beside the target, flushing it and renaming it into place. The median of
// the runs is printed with its target, and a last line says whether each
// target was met.
//
//   zolt-export-bench [--runs N] [--database FILE]

#include <stdlib.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/LogExportFile.h"
#include "db/Database.h"
#include "engine/HomePosition.h"
#include "engine/Project.h"
#include "work/Records.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kReceptions = 32767;
constexpr double kTargetSeconds = 0.2;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// A project of one location whose every reception is logged.
zolt::ProjectPaths makeProject(const fs::path& folder, const fs::path& pristine) {
    const zolt::ProjectPaths paths{folder, folder / "ndbdata.ndf", folder / "processed.dat",
                                   folder / "backup"};
    fs::create_directories(paths.BackupFolder);
    fs::copy_file(pristine, paths.DatabasePath);
    zolt::writeSettings(paths, paths.BackupFolder);
    zolt::writeHomeEntry(paths, 1, "JO65");

    zolt::Database db(paths.DatabasePath);
    struct Beacon {
        std::int64_t id;
        std::string ident, frequency;
    };
    std::vector<Beacon> beacons;
    for (const auto& row :
         db.query("SELECT Beacon_ID, Ident, Frequency FROM NDBInformation").rows) {
        beacons.push_back(
            {std::get<std::int64_t>(row[0]), zolt::dbValueText(row[1]), zolt::dbValueText(row[2])});
    }
    std::mt19937 random(2013);
    zolt::Transaction transaction(db);
    zolt::Statement own = db.prepare(
        "INSERT INTO NewBeacons (Ident, Country, City, frequency, Latitude, Longitude) "
        "VALUES (?, 'CAN', 'Own', ?, '47.06', '-79.79')");
    for (int i = 0; i < 200; ++i) {
        own.bind({"U" + std::to_string(i), std::int64_t{200 + i}}).execute();
        beacons.push_back({20001 + i, "U" + std::to_string(i), std::to_string(200 + i)});
    }
    zolt::Statement add = db.prepare(
        "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate, "
        "ReceptionComments) VALUES (?, 1, ?, ?, ?)");
    std::vector<zolt::ProcessedRecord> records;
    for (int i = 0; i < kReceptions; ++i) {
        const Beacon& b = i % 10 == 9 ? beacons[beacons.size() - 1 - random() % 200]
                                      : beacons[random() % (beacons.size() - 200)];
        const std::string time =
            two(static_cast<int>(random() % 24)) + two(static_cast<int>(random() % 60));
        const std::string date = two(1 + static_cast<int>(random() % 12)) + "/" +
                                 two(1 + static_cast<int>(random() % 28)) + "/" +
                                 two(static_cast<int>(random() % 100));
        const std::string comment =
            i % 3 ? "Loud, \"clear\" & steady #" + std::to_string(i) : std::string();
        add.bind({b.id, time, date, comment}).execute();
        zolt::ProcessedRecord r;
        r.Location = 1;
        r.RecordNo = static_cast<std::int16_t>(i + 1);
        r.Ident = b.ident;
        r.Frequency = b.frequency;
        r.Time = time;
        r.Date = date;
        r.Comment = comment;
        r.State = "OK ";
        records.push_back(std::move(r));
    }
    transaction.commit();
    zolt::writeProcessedFile(paths.ProcessedPath, records);
    return paths;
}

}  // namespace

int main(int argc, char* argv[]) {
    int runs = 5;
    fs::path pristine = ZOLT_NDBDATA;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--database") == 0) pristine = argv[i + 1];
    }
    QCoreApplication app(argc, argv);
    char pattern[] = "/tmp/zolt-export-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("zolt-export-bench: mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    bool allMet = true;
    try {
        const zolt::ProjectPaths paths = makeProject(folder / "work", pristine);
        const zolt::ExportSource source = zolt::exportSourceFor(paths, 1, folder / "no-registry");
        std::printf("Export of one location of %d logged receptions, median of %d runs\n",
                    kReceptions, runs);
        for (const char* name : {"log.csv", "log.adi", "log.kml"}) {
            std::vector<double> seconds, reading;
            std::string summary;
            for (int run = 0; run < runs; ++run) {
                const auto start = Clock::now();
                const zolt::ExportedLog log = zolt::readExportedLog(source);
                zolt::ExportOptions options;
                options.dates = zolt::resolveDateOrders(log, {}).orders;
                reading.push_back(std::chrono::duration<double>(Clock::now() - start).count());
                summary = zolt::writeExportFile(log, folder / name, options).summary;
                seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
            }
            const double m = median(seconds);
            const bool met = m <= kTargetSeconds;
            allMet = allMet && met;
            std::printf("  %-8s %.3f s (target %.1f s) %s; reading %.3f s; %.1f MB: %s\n", name, m,
                        kTargetSeconds, met ? "met" : "NOT met", median(reading),
                        static_cast<double>(fs::file_size(folder / name)) / 1e6, summary.c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zolt-export-bench: %s\n", error.what());
        fs::remove_all(folder);
        return 1;
    }
    fs::remove_all(folder);
    std::printf("Export targets: %s\n", allMet ? "met" : "NOT met");
    return allMet ? 0 : 1;
}

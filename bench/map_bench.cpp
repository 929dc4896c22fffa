// SPDX-License-Identifier: GPL-2.0-or-later
// Times the location map: 7,000 beacons of the shipped list around a home in
// Denmark plus the world outline, drawn offscreen into a picture of the
// window's size. Each run moves the view by a pixel first, so the figure
// covers what a drag or a zoom costs: turning the cached projection into
// pixels and drawing everything.
//
//   zolt-map-bench [--runs N] [--database FILE] [--outline FILE] [--save PNG]

#include <stdlib.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/MapRenderer.h"
#include "db/Database.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBeacons = 7000;
constexpr double kTargetMs = 50;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string withCommas(int n) {
    std::string s = std::to_string(n);
    for (int at = static_cast<int>(s.size()) - 3; at > 0; at -= 3) s.insert(at, 1, ',');
    return s;
}

// The first kBeacons positioned beacons of the list, heard 1 to 30 times.
std::vector<zolt::LoggedBeacon> readBeacons(const char* database) {
    zolt::Database db(database, zolt::Database::Mode::ReadOnly);
    const auto result =
        db.prepare(
              "SELECT Beacon_ID, Ident, Frequency, City, Country, Latitude, Longitude FROM "
              "NDBInformation WHERE Latitude IS NOT NULL ORDER BY Beacon_ID LIMIT ?")
            .bind({zolt::DbValue(std::int64_t{kBeacons})})
            .query();
    std::vector<zolt::LoggedBeacon> beacons;
    for (const auto& row : result.rows) {
        zolt::LoggedBeacon b;
        b.beaconId = std::get<std::int64_t>(row[0]);
        b.ident = zolt::dbValueText(row[1]);
        b.frequency = zolt::dbValueText(row[2]);
        b.city = zolt::dbValueText(row[3]);
        b.country = zolt::dbValueText(row[4]);
        b.position = {std::get<double>(row[5]), std::get<double>(row[6])};
        b.receptions = 1 + static_cast<int>((b.beaconId * 7919) % 30);
        beacons.push_back(std::move(b));
    }
    return beacons;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 15;
    const char* database = ZOLT_NDBDATA;
    const char* outline = ZOLT_LAND_OUTLINE;
    const char* save = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--database") && i + 1 < argc) {
            database = argv[++i];
        } else if (!std::strcmp(argv[i], "--outline") && i + 1 < argc) {
            outline = argv[++i];
        } else if (!std::strcmp(argv[i], "--save") && i + 1 < argc) {
            save = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: zolt-map-bench [--runs N] [--database FILE] [--outline FILE] "
                         "[--save PNG]\n");
            return 2;
        }
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);

    try {
        std::vector<zolt::LoggedBeacon> beacons = readBeacons(database);
        const int count = static_cast<int>(beacons.size());
        zolt::LocationHome home;
        home.source = zolt::LocationHome::Source::Entered;
        home.position = zolt::LatLon{55.6, 12.6};

        const auto projectStart = Clock::now();
        zolt::MapRenderer renderer;
        renderer.setSize({1000, 760});
        renderer.setLand(zolt::loadLandOutline(outline));
        renderer.setScene(zolt::makeLocationMapScene(1, home, std::move(beacons)));
        // The whole Earth: every dot and every coastline is in the picture.
        renderer.setViewRadius(20500);
        const double projectMs = msSince(projectStart);

        QImage image(renderer.size(), QImage::Format_ARGB32_Premultiplied);
        std::vector<double> times;
        for (int run = 0; run < runs + 1; ++run) {
            renderer.panByPixels({run % 2 ? 1.0 : -1.0, 0});
            const auto start = Clock::now();
            QPainter painter(&image);
            renderer.render(painter);
            painter.end();
            if (run > 0) times.push_back(msSince(start));  // the first one warms up
        }
        const double ms = median(times);
        std::printf("projection of the scene and outline (once per home): %.1f ms\n", projectMs);
        std::printf("map draw (%s beacons + outlines): %.1f ms (target %.0f ms) %s\n",
                    withCommas(count).c_str(), ms, kTargetMs, ms <= kTargetMs ? "met" : "NOT met");
        std::printf("median of %d runs at %dx%d pixels\n", runs, image.width(), image.height());
        if (save && !image.save(QString::fromLocal8Bit(save))) {
            std::fprintf(stderr, "zolt-map-bench: could not write %s\n", save);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolt-map-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}

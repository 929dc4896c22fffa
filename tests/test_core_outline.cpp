// SPDX-License-Identifier: GPL-2.0-or-later
// The shipped world land outline and the loader's refusal of damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "TestUtil.h"
#include "core/EngineError.h"
#include "core/LandOutline.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

// Even-odd rule over all rings at once: holes are rings of their own.
bool onLand(const std::vector<LandRing>& rings, double lat, double lon) {
    bool inside = false;
    for (const LandRing& ring : rings) {
        for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
            const LatLon& a = ring[i];
            const LatLon& b = ring[j];
            if ((a.lat > lat) != (b.lat > lat) &&
                lon < a.lon + (lat - a.lat) * (b.lon - a.lon) / (b.lat - a.lat)) {
                inside = !inside;
            }
        }
    }
    return inside;
}

}  // namespace

TEST(LandOutline, ShippedFileCoversTheWorld) {
    const auto rings = loadLandOutline(fs::path(ZOLT_SOURCE_DIR) / "data" / "land-110m.txt");
    ASSERT_TRUE(rings.size() > 100 && rings.size() < 300) << rings.size();
    std::size_t points = 0;
    LatLon low{90, 180}, high{-90, -180};
    for (const LandRing& ring : rings) {
        EXPECT_GE(ring.size(), 3u);
        points += ring.size();
        for (const LatLon& p : ring) {
            low = {std::min(low.lat, p.lat), std::min(low.lon, p.lon)};
            high = {std::max(high.lat, p.lat), std::max(high.lon, p.lon)};
        }
    }
    EXPECT_TRUE(points > 3000 && points < 10000) << points;
    EXPECT_EQ(std::pair(low.lon, high.lon), std::pair(-180.0, 180.0));
    EXPECT_TRUE(low.lat < -80 && high.lat > 80);

    // Places beside the antimeridian, at the pole and in the Caspian hole
    // break first if the rings are stitched or cut wrongly.
    const struct {
        const char* name;
        double lat, lon;
        bool land;
    } places[] = {
        {"Paris", 48.86, 2.35, true},
        {"Viti Levu", -17.8, 178.0, true},
        {"Chukotka west of 180", 65.0, 175.0, true},
        {"Chukotka east of 180", 66.0, -172.0, true},
        {"South Pole", -89.5, 0.0, true},
        {"Mid-Pacific", 0.0, -150.0, false},
        {"Caspian Sea", 42.0, 50.5, false},
    };
    for (const auto& place : places) {
        EXPECT_EQ(onLand(rings, place.lat, place.lon), place.land) << place.name;
    }
}

TEST(LandOutline, DamagedFilesAreRefusedWithTheFileNamed) {
    const test::TempDir dir;
    const struct {
        const char* name;
        std::optional<std::string> content;  // none: the file is missing
        const char* reason;
    } cases[] = {
        {"missing.txt", std::nullopt, "does not exist"},
        {"garbage.txt", "# outline\n0 0 100 0 100 100\nhello world\n", "line 3 is not"},
        {"decimal.txt", "0 0 100 0 100 10.5\n", "line 1 is not"},
        {"huge.txt", "0 0 100 0 100 99999999999\n", "line 1 is not"},
        {"odd.txt", "0 0 100 0 100 100 5\n", "line 1 holds an odd number"},
        {"short.txt", "0 0 100 0\n", "fewer than three points"},
        {"lat.txt", "0 0 100 0 100 9001\n", "100 9001"},
        {"lon.txt", "\n-18001 0 100 0 100 100\n", "line 2 has the point -18001 0"},
        {"empty.txt", "# nothing but a comment\n", "no coastline rings"},
    };
    for (const auto& c : cases) {
        const fs::path file = dir / c.name;
        if (c.content) test::writeFile(file, *c.content);
        try {
            loadLandOutline(file);
            ADD_FAILURE() << c.name << " was accepted";
        } catch (const EngineError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(file.string()), std::string::npos) << text;
            EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        }
    }
}

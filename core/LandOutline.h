// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <vector>

#include "core/Geo.h"

namespace zolt {

// One closed coastline ring; the first point is not repeated at the end.
// Rings are cut at the antimeridian and holes are rings of their own, so a
// flat lon/lat map fills them with the even-odd rule.
using LandRing = std::vector<LatLon>;

// Reads the world land outline shipped as data/land-110m.txt: '#' comment
// lines, then one ring per line as "lon lat" integer pairs in hundredths of a
// degree. Throws EngineError naming the file and, for bad content, the line.
std::vector<LandRing> loadLandOutline(const std::filesystem::path& file);

}  // namespace zolt

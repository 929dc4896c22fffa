// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/HomePosition.h"

namespace zolt {

std::string describeHome(const LocationHome&) { return "Home: unknown"; }

std::vector<LoggedBeacon> loggedBeacons(const ProjectPaths&, int) { return {}; }

std::string readHomeEntry(const ProjectPaths&, int) { return {}; }

void writeHomeEntry(const ProjectPaths&, int, std::string_view) {}

LocationHome locationHome(const ProjectPaths&, int) { return {}; }

}  // namespace zolt

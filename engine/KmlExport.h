// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>

#include "engine/LogExport.h"

// The log as a map file: KML 2.2, UTF-8, one folder per location with its
// typed home and one placemark per beacon.
namespace zolt {

std::string writeKml(const ExportedLog& log, const DateOrders& orders);

// A text as the content of an XML element: < > & and " as entities, the
// controls XML 1.0 cannot hold (C0 but tab, CR and LF; U+FFFE, U+FFFF)
// left out, and what is no valid UTF-8 as U+FFFD, one for each byte that
// starts no well-formed character.
std::string xmlEscaped(std::string_view utf8);

}  // namespace zolt

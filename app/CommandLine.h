// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>

namespace zolt {

// The converter's command line. Without options of its own the program opens
// its window and this returns nullopt. `--export FILE [--location N]
// [--date-order [N=]mdy|dmy]... [--csv-raw] [--csv-excel] [--station-callsign
// CALL]` writes the converted log without a window (no
// display is needed) and `--help` lists the options; both return the exit
// code: 0 done, 1 the export failed, 2 the command line is wrong. Messages go
// to standard error, the export's summary to standard output.
std::optional<int> runCommandLine(int argc, char* argv[]);

// Whether the command line chooses the toolkit's platform itself
// (-platform offscreen, --platform=vnc …): then no display need be set.
bool choosesPlatform(int argc, char* argv[]);

}  // namespace zolt

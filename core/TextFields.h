// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace zolt {

// Removes leading and trailing blanks (0x20) only; NULs and tabs stay.
std::string trimBlanks(std::string_view text);
// The same without a copy: the part of `text` that trimBlanks would return.
std::string_view trimmedView(std::string_view text);
// Without leading and trailing blanks and tabs, as typed texts and the lines
// of settings and registry files are read.
std::string_view trimmedSpaceTab(std::string_view text);

// Letter case of A-Z only, whatever the C locale says: a Turkish one would
// turn 'i' into a letter no file of ours holds, and a byte of a UTF-8 or
// Windows-1252 letter must come through unchanged.
constexpr char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
constexpr char upperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
std::string lowerAscii(std::string_view text);
bool equalsAsciiNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
// Space-pads to `width` bytes, or cuts to it.
std::string padField(std::string_view text, std::size_t width);

// The number at the start of a text: blanks are skipped wherever they stand,
// one sign and one decimal point are accepted, reading stops at the first
// character that cannot continue the number; 0 when no digit comes first.
// "350.0" -> 350, " 263.5" -> 263.5, "3 44" -> 344, "abc" -> 0.
double leadingNumber(std::string_view text);

// Shortest plain decimal form with a point: 350, 263.5, 0; no exponent.
std::string shortestDecimal(double value);
// Fixed notation with `places` decimals and a point, whatever the locale;
// empty for a value that takes more than 63 characters.
std::string fixedDecimal(double value, int places);

// Thousands grouped with `separator`: groupedDigits(-36056, ",") is "-36,056".
std::string groupedDigits(long long n, std::string_view separator);

// Numbers in what the listener reads on screen, written as the window writes
// its own: the window installs its locale's format once at start-up, before
// any other thread runs ("36,056", "36.056", or "36056" where the locale
// groups no digits). Until then, and where no window runs, thousands are
// grouped with commas. Never for what goes into a file or the database,
// which must not change with the reader's locale.
using NumberFormat = std::string (*)(long long);
void setShownNumberFormat(NumberFormat format);  // nullptr: commas again
std::string shownNumber(long long n);
// `n` and the word that goes with it: "1 beacon", "6,900 beacons".
std::string shownCount(long long n, std::string_view one, std::string_view many);

// The C0 controls other than tab, CR and LF as blanks: they have no place in
// a text file that other programs read (a NUL ends many a reader's line).
std::string withoutControls(std::string_view text);

}  // namespace zolt

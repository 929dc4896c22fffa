// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <optional>

class QTreeWidget;

namespace zolt {

// Where a row without a value (no distance, a date that does not read)
// sorts against one with a value: after it, whichever way `list` is sorted,
// so that "none" is never the nearest nor the farthest. Empty when both or
// neither have one, for the caller to compare.
std::optional<bool> blankLast(bool blank, bool otherBlank, const QTreeWidget* list);

// A distance as the lists show it: whole kilometres, empty when unknown.
QString kmText(const std::optional<double>& km);

// A number as the window shows it: grouped as the locale groups digits
// ("36,056" in English, "36.056" in German, "36056" in the C locale).
QString numberText(long long n);
// "1 row", "36,056 rows": `n` and the word that goes with it.
QString counted(long long n, const char* one, const char* many);

// Has the sentences made below the window (core's shownNumber) write their
// numbers as numberText above does. Once, at start-up, before any thread.
void showNumbersAsTheLocaleDoes();

}  // namespace zolt

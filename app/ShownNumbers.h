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

// A count as the window shows it: in the locale's digits and grouping.
QString shownNumber(long long n);
// "1 row", "2 rows": `n` and the word that goes with it.
QString counted(int n, const char* one, const char* many);

}  // namespace zolt

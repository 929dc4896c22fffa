// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ShownNumbers.h"

#include <QHeaderView>
#include <QLocale>
#include <QTreeWidget>
#include <cmath>

namespace zolt {

std::optional<bool> blankLast(bool blank, bool otherBlank, const QTreeWidget* list) {
    if (blank == otherBlank) return std::nullopt;
    const bool descending = list && list->header()->sortIndicatorOrder() == Qt::DescendingOrder;
    return descending ? blank : otherBlank;
}

QString kmText(const std::optional<double>& km) {
    return km ? QString::number(std::llround(*km)) : QString();
}

QString shownNumber(long long n) { return QLocale().toString(n); }

QString counted(int n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(shownNumber(n), QLatin1String(n == 1 ? one : many));
}

}  // namespace zolt

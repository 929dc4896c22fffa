// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ShownNumbers.h"

#include <QHeaderView>
#include <QLocale>
#include <QTreeWidget>
#include <cmath>

#include "core/TextFields.h"

namespace zolt {

std::optional<bool> blankLast(bool blank, bool otherBlank, const QTreeWidget* list) {
    if (blank == otherBlank) return std::nullopt;
    const bool descending = list && list->header()->sortIndicatorOrder() == Qt::DescendingOrder;
    return descending ? blank : otherBlank;
}

QString kmText(const std::optional<double>& km) {
    return km ? numberText(std::llround(*km)) : QString();
}

QString numberText(long long n) { return QLocale().toString(n); }

QString counted(long long n, const char* one, const char* many) {
    return numberText(n) + u' ' + QLatin1String(n == 1 ? one : many);
}

void showNumbersAsTheLocaleDoes() {
    // The default locale at each call, so that a locale the window is given
    // later (QLocale::setDefault) reaches both alike.
    setShownNumberFormat([](long long n) { return numberText(n).toStdString(); });
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/MatchAllSummary.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QTreeWidget>

#include "app/ShownNumbers.h"

namespace zolt {

MatchAllSummaryDialog::MatchAllSummaryDialog(const MatchAllResult& result,
                                             const std::function<QString(int)>& locationName,
                                             QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Match All Locations"));
    auto* layout = new QVBoxLayout(this);
    auto* heading =
        new QLabel(QStringLiteral("%1 matched. Step one now shows their new colours; ambiguous and "
                                  "unresolved receptions wait on step two of each location.")
                       .arg(counted(static_cast<int>(result.matched.size()), "location was",
                                    "locations were")),
                   this);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto* table = new QTreeWidget(this);
    table->setObjectName(QStringLiteral("matchAllSummary"));
    table->setAccessibleName(QStringLiteral("Receptions matched per location"));
    table->setRootIsDecorated(false);
    table->setHeaderLabels({QStringLiteral("Location"), QStringLiteral("Receptions"),
                            QStringLiteral("Logged at once"), QStringLiteral("Of them own beacons"),
                            QStringLiteral("Ambiguous"), QStringLiteral("Unresolved")});
    const auto addLine = [&](const QString& name, const LocationMatchSummary& s) {
        auto* item = new QTreeWidgetItem(
            table, QStringList{name, shownNumber(s.receptions), shownNumber(s.logged), shownNumber(s.ownBeacons),
                               shownNumber(s.ambiguous), shownNumber(s.unresolved)});
        for (int c = 1; c < table->columnCount(); ++c) {
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        }
        return item;
    };
    for (const auto& s : result.matched) {
        addLine(QStringLiteral("%1 (%2)").arg(locationName(s.location)).arg(s.location), s);
    }
    QTreeWidgetItem* totals = addLine(QStringLiteral("Total"), result.totals);
    QFont bold = totals->font(0);
    bold.setBold(true);
    for (int c = 0; c < table->columnCount(); ++c) totals->setFont(c, bold);
    table->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->setMinimumWidth(640);
    layout->addWidget(table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
}

}  // namespace zolt

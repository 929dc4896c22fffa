// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/Placement.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QWidget>

namespace zolt {

QLayout* layoutHolding(QLayout* layout, QWidget* widget) {
    if (!layout) return nullptr;
    if (layout->indexOf(widget) >= 0) return layout;
    for (int i = 0; i < layout->count(); ++i) {
        if (QLayout* found = layoutHolding(layout->itemAt(i)->layout(), widget)) return found;
    }
    return nullptr;
}

QBoxLayout* boxHolding(QWidget* widget) {
    QWidget* parent = widget->parentWidget();
    return qobject_cast<QBoxLayout*>(layoutHolding(parent ? parent->layout() : nullptr, widget));
}

void placeBeside(QWidget* anchor, QWidget* widget, bool after) {
    QWidget* panel = anchor->parentWidget();
    QLayout* layout = layoutHolding(panel ? panel->layout() : nullptr, anchor);
    if (auto* box = qobject_cast<QBoxLayout*>(layout)) {
        box->insertWidget(box->indexOf(anchor) + (after ? 1 : 0), widget);
    } else if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
        int row = 0, column = 0, rows = 1, columns = 1;
        grid->getItemPosition(grid->indexOf(anchor), &row, &column, &rows, &columns);
        grid->addWidget(widget, row, column, rows, columns);
    } else if (layout) {
        layout->addWidget(widget);
    } else {
        widget->setParent(panel);
    }
}

}  // namespace zolt

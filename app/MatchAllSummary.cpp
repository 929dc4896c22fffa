// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/MatchAllSummary.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QTreeView>

#include "app/ReceptionModels.h"
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

    auto* table = new QTreeView(this);
    table->setObjectName(QStringLiteral("matchAllSummary"));
    table->setAccessibleName(QStringLiteral("Receptions matched per location"));
    auto* model = new MatchSummaryModel(table);
    model->setResult(result, locationName);
    setupMatchSummaryView(table, model);
    table->setMinimumWidth(640);
    layout->addWidget(table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
}

}  // namespace zolt

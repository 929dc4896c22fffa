// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/MatchAllRun.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <exception>

#include "app/Placement.h"
#include "core/EngineError.h"

namespace zolt {
namespace {

QString number(long long n) { return QLocale().toString(n); }

}  // namespace

MatchAllSummaryDialog::MatchAllSummaryDialog(const MatchAllResult& result,
                                             const std::function<QString(int)>& locationName,
                                             QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Match All Locations"));
    auto* layout = new QVBoxLayout(this);
    auto* heading =
        new QLabel(QStringLiteral("%1 matched. Step one now shows their new colours; ambiguous and "
                                  "unresolved receptions wait on step two of each location.")
                       .arg(result.matched.size() == 1
                                ? QStringLiteral("1 location was")
                                : QStringLiteral("%1 locations were").arg(result.matched.size())),
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
            table, QStringList{name, number(s.receptions), number(s.logged), number(s.ownBeacons),
                               number(s.ambiguous), number(s.unresolved)});
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

MatchAllRun::MatchAllRun(QPushButton* startMatching, QProgressBar* bar, Hooks hooks,
                         QWidget* window)
    : QObject(window), hooks_(std::move(hooks)), window_(window), bar_(bar) {
    QWidget* panel = startMatching->parentWidget();
    button_ = new QPushButton(QStringLiteral("Match &All Locations"), panel);
    button_->setObjectName(QStringLiteral("matchAllButton"));
    button_->setAutoDefault(true);
    button_->setAccessibleName(QStringLiteral("Match All Locations"));
    button_->setAccessibleDescription(
        QStringLiteral("Matches every location that has receptions not yet matched, one after "
                       "the other"));
    button_->setEnabled(false);
    if (QBoxLayout* row = boxHolding(startMatching)) {
        row->insertWidget(row->indexOf(startMatching) + 1, button_);
    }
    QWidget::setTabOrder(startMatching, button_);

    caption_ = new QLabel(bar->parentWidget());
    caption_->setObjectName(QStringLiteral("matchAllLocationLabel"));
    // It speaks its own text; what it is for is its description.
    caption_->setAccessibleDescription(QStringLiteral("The location being matched"));
    caption_->setTextFormat(Qt::PlainText);  // a location's name is no markup
    caption_->hide();
    // Under the bar: the bar and the caption share the bar's place.
    if (QBoxLayout* row = boxHolding(bar)) {
        const int at = row->indexOf(bar);
        auto* column = new QVBoxLayout;
        column->setContentsMargins(0, 0, 0, 0);
        row->insertLayout(at, column, row->stretch(at));
        row->removeWidget(bar);
        column->addWidget(bar);
        column->addWidget(caption_);
    }
    connect(button_, &QPushButton::clicked, this, &MatchAllRun::start);
}

void MatchAllRun::setAvailable(bool available) { button_->setEnabled(available && !running_); }

void MatchAllRun::start() {
    if (running_) return;
    const ProjectPaths paths = hooks_.paths();
    MatchAllPlan plan;
    try {
        plan = planMatchAll(paths.ProcessedPath);
    } catch (const std::exception& error) {
        hooks_.showError(QString::fromStdString(error.what()));
        return;
    }
    if (plan.locations.empty()) {
        hooks_.showError(QStringLiteral("No location has receptions waiting to be matched."));
        // The button was offered: another window matched them meanwhile.
        hooks_.reload();
        return;
    }
    const int count = static_cast<int>(plan.locations.size());
    const QString prompt =
        QStringLiteral(
            "Match All Locations will match %1 with %2 receptions not yet matched, "
            "one location after the other. Are you sure you want to continue ?")
            .arg(count == 1 ? QStringLiteral("1 location")
                            : QStringLiteral("%1 locations").arg(count),
                 number(plan.waiting()));
    if (!hooks_.confirm(prompt)) return;

    running_ = true;
    button_->setEnabled(false);
    hooks_.setBusy(true);
    bar_->setValue(0);
    caption_->show();
    int shownLocation = 0, ordinal = 0;
    QElapsedTimer sinceRepaint;  // invalid until the first pass: repaint at once
    const MatchAllResult result =
        runMatchAll(paths, plan, [&](int location, long long reached, long long total) {
            if (location != shownLocation) {
                shownLocation = location;
                ++ordinal;
                caption_->setText(QStringLiteral("Matching %1 (location %2 of %3)")
                                      .arg(hooks_.locationName(location))
                                      .arg(ordinal)
                                      .arg(count));
                sinceRepaint.invalidate();
            }
            bar_->setValue(total > 0 ? static_cast<int>(reached * 100 / total) : 0);
            // Several repaints a second keep the window alive without paying
            // for an event pass per reception.
            if (!sinceRepaint.isValid() || sinceRepaint.elapsed() >= 40) {
                QCoreApplication::processEvents();
                sinceRepaint.start();
            }
            return !hooks_.stopRequested();
        });
    bar_->setValue(0);
    caption_->clear();
    caption_->hide();
    running_ = false;
    // The window may close once it is unlocked: nothing is shown then.
    const bool stopped = result.cancelled || hooks_.stopRequested();
    hooks_.setBusy(false);
    if (stopped) return;
    if (result.failedLocation != 0) {
        const int before = static_cast<int>(result.matched.size());
        hooks_.showError(
            QStringLiteral("Match All Locations stopped at %1 (location %2): %3 %4")
                .arg(hooks_.locationName(result.failedLocation))
                .arg(result.failedLocation)
                .arg(QString::fromStdString(result.failure))
                .arg(before == 0 ? QStringLiteral("No location was matched.")
                     : before == 1
                         ? QStringLiteral("The location matched before it stays matched.")
                         : QStringLiteral("The %1 locations matched before it stay matched.")
                               .arg(before)));
        return;
    }
    MatchAllSummaryDialog summary(result, hooks_.locationName, window_);
    summary.exec();
}

}  // namespace zolt

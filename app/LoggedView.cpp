// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/LoggedView.h"

#include <QBoxLayout>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <algorithm>
#include <set>

#include "app/Placement.h"
#include "app/ShownNumbers.h"
#include "core/Cp1252.h"
#include "core/OldDates.h"
#include "core/TextFields.h"

namespace zolt {
namespace {

enum Column { kIdent, kFreq, kTime, kDate, kComment, kBeacon, kCity, kCountry, kDistance, kHow };
enum BeaconColumn { kCall, kBeaconFreq, kBeaconCity, kProvince, kBeaconCountry, kId, kBeaconKm };
enum Role { kPositionRole = Qt::UserRole + 20, kRowRole, kKmRole, kDateKeyRole };

// The platform's own undo key, known only once the application runs.
QKeySequence undoKey() { return QKeySequence(QKeySequence::Undo); }

// Sorts Distance by its number and Date by the day it names, with the rows
// that have none after the others whichever way the list is sorted.
class LoggedItem : public QTreeWidgetItem {
  public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override {
        const QTreeWidget* list = treeWidget();
        const int column = list ? list->sortColumn() : 0;
        if (column == kDate && list->columnCount() == kHow + 1) {
            const qlonglong key = data(kDate, kDateKeyRole).toLongLong();
            const qlonglong otherKey = other.data(kDate, kDateKeyRole).toLongLong();
            if (const auto last = blankLast(key < 0, otherKey < 0, list)) return *last;
            if (key >= 0) return key < otherKey;
        }
        if (column == kDistance || (column == kBeaconKm && list->columnCount() == kBeaconKm + 1)) {
            const QVariant km = data(column, kKmRole);
            const QVariant otherKm = other.data(column, kKmRole);
            if (const auto last = blankLast(!km.isValid(), !otherKm.isValid(), list)) return *last;
            if (km.isValid()) return km.toDouble() < otherKm.toDouble();
        }
        return QTreeWidgetItem::operator<(other);
    }
};

QString field(const std::string& raw) {
    return QString::fromStdString(cp1252ToUtf8(trimmedView(raw)));
}
QString utf8(const std::string& text) { return QString::fromStdString(text); }

QTreeWidget* makeList(const char* name, const QString& accessible, const QStringList& headers) {
    auto* list = new QTreeWidget;
    list->setObjectName(QLatin1String(name));
    list->setAccessibleName(accessible);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setHeaderLabels(headers);
    // Sorted on a header click, not by the list itself: a list that keeps
    // itself sorted sorts every fill anew, which a large location feels.
    list->header()->setSectionsClickable(true);
    list->header()->setSortIndicatorShown(true);
    list->header()->setSortIndicator(0, Qt::AscendingOrder);
    QObject::connect(list->header(), &QHeaderView::sectionClicked, list, [list](int column) {
        list->sortItems(column, list->header()->sortIndicatorOrder());
    });
    list->hide();
    return list;
}

}  // namespace

LoggedView::LoggedView(const Anchors& anchors, QObject* parent)
    : QObject(parent), anchors_(anchors) {
    list_ = makeList("loggedList", QStringLiteral("Logged Stations"),
                     {QStringLiteral("Ident"), QStringLiteral("Freq"), QStringLiteral("Time"),
                      QStringLiteral("Date"), QStringLiteral("Comment"), QStringLiteral("Beacon"),
                      QStringLiteral("City"), QStringLiteral("Country"), QStringLiteral("Distance"),
                      QStringLiteral("How")});
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Widths in characters, fixed: measuring every row of a large location
    // would cost more than filling the list.
    const QFontMetrics metrics(list_->font());
    const int widths[] = {6, 5, 5, 8, 12, 7, 10, 7, 8, 10};
    for (int c = 0; c < list_->columnCount(); ++c) {
        list_->setColumnWidth(
            c, metrics.horizontalAdvance(QString(widths[c], QLatin1Char('M'))) * 3 / 4);
    }
    list_->headerItem()->setToolTip(kDistance,
                                    QStringLiteral("Great-circle distance from home, in km"));
    list_->headerItem()->setToolTip(
        kHow, QStringLiteral("unique match, own beacon, picked, picked for all, suggested, or "
                             "logged earlier (before the converter kept this record)"));
    list_->headerItem()->setTextAlignment(kDistance, Qt::AlignRight | Qt::AlignVCenter);
    list_->setAccessibleDescription(
        QStringLiteral("Every logged reception of this location; select several with Shift or "
                       "Ctrl, or all with Ctrl+A"));

    beacon_ = makeList("loggedBeaconList", QStringLiteral("Logged Beacon"),
                       {QStringLiteral("Call"), QStringLiteral("Frequency"), QStringLiteral("City"),
                        QStringLiteral("Province"), QStringLiteral("Country"),
                        QStringLiteral("Beacon_ID"), QStringLiteral("Distance")});
    beacon_->setColumnHidden(kId, true);
    beacon_->headerItem()->setTextAlignment(kBeaconKm, Qt::AlignRight | Qt::AlignVCenter);

    show_ = new QPushButton(QStringLiteral("Sho&w Logged Stations"));
    show_->setObjectName(QStringLiteral("showLoggedButton"));
    show_->setToolTip(
        QStringLiteral("Lists every logged reception of this location and how it "
                       "was decided"));
    return_ = new QPushButton(QStringLiteral("&Return To Waiting"));
    return_->setObjectName(QStringLiteral("returnToWaitingButton"));
    return_->setToolTip(
        QStringLiteral("Takes the selected receptions out of the log and puts "
                       "them back among the waiting ones, after asking"));
    return_->setEnabled(false);
    return_->hide();
    undo_ = new QPushButton(QStringLiteral("Undo Last Action"));
    undo_->setObjectName(QStringLiteral("undoButton"));
    undo_->setEnabled(false);
    for (QPushButton* button : {show_, return_, undo_}) {
        button->setAutoDefault(true);
        button->setAccessibleName(button->text().remove(QLatin1Char('&')));
    }

    placeBeside(anchors_.upperList, list_);
    placeBeside(anchors_.lowerLists[1], beacon_);
    placeBeside(anchors_.showButton, show_);
    placeBeside(anchors_.actionButton, return_);
    placeBeside(anchors_.actionButton, undo_);
    // The keyboard meets each control where it stands, not after the rest.
    QWidget::setTabOrder(anchors_.upperList, list_);
    QWidget::setTabOrder(anchors_.lowerLists[1], beacon_);
    QWidget::setTabOrder(anchors_.showButton, show_);
    QWidget::setTabOrder(anchors_.actionButton, undo_);
    QWidget::setTabOrder(undo_, return_);

    // Undo has no free letter among its words; the platform's undo key serves.
    auto* undoShortcut = new QShortcut(undoKey(), anchors_.actionButton->window());
    undoShortcut->setContext(Qt::WindowShortcut);
    connect(undoShortcut, &QShortcut::activated, this, [this] {
        if (undo_->isVisible() && undo_->isEnabled()) undo_->click();
    });

    connect(show_, &QPushButton::clicked, this, &LoggedView::showRequested);
    connect(return_, &QPushButton::clicked, this, &LoggedView::returnRequested);
    connect(undo_, &QPushButton::clicked, this, &LoggedView::undoRequested);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &LoggedView::selectionChanged);
}

void LoggedView::enter() {
    active_ = true;
    anchors_.upperList->hide();
    for (QTreeWidget* lower : anchors_.lowerLists) lower->hide();
    list_->show();
    beacon_->show();
    return_->show();
    anchors_.upperLabel->setBuddy(list_);
    if (lowerCaption_.isEmpty()) lowerCaption_ = anchors_.lowerLabel->text();
    anchors_.lowerLabel->setText(QStringLiteral("Logged &Beacon"));
    anchors_.lowerLabel->setBuddy(beacon_);
    list_->setFocus();
}

void LoggedView::leave() {
    if (!active_) return;
    active_ = false;
    list_->hide();
    beacon_->hide();
    return_->hide();
    anchors_.upperList->show();
    anchors_.upperLabel->setBuddy(anchors_.upperList);
    // The window points the lower caption at whichever candidate list it shows.
    if (!lowerCaption_.isEmpty()) anchors_.lowerLabel->setText(lowerCaption_);
    anchors_.lowerLabel->setBuddy(anchors_.lowerLists[0]);
}

void LoggedView::fill(const std::vector<LoggedReception>& rows) {
    rows_ = rows;
    const QSignalBlocker block(list_);
    list_->clear();
    beacon_->clear();
    // In the list's first order (by ident, then as logged) straight away;
    // an order the listener chose is sorted for below.
    std::vector<std::size_t> order(rows_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
        return trimmedView(rows_[a].ident) < trimmedView(rows_[b].ident);
    });
    // The location's dates decide how those that fit either way are read.
    DateOrderDetector dates;
    for (const LoggedReception& r : rows_) dates.add(r.date);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows_.size()));
    for (std::size_t i : order) {
        const LoggedReception& r = rows_[i];
        auto* item = new LoggedItem(QStringList{
            field(r.ident), field(r.frequency), field(r.time), field(r.date), field(r.comment),
            utf8(r.call), utf8(r.city), utf8(r.country), kmText(r.distanceKm), utf8(r.how)});
        item->setData(kIdent, kPositionRole, r.position);
        item->setData(kIdent, kRowRole, static_cast<qulonglong>(i));
        if (r.distanceKm) item->setData(kDistance, kKmRole, *r.distanceKm);
        item->setData(kDate, kDateKeyRole, receptionSortKey(r.date, r.time, dates.suggested()));
        item->setTextAlignment(kDistance, Qt::AlignRight | Qt::AlignVCenter);
        items << item;
    }
    list_->addTopLevelItems(items);
    const int column = list_->header()->sortIndicatorSection();
    const Qt::SortOrder sortOrder = list_->header()->sortIndicatorOrder();
    if (column != kIdent || sortOrder != Qt::AscendingOrder) list_->sortItems(column, sortOrder);
    return_->setEnabled(false);
    emit beaconsChosen({});
}

void LoggedView::setCount(int settled) {
    show_->setText(QStringLiteral("Sho&w Logged Stations (%1)").arg(settled));
    show_->setAccessibleName(QStringLiteral("Show Logged Stations (%1)").arg(settled));
    show_->setEnabled(settled > 0);
}

void LoggedView::setUndo(const std::optional<UndoOffer>& offer) {
    undo_->setEnabled(offer.has_value());
    const QString key = undoKey().toString(QKeySequence::NativeText);
    const QString tip =
        offer ? QStringLiteral("Undoes the last %1 of this location (%2 receptions); %3")
                    .arg(utf8(offer->action))
                    .arg(offer->receptions)
                    .arg(key)
              : QStringLiteral(
                    "Nothing to undo: no Add To Log, Add Suggested Picks or Return To "
                    "Waiting of this location is left to reverse since its matching "
                    "run.");
    undo_->setToolTip(tip);
    undo_->setAccessibleDescription(tip);
}

std::vector<int> LoggedView::selectedPositions() const {
    std::vector<int> positions;
    for (const QTreeWidgetItem* item : list_->selectedItems()) {
        positions.push_back(item->data(kIdent, kPositionRole).toInt());
    }
    std::sort(positions.begin(), positions.end());
    return positions;
}

void LoggedView::selectionChanged() {
    const QList<QTreeWidgetItem*> chosen = list_->selectedItems();
    return_->setEnabled(!chosen.isEmpty());
    beacon_->clear();
    // The current row's beacon first: it is the one the map rings brightest.
    QList<QTreeWidgetItem*> ordered;
    if (QTreeWidgetItem* current = list_->currentItem(); current && current->isSelected()) {
        ordered << current;
    }
    for (QTreeWidgetItem* item : chosen) {
        if (item != list_->currentItem()) ordered << item;
    }
    RankedCandidates ringed;
    std::set<std::int64_t> seen;
    QList<QTreeWidgetItem*> items;
    for (const QTreeWidgetItem* item : ordered) {
        const auto& r = rows_.at(item->data(kIdent, kRowRole).toULongLong());
        if (r.logId == 0 || r.call.empty() || !seen.insert(r.beaconId).second) continue;
        auto* row = new LoggedItem(QStringList{utf8(r.call), utf8(r.beaconFrequency), utf8(r.city),
                                               utf8(r.province), utf8(r.country),
                                               QString::number(r.beaconId), kmText(r.distanceKm)});
        if (r.distanceKm) row->setData(kBeaconKm, kKmRole, *r.distanceKm);
        row->setTextAlignment(kBeaconKm, Qt::AlignRight | Qt::AlignVCenter);
        items << row;
        Candidate c;
        c.beaconId = r.beaconId;
        c.ident = r.call;
        c.frequency = r.beaconFrequency;
        c.city = r.city;
        c.province = r.province;
        c.country = r.country;
        c.position = r.beaconPosition;
        ringed.rows.push_back({c, r.distanceKm, std::nullopt});
    }
    beacon_->addTopLevelItems(items);
    if (!ringed.rows.empty()) ringed.suggested = 0;
    emit beaconsChosen(ringed);
}

QString returnPrompt(int receptions) {
    return QStringLiteral(
               "This will remove %1 %2 from the log and put them back among the waiting "
               "ones. Are you sure you want to continue ?")
        .arg(receptions)
        .arg(receptions == 1 ? QStringLiteral("reception") : QStringLiteral("receptions"));
}

QString undoPrompt(const UndoOffer& offer) {
    const bool returned = offer.action == action::kReturnToWaiting;
    const bool one = offer.receptions == 1;
    const QString what =
        one ? QStringLiteral("1 reception") : QStringLiteral("%1 receptions").arg(offer.receptions);
    QString happens;
    if (returned) {
        happens = one ? QStringLiteral("goes back into the log as it was")
                      : QStringLiteral("go back into the log as they were");
    } else {
        happens = one ? QStringLiteral("returns to waiting") : QStringLiteral("return to waiting");
    }
    return QStringLiteral("This will undo %1: %2 %3. Are you sure you want to continue ?")
        .arg(utf8(offer.action), what, happens);
}

}  // namespace zolt

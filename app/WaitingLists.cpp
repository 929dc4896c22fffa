// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/WaitingLists.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <cmath>

#include "app/ShownNumbers.h"
#include "core/Cp1252.h"
#include "core/OldDates.h"
#include "core/TextFields.h"
#include "engine/CandidateLookup.h"

namespace zolt {

namespace {

// Raw field bytes of a listed reception, kept beside the shown text so that
// what is logged is exactly what the working file holds.
enum RowRole { kIdentRole = Qt::UserRole + 1, kFrequencyRole, kTimeRole, kDateRole, kCommentRole };

// The Date column of the upper list, which holds the old log's free text.
constexpr int kListedDateColumn = 4;
constexpr int kDateKeyRole = Qt::UserRole + 20;

// A candidate row keeps the numbers behind its Distance and Offset cells, and
// whether it is the suggested pick.
enum CandidateRole { kNumberRole = Qt::UserRole + 10, kSuggestedRole };

// Column positions of the candidate lists. Beacon_ID stays where it always
// was; what came later is appended after it.
constexpr int kExactCountryColumn = 2, kExactIdColumn = 3, kExactDistanceColumn = 4;
constexpr int kPossibleCountryColumn = 4, kPossibleIdColumn = 5, kPossibleDistanceColumn = 6;
constexpr int kPossibleOffsetColumn = 7;

const QKeySequence kSuggestedKey(Qt::Key_F2);

// A candidate row that sorts numbers by their value and puts an empty cell
// after the filled ones whichever way the list is sorted.
class CandidateItem : public QTreeWidgetItem {
  public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override {
        const QTreeWidget* list = treeWidget();
        const int column = list ? list->sortColumn() : 0;
        const bool empty = text(column).trimmed().isEmpty();
        const bool otherEmpty = other.text(column).trimmed().isEmpty();
        if (const auto last = blankLast(empty, otherEmpty, list)) return *last;
        if (empty) return false;
        const QVariant number = data(column, kNumberRole);
        const QVariant otherNumber = other.data(column, kNumberRole);
        if (number.isValid() && otherNumber.isValid()) {
            return number.toDouble() < otherNumber.toDouble();
        }
        return QTreeWidgetItem::operator<(other);
    }
};

// A row of the upper list whose Date cell sorts by the day it names (as text
// 02/17/01 would come before 12/27/96); a date that does not read goes last
// whichever way the list is sorted.
class ReceptionItem : public QTreeWidgetItem {
  public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override {
        const QTreeWidget* list = treeWidget();
        if (!list || list->sortColumn() != kListedDateColumn) {
            return QTreeWidgetItem::operator<(other);
        }
        const qlonglong key = data(0, kDateKeyRole).toLongLong();
        const qlonglong otherKey = other.data(0, kDateKeyRole).toLongLong();
        if (const auto last = blankLast(key < 0, otherKey < 0, list)) return *last;
        if (key < 0) return false;
        return key < otherKey;
    }
};

// "+1", "-0.5", "0": the sign says which side of the logged frequency it lies.
QString offsetText(double kHz) {
    const double rounded = std::round(kHz * 100.0) / 100.0;
    if (rounded == 0.0) return QStringLiteral("0");
    const QString digits = QString::fromStdString(shortestDecimal(std::fabs(rounded)));
    return (rounded > 0 ? QStringLiteral("+") : QStringLiteral("-")) + digits;
}

QString fromField(const std::string& bytes) { return QString::fromStdString(cp1252ToUtf8(bytes)); }

std::string rawOf(const QTreeWidgetItem* item, int role) {
    return item->data(0, role).toByteArray().toStdString();
}

}  // namespace

WaitingLists::WaitingLists(const Widgets& widgets, QObject* parent) : QObject(parent), w_(widgets) {
    // One key takes the keyboard to the suggested candidate; Enter there
    // then logs it as Add To Log would.
    auto* suggestedKey = new QShortcut(kSuggestedKey, w_.stepTwo);
    suggestedKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(suggestedKey, &QShortcut::activated, this, &WaitingLists::selectSuggested);
    const QString keyHint =
        QStringLiteral(
            "%1 selects the suggested pick, the clearly nearest candidate, shown in "
            "bold; Enter then adds it to the log.")
            .arg(kSuggestedKey.toString(QKeySequence::NativeText));
    for (QTreeWidget* list : {w_.exact, w_.possible}) {
        list->setToolTip(keyHint);
        list->setAccessibleDescription(keyHint);
        list->installEventFilter(this);
        list->header()->setSectionsClickable(true);
        // The header has already turned its indicator: a new column starts
        // ascending (nearest first), the same one again reverses.
        connect(list->header(), &QHeaderView::sectionClicked, this, [list](int column) {
            list->header()->setSortIndicatorShown(true);
            list->sortItems(column, list->header()->sortIndicatorOrder());
        });
    }
}

void WaitingLists::setupColumns(const QFontMetrics& metrics) {
    auto setup = [&metrics](QTreeWidget* list,
                            std::initializer_list<std::pair<const char*, int>> columns) {
        list->clear();
        list->setColumnCount(static_cast<int>(columns.size()));
        QStringList headers;
        for (const auto& column : columns) headers << QString::fromUtf8(column.first);
        list->setHeaderLabels(headers);
        int index = 0;
        for (const auto& column : columns) {
            // Widths are the rendered width of that many blanks; a column of
            // no width carries a key the user does not see.
            if (column.second == 0) {
                list->setColumnHidden(index, true);
            } else {
                list->setColumnWidth(
                    index, metrics.horizontalAdvance(QString(column.second, QLatin1Char(' '))));
            }
            ++index;
        }
    };
    setup(w_.stations, {{"Station ", 32}, {"Frequency", 32}});
    // The numbers that decide a suggestion come after the place; Call,
    // Frequency and Province of the unresolved list give up room for them.
    setup(w_.exact,
          {{"City ", 59}, {"Province", 32}, {"Country", 32}, {"Beacon_ID", 0}, {"Distance", 20}});
    setup(w_.possible, {{"Call ", 14},
                        {"Frequency", 19},
                        {"City", 37},
                        {"Province", 14},
                        {"Country", 36},
                        {"Beacon_ID", 0},
                        {"Distance", 20},
                        {"\u0394 kHz", 16}});
    const struct {
        QTreeWidget* list;
        int column;
        const char* tip;
    } numeric[] = {
        {w_.exact, kExactDistanceColumn, "Great-circle distance from home, in km"},
        {w_.possible, kPossibleDistanceColumn, "Great-circle distance from home, in km"},
        {w_.possible, kPossibleOffsetColumn, "The beacon's frequency minus the logged one, in kHz"},
    };
    for (const auto& n : numeric) {
        n.list->headerItem()->setTextAlignment(n.column, Qt::AlignRight | Qt::AlignVCenter);
        n.list->headerItem()->setToolTip(n.column, QString::fromLatin1(n.tip));
    }
    for (QTreeWidget* list : {w_.exact, w_.possible}) {
        for (int column = 0; column < list->columnCount(); ++column) {
            list->headerItem()->setData(column, Qt::InitialSortOrderRole,
                                        static_cast<int>(Qt::AscendingOrder));
        }
        // Country is as wide as its longest name, and the city, the longest
        // text, takes the room left: it is not the number columns that stretch.
        list->header()->setStretchLastSection(false);
        list->header()->setSectionResizeMode(
            list == w_.possible ? kPossibleCountryColumn : kExactCountryColumn,
            QHeaderView::ResizeToContents);
        list->header()->setSectionResizeMode(list == w_.possible ? 2 : 0, QHeaderView::Stretch);
    }
    setup(w_.upper, {{"Processed", 0},
                     {"Ident", 23},
                     {"Freq", 24},
                     {"Time", 24},
                     {"Date", 24},
                     {"Comment", 67}});
}

void WaitingLists::fillUpper(const std::vector<ListedReception>& rows, const WorkingSet* loaded) {
    QTreeWidget* list = w_.upper;
    list->setSortingEnabled(false);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    // The dates of the location decide how those that fit either way are
    // read: all of them where it is loaded, else those listed.
    DateOrderDetector dates;
    if (loaded) {
        for (const WorkEntry& entry : loaded->entries) dates.add(entry.date);
    }
    for (const ListedReception& row : rows) dates.add(row.date);
    for (const ListedReception& row : rows) {
        auto* item = new ReceptionItem(QStringList{QStringLiteral("NO"), fromField(row.ident),
                                                   fromField(row.frequency), fromField(row.time),
                                                   fromField(row.date), fromField(row.comment)});
        item->setData(0, kIdentRole, QByteArray::fromStdString(row.ident));
        item->setData(0, kFrequencyRole, QByteArray::fromStdString(row.frequency));
        item->setData(0, kTimeRole, QByteArray::fromStdString(row.time));
        item->setData(0, kDateRole, QByteArray::fromStdString(row.date));
        item->setData(0, kCommentRole, QByteArray::fromStdString(row.comment));
        item->setData(0, kDateKeyRole, receptionSortKey(row.date, row.time, dates.suggested()));
        items << item;
    }
    list->addTopLevelItems(items);
    list->setSortingEnabled(true);
    list->sortByColumn(1, Qt::AscendingOrder);
}

ListedReception WaitingLists::fieldsOf(const QTreeWidgetItem* row) {
    ListedReception fields;
    fields.ident = rawOf(row, kIdentRole);
    fields.frequency = rawOf(row, kFrequencyRole);
    fields.time = rawOf(row, kTimeRole);
    fields.date = rawOf(row, kDateRole);
    fields.comment = rawOf(row, kCommentRole);
    return fields;
}

void WaitingLists::showCandidates(const RankedCandidates& ranked, bool possible) {
    QTreeWidget* list = possible ? w_.possible : w_.exact;
    const int distanceColumn = possible ? kPossibleDistanceColumn : kExactDistanceColumn;
    QList<QTreeWidgetItem*> items;
    for (std::size_t i = 0; i < ranked.rows.size(); ++i) {
        const RankedCandidate& row = ranked.rows[i];
        const Candidate& c = row.candidate;
        const QString id = QString::number(c.beaconId);
        // The listener's own beacons stand among the listed ones; the
        // country cell says which they are, for the eye and the ear alike.
        const QString country =
            c.own ? QStringLiteral("%1 (your own beacon)").arg(QString::fromStdString(c.country))
                  : QString::fromStdString(c.country);
        QStringList cells = possible ? QStringList{QString::fromStdString(c.ident),
                                                   QString::fromStdString(c.frequency),
                                                   QString::fromStdString(c.city),
                                                   QString::fromStdString(c.province),
                                                   country,
                                                   id}
                                     : QStringList{QString::fromStdString(c.city),
                                                   QString::fromStdString(c.province),
                                                   country, id};
        cells << kmText(row.distanceKm);
        if (possible) {
            cells << (row.frequencyOffsetKHz ? offsetText(*row.frequencyOffsetKHz) : QString());
        }
        auto* item = new CandidateItem(cells);
        item->setTextAlignment(distanceColumn, Qt::AlignRight | Qt::AlignVCenter);
        if (row.distanceKm) item->setData(distanceColumn, kNumberRole, *row.distanceKm);
        if (possible) {
            item->setTextAlignment(kPossibleOffsetColumn, Qt::AlignRight | Qt::AlignVCenter);
            if (row.frequencyOffsetKHz) {
                item->setData(kPossibleOffsetColumn, kNumberRole, *row.frequencyOffsetKHz);
            }
        }
        if (static_cast<int>(i) == ranked.suggested) {
            item->setData(0, kSuggestedRole, true);
            QFont bold = list->font();
            bold.setBold(true);
            // Bold is for the eye; the description is what a screen reader says.
            for (int column = 0; column < list->columnCount(); ++column) {
                item->setFont(column, bold);
                item->setData(column, Qt::AccessibleDescriptionRole,
                              QStringLiteral("suggested pick"));
            }
        }
        items << item;
    }
    QSignalBlocker block(list);
    list->addTopLevelItems(items);
    // Until the user sorts by a header, the rows stay in the look-up's order.
    if (list->header()->isSortIndicatorShown()) {
        list->sortItems(list->header()->sortIndicatorSection(),
                        list->header()->sortIndicatorOrder());
    }
}

QString WaitingLists::placeOf(const QTreeWidgetItem* row) {
    QString place = QString::fromStdString(placeText(
        row->text(0).toStdString(), row->text(1).toStdString(), row->text(2).toStdString()));
    if (row->data(0, kSuggestedRole).toBool()) place += QStringLiteral(" (suggested pick)");
    return place;
}

int WaitingLists::beaconIdOf(const QTreeWidget* list, const QTreeWidgetItem* row) const {
    const int idColumn = list == w_.possible ? kPossibleIdColumn : kExactIdColumn;
    return beaconIdFromCell(row->text(idColumn).toStdString());
}

void WaitingLists::selectSuggested() {
    QTreeWidget* list = w_.possible->isVisible() ? w_.possible : w_.exact;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (!item->data(0, kSuggestedRole).toBool()) continue;
        list->setCurrentItem(item);
        list->scrollToItem(item);
        list->setFocus();
        return;
    }
    QApplication::beep();  // no suggestion for this reception
}

bool WaitingLists::eventFilter(QObject* watched, QEvent* event) {
    // Enter on a chosen candidate logs it, so that F2 and Enter settle a
    // reception without leaving the list.
    if (event->type() == QEvent::KeyPress && (watched == w_.exact || watched == w_.possible)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && w_.addToLog->isEnabled()) {
            w_.addToLog->click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ReceptionModels.h"

#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLocale>
#include <QTreeView>
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "app/ShownNumbers.h"
#include "core/Cp1252.h"
#include "core/OldDates.h"
#include "core/TextFields.h"

namespace zolt {
namespace {

constexpr int kRight = Qt::AlignRight | Qt::AlignVCenter;

// A field of the old log as shown: decoded, without its padding blanks.
QString fieldText(const std::string& raw) {
    return QString::fromStdString(cp1252ToUtf8(trimmedView(raw)));
}
// A text of the database (UTF-8) as shown.
QString utf8Text(const std::string& text) { return QString::fromStdString(trimBlanks(text)); }

// "+1", "-0.5", "0": the sign says which side of the logged frequency it lies.
QString offsetText(double kHz) {
    const double rounded = std::round(kHz * 100.0) / 100.0;
    if (rounded == 0.0) return QStringLiteral("0");
    const QString digits = QString::fromStdString(shortestDecimal(std::fabs(rounded)));
    return (rounded > 0 ? QStringLiteral("+") : QStringLiteral("-")) + digits;
}

// The country cell: the listener's own beacons stand among the listed ones,
// and the cell says which they are, for the eye and the ear alike.
std::string countryText(std::string_view country, bool own) {
    std::string text(country);
    if (own) text += " (your own beacon)";
    return text;
}

constexpr SortKey kBlank{true, false, 0, nullptr};
SortKey numberKey(double value) { return SortKey{false, true, value, nullptr}; }
SortKey dateKey(long long key) { return key < 0 ? kBlank : numberKey(static_cast<double>(key)); }

QString localNumber(long long n) { return QLocale().toString(n); }

}  // namespace

// ----------------------------------------------------------------------------

ListTableModel::ListTableModel(std::vector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)) {}

int ListTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ListTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns();
}

const QString& ListTableModel::text(int row, int column) const {
    return texts_[static_cast<std::size_t>(row) * columns_.size() +
                  static_cast<std::size_t>(column)];
}

void ListTableModel::takeTexts(std::vector<QString>&& texts) {
    ++generation_;
    texts_.swap(texts);
    rows_ = static_cast<int>(texts_.size() / columns_.size());
}

QVariant ListTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ || index.column() >= columns()) return {};
    const int row = index.row(), column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return text(row, column);
        case Qt::TextAlignmentRole:
            if (columns_[static_cast<std::size_t>(column)].numeric) return kRight;
            return {};
        case SortKeyRole: {
            const SortKey key = sortKey(row, column);
            if (key.blank) return {};
            if (key.isNumber) return key.number;
            return key.text ? *key.text : QString();
        }
        default:
            return rowData(row, column, role);
    }
}

QVariant ListTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns()) return {};
    const Column& column = columns_[static_cast<std::size_t>(section)];
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromUtf8(column.header);
        case Qt::TextAlignmentRole:
            if (column.rightHeader) return kRight;
            return {};
        case Qt::ToolTipRole:
            if (column.tip) return QString::fromUtf8(column.tip);
            return {};
        case Qt::InitialSortOrderRole:
            if (ascendingFirst()) return static_cast<int>(Qt::AscendingOrder);
            return {};
        default:
            return {};
    }
}

SortKey ListTableModel::sortKey(int row, int column) const { return textKey(row, column, false); }

SortKey ListTableModel::textKey(int row, int column, bool blankLast) const {
    const QString& shown = text(row, column);
    return SortKey{blankLast && shown.isEmpty(), false, 0, &shown};
}

// ----------------------------------------------------------------------------

WaitingReceptionModel::WaitingReceptionModel(QObject* parent)
    : ListTableModel({{"Ident"}, {"Freq"}, {"Time"}, {"Date"}, {"Comment"}}, parent) {}

void WaitingReceptionModel::setRows(std::vector<ListedReception> rows, const WorkingSet* loaded) {
    // The dates of the location decide how those that fit either way are
    // read: all of them where it is loaded, else those listed.
    DateOrderDetector dates;
    if (loaded) {
        for (const WorkEntry& entry : loaded->entries) dates.add(entry.date);
    }
    for (const ListedReception& row : rows) dates.add(row.date);
    const DateOrder order = dates.suggested();
    std::vector<QString> texts;
    texts.reserve(rows.size() * 5);
    std::vector<long long> keys;
    keys.reserve(rows.size());
    for (const ListedReception& row : rows) {
        for (const std::string* field :
             {&row.ident, &row.frequency, &row.time, &row.date, &row.comment}) {
            texts.push_back(fieldText(*field));
        }
        keys.push_back(receptionSortKey(row.date, row.time, order));
    }
    beginResetModel();
    rows_.swap(rows);
    dateKeys_.swap(keys);
    takeTexts(std::move(texts));
    endResetModel();
}

SortKey WaitingReceptionModel::sortKey(int row, int column) const {
    // A date that does not read goes last; other blanks sort as texts do.
    if (column == Date) return dateKey(dateKeys_[static_cast<std::size_t>(row)]);
    return textKey(row, column, false);
}

QVariant WaitingReceptionModel::rowData(int row, int, int role) const {
    const ListedReception& r = at(row);
    switch (role) {
        case PositionRole:
            return r.recordNo;
        case FieldsRole:
            return QVariant::fromValue(r);
        default:
            return {};
    }
}

// ----------------------------------------------------------------------------

namespace {

constexpr const char* kDistanceTip = "Great-circle distance from home, in km";

std::vector<ListTableModel::Column> candidateColumns(CandidateModel::Kind kind) {
    if (kind == CandidateModel::Kind::Exact) {
        return {{"City "}, {"Province"}, {"Country"}, {"Distance", true, kDistanceTip, true}};
    }
    return {{"Call "},
            {"Frequency"},
            {"City"},
            {"Province"},
            {"Country"},
            {"Distance", true, kDistanceTip, true},
            {"\u0394 kHz", true, "The beacon's frequency minus the logged one, in kHz", true}};
}

}  // namespace

// Column descriptions hold string literals only; the base keeps a copy.
CandidateModel::CandidateModel(Kind kind, QObject* parent)
    : ListTableModel(candidateColumns(kind), parent), kind_(kind) {}

void CandidateModel::setRanked(RankedCandidates ranked) {
    const bool possible = kind_ == Kind::Possible;
    std::vector<QString> texts, places;
    texts.reserve(ranked.rows.size() * static_cast<std::size_t>(columns()));
    places.reserve(ranked.rows.size());
    for (std::size_t i = 0; i < ranked.rows.size(); ++i) {
        const RankedCandidate& row = ranked.rows[i];
        const Candidate& c = row.candidate;
        const std::string country = countryText(c.country, c.own);
        if (possible) {
            texts.push_back(utf8Text(c.ident));
            texts.push_back(utf8Text(c.frequency));
        }
        texts.push_back(utf8Text(c.city));
        texts.push_back(utf8Text(c.province));
        texts.push_back(QString::fromStdString(countryText(trimmedView(c.country), c.own)));
        texts.push_back(kmText(row.distanceKm));
        if (possible) {
            texts.push_back(row.frequencyOffsetKHz ? offsetText(*row.frequencyOffsetKHz)
                                                   : QString());
        }
        // The selection line names the row by its first three cells as the
        // database gives them.
        QString place = QString::fromStdString(possible ? placeText(c.ident, c.frequency, c.city)
                                                        : placeText(c.city, c.province, country));
        if (static_cast<int>(i) == ranked.suggested) place += QStringLiteral(" (suggested pick)");
        places.push_back(place);
    }
    beginResetModel();
    std::swap(ranked_, ranked);
    places_.swap(places);
    takeTexts(std::move(texts));
    endResetModel();
}

int CandidateModel::suggestedRow() const {
    const int count = static_cast<int>(ranked_.rows.size());
    return ranked_.suggested >= 0 && ranked_.suggested < count ? ranked_.suggested : -1;
}

SortKey CandidateModel::sortKey(int row, int column) const {
    const RankedCandidate& r = ranked_.rows[static_cast<std::size_t>(row)];
    // Numbers by their value; an empty cell after the filled ones.
    if (column == distanceColumn()) {
        return r.distanceKm ? numberKey(*r.distanceKm) : kBlank;
    }
    if (kind_ == Kind::Possible && column == PossibleOffset) {
        return r.frequencyOffsetKHz ? numberKey(*r.frequencyOffsetKHz) : kBlank;
    }
    const SortKey key = textKey(row, column, true);
    return key.blank ? kBlank : key;
}

QVariant CandidateModel::rowData(int row, int, int role) const {
    const RankedCandidate& r = ranked_.rows[static_cast<std::size_t>(row)];
    const bool suggested = row == suggestedRow();
    switch (role) {
        case BeaconIdRole:
            return static_cast<qint64>(r.candidate.beaconId);
        case FieldsRole:
            return QVariant::fromValue(r);
        case SuggestedRole:
            return suggested;
        case PlaceRole:
            return places_[static_cast<std::size_t>(row)];
        case Qt::FontRole:
            if (suggested) {
                // Bold is for the eye; the description is what a screen reader says.
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case Qt::AccessibleDescriptionRole:
            if (suggested) return QStringLiteral("suggested pick");
            return {};
        default:
            return {};
    }
}

// ----------------------------------------------------------------------------

QVariant LoggedRowsModel::rowData(int row, int, int role) const {
    const LoggedReception& r = at(row);
    switch (role) {
        case PositionRole:
            return r.position;
        case BeaconIdRole:
            return static_cast<qint64>(r.beaconId);
        case FieldsRole:
            return QVariant::fromValue(r);
        default:
            return {};
    }
}

LoggedReceptionModel::LoggedReceptionModel(QObject* parent)
    : LoggedRowsModel(
          {{"Ident"},
           {"Freq"},
           {"Time"},
           {"Date"},
           {"Comment"},
           {"Beacon"},
           {"City"},
           {"Country"},
           {"Distance", true, kDistanceTip, true},
           {"How", false,
            "unique match, own beacon, picked, picked for all, suggested, or logged earlier "
            "(before the converter kept this record)"}},
          parent) {}

void LoggedReceptionModel::setRows(std::vector<LoggedReception> rows) {
    // In the list's first order (by ident, then as logged) straight away.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const LoggedReception& a, const LoggedReception& b) {
                         return trimmedView(a.ident) < trimmedView(b.ident);
                     });
    // The location's dates decide how those that fit either way are read.
    DateOrderDetector dates;
    for (const LoggedReception& r : rows) dates.add(r.date);
    const DateOrder order = dates.suggested();
    std::vector<QString> texts;
    texts.reserve(rows.size() * static_cast<std::size_t>(columns()));
    std::vector<long long> keys;
    keys.reserve(rows.size());
    for (const LoggedReception& r : rows) {
        for (const std::string* field : {&r.ident, &r.frequency, &r.time, &r.date, &r.comment}) {
            texts.push_back(fieldText(*field));
        }
        texts.push_back(utf8Text(r.call));
        texts.push_back(utf8Text(r.city));
        texts.push_back(utf8Text(r.country));
        texts.push_back(kmText(r.distanceKm));
        texts.push_back(utf8Text(r.how));
        keys.push_back(receptionSortKey(r.date, r.time, order));
    }
    beginResetModel();
    rows_.swap(rows);
    dateKeys_.swap(keys);
    takeTexts(std::move(texts));
    endResetModel();
}

SortKey LoggedReceptionModel::sortKey(int row, int column) const {
    const auto at = static_cast<std::size_t>(row);
    if (column == Date) {
        // Dates that do not read go last and compare among themselves as texts.
        SortKey key = dateKey(dateKeys_[at]);
        if (key.blank) key.text = &text(row, column);
        return key;
    }
    if (column == Distance) {
        const auto& km = rows_[at].distanceKm;
        return km ? numberKey(*km) : kBlank;
    }
    return textKey(row, column, false);
}

// ----------------------------------------------------------------------------

LoggedBeaconModel::LoggedBeaconModel(QObject* parent)
    : LoggedRowsModel({{"Call"},
                      {"Frequency"},
                      {"City"},
                      {"Province"},
                      {"Country"},
                      {"Distance", true, nullptr, true}},
                     parent) {}

void LoggedBeaconModel::setRows(std::vector<LoggedReception> beacons) {
    std::vector<QString> texts;
    texts.reserve(beacons.size() * static_cast<std::size_t>(columns()));
    for (const LoggedReception& r : beacons) {
        for (const std::string* text :
             {&r.call, &r.beaconFrequency, &r.city, &r.province, &r.country}) {
            texts.push_back(utf8Text(*text));
        }
        texts.push_back(kmText(r.distanceKm));
    }
    beginResetModel();
    rows_.swap(beacons);
    takeTexts(std::move(texts));
    endResetModel();
}

SortKey LoggedBeaconModel::sortKey(int row, int column) const {
    if (column == Distance) {
        const auto& km = rows_[static_cast<std::size_t>(row)].distanceKm;
        return km ? numberKey(*km) : kBlank;
    }
    return textKey(row, column, false);
}

// ----------------------------------------------------------------------------

MatchSummaryModel::MatchSummaryModel(QObject* parent)
    : ListTableModel({{"Location"},
                      {"Receptions", true},
                      {"Logged at once", true},
                      {"Of them own beacons", true},
                      {"Ambiguous", true},
                      {"Unresolved", true}},
                     parent) {}

void MatchSummaryModel::setResult(const MatchAllResult& result,
                                  const std::function<QString(int)>& locationName) {
    std::vector<QString> texts;
    const auto addLine = [&texts](const QString& name, const LocationMatchSummary& s) {
        texts.push_back(name);
        for (int n : {s.receptions, s.logged, s.ownBeacons, s.ambiguous, s.unresolved}) {
            texts.push_back(localNumber(n));
        }
    };
    for (const LocationMatchSummary& s : result.matched) {
        addLine(QStringLiteral("%1 (%2)").arg(locationName(s.location)).arg(s.location), s);
    }
    addLine(QStringLiteral("Total"), result.totals);
    beginResetModel();
    takeTexts(std::move(texts));
    endResetModel();
}

QVariant MatchSummaryModel::rowData(int row, int column, int role) const {
    // A long location name is cut short in its cell; the tooltip has it whole.
    if (role == Qt::ToolTipRole && column == 0) return text(row, 0);
    // The totals, the last line, in bold.
    if (role == Qt::FontRole && row == rowCount() - 1) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    return {};
}

// ----------------------------------------------------------------------------

ListSortProxy::ListSortProxy(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(SortKeyRole);
}

void ListSortProxy::setSourceModel(QAbstractItemModel* source) {
    table_ = qobject_cast<const ListTableModel*>(source);
    rankedColumn_ = -1;
    QSortFilterProxyModel::setSourceModel(source);
}

namespace {

// A sort key read through the role, for a source that is not one of ours.
SortKey keyOfRole(const QVariant& value, QString& text) {
    if (!value.isValid()) return kBlank;
    switch (value.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return SortKey{false, true, value.toDouble(), nullptr};
        default:
            text = value.toString();
            return SortKey{false, false, 0, &text};
    }
}

}  // namespace

namespace {

// Whether `a` comes before `b` in an ascending sort; blanks after the others.
bool ascending(const SortKey& a, const SortKey& b) {
    if (a.blank != b.blank) return b.blank;
    if (a.isNumber && b.isNumber) return a.number < b.number;
    if (a.text && b.text) return a.text->compare(*b.text, Qt::CaseSensitive) < 0;
    return false;
}

}  // namespace

const std::vector<int>& ListSortProxy::ranksOf(int column) const {
    const auto rows = static_cast<std::size_t>(table_->rowCount());
    if (column == rankedColumn_ && table_->generation() == rankedGeneration_ &&
        ranks_.size() == rows) {
        return ranks_;
    }
    std::vector<SortKey> keys(rows);
    std::vector<int> order(rows);
    for (std::size_t row = 0; row < rows; ++row) {
        keys[row] = table_->sortKey(static_cast<int>(row), column);
        order[row] = static_cast<int>(row);
    }
    const auto before = [&keys](int a, int b) {
        return ascending(keys[static_cast<std::size_t>(a)], keys[static_cast<std::size_t>(b)]);
    };
    std::stable_sort(order.begin(), order.end(), before);
    ranks_.assign(rows, 0);
    blanks_.assign(rows, 0);
    int rank = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        if (i > 0 && before(order[i - 1], order[i])) ++rank;
        const auto row = static_cast<std::size_t>(order[i]);
        ranks_[row] = rank;
        blanks_[row] = keys[row].blank;
    }
    rankedColumn_ = column;
    rankedGeneration_ = table_->generation();
    return ranks_;
}

bool ListSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    // The comparison runs reversed for a descending sort: a blank is "less"
    // there so that it ends up last all the same.
    const bool descending = sortOrder() == Qt::DescendingOrder;
    if (table_) {
        const std::vector<int>& ranks = ranksOf(left.column());
        const auto l = static_cast<std::size_t>(left.row());
        const auto r = static_cast<std::size_t>(right.row());
        if (blanks_[l] != blanks_[r]) return descending ? blanks_[l] != 0 : blanks_[r] != 0;
        return ranks[l] < ranks[r];
    }
    QString leftText, rightText;
    const SortKey a = keyOfRole(left.data(SortKeyRole), leftText);
    const SortKey b = keyOfRole(right.data(SortKeyRole), rightText);
    if (a.blank != b.blank) return descending ? a.blank : b.blank;
    return ascending(a, b);
}

// ----------------------------------------------------------------------------

namespace {

ListSortProxy* putBehind(QTreeView* view, ListTableModel* model) {
    auto* proxy = new ListSortProxy(view);
    proxy->setSourceModel(model);
    view->setModel(proxy);
    // Every row is one line: the view need not measure tens of thousands.
    view->setUniformRowHeights(true);
    return proxy;
}

void setWidths(QTreeView* view, const QFontMetrics& metrics, std::initializer_list<int> blanks) {
    int column = 0;
    for (int width : blanks) {
        view->setColumnWidth(column++, metrics.horizontalAdvance(QString(width, QLatin1Char(' '))));
    }
}

// A header click sorts by that column; the header has already turned its
// indicator, so a new column starts in its first order and the same one
// again reverses.
void sortOnClick(QTreeView* view, ListSortProxy* proxy) {
    QHeaderView* header = view->header();
    header->setSectionsClickable(true);
    QObject::connect(header, &QHeaderView::sectionClicked, proxy, [header, proxy](int column) {
        header->setSortIndicatorShown(true);
        proxy->sort(column, header->sortIndicatorOrder());
    });
}

}  // namespace

ListSortProxy* setupWaitingView(QTreeView* view, WaitingReceptionModel* model,
                                const QFontMetrics& metrics) {
    ListSortProxy* proxy = putBehind(view, model);
    setWidths(view, metrics, {23, 24, 24, 24, 67});
    view->setSortingEnabled(true);
    view->sortByColumn(WaitingReceptionModel::Ident, Qt::AscendingOrder);
    // Every fill shows the list by ident again, as it first came.
    QObject::connect(model, &QAbstractItemModel::modelReset, view, [view] {
        view->sortByColumn(WaitingReceptionModel::Ident, Qt::AscendingOrder);
    });
    return proxy;
}

ListSortProxy* setupCandidateView(QTreeView* view, CandidateModel* model,
                                  const QFontMetrics& metrics) {
    ListSortProxy* proxy = putBehind(view, model);
    if (model->kind() == CandidateModel::Kind::Possible) {
        setWidths(view, metrics, {14, 19, 37, 14, 36, 20, 16});
    } else {
        setWidths(view, metrics, {59, 32, 32, 20});
    }
    // Country is as wide as its longest name, and the city, the longest
    // text, takes the room left: it is not the number columns that stretch.
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(model->countryColumn(), QHeaderView::ResizeToContents);
    header->setSectionResizeMode(model->cityColumn(), QHeaderView::Stretch);
    sortOnClick(view, proxy);
    return proxy;
}

ListSortProxy* setupLoggedView(QTreeView* view, LoggedReceptionModel* model) {
    ListSortProxy* proxy = putBehind(view, model);
    // Widths in characters, fixed: measuring every row of a large location
    // would cost more than filling the list.
    const QFontMetrics metrics(view->font());
    const int widths[] = {6, 5, 5, 8, 12, 7, 10, 7, 8, 10};
    for (int c = 0; c < model->columnCount(); ++c) {
        view->setColumnWidth(
            c, metrics.horizontalAdvance(QString(widths[c], QLatin1Char('M'))) * 3 / 4);
    }
    // Sorted on a header click, not by the view itself: the proxy keeps the
    // order through every fill.
    view->header()->setSortIndicatorShown(true);
    view->header()->setSortIndicator(LoggedReceptionModel::Ident, Qt::AscendingOrder);
    proxy->sort(LoggedReceptionModel::Ident, Qt::AscendingOrder);
    sortOnClick(view, proxy);
    return proxy;
}

ListSortProxy* setupLoggedBeaconView(QTreeView* view, LoggedBeaconModel* model) {
    ListSortProxy* proxy = putBehind(view, model);
    view->header()->setSortIndicatorShown(true);
    view->header()->setSortIndicator(LoggedBeaconModel::Call, Qt::AscendingOrder);
    sortOnClick(view, proxy);
    return proxy;
}

void setupMatchSummaryView(QTreeView* view, MatchSummaryModel* model) {
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The numbers as wide as they need; a location's name at most a third
    // of the table, so that a long one cannot push the numbers away.
    view->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    view->resizeColumnToContents(0);
    view->setColumnWidth(
        0, std::min(view->columnWidth(0), view->fontMetrics().averageCharWidth() * 32));
}

ListedReception listedReceptionAt(const QModelIndex& index) {
    return index.data(FieldsRole).value<ListedReception>();
}

LoggedReception loggedReceptionAt(const QModelIndex& index) {
    return index.data(FieldsRole).value<LoggedReception>();
}

std::int64_t beaconIdAt(const QModelIndex& index) { return index.data(BeaconIdRole).toLongLong(); }

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/DecisionRecord.h"
#include "engine/MatchAll.h"
#include "engine/StepTwoLists.h"
#include "engine/SuggestedPicks.h"
#include "work/LocationStates.h"

class QFontMetrics;
class QTreeView;

// The models behind the lists of step two, the logged view and the Match All
// summary. A cell shows its text without the fields' padding blanks; what the
// window acts on (the beacon, the record's position, the raw fields) comes
// from the roles below and is never read back from a shown text.
namespace zolt {

enum ListRole : int {
    BeaconIdRole = Qt::UserRole + 100,  // qint64: the beacon the row stands for
    PositionRole,                       // int: the reception's 1-based position in processed.dat
    FieldsRole,     // the row as filled: ListedReception, RankedCandidate or LoggedReception
    SortKeyRole,    // what ListSortProxy compares: a number, a text, or none (sorts last)
    SuggestedRole,  // bool: the suggested pick among the candidates
    PlaceRole,      // QString: what the selection line says of a chosen candidate
};

// What one cell sorts by. A blank key sorts after every other one whichever
// way the list is sorted; blanks among themselves compare by `text` when
// they have one and otherwise keep their order.
struct SortKey {
    bool blank = false;
    bool isNumber = false;
    double number = 0;
    const QString* text = nullptr;
};

// The part every list model shares: texts made once when filled (a sort reads
// each of them many times), headers, alignment, and the sort keys.
class ListTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    struct Column {
        const char* header;         // UTF-8
        bool numeric = false;       // its cells right-aligned
        const char* tip = nullptr;  // the header's tooltip
        bool rightHeader = false;   // the header right-aligned too
    };

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    virtual SortKey sortKey(int row, int column) const;
    // The shown (trimmed) text of a cell.
    const QString& text(int row, int column) const;
    // Counts the fills: what was worked out from the rows holds while it stays.
    std::uint64_t generation() const { return generation_; }

  protected:
    ListTableModel(std::vector<Column> columns, QObject* parent);

    // The data of a role other than the display, alignment and sort key.
    virtual QVariant rowData(int row, int column, int role) const = 0;
    // Whether the header offers ascending first on a click of a new column.
    virtual bool ascendingFirst() const { return false; }

    // Replaces every text at once; the caller resets the model around it.
    void takeTexts(std::vector<QString>&& texts);
    int columns() const { return static_cast<int>(columns_.size()); }
    SortKey textKey(int row, int column, bool blankLast) const;

  private:
    std::vector<Column> columns_;
    std::vector<QString> texts_;  // row by row, columns() per row
    int rows_ = 0;
    std::uint64_t generation_ = 0;
};

// The waiting receptions (ambiguous or unresolved) of the upper list.
class WaitingReceptionModel : public ListTableModel {
    Q_OBJECT
  public:
    enum Column { Ident, Freq, Time, Date, Comment };
    explicit WaitingReceptionModel(QObject* parent = nullptr);

    // The rows anew. `loaded`: the location's receptions when they are
    // loaded, whose dates decide how those that fit either way are read.
    void setRows(std::vector<ListedReception> rows, const WorkingSet* loaded = nullptr);
    const ListedReception& at(int row) const { return rows_.at(static_cast<std::size_t>(row)); }

    SortKey sortKey(int row, int column) const override;

  protected:
    QVariant rowData(int row, int column, int role) const override;

  private:
    std::vector<ListedReception> rows_;
    std::vector<long long> dateKeys_;  // receptionSortKey, -1 when the date does not read
};

// The candidates of one reception: the exact list (same ident and frequency)
// or the possible one (a longer ident, any frequency, with the offset).
class CandidateModel : public ListTableModel {
    Q_OBJECT
  public:
    enum class Kind { Exact, Possible };
    // Columns of the exact list, then of the possible one.
    enum ExactColumn { ExactCity, ExactProvince, ExactCountry, ExactDistance };
    enum PossibleColumn {
        PossibleCall,
        PossibleFrequency,
        PossibleCity,
        PossibleProvince,
        PossibleCountry,
        PossibleDistance,
        PossibleOffset
    };
    explicit CandidateModel(Kind kind, QObject* parent = nullptr);

    Kind kind() const { return kind_; }
    // The ranked rows anew, in the look-up's order, the suggested pick marked.
    void setRanked(RankedCandidates ranked);
    const RankedCandidates& ranked() const { return ranked_; }
    // The source row of the suggested pick; -1 when there is none.
    int suggestedRow() const;
    int distanceColumn() const {
        return kind_ == Kind::Possible ? int{PossibleDistance} : int{ExactDistance};
    }
    int countryColumn() const {
        return kind_ == Kind::Possible ? int{PossibleCountry} : int{ExactCountry};
    }
    int cityColumn() const { return kind_ == Kind::Possible ? int{PossibleCity} : int{ExactCity}; }

    SortKey sortKey(int row, int column) const override;

  protected:
    QVariant rowData(int row, int column, int role) const override;
    bool ascendingFirst() const override { return true; }

  private:
    Kind kind_;
    RankedCandidates ranked_;
    std::vector<QString> places_;  // the selection line's text of each row
};

// The rows of the two logged lists: each a logged reception, saying beyond
// its texts where it lies, its whole record and the beacon it was logged as.
class LoggedRowsModel : public ListTableModel {
    Q_OBJECT
  public:
    const LoggedReception& at(int row) const { return rows_.at(static_cast<std::size_t>(row)); }

  protected:
    using ListTableModel::ListTableModel;
    QVariant rowData(int row, int column, int role) const override;

    std::vector<LoggedReception> rows_;
};

// Every settled reception of a location with the beacon it was logged as.
class LoggedReceptionModel : public LoggedRowsModel {
    Q_OBJECT
  public:
    enum Column { Ident, Freq, Time, Date, Comment, Beacon, City, Country, Distance, How };
    explicit LoggedReceptionModel(QObject* parent = nullptr);

    // The rows anew, in the list's first order: by ident, then as read.
    void setRows(std::vector<LoggedReception> rows);
    SortKey sortKey(int row, int column) const override;

  private:
    std::vector<long long> dateKeys_;
};

// The beacons the selected logged receptions were logged as, one row each,
// in the order given (the current row's first).
class LoggedBeaconModel : public LoggedRowsModel {
    Q_OBJECT
  public:
    enum Column { Call, Frequency, City, Province, Country, Distance };
    explicit LoggedBeaconModel(QObject* parent = nullptr);

    void setRows(std::vector<LoggedReception> beacons);
    SortKey sortKey(int row, int column) const override;
};

// The receptions matched per location by Match All Locations, and their total.
class MatchSummaryModel : public ListTableModel {
    Q_OBJECT
  public:
    explicit MatchSummaryModel(QObject* parent = nullptr);

    // One row per matched location, named by `locationName`, then the totals.
    void setResult(const MatchAllResult& result, const std::function<QString(int)>& locationName);

  protected:
    QVariant rowData(int row, int column, int role) const override;
};

// Sorts the lists by their sort keys: numbers by value, the old log's dates
// by the day they name, texts as texts, and a cell without a value after the
// others in either order. The order holds when the source is filled anew.
class ListSortProxy : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    explicit ListSortProxy(QObject* parent = nullptr);
    void setSourceModel(QAbstractItemModel* source) override;

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

  private:
    // Each row's place among the others by `column`, ascending, equal keys
    // sharing one; kept until the column or the rows change, so that the
    // sort compares numbers rather than texts.
    const std::vector<int>& ranksOf(int column) const;

    const ListTableModel* table_ = nullptr;  // the source when it is one of ours
    mutable std::vector<int> ranks_;
    mutable std::vector<char> blanks_;  // whose key is blank, by row
    mutable int rankedColumn_ = -1;
    mutable std::uint64_t rankedGeneration_ = 0;
};

// The views. Each puts `model` behind `view` through a ListSortProxy owned by
// the view, sets up its header and widths, and returns the proxy (the view's
// model: map its indexes with mapToSource for the model's own accessors).

// Sorted by ident at once and again after every fill; a header click sorts.
// Widths are that many blanks of `metrics`.
ListSortProxy* setupWaitingView(QTreeView* view, WaitingReceptionModel* model,
                                const QFontMetrics& metrics);
// In the look-up's order until the user clicks a header; that sort then holds
// across fills. A new column starts ascending (nearest first). Country is as
// wide as its longest name and the city takes the room left.
ListSortProxy* setupCandidateView(QTreeView* view, CandidateModel* model,
                                  const QFontMetrics& metrics);
// Sorted by ident at first, then as the header says; fixed widths in
// characters of the view's font.
ListSortProxy* setupLoggedView(QTreeView* view, LoggedReceptionModel* model);
// In the given order until the user clicks a header.
ListSortProxy* setupLoggedBeaconView(QTreeView* view, LoggedBeaconModel* model);
// Not sorted; every column as wide as its contents.
void setupMatchSummaryView(QTreeView* view, MatchSummaryModel* model);

// The row of an index of any of the models above, through any proxies.
ListedReception listedReceptionAt(const QModelIndex& index);
LoggedReception loggedReceptionAt(const QModelIndex& index);
std::int64_t beaconIdAt(const QModelIndex& index);

}  // namespace zolt

Q_DECLARE_METATYPE(zolt::ListedReception)
Q_DECLARE_METATYPE(zolt::RankedCandidate)
Q_DECLARE_METATYPE(zolt::LoggedReception)

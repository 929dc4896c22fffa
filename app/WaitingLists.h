// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <vector>

#include "engine/StepTwoLists.h"
#include "engine/SuggestedPicks.h"
#include "work/LocationStates.h"

class QFontMetrics;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace zolt {

// The lists of step two: the waiting receptions above (ambiguous or
// unresolved) and, below, the candidates of the one selected, exact or
// possible. Their columns, their rows, sorting numbers by value and dates by
// the day they name, the suggested pick in bold, F2 to reach it and Enter to
// log it. What a choice means to the project stays with the window.
class WaitingLists : public QObject {
    Q_OBJECT
  public:
    struct Widgets {
        QTreeWidget* stations;  // step one's station list
        QTreeWidget* upper;     // the waiting receptions
        QTreeWidget* exact;     // candidates of the same ident and frequency
        QTreeWidget* possible;  // candidates of a longer ident, any frequency
        QWidget* stepTwo;       // where F2 reaches the suggestion
        QPushButton* addToLog;  // what Enter on a chosen candidate presses
    };
    WaitingLists(const Widgets& widgets, QObject* parent);

    // Headings and widths; a width is that many blanks of `metrics`.
    void setupColumns(const QFontMetrics& metrics);
    // The upper list anew, sorted by ident. `loaded`: the location's
    // receptions when they are loaded, whose dates decide how those that fit
    // either way are read.
    void fillUpper(const std::vector<ListedReception>& rows, const WorkingSet* loaded);
    // A listed reception's fields exactly as the working file holds them.
    static ListedReception fieldsOf(const QTreeWidgetItem* row);
    // The candidates into the exact list, or into the possible one with their
    // frequency offsets; a sort the user chose by a header click holds.
    void showCandidates(const RankedCandidates& ranked, bool possible);
    // What the selection line says of a chosen candidate.
    static QString placeOf(const QTreeWidgetItem* row);
    // The beacon a chosen candidate of `list` stands for.
    int beaconIdOf(const QTreeWidget* list, const QTreeWidgetItem* row) const;
    // Takes the keyboard to the suggested candidate; a beep without one.
    void selectSuggested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    Widgets w_;
};

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <optional>
#include <vector>

#include "core/Geo.h"
#include "engine/DecisionRecord.h"
#include "engine/Reversal.h"
#include "engine/SuggestedPicks.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace zolt {

// The third view of step two: every settled reception of the location with
// the beacon it was logged against and how that was decided, and the two
// ways back, Return To Waiting and Undo Last Action. It brings its own
// controls and places them beside the step-two lists it is given; the
// window keeps the actions themselves (confirmation, engine call, refill).
class LoggedView : public QObject {
    Q_OBJECT
  public:
    struct Anchors {
        QTreeWidget* upperList;      // the ambiguous/unresolved list it takes turns with
        QTreeWidget* lowerLists[2];  // the candidate lists it takes turns with
        QPushButton* showButton;     // its show button goes beside this
        QPushButton* actionButton;   // Undo and Return To Waiting go beside this
        QLabel* upperLabel;          // the captions whose buddies follow the view
        QLabel* lowerLabel;
    };
    LoggedView(const Anchors& anchors, QObject* parent);

    // Whether the logged view, rather than a waiting list, is on screen.
    bool active() const { return active_; }
    // Shows the view in place of the waiting list and its candidates.
    void enter();
    // Gives the place back to the waiting list (its own lists are hidden).
    void leave();
    // The rows, read anew for `location`; distances from `home`.
    void fill(const std::vector<LoggedReception>& rows);
    // "Show Logged Stations (N)"; the button is off when N is 0.
    void setCount(int settled);
    // The Undo button's state: what it would undo, or why it cannot.
    void setUndo(const std::optional<UndoOffer>& offer);
    // Positions (1-based) of the selected rows.
    std::vector<int> selectedPositions() const;

    QTreeWidget* list() const { return list_; }
    QTreeWidget* beaconList() const { return beacon_; }
    QPushButton* showButton() const { return show_; }
    QPushButton* returnButton() const { return return_; }
    QPushButton* undoButton() const { return undo_; }

  signals:
    void showRequested();
    void returnRequested();
    void undoRequested();
    // The logged beacons of the selection, the current row's first, for the map.
    void beaconsChosen(const RankedCandidates& beacons);

  private:
    void selectionChanged();

    Anchors anchors_;
    QTreeWidget* list_ = nullptr;
    QTreeWidget* beacon_ = nullptr;
    QPushButton* show_ = nullptr;
    QPushButton* return_ = nullptr;
    QPushButton* undo_ = nullptr;
    std::vector<LoggedReception> rows_;
    QString lowerCaption_;  // the candidate lists' caption, while the view borrows it
    bool active_ = false;
};

// The prompts of the two destructive commands, with the counts they name.
QString returnPrompt(int receptions);
QString undoPrompt(const UndoOffer& offer);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QFrame>
#include <filesystem>
#include <memory>

#include "engine/AddToLog.h"

class QTreeView;

namespace Ui {
class ResolutionStep;
}

namespace zolt {

class CandidateModel;
class ListSortProxy;
class LocationSession;
class LoggedBeaconModel;
class LoggedReceptionModel;
class MapLink;
class WaitingReceptionModel;
struct RankedCandidates;

// Step two: the waiting receptions of the chosen location (ambiguous or
// unresolved), the candidates of the one selected, the logged view with its
// two ways back, and the actions that settle receptions. It shows what the
// session holds and follows its changes; what an action changes, the
// session does.
class ResolutionStep : public QFrame {
    Q_OBJECT
  public:
    enum class View { Ambiguous, Unresolved, Logged, Empty };

    // `documentsFolder`: where Save To File first offers to write.
    ResolutionStep(LocationSession& session, std::filesystem::path landOutline,
                   std::filesystem::path documentsFolder, QWidget* parent = nullptr);
    ~ResolutionStep() override;

    // The step as it is entered, for the location so named: on the list
    // that has receptions.
    void enter(const QString& locationName);
    // Leaving the step ends its map.
    void leave();
    View view() const { return view_; }
    // The reception and candidate chosen, as Add To Log would log them.
    const Selection& selection() const { return selection_; }

  signals:
    void anotherLocationRequested();
    // Start Over was done: the location is to be chosen anew.
    void locationReset();
    void exportRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void sessionChanged(unsigned changes);
    View openingView() const;
    // `refill` false keeps rows already filled for the view.
    void showView(View view, bool refill = true);
    void showCounts();
    void fillWaiting();
    void showCandidateList(bool possible);
    // Columns as wide as their texts; what is left goes to `roomColumn`.
    void fitColumns(QTreeView* list, int roomColumn);
    void clearCandidates();
    void resetSelection();
    void receptionSelected();
    void lookUpCandidates();
    void candidateSelected(QTreeView* list);
    void selectSuggested();
    void loggedSelectionChanged();
    // After an action changed what is logged: the map and the keyboard.
    void afterAction();

    void addToLog();
    void addSuggestedPicks();
    void returnToWaiting();
    void undoLastAction();
    void startOver();
    void saveToFile();
    void openMap();

    std::unique_ptr<Ui::ResolutionStep> ui;
    LocationSession& session_;
    MapLink* map_ = nullptr;
    WaitingReceptionModel* waiting_ = nullptr;
    CandidateModel* exact_ = nullptr;
    CandidateModel* possible_ = nullptr;
    LoggedReceptionModel* logged_ = nullptr;
    LoggedBeaconModel* loggedBeacons_ = nullptr;
    ListSortProxy* waitingOrder_ = nullptr;
    ListSortProxy* exactOrder_ = nullptr;
    ListSortProxy* possibleOrder_ = nullptr;
    ListSortProxy* loggedOrder_ = nullptr;
    View view_ = View::Ambiguous;
    bool filledUnresolved_ = false;  // the waiting list holds the unresolved rows
    QString locationName_;
    std::filesystem::path documentsFolder_;
    Selection selection_;
};

}  // namespace zolt

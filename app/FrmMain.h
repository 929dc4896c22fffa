// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QMessageBox>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "app/WorkingFileRepair.h"
#include "engine/AddToLog.h"
#include "engine/HomePosition.h"
#include "engine/StepTwoLists.h"
#include "engine/SuggestedPicks.h"
#include "app/LocationColour.h"
#include "work/LocationStates.h"

class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class frmMain;
}

namespace zolt {

class FolderBrowser;
class HomeBox;
class LoggedView;
class MapLink;
class MatchAllRun;
class WaitingLists;

// The converter's one window: the welcome panel and the three wizard steps.
// It turns engine results into captions, colours, rows and message boxes;
// the work itself is done by the engine.
class FrmMain : public QWidget {
    Q_OBJECT
  public:
    struct Options {
        std::filesystem::path documentsFolder;  // the user's Documents folder
        std::filesystem::path appDataFolder;    // holds the pristine ndbdata.ndf
        std::filesystem::path registryFile;     // empty: the default registry
    };

    explicit FrmMain(Options options, QWidget* parent = nullptr);
    ~FrmMain() override;

    // The start-up sequence; run once the window is on screen, so that a
    // message it shows has the window behind it.
    void startUp();

    // Screen procedures: each shows exactly one of the four panels.
    void ShowWelcomeScreen();
    void ShowFolderStep();
    void ShowLocationStep();
    void ShowResolutionStep();

    void ReadSettings();
    // Yes/No box, stop icon, No the default button.
    QMessageBox::StandardButton ConfirmAction(const QString& prompt, const QString& title);
    std::optional<int> SelectedLocation() const;
    void LoadLocationNames();
    // False (after one message) when the states could not be read; every
    // location button is then off.
    bool RefreshLocationButtons();
    void CheckPendingWork();
    bool CompactMainDatabase();
    // `unconverted`: receptions left waiting, which the completion text names.
    void Finalize(std::size_t unconverted = 0);
    // Read the lists and the home, then fill; false (after one message) when
    // a read failed, and nothing on screen changed.
    bool FillAmbiguousList();
    bool FillUnresolvedList();

    QRadioButton* locationButton(int index) const { return locationButtons_.at(static_cast<std::size_t>(index)); }
    LocationColour locationColour(int index) const;
    bool matchingInProgress() const { return matching_; }
    const ProjectPaths& paths() const { return paths_; }
    // Where the selected location lies, as step two shows it.
    const LocationHome& home() const;
    FolderBrowser* folderBrowser() const { return folderBrowser_; }
    LoggedView* loggedView() const { return loggedView_; }

    // Module-wide state of the old design, kept under its names.
    bool SettingsLoaded = false;
    QString PromptText;
    WorkingSet work;
    Selection selection;
    bool ShowingUnresolved = false;
    bool ReportIsAmbiguous = false;
    int AmbiguousCount = 0;
    int UnresolvedCount = 0;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void cmdStartNew_Click();
    void cmdContinueWithExisting_Click();
    void cmdSelectFolder_Click();
    void cmdDuplicates_Click();
    void cmdFinalize_Click();
    void cmdAddToLog_Click();
    void cmdAddSuggested_Click();
    void cmdShowSuspect_Click();
    void cmdShowMissing_Click();
    void cmdSaveToFile_Click();
    void cmdProcessAnotherLog_Click();
    void cmdStartOver_Click();
    void optLog_Toggled(int index, bool checked);
    // Lists the candidates of the selected reception; `known` spares a look-up
    // already made.
    void loggedRowSelected(const RankedCandidates* known = nullptr);
    RankedCandidates lookUpCandidates(const QTreeWidgetItem* row,
                                      const std::optional<LatLon>& home) const;
    void candidateSelected(QTreeWidget* list);
    // What a new home changes on screen, read before it is stored; empty
    // (after a message) when that read failed.
    std::function<void()> followHome(const LocationHome& next);

    void showOnlyPanel(QWidget* panel);
    void setLocationColour(int index, LocationColour colour);
    void clearLocationSelection();
    // The lists and the home, read before anything on screen changes.
    bool readStepTwo(StepTwoLists& lists);
    void abandonLocation(int k);
    // `withRows` false sets the count, caption and buttons only, for a fill
    // whose rows another list replaces at once.
    void fillUnresolvedFrom(const StepTwoLists& lists, bool withRows = true);
    void fillAmbiguousFrom(const StepTwoLists& lists);
    // The upper list refilled with `rows`, nothing below it chosen; `show`
    // says how many and, with Save To File, is offered when `offered`.
    void refillUpperList(const std::vector<ListedReception>& rows, QPushButton* show,
                         const QString& showText, bool offered, bool ambiguous);
    // The view switch to the unresolved or ambiguous list; `lists` already
    // read spares a second read.
    // `ambiguousShown`: the upper list already holds `lists`' ambiguous rows.
    bool showWaitingView(bool unresolved, const StepTwoLists* lists, bool ambiguousShown = false);
    enum class UpperView { Ambiguous, Unresolved, Logged, Empty };
    // The caption over the upper list and the buttons that go with the view.
    void showUpperCaption(UpperView view);
    // After rows were logged: the lists and counts read afresh, the current
    // view kept.
    void refillAfterLogging();
    void fillUpperList(const std::vector<ListedReception>& rows);
    void showLowerList(bool possible);
    void clearLowerLists();
    void resetSelection();
    // The map of the selected location (app/MapLink.h).
    void cmdMap_Click();
    // Export Log on steps one and two, added beside buttons of the form.
    void addExportButtons();
    void cmdExportLog_Click();
    // The logged view of step two and the two ways back (app/LoggedView.h).
    void showLoggedView();
    void cmdReturnToWaiting_Click();
    void cmdUndoLastAction_Click();
    void updateLoggedControls();
    // ConfirmAction titled "Confirm", for the classes that ask through the
    // window: true unless the answer was No.
    bool confirmed(const QString& prompt);
    void showError(const QString& text);
    // Runs `action`; an engine failure shows one message box and returns false.
    bool guarded(const std::function<void()>& action);
    // The same for a reset: a failed compaction after the reset was stored
    // is shown, and the action goes on to show the new state.
    bool resetGuarded(const std::function<void()>& reset);
    // The same for an action that logs rows: when another window settled
    // its receptions meanwhile, the working set and lists are reloaded.
    bool loggingGuarded(const std::function<void()>& action);
    // Checks processed.dat; a damaged one is offered a rebuild from the
    // backups. `waiting` receives the receptions still waiting.
    WorkingFileStatus ensureSoundWorkingFile(std::size_t* waiting = nullptr);
    // Locks (and afterwards unlocks) what would change the working set while
    // Match All Locations runs; after it step one shows the new colours.
    void setMatchAllBusy(bool busy);
    // Another window changed the working file meanwhile: the location
    // buttons, and the location chosen, show it as it now stands.
    void showAsStored();

    std::unique_ptr<Ui::frmMain> ui;
    std::array<QRadioButton*, 17> locationButtons_{};  // 1 … 16; 0 unused
    std::array<LocationColour, 17> colours_{};
    Options options_;
    ProjectPaths paths_;
    FolderBrowser* folderBrowser_ = nullptr;
    bool databaseReady_ = false;
    bool matching_ = false;
    bool cancelRequested_ = false;
    bool closeAfterRun_ = false;
    HomeBox* homeBox_ = nullptr;
    MapLink* map_ = nullptr;
    WaitingLists* lists_ = nullptr;
    LoggedView* loggedView_ = nullptr;
    std::array<QString, 17> locationNames_;  // as the registry holds them; 0 unused
    MatchAllRun* matchAll_ = nullptr;
    QString allDoneText_;            // allDoneLabel as designed
    QPushButton* exportWelcome_ = nullptr;  // Export Log… of the welcome panel
    bool settledElsewhere_ = false;  // the last logging action met another window's work
};

}  // namespace zolt

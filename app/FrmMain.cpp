// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FrmMain.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <algorithm>

#include "app/ExportDialog.h"
#include "app/FrmFileSave.h"
#include "app/Guarded.h"
#include "app/HomeBox.h"
#include "app/LoggedView.h"
#include "app/MapLink.h"
#include "app/MatchAllRun.h"
#include "app/NativePath.h"
#include "app/Placement.h"
#include "app/ShownNumbers.h"
#include "app/StepZeroLists.h"
#include "app/WaitingLists.h"
#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/TextFields.h"
#include "db/BeaconDatabaseCheck.h"
#include "engine/AddToLog.h"
#include "engine/CandidateLookup.h"
#include "engine/DecisionRecord.h"
#include "engine/LocationMap.h"
#include "engine/LocationNames.h"
#include "engine/MatchingRun.h"
#include "engine/Project.h"
#include "engine/Reversal.h"
#include "engine/SuggestedPicks.h"
#include "work/WorkingFileCheck.h"
#include "ui_frmMain.h"

namespace fs = std::filesystem;

namespace zolt {

namespace {

QColor colourValue(LocationColour colour) {
    return colour == LocationColour::Yellow ? QColor(255, 255, 0) : QColor(255, 128, 128);
}

// A screen reader announces the converter as a window, not as a filler.
QAccessibleInterface* windowAccessible(const QString& key, QObject* object) {
    if (key == QLatin1String("zolt::FrmMain") && object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    }
    return nullptr;
}

}  // namespace

FrmMain::FrmMain(Options options, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmMain>()), options_(std::move(options)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(windowAccessible);
        return true;
    }();
    (void)factoryInstalled;
    ui->setupUi(this);
    paths_ = projectPathsFor(options_.documentsFolder);

    QRadioButton* const buttons[] = {ui->locationButton1,  ui->locationButton2,  ui->locationButton3,  ui->locationButton4,
                                     ui->locationButton5,  ui->locationButton6,  ui->locationButton7,  ui->locationButton8,
                                     ui->locationButton9,  ui->locationButton10, ui->locationButton11, ui->locationButton12,
                                     ui->locationButton13, ui->locationButton14, ui->locationButton15, ui->locationButton16};
    for (int k = 1; k <= kLocationCount; ++k) {
        locationButtons_[static_cast<std::size_t>(k)] = buttons[k - 1];
        // Toggled, not clicked: the keyboard and assistive technology choose
        // a location the same way a mouse does.
        connect(buttons[k - 1], &QRadioButton::toggled, this,
                [this, k](bool checked) { optLog_Toggled(k, checked); });
    }

    folderBrowser_ = new FolderBrowser(ui->driveList, ui->folderList, ui->fileList, {}, this);

    // Keyboard use: Enter presses the focused button as Space does, and a
    // location button tells a screen reader which location it stands for.
    for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(true);
    for (int k = 1; k <= kLocationCount; ++k) setLocationColour(k, LocationColour::ButtonFace);

    connect(ui->startNewButton, &QPushButton::clicked, this, &FrmMain::cmdStartNew_Click);
    connect(ui->continueButton, &QPushButton::clicked, this,
            &FrmMain::cmdContinueWithExisting_Click);
    connect(ui->welcomeExitButton, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->exitButton, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->startConversionButton, &QPushButton::clicked, this, &FrmMain::cmdSelectFolder_Click);
    connect(ui->startMatchingButton, &QPushButton::clicked, this, &FrmMain::cmdDuplicates_Click);
    connect(ui->finalizeButton, &QPushButton::clicked, this, &FrmMain::cmdFinalize_Click);
    connect(ui->addToLogButton, &QPushButton::clicked, this, &FrmMain::cmdAddToLog_Click);
    connect(ui->showAmbiguousButton, &QPushButton::clicked, this, &FrmMain::cmdShowSuspect_Click);
    connect(ui->showUnresolvedButton, &QPushButton::clicked, this, &FrmMain::cmdShowMissing_Click);
    connect(ui->saveToFileButton, &QPushButton::clicked, this, &FrmMain::cmdSaveToFile_Click);
    connect(ui->anotherLocationButton, &QPushButton::clicked, this,
            &FrmMain::cmdProcessAnotherLog_Click);
    connect(ui->startOverButton, &QPushButton::clicked, this, &FrmMain::cmdStartOver_Click);
    addExportButtons();
    connect(ui->waitingList, &QTreeWidget::itemSelectionChanged, this,
            [this] { loggedRowSelected(); });
    connect(ui->exactCandidateList, &QTreeWidget::itemSelectionChanged, this,
            [this] { candidateSelected(ui->exactCandidateList); });
    connect(ui->prefixCandidateList, &QTreeWidget::itemSelectionChanged, this,
            [this] { candidateSelected(ui->prefixCandidateList); });
    connect(ui->addSuggestedButton, &QPushButton::clicked, this, &FrmMain::cmdAddSuggested_Click);
    homeBox_ = new HomeBox(ui->homeLabel, ui->homeEntry, ui->setHomeButton, paths_,
                           {[this] { return SelectedLocation(); }, [this] { return matching_; },
                            [this](const QString& prompt) { return confirmed(prompt); },
                            [this](const LocationHome& next) { return followHome(next); }},
                           this);
    map_ = new MapLink(paths_, options_.appDataFolder / kLandOutlineFile, this);
    connect(ui->mapButton, &QPushButton::clicked, this, &FrmMain::cmdMap_Click);
    matchAll_ =
        new MatchAllRun(ui->startMatchingButton, ui->matchProgress,
                        {[this] { return paths_; },
                         [this](int k) { return locationNames_[static_cast<std::size_t>(k)]; },
                         [this](const QString& prompt) { return confirmed(prompt); },
                         [this](const QString& text) { showError(text); },
                         [this](bool busy) { setMatchAllBusy(busy); },
                         [this] { return cancelRequested_; }, [this] { showAsStored(); }},
                        this);

    lists_ = new WaitingLists({ui->lvDuplicates, ui->waitingList, ui->exactCandidateList,
                               ui->prefixCandidateList, ui->resolutionStep, ui->addToLogButton},
                              this);
    // Nothing moves when a selection changes: the warning beside Apply To
    // All keeps its room while hidden, the selection line its height while
    // empty.
    QSizePolicy keepRoom = ui->applyToAllWarning->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    ui->applyToAllWarning->setSizePolicy(keepRoom);
    for (QLabel* line : {ui->selectedStationLabel, ui->selectedPlaceLabel}) {
        line->setMinimumHeight(line->fontMetrics().height());
    }
    // Fields come padded with blanks: an ellipsis would trail every short
    // comment that the wider list no longer hides behind its scroll bar.
    ui->waitingList->setTextElideMode(Qt::ElideNone);

    loggedView_ = new LoggedView({ui->waitingList,
                                  {ui->exactCandidateList, ui->prefixCandidateList},
                                  ui->showUnresolvedButton,
                                  ui->addSuggestedButton,
                                  ui->loggedCaption,
                                  ui->candidateCaption},
                                 this);
    connect(loggedView_, &LoggedView::showRequested, this, &FrmMain::showLoggedView);
    connect(loggedView_, &LoggedView::returnRequested, this, &FrmMain::cmdReturnToWaiting_Click);
    connect(loggedView_, &LoggedView::undoRequested, this, &FrmMain::cmdUndoLastAction_Click);
    connect(loggedView_, &LoggedView::beaconsChosen, map_, &MapLink::showCandidates);

    // Until start-up has run, only the welcome panel with its buttons exists.
    ui->allDoneLabel->hide();
    allDoneText_ = ui->allDoneLabel->text();
    showOnlyPanel(ui->welcomePanel);
}

FrmMain::~FrmMain() = default;

void FrmMain::startUp() {
    // Steps 1 to 3: the working folder and its database. Without a database
    // nothing later may run, so the project buttons stay off.
    databaseReady_ = guarded([this] {
        prepareWorkFolder(paths_, options_.appDataFolder);
        requireBeaconDatabase(paths_.DatabasePath);
    });
    lists_->setupColumns(QFontMetrics(font()));
    ShowWelcomeScreen();
    ui->continueButton->setEnabled(false);
    if (!databaseReady_) {
        ui->startNewButton->setEnabled(false);
        return;
    }
    ReadSettings();
    if (SettingsLoaded) ui->continueButton->setEnabled(true);
    folderBrowser_->setFilePatterns({QStringLiteral("ndb.bak"), QStringLiteral("log*.bak")});
    ui->addToLogButton->setEnabled(false);
    ui->applyToAllCheck->setEnabled(false);
    ui->applyToAllWarning->hide();
    ui->showAmbiguousButton->setEnabled(false);
    ui->showUnresolvedButton->setEnabled(false);
    CheckPendingWork();
}

// ---- screens -------------------------------------------------------------

void FrmMain::showOnlyPanel(QWidget* panel) {
    for (QWidget* each : {ui->welcomePanel, ui->folderStep, ui->locationStep, ui->resolutionStep}) {
        each->setVisible(each == panel);
    }
    // A map belongs to the location on step two; leaving it ends the map.
    if (panel != ui->resolutionStep) map_->close();
}

void FrmMain::ShowWelcomeScreen() {
    showOnlyPanel(ui->welcomePanel);
    // The log can be exported whenever it holds receptions: also once every
    // log is converted and after FINALIZE, when no step but this one is left.
    bool logged = false;
    if (databaseReady_) {
        try {
            logged = loggedReceptionCount(paths_) > 0;
        } catch (const std::exception&) {
            logged = false;  // the export itself would name what is wrong
        }
    }
    exportWelcome_->setVisible(logged);
    ui->startNewButton->setFocus();
}

void FrmMain::ShowFolderStep() {
    showOnlyPanel(ui->folderStep);
    ui->folderList->setFocus();
}

void FrmMain::ShowLocationStep() {
    showOnlyPanel(ui->locationStep);
    homeBox_->forgetEntry();
    ui->startMatchingButton->setEnabled(false);
    RefreshLocationButtons();
    LoadLocationNames();
    // Focus on the first location that can be chosen, so that the new step
    // is where the keyboard and a screen reader are.
    QWidget* first = ui->finalizeButton;
    for (int k = kLocationCount; k >= 1; --k) {
        if (locationButton(k)->isEnabled()) first = locationButton(k);
    }
    first->setFocus();
}

void FrmMain::ShowResolutionStep() {
    showOnlyPanel(ui->resolutionStep);
    loggedView_->leave();
    ui->selectedPlaceLabel->setText(QString());
    ui->selectedStationLabel->setText(QString());
    // The caption names the list the step opens on, whatever view was left.
    showUpperCaption(UpperView::Ambiguous);
    ui->waitingList->setFocus();
}

void FrmMain::showUpperCaption(UpperView view) {
    static const char* const captions[] = {"Ambiguous Stations", "Unresolved Stations",
                                           "Logged Stations", "No stations to process"};
    ui->listCaption->setText(QString::fromLatin1(captions[static_cast<int>(view)]));
    ui->ambiguousHelp->setVisible(view == UpperView::Ambiguous);
    ui->unresolvedHelp->setVisible(view == UpperView::Unresolved);
}

// ---- shared helpers ------------------------------------------------------

void FrmMain::ReadSettings() {
    SettingsLoaded = false;
    std::optional<fs::path> folder;
    if (!guarded([&] { folder = readSettings(paths_); })) return;
    if (folder) {
        paths_.BackupFolder = *folder;
        SettingsLoaded = true;
    }
}

QMessageBox::StandardButton FrmMain::ConfirmAction(const QString& prompt, const QString& title) {
    PromptText = prompt;
    QMessageBox box(QMessageBox::Critical, title, prompt, QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool FrmMain::confirmed(const QString& prompt) {
    return ConfirmAction(prompt, QStringLiteral("Confirm")) != QMessageBox::No;
}

std::optional<int> FrmMain::SelectedLocation() const {
    std::optional<int> selected;
    for (int k = 1; k <= kLocationCount; ++k) {
        if (locationButton(k)->isChecked()) selected = k;
    }
    return selected;
}

void FrmMain::LoadLocationNames() {
    const auto names = zolt::LoadLocationNames(options_.registryFile);
    for (int k = 1; k <= kLocationCount; ++k) {
        // A name is shown as the listener typed it: an ampersand in it is a
        // character, not the mark of a shortcut key.
        QString name = QString::fromStdString(names[static_cast<std::size_t>(k - 1)]);
        locationButton(k)->setText(QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
        locationNames_[static_cast<std::size_t>(k)] = std::move(name);
    }
}

const LocationHome& FrmMain::home() const { return homeBox_->home(); }

LocationColour FrmMain::locationColour(int index) const {
    return colours_.at(static_cast<std::size_t>(index));
}

void FrmMain::setLocationColour(int index, LocationColour colour) {
    colours_[static_cast<std::size_t>(index)] = colour;
    QRadioButton* button = locationButton(index);
    // A style sheet, not the palette: styles paint a radio button's own
    // background from the sheet, while many ignore the palette's colour.
    button->setStyleSheet(colour == LocationColour::ButtonFace
                              ? QString()
                              : QStringLiteral("QRadioButton { background-color: %1; }")
                                    .arg(colourValue(colour).name()));
    button->setProperty("locationColour", static_cast<int>(colour));
    // The colour alone says nothing to a screen reader.
    static const char* const meaning[] = {"nothing left to convert", "in progress",
                                          "not matched yet"};
    button->setAccessibleDescription(QStringLiteral("Listening location %1, %2")
                                         .arg(index)
                                         .arg(QLatin1String(meaning[static_cast<int>(colour)])));
}

bool FrmMain::RefreshLocationButtons() {
    std::array<LocationState, kLocationCount> states{};
    if (!guarded([&] { states = scanLocationStates(paths_.ProcessedPath); })) {
        // States unknown: nothing can be opened until they are read again.
        for (int k = 1; k <= kLocationCount; ++k) locationButton(k)->setEnabled(false);
        return false;
    }
    for (int k = 1; k <= kLocationCount; ++k) {
        const auto& status = states[static_cast<std::size_t>(k - 1)];
        locationButton(k)->setEnabled(hasPendingWork(status) && !matching_);
        setLocationColour(k, colourOf(status));
    }
    matchAll_->setAvailable(std::any_of(states.begin(), states.end(), [](const auto& status) {
        return status == LocationState::NotMatched;
    }));
    return true;
}

void FrmMain::clearLocationSelection() {
    // An exclusive group cannot be emptied by unchecking one button.
    for (int k = 1; k <= kLocationCount; ++k) {
        QSignalBlocker block(locationButton(k));
        locationButton(k)->setAutoExclusive(false);
        locationButton(k)->setChecked(false);
        locationButton(k)->setAutoExclusive(true);
    }
}

void FrmMain::CheckPendingWork() {
    // A damaged, empty or missing working file is never a finished project
    // while the log holds receptions; declined, nothing is finalized.
    if (ensureSoundWorkingFile() == WorkingFileStatus::Refused) return;
    PendingWork result = PendingWork::NoProject;
    if (!guarded([&] {
            result = checkPendingWork(paths_.ProcessedPath, paths_.BackupFolder, SettingsLoaded);
        })) {
        return;
    }
    switch (result) {
        case PendingWork::NoProject:
        case PendingWork::NothingImported:
            // Nothing was ever converted: no completion text for that.
            break;
        case PendingWork::Rebuilt:
            RefreshLocationButtons();
            reportPartialRecords(this, paths_, LogSource::WorkLogs);
            break;
        case PendingWork::WorkLeft:
            ui->allDoneLabel->hide();
            break;
        case PendingWork::NothingLeft:
            ui->allDoneLabel->hide();
            Finalize();
            break;
    }
}

bool FrmMain::CompactMainDatabase() {
    return guarded([this] { compactProjectDatabase(paths_); });
}

void FrmMain::Finalize(std::size_t unconverted) {
    // The completion text is for a project that converted something.
    std::error_code ec;
    const auto size = std::filesystem::file_size(paths_.ProcessedPath, ec);
    const bool anyImported = !ec && size >= ProcessedRecord::kLength;
    if (!guarded([this] { dropDecisionRecord(paths_); })) return;
    if (!guarded([this] { removeWorkingFiles(paths_); })) return;
    SettingsLoaded = false;
    ui->allDoneLabel->setText(
        unconverted == 0
            ? allDoneText_
            : QStringLiteral("The conversion is finished, but %1 left unconverted. Run ZOLT 6.4 "
                             "and verify all your data is present. If all OK, this utility can "
                             "be uninstalled from your computer, otherwise hit START NEW "
                             "PROJECT to restart the conversion from scratch.")
                  .arg(counted(static_cast<int>(unconverted), "reception was", "receptions were")));
    ui->allDoneLabel->setVisible(anyImported);
    ui->continueButton->setEnabled(false);
    ShowWelcomeScreen();
}

void FrmMain::showError(const QString& text) { showFailure(this, text); }

bool FrmMain::guarded(const std::function<void()>& action) { return zolt::guarded(this, action); }

bool FrmMain::resetGuarded(const std::function<void()>& reset) {
    return zolt::resetGuarded(this, reset);
}

// ---- welcome panel and step zero -----------------------------------------

void FrmMain::cmdContinueWithExisting_Click() {
    if (ensureSoundWorkingFile() == WorkingFileStatus::Refused) return;
    // ShowLocationStep colours the buttons from the working file.
    ShowLocationStep();
}

void FrmMain::cmdStartNew_Click() {
    ReadSettings();
    if (ConfirmAction(QStringLiteral("This action will delete any of your previous work. Are you "
                                     "sure you want to continue ?"),
                      QStringLiteral("Confirm")) == QMessageBox::No) {
        return;
    }
    if (!resetGuarded([this] { startNewProject(paths_); })) return;
    SettingsLoaded = false;
    ui->continueButton->setEnabled(false);
    ui->allDoneLabel->hide();
    ShowFolderStep();
}

void FrmMain::cmdSelectFolder_Click() {
    const std::string folder =
        backupFolderText(pathToUtf8(pathFromQString(folderBrowser_->currentPath())));
    const std::filesystem::path folderPath = pathFromUtf8(folder);
    if (!holdsOldLogs(folderPath)) {
        showError(QStringLiteral("The folder %1 holds no old listening logs (log0.bak to "
                                 "log15.bak), so nothing was converted. Choose the folder to "
                                 "which the old version wrote the backup of its listening logs.")
                      .arg(QString::fromStdString(folder)));
        return;
    }
    const bool done = guarded([&] {
        // Build the working file first: a refused import leaves the old
        // project (settings and working file) as it was.
        buildProcessedFile(folderPath, paths_.ProcessedPath, LogSource::Backups);
        writeSettings(paths_, folderPath);
    });
    if (!done) return;
    paths_.BackupFolder = folderPath;
    SettingsLoaded = true;
    ui->continueButton->setEnabled(true);
    clearLocationSelection();
    ShowLocationStep();
    reportPartialRecords(this, paths_, LogSource::Backups);
}

// ---- step one --------------------------------------------------------------

void FrmMain::optLog_Toggled(int k, bool checked) {
    if (!checked || matching_) return;
    work = WorkingSet{};
    resetSelection();
    const WorkingFileStatus status = ensureSoundWorkingFile();
    if (status != WorkingFileStatus::Sound) {
        clearLocationSelection();
        // Rebuilt, the buttons show the new file. Kept damaged, its colours
        // would claim locations done that are not: back to the welcome panel,
        // where Continue asks again.
        if (status == WorkingFileStatus::Rebuilt) {
            ShowLocationStep();
        } else {
            ShowWelcomeScreen();
        }
        return;
    }
    ui->startMatchingButton->setEnabled(false);
    if (!guarded([&] { work = loadWorkingSet(paths_.ProcessedPath, k); })) {
        abandonLocation(k);
        return;
    }
    ui->startMatchingButton->setEnabled(true);
    ui->startMatchingButton->setFocus();
    // The lists are read once here and handed to the view switch below,
    // which would otherwise read processed.dat a second time.
    StepTwoLists lists;
    bool listsRead = false;
    if (work.unpCount == 0) {
        ui->startMatchingButton->setEnabled(false);
        listsRead = readStepTwo(lists);
        if (!listsRead) {
            abandonLocation(k);
            return;
        }
        fillAmbiguousFrom(lists);
        ui->prefixCandidateList->hide();
    }
    if (locationColour(k) == LocationColour::LightRed) {
        ui->startMatchingButton->setEnabled(true);
        ui->startMatchingButton->setFocus();
        return;
    }
    ShowResolutionStep();
    if (work.ambCount > 0 || work.misCount > 0) {
        const bool unresolved = work.ambCount == 0;
        showUpperCaption(unresolved ? UpperView::Unresolved : UpperView::Ambiguous);
        // The ambiguous rows filled above stand: filling them again would
        // double the cost of choosing a location of thousands.
        if (!showWaitingView(unresolved, listsRead ? &lists : nullptr, listsRead))
            abandonLocation(k);
    } else {
        showUpperCaption(UpperView::Empty);
    }
}

void FrmMain::abandonLocation(int k) {
    // A location whose receptions or home could not be read is not opened:
    // step one stays, no location chosen, so that choosing it again retries.
    work = WorkingSet{};
    resetSelection();
    clearLocationSelection();
    ui->startMatchingButton->setEnabled(false);
    showOnlyPanel(ui->locationStep);
    locationButton(k)->setFocus();
}

void FrmMain::cmdDuplicates_Click() {
    if (matching_ || !SelectedLocation()) return;
    ui->startMatchingButton->setEnabled(false);
    showLowerList(false);
    ui->exitButton->setEnabled(false);
    ui->finalizeButton->setEnabled(false);
    ui->addToLogButton->setEnabled(false);
    ui->applyToAllCheck->setEnabled(false);
    ui->applyToAllWarning->hide();
    ui->showAmbiguousButton->setEnabled(false);
    ui->showUnresolvedButton->setEnabled(false);
    ui->addSuggestedButton->setEnabled(false);
    ui->setHomeButton->setEnabled(false);
    ui->mapButton->setEnabled(false);
    ui->matchProgress->setValue(0);
    ui->waitingList->clear();
    // The working set must not change under the run: no other location.
    for (int k = 1; k <= kLocationCount; ++k) locationButton(k)->setEnabled(false);
    matching_ = true;
    cancelRequested_ = false;

    QElapsedTimer sinceRepaint;  // invalid until the first pass: repaint at once
    MatchOutcome outcome;
    const bool ok = loggingGuarded([&] {
        outcome = runMatching(paths_, work, [&](int, int, float percent) {
            ui->matchProgress->setValue(static_cast<int>(percent));
            // Let the window repaint and take input several times a second
            // without paying for an event pass per reception.
            if (!sinceRepaint.isValid() || sinceRepaint.elapsed() >= 40) {
                QCoreApplication::processEvents();
                sinceRepaint.start();
            }
            return !cancelRequested_;
        });
    });
    matching_ = false;
    ui->matchProgress->setValue(0);
    ui->exitButton->setEnabled(true);
    ui->finalizeButton->setEnabled(true);
    ui->addSuggestedButton->setEnabled(true);
    ui->setHomeButton->setEnabled(true);
    ui->mapButton->setEnabled(true);

    if (!ok && settledElsewhere_) {
        // Another window matched it meanwhile.
        showAsStored();
        if (closeAfterRun_) close();
        return;
    }
    if (!ok || outcome.cancelled) {
        // Nothing was logged and no state changed: the location stays as it was.
        RefreshLocationButtons();
        ui->startMatchingButton->setEnabled(work.unpCount > 0);
        if (closeAfterRun_) close();
        return;
    }
    ShowingUnresolved = false;
    const bool filled = FillAmbiguousList();
    RefreshLocationButtons();
    if (!filled) {
        // The run is stored; the location opens once its lists can be read.
        abandonLocation(*SelectedLocation());
        if (closeAfterRun_) close();
        return;
    }
    ui->startMatchingButton->setEnabled(false);
    ShowResolutionStep();
    ui->waitingList->setFocus();
    if (closeAfterRun_) close();
}

void FrmMain::cmdFinalize_Click() {
    std::size_t waiting = 0;
    const WorkingFileStatus status = ensureSoundWorkingFile(&waiting);
    if (status != WorkingFileStatus::Sound) {
        if (status == WorkingFileStatus::Rebuilt) ShowLocationStep();
        return;
    }
    QString prompt = QStringLiteral(
        "This action will close your current work and prepare database for use with ZOLT 6.4, "
        "are you sure you want to continue ?");
    // What is still waiting goes with the working file: the user must know,
    // and know it before the question is put.
    if (waiting > 0) {
        prompt = QStringLiteral(
                     "%1 still waiting (ambiguous, unresolved or not yet matched) and will "
                     "not be converted; Save To File on step two keeps a list of the "
                     "ambiguous and unresolved ones.\n\n")
                     .arg(counted(static_cast<int>(waiting), "reception is", "receptions are")) +
                 prompt;
    }
    if (ConfirmAction(prompt, QStringLiteral("Confirm")) == QMessageBox::No) return;
    // The decision record is no part of the logbook's database: it is
    // dropped inside a compacted copy, so that no page of it is left behind;
    // that compaction stands for the usual one.
    bool compacted = false;
    if (!guarded([&] { compacted = dropDecisionRecord(paths_); })) return;
    if (!compacted && !CompactMainDatabase()) return;
    Finalize(waiting);
}

// ---- step two: lists -------------------------------------------------------

void FrmMain::fillUpperList(const std::vector<ListedReception>& rows) {
    const bool loaded = work.location == SelectedLocation().value_or(0);
    lists_->fillUpper(rows, loaded ? &work : nullptr);
}

void FrmMain::showLowerList(bool possible) {
    ui->prefixCandidateList->setVisible(possible);
    ui->exactCandidateList->setVisible(!possible);
    // Alt+P reaches whichever candidate list is on screen.
    ui->candidateCaption->setBuddy(possible ? ui->prefixCandidateList : ui->exactCandidateList);
}

void FrmMain::clearLowerLists() {
    ui->exactCandidateList->clear();
    // A refill leaves no candidate of an earlier look-up to choose and no
    // reception selected, so Add To Log cannot be armed without one.
    ui->prefixCandidateList->clear();
    resetSelection();
}

bool FrmMain::readStepTwo(StepTwoLists& lists) {
    const int location = SelectedLocation().value_or(0);
    // Every refill of the lists follows a change of what is logged, and an
    // inferred home moves with the logged beacons: both are read before
    // anything on screen changes, so that a failed read changes nothing.
    return guarded([&] { lists = readStepTwoLists(paths_.ProcessedPath, location); }) &&
           homeBox_->refresh();
}

bool FrmMain::FillUnresolvedList() {
    StepTwoLists lists;
    if (!readStepTwo(lists)) return false;
    fillUnresolvedFrom(lists);
    return true;
}

void FrmMain::fillUnresolvedFrom(const StepTwoLists& lists, bool withRows) {
    const int rows = static_cast<int>(lists.unresolved.size());
    UnresolvedCount += rows;
    static const std::vector<ListedReception> none;
    refillUpperList(withRows ? lists.unresolved : none, ui->showUnresolvedButton,
                    QStringLiteral("Show &Unresolved Stations (%1)").arg(rows),
                    UnresolvedCount != 0, false);
}

void FrmMain::refillUpperList(const std::vector<ListedReception>& rows, QPushButton* show,
                              const QString& showText, bool offered, bool ambiguous) {
    show->setEnabled(true);
    {
        QSignalBlocker block(ui->waitingList);
        ui->waitingList->clear();
    }
    clearLowerLists();
    fillUpperList(rows);
    show->setText(showText);
    // The list's show button and Save To File are offered while it has rows.
    show->setVisible(offered);
    ui->saveToFileButton->setVisible(offered);
    if (offered) ReportIsAmbiguous = ambiguous;
}

bool FrmMain::FillAmbiguousList() {
    StepTwoLists lists;
    if (!readStepTwo(lists)) return false;
    fillAmbiguousFrom(lists);
    return true;
}

void FrmMain::fillAmbiguousFrom(const StepTwoLists& lists) {
    AmbiguousCount = 0;
    UnresolvedCount = 0;
    // The unresolved fill leaves its count, caption and buttons; its rows
    // would give way to the ambiguous ones below at once, so none are put in
    // (on a location of thousands that halves the cost of a refill).
    fillUnresolvedFrom(lists, false);
    AmbiguousCount = static_cast<int>(lists.ambiguous.size());
    refillUpperList(lists.ambiguous, ui->showAmbiguousButton,
                    QStringLiteral("Show A&mbiguous Stations (%1)").arg(AmbiguousCount),
                    AmbiguousCount != 0, true);
    updateLoggedControls();
}

void FrmMain::cmdShowMissing_Click() { showWaitingView(true, nullptr); }

bool FrmMain::showWaitingView(bool unresolved, const StepTwoLists* lists, bool ambiguousShown) {
    if ((unresolved ? UnresolvedCount : AmbiguousCount) == 0) return true;
    // Read first: the caption changes only together with the list under it.
    StepTwoLists read;
    if (!lists) {
        if (!readStepTwo(read)) return false;
        lists = &read;
    }
    loggedView_->leave();
    showUpperCaption(unresolved ? UpperView::Unresolved : UpperView::Ambiguous);
    ReportIsAmbiguous = !unresolved;
    ui->saveToFileButton->setVisible(unresolved);
    ui->selectedPlaceLabel->setText(QString());
    ui->selectedStationLabel->setText(QString());
    ui->applyToAllCheck->setEnabled(false);
    ui->applyToAllWarning->hide();
    showLowerList(unresolved);
    ShowingUnresolved = unresolved;
    if (unresolved) {
        fillUnresolvedFrom(*lists);
    } else if (!ambiguousShown) {
        fillAmbiguousFrom(*lists);
    }
    return true;
}

void FrmMain::cmdShowSuspect_Click() { showWaitingView(false, nullptr); }

// ---- step two: look-ups and Add To Log -------------------------------------

RankedCandidates FrmMain::lookUpCandidates(const QTreeWidgetItem* row,
                                           const std::optional<LatLon>& home) const {
    const ListedReception fields = WaitingLists::fieldsOf(row);
    return ShowingUnresolved
               ? rankPrefix(prefixCandidates(paths_.DatabasePath, fields.ident), home,
                            leadingNumber(fields.frequency))
               : rankExact(exactCandidates(paths_.DatabasePath, fields.ident, fields.frequency),
                           home);
}

void FrmMain::loggedRowSelected(const RankedCandidates* known) {
    const QList<QTreeWidgetItem*> chosen = ui->waitingList->selectedItems();
    if (chosen.isEmpty()) return;
    const QTreeWidgetItem* row = chosen.first();
    {
        QSignalBlocker block(ui->exactCandidateList);
        ui->exactCandidateList->clear();
    }
    ListedReception fields = WaitingLists::fieldsOf(row);
    selection.SelectedIdent = std::move(fields.ident);
    selection.SelectedFrequency = std::move(fields.frequency);
    selection.SelectedTime = std::move(fields.time);
    selection.SelectedDate = std::move(fields.date);
    selection.SelectedComment = std::move(fields.comment);
    ui->selectedStationLabel->setText(
        QString::fromStdString(cp1252ToUtf8(trimBlanks(selection.SelectedIdent)) + " - " +
                               cp1252ToUtf8(trimBlanks(selection.SelectedFrequency))));
    ui->selectedPlaceLabel->setText(QString());
    ui->applyToAllCheck->setChecked(false);
    {
        QSignalBlocker blockA(ui->prefixCandidateList);
        QSignalBlocker blockB(ui->exactCandidateList);
        ui->prefixCandidateList->clear();
        ui->exactCandidateList->clear();
    }
    RankedCandidates ranked;
    if (known) ranked = *known;
    const bool ok =
        known || guarded([&] { ranked = lookUpCandidates(row, homeBox_->home().position); });
    if (ok) {
        map_->showCandidates(ranked);
        lists_->showCandidates(ranked, ShowingUnresolved);
    }
    ui->addToLogButton->setEnabled(false);
    ui->applyToAllCheck->setEnabled(false);
    ui->applyToAllWarning->hide();
}

void FrmMain::candidateSelected(QTreeWidget* list) {
    const QList<QTreeWidgetItem*> chosen = list->selectedItems();
    if (chosen.isEmpty()) return;
    const QTreeWidgetItem* row = chosen.first();
    ui->selectedPlaceLabel->setText(WaitingLists::placeOf(row));
    selection.SelectedBeaconId = lists_->beaconIdOf(list, row);
    ui->addToLogButton->setEnabled(true);
    ui->applyToAllCheck->setEnabled(true);
    ui->applyToAllWarning->show();
}

void FrmMain::resetSelection() {
    ui->applyToAllCheck->setChecked(false);
    ui->applyToAllCheck->setEnabled(false);
    ui->addToLogButton->setEnabled(false);
    ui->applyToAllWarning->hide();
    selection.SelectedIdent.clear();
    selection.SelectedFrequency.clear();
    selection.SelectedDate.clear();
    selection.SelectedTime.clear();
    selection.SelectedBeaconId = 0;
    ui->selectedStationLabel->setText(QString());
    ui->selectedPlaceLabel->setText(QString());
    map_->showCandidates({});
}

std::function<void()> FrmMain::followHome(const LocationHome& next) {
    // Distances and the suggestion of the reception on screen follow the
    // new home; the candidate chosen before is chosen anew.
    const QList<QTreeWidgetItem*> rows = ui->waitingList->selectedItems();
    RankedCandidates ranked;
    if (!rows.isEmpty() &&
        !guarded([&] { ranked = lookUpCandidates(rows.first(), next.position); })) {
        return {};
    }
    return [this, reselect = !rows.isEmpty(), ranked] {
        if (reselect) loggedRowSelected(&ranked);
        if (loggedView_->active()) showLoggedView();  // distances from the new home
    };
}

void FrmMain::cmdAddSuggested_Click() {
    const auto location = SelectedLocation();
    if (matching_ || !location) return;
    // The home anew, and the plan from it; a failure to read either has
    // logged nothing, and says so.
    LocationHome read;
    SuggestedPickPlan plan;
    if (!guarded([&] {
            sayingWhatWasKept(kNothingLogged, [&] {
                read = locationHome(paths_, *location);
                plan = planSuggestedPicks(paths_, work, read.position);
            });
        })) {
        return;
    }
    homeBox_->show(std::move(read));
    const LocationHome& home = homeBox_->home();
    if (plan.picks.empty()) {
        // Without a home, the line that says why is the answer.
        QMessageBox::information(
            this, QStringLiteral("Database Converter"),
            home.position
                ? QStringLiteral("No waiting reception of this location has a candidate "
                                 "clearly nearer than the others to %1, so nothing was logged.")
                      .arg(QString::fromStdString(describeHomeUsed(home)))
                : QStringLiteral("Nothing was logged: a suggested pick needs the location's "
                                 "home. %1")
                      .arg(QString::fromStdString(describeHome(home))));
        return;
    }
    const QString prompt =
        QStringLiteral(
            "This will log %1 of %2, each to its suggested pick, the candidate clearly "
            "nearest to %3. Receptions without a clear suggestion stay waiting. Are you "
            "sure you want to continue ?")
            .arg(counted(plan.receptions, "reception", "receptions"),
                 counted(static_cast<int>(plan.picks.size()), "distinct callsign/frequency pair",
                         "distinct callsign/frequency pairs"),
                 QString::fromStdString(describeHomeUsed(home)));
    if (ConfirmAction(prompt, QStringLiteral("Confirm")) == QMessageBox::No) return;
    if (!loggingGuarded([&] { addSuggestedPicks(paths_, work, plan); })) return;
    refillAfterLogging();
}

void FrmMain::cmdAddToLog_Click() {
    const bool applyAll = ui->applyToAllCheck->isChecked();
    int rows = 0;
    if (!loggingGuarded([&] { rows = addToLog(paths_, work, selection, applyAll); })) return;
    if (rows == 0)
        showError(
            QStringLiteral("Nothing was added to the log: the selected "
                           "reception is already logged."));
    refillAfterLogging();
}

void FrmMain::refillAfterLogging() {
    StepTwoLists lists;
    if (!readStepTwo(lists)) {
        // The rows are stored; nothing stays armed to log them a second time.
        clearLowerLists();
        ui->waitingList->clearSelection();
        return;
    }
    fillAmbiguousFrom(lists);
    if (ShowingUnresolved && UnresolvedCount == 0) {
        // The last unresolved reception was logged and the upper list now
        // holds the ambiguous ones: the view says so.
        ShowingUnresolved = false;
        ReportIsAmbiguous = true;
        showUpperCaption(UpperView::Ambiguous);
    }
    if (loggedView_->active()) {
        // The listener stays where the action was taken.
        showLoggedView();
        map_->reload();
        return;
    }
    if (!ShowingUnresolved) {
        showLowerList(false);
        ui->applyToAllCheck->setEnabled(false);
        ui->applyToAllWarning->hide();
        ShowingUnresolved = false;
    } else {
        showWaitingView(true, &lists);
    }
    if (const auto location = SelectedLocation()) map_->showLocation(*location);
    resetSelection();
    ui->waitingList->setFocus();
}

void FrmMain::cmdMap_Click() {
    const auto location = SelectedLocation();
    if (matching_ || !location) return;
    map_->open(*location, locationNames_[static_cast<std::size_t>(*location)]);
}

void FrmMain::cmdSaveToFile_Click() {
    const auto location = SelectedLocation();
    if (!location) return;
    FrmFileSave dialog(ReportIsAmbiguous ? ReportKind::Ambiguous : ReportKind::Unresolved,
                       *location, paths_.ProcessedPath, options_.documentsFolder, this);
    if (dialog.exec() != QDialog::Accepted) return;
    QMessageBox::information(
        this, QStringLiteral("Database Converter"),
        QStringLiteral("The report was saved to %1.")
            .arg(QDir::toNativeSeparators(QString::fromStdString(dialog.targetPath().string()))));
}

void FrmMain::cmdProcessAnotherLog_Click() {
    // ShowLocationStep recolours the buttons from the working file.
    clearLocationSelection();
    ShowLocationStep();
}

void FrmMain::cmdStartOver_Click() {
    const auto location = SelectedLocation();
    if (!location) return;
    if (ConfirmAction(QStringLiteral("Are you sure you want to recreate log#%1?").arg(*location),
                      QStringLiteral("Confirm")) == QMessageBox::No) {
        return;
    }
    if (!resetGuarded([&] { startOver(paths_, *location); })) return;
    // The location's receptions are unmatched again: it is chosen anew, which
    // reloads them and offers START MATCHING.
    work = WorkingSet{};
    clearLocationSelection();
    ShowLocationStep();
}

void FrmMain::showAsStored() {
    RefreshLocationButtons();
    if (const auto location = SelectedLocation()) optLog_Toggled(*location, true);
}

void FrmMain::setMatchAllBusy(bool busy) {
    if (busy) {
        matching_ = true;
        cancelRequested_ = false;
        for (int k = 1; k <= kLocationCount; ++k) locationButton(k)->setEnabled(false);
        for (QWidget* control :
             {static_cast<QWidget*>(ui->startMatchingButton), static_cast<QWidget*>(ui->finalizeButton),
              static_cast<QWidget*>(ui->exitButton)}) {
            control->setEnabled(false);
        }
        return;
    }
    matching_ = false;
    ui->finalizeButton->setEnabled(true);
    ui->exitButton->setEnabled(true);
    // A loaded location may have been matched meanwhile: nothing stays
    // selected, and the buttons are coloured afresh.
    work = WorkingSet{};
    resetSelection();
    clearLocationSelection();
    ShowLocationStep();
    if (closeAfterRun_) close();
}

// ---- step two: the logged view, Return To Waiting, Undo ---------------------

void FrmMain::showLoggedView() {
    const auto location = SelectedLocation();
    if (matching_ || !location) return;
    showUpperCaption(UpperView::Logged);
    ui->saveToFileButton->hide();
    resetSelection();
    loggedView_->enter();
    std::vector<LoggedReception> rows;
    guarded([&] { rows = readLoggedReceptions(paths_, *location, homeBox_->home().position); });
    loggedView_->fill(rows);
}

void FrmMain::updateLoggedControls() {
    const int settled = static_cast<int>(std::count_if(
        work.entries.begin(), work.entries.end(),
        [](const WorkEntry& entry) { return trimmedView(entry.state) == trimmedView(state::OK); }));
    loggedView_->setCount(settled);
    std::optional<UndoOffer> offer;
    const auto location = SelectedLocation();
    try {
        if (location && work.location == *location) offer = nextUndo(paths_, *location);
    } catch (const EngineError&) {
        // Refilling the lists is no moment for a message; Undo, pressed,
        // says what is wrong.
        offer = UndoOffer{"the last action", 0};
    }
    loggedView_->setUndo(offer);
}

void FrmMain::cmdReturnToWaiting_Click() {
    const auto location = SelectedLocation();
    const std::vector<int> chosen = loggedView_->selectedPositions();
    if (matching_ || !location || chosen.empty()) return;
    std::vector<int> returning;
    if (!guarded([&] { returning = returnedWith(paths_, *location, chosen); })) return;
    if (ConfirmAction(returnPrompt(static_cast<int>(returning.size())),
                      QStringLiteral("Confirm")) == QMessageBox::No) {
        return;
    }
    if (!guarded([&] { returnToWaiting(paths_, work, returning); })) return;
    refillAfterLogging();
}

void FrmMain::cmdUndoLastAction_Click() {
    const auto location = SelectedLocation();
    if (matching_ || !location) return;
    std::optional<UndoOffer> offer;
    if (!guarded([&] { offer = nextUndo(paths_, *location); })) return;
    if (!offer) {
        updateLoggedControls();
        return;
    }
    if (ConfirmAction(undoPrompt(*offer), QStringLiteral("Confirm")) == QMessageBox::No) return;
    if (!guarded([&] { undoLastAction(paths_, work); })) return;
    refillAfterLogging();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    if (matching_) {
        // Closing during a run cancels it; the run rolls back and then
        // closes the window, so nothing half-done is left behind.
        cancelRequested_ = true;
        closeAfterRun_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

// ---- accidents: a damaged working file, a reception settled elsewhere ------

WorkingFileStatus FrmMain::ensureSoundWorkingFile(std::size_t* waiting) {
    const WorkingFileStatus status = soundWorkingFile(
        this, paths_, SettingsLoaded, [this](const QString& prompt) { return confirmed(prompt); },
        waiting);
    if (status == WorkingFileStatus::Rebuilt) ui->allDoneLabel->hide();
    return status;
}

bool FrmMain::loggingGuarded(const std::function<void()>& action) {
    settledElsewhere_ = false;
    const bool ok = guarded([&] {
        try {
            action();
        } catch (const SettledElsewhere&) {
            settledElsewhere_ = true;
            throw;
        }
    });
    if (settledElsewhere_) {
        // The lists were stale: show what the working file now says.
        const auto location = SelectedLocation();
        if (location && guarded([&] { work = loadWorkingSet(paths_.ProcessedPath, *location); }) &&
            ui->resolutionStep->isVisible()) {
            refillAfterLogging();
        }
    }
    return ok;
}

void FrmMain::addExportButtons() {
    // One button on step one, before FINALIZE, and one on step two above
    // Process Another Listening Location, among the commands of the whole
    // project rather than in the already full row of the list's commands;
    // both open the same dialog.
    const struct {
        QWidget* beside;
        const char* name;
        bool after;
    } places[] = {{ui->finalizeButton, "exportLogButton", false},
                  {ui->anotherLocationButton, "exportLogStepTwoButton", false},
                  {ui->welcomeExitButton, "exportLogWelcomeButton", false}};
    for (const auto& place : places) {
        QPushButton* button = ExportDialog::makeButton(place.name, this);
        placeBeside(place.beside, button, place.after);
        connect(button, &QPushButton::clicked, this, &FrmMain::cmdExportLog_Click);
        if (place.beside == ui->welcomeExitButton) exportWelcome_ = button;
    }
    exportWelcome_->hide();  // until the welcome panel knows the log holds receptions
}

void FrmMain::cmdExportLog_Click() {
    // A dialog opened while the run yields to events would hold the run
    // until it closed; the log is exported once the run is over.
    if (matching_) return;
    ExportDialog::run(this, paths_, options_.registryFile, SelectedLocation().value_or(0));
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FrmMain.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QPushButton>
#include <QRadioButton>

#include "app/ExportDialog.h"
#include "app/FolderStep.h"
#include "app/Guarded.h"
#include "app/LocationStep.h"
#include "app/NativePath.h"
#include "app/ResolutionStep.h"
#include "app/ShownNumbers.h"
#include "app/StepZeroLists.h"
#include "app/WelcomePanel.h"
#include "app/WorkingFileRepair.h"
#include "db/BeaconDatabaseCheck.h"
#include "engine/DecisionRecord.h"
#include "engine/LocationMap.h"
#include "engine/Project.h"
#include "work/Records.h"
#include "work/WorkingFileCheck.h"
#include "ui_frmMain.h"

namespace fs = std::filesystem;

namespace zolt {

namespace {

// A screen reader announces the converter as a window, not as a filler.
QAccessibleInterface* windowAccessible(const QString& key, QObject* object) {
    if (key == QLatin1String("zolt::FrmMain") && object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    }
    return nullptr;
}

}  // namespace

FrmMain::FrmMain(Options options, QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::frmMain>()),
      options_(std::move(options)),
      session_(projectPathsFor(options_.documentsFolder)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(windowAccessible);
        return true;
    }();
    (void)factoryInstalled;
    ui->setupUi(this);

    welcome_ = new WelcomePanel(ui->panelHost);
    folders_ = new FolderStep(ui->panelHost);
    locations_ = new LocationStep(session_, options_.registryFile, ui->panelHost);
    resolution_ = new ResolutionStep(session_, options_.appDataFolder / kLandOutlineFile,
                                     options_.documentsFolder, ui->panelHost);
    for (QWidget* panel : {static_cast<QWidget*>(welcome_), static_cast<QWidget*>(folders_),
                           static_cast<QWidget*>(locations_), static_cast<QWidget*>(resolution_)}) {
        ui->panelHostLayout->addWidget(panel);
    }
    placeExitLast();
    // Keyboard use: Enter presses the focused button as Space does.
    for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(true);

    connect(ui->exitButton, &QPushButton::clicked, this, &QWidget::close);
    connect(welcome_, &WelcomePanel::startNewRequested, this, &FrmMain::startNewProject);
    connect(welcome_, &WelcomePanel::continueRequested, this, &FrmMain::continueProject);
    connect(welcome_, &WelcomePanel::exportRequested, this, &FrmMain::exportLog);
    connect(welcome_, &WelcomePanel::exitRequested, this, &QWidget::close);
    connect(folders_, &FolderStep::conversionRequested, this, &FrmMain::importBackups);
    connect(locations_, &LocationStep::resolutionWanted, this, &FrmMain::ShowResolutionStep);
    connect(locations_, &LocationStep::welcomeWanted, this, &FrmMain::ShowWelcomeScreen);
    connect(locations_, &LocationStep::workingFileRebuilt, welcome_, &WelcomePanel::hideFinished);
    connect(locations_, &LocationStep::finalizeRequested, this, &FrmMain::finalize);
    connect(locations_, &LocationStep::exportRequested, this, &FrmMain::exportLog);
    connect(locations_, &LocationStep::busyChanged, this, &FrmMain::setBusy);
    connect(locations_, &LocationStep::runEnded, this, [this] {
        if (closeAfterRun_) close();
    });
    connect(resolution_, &ResolutionStep::anotherLocationRequested, this, [this] {
        // The step recolours the buttons from the working file.
        session_.clear();
        locations_->clearChoice();
        ShowLocationStep();
    });
    connect(resolution_, &ResolutionStep::locationReset, this, [this] {
        session_.clear();
        locations_->clearChoice();
        ShowLocationStep();
    });
    connect(resolution_, &ResolutionStep::exportRequested, this, &FrmMain::exportLog);

    // Until start-up has run, only the welcome panel with its buttons exists.
    showOnlyPanel(welcome_);
}

FrmMain::~FrmMain() = default;

QRadioButton* FrmMain::locationButton(int index) const { return locations_->locationButton(index); }

LocationColour FrmMain::locationColour(int index) const {
    return locations_->locationColour(index);
}

bool FrmMain::matchingInProgress() const { return locations_->busy(); }

FolderBrowser* FrmMain::folderBrowser() const { return folders_->browser(); }

void FrmMain::placeExitLast() {
    // The panels came after Exit: the keyboard reaches Exit after the
    // controls of the step on screen, as the eye does.
    QWidget* last = ui->exitButton;
    for (QWidget* next = ui->exitButton->nextInFocusChain(); next != ui->exitButton;
         next = next->nextInFocusChain()) {
        if (ui->panelHost->isAncestorOf(next)) last = next;
    }
    if (last != ui->exitButton) QWidget::setTabOrder(last, ui->exitButton);
}

void FrmMain::startUp() {
    // The working folder and its database: without a database nothing later
    // may run, so the project buttons stay off.
    databaseReady_ = guarded(this, [this] {
        prepareWorkFolder(session_.paths(), options_.appDataFolder);
        requireBeaconDatabase(session_.paths().DatabasePath);
    });
    ShowWelcomeScreen();
    welcome_->setContinueEnabled(false);
    if (!databaseReady_) {
        welcome_->setStartNewEnabled(false);
        return;
    }
    readSettings();
    welcome_->setContinueEnabled(session_.projectLoaded());
    folders_->offerBackups();
    checkPendingWork();
}

// ---- panels --------------------------------------------------------------

void FrmMain::showOnlyPanel(QWidget* panel) {
    for (QWidget* each : {static_cast<QWidget*>(welcome_), static_cast<QWidget*>(folders_),
                          static_cast<QWidget*>(locations_),
                          static_cast<QWidget*>(resolution_)}) {
        each->setVisible(each == panel);
    }
    // A map belongs to the location on step two; leaving it ends the map.
    if (panel != resolution_) resolution_->leave();
}

void FrmMain::ShowWelcomeScreen() {
    showOnlyPanel(welcome_);
    // The log can be exported whenever it holds receptions: also once every
    // log is converted and after FINALIZE, when no step but this one is left.
    bool logged = false;
    if (databaseReady_) {
        try {
            logged = loggedReceptionCount(session_.paths()) > 0;
        } catch (const std::exception&) {
            logged = false;  // the export itself would name what is wrong
        }
    }
    welcome_->setExportOffered(logged);
    welcome_->focusFirst();
}

void FrmMain::ShowFolderStep() {
    showOnlyPanel(folders_);
    folders_->focusFirst();
}

void FrmMain::ShowLocationStep() {
    showOnlyPanel(locations_);
    locations_->enter();
}

void FrmMain::ShowResolutionStep() {
    showOnlyPanel(resolution_);
    resolution_->enter(locations_->locationName(session_.location()));
}

// ---- the project ---------------------------------------------------------

void FrmMain::readSettings() {
    std::optional<fs::path> folder;
    guarded(this, [&] { folder = zolt::readSettings(session_.paths()); });
    session_.setBackupFolder(folder.value_or(fs::path()));
}

void FrmMain::checkPendingWork() {
    // A damaged, empty or missing working file is never a finished project
    // while the log holds receptions; declined, nothing is finalized.
    const WorkingFileStatus status =
        soundWorkingFile(this, session_.paths(), session_.projectLoaded());
    if (status == WorkingFileStatus::Refused) return;
    if (status == WorkingFileStatus::Rebuilt) welcome_->hideFinished();
    PendingWork result = PendingWork::NoProject;
    if (!guarded(this, [&] {
            result = zolt::checkPendingWork(session_.paths().ProcessedPath,
                                            session_.paths().BackupFolder,
                                            session_.projectLoaded());
        })) {
        return;
    }
    switch (result) {
        case PendingWork::NoProject:
        case PendingWork::NothingImported:
            // Nothing was ever converted: no completion text for that.
            break;
        case PendingWork::Rebuilt:
            locations_->refreshColours();
            reportPartialRecords(this, session_.paths(), LogSource::WorkLogs);
            break;
        case PendingWork::WorkLeft:
            welcome_->hideFinished();
            break;
        case PendingWork::NothingLeft:
            welcome_->hideFinished();
            finish(0);
            break;
    }
}

void FrmMain::startNewProject() {
    readSettings();
    if (!confirmed(this, QStringLiteral("This action will delete any of your previous work. Are "
                                        "you sure you want to continue ?"))) {
        return;
    }
    if (!resetGuarded(this, [this] { zolt::startNewProject(session_.paths()); })) return;
    session_.clear();
    session_.setBackupFolder({});
    welcome_->setContinueEnabled(false);
    welcome_->hideFinished();
    ShowFolderStep();
}

void FrmMain::continueProject() {
    const WorkingFileStatus status =
        soundWorkingFile(this, session_.paths(), session_.projectLoaded());
    if (status == WorkingFileStatus::Refused) return;
    if (status == WorkingFileStatus::Rebuilt) welcome_->hideFinished();
    // The step colours the buttons from the working file.
    ShowLocationStep();
}

void FrmMain::importBackups(const QString& shownFolder) {
    const std::string folder = backupFolderText(pathToUtf8(pathFromQString(shownFolder)));
    const fs::path folderPath = pathFromUtf8(folder);
    if (!holdsOldLogs(folderPath)) {
        showFailure(this, QStringLiteral("The folder %1 holds no old listening logs (log0.bak to "
                                         "log15.bak), so nothing was converted. Choose the folder "
                                         "to which the old version wrote the backup of its "
                                         "listening logs.")
                              .arg(QString::fromStdString(folder)));
        return;
    }
    const bool done = guarded(this, [&] {
        // The working file first: a refused import leaves the old project
        // (settings and working file) as it was.
        buildProcessedFile(folderPath, session_.paths().ProcessedPath, LogSource::Backups);
        writeSettings(session_.paths(), folderPath);
    });
    if (!done) return;
    session_.setBackupFolder(folderPath);
    session_.clear();
    welcome_->setContinueEnabled(true);
    locations_->clearChoice();
    ShowLocationStep();
    reportPartialRecords(this, session_.paths(), LogSource::Backups);
}

void FrmMain::finalize() {
    std::size_t waiting = 0;
    const WorkingFileStatus status =
        soundWorkingFile(this, session_.paths(), session_.projectLoaded(), &waiting);
    if (status != WorkingFileStatus::Sound) {
        if (status == WorkingFileStatus::Rebuilt) {
            welcome_->hideFinished();
            ShowLocationStep();
        }
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
    if (!confirmed(this, prompt)) return;
    // The decision record is no part of the logbook's database: it is
    // dropped inside a compacted copy, so that no page of it is left behind;
    // that compaction stands for the usual one.
    bool compacted = false;
    if (!guarded(this, [&] { compacted = dropDecisionRecord(session_.paths()); })) return;
    if (!compacted && !guarded(this, [this] { compactProjectDatabase(session_.paths()); })) {
        return;
    }
    finish(waiting);
}

void FrmMain::finish(std::size_t unconverted) {
    // The completion text is for a project that converted something.
    std::error_code ec;
    const auto size = fs::file_size(session_.paths().ProcessedPath, ec);
    const bool anyImported = !ec && size >= ProcessedRecord::kLength;
    if (!guarded(this, [this] { dropDecisionRecord(session_.paths()); })) return;
    if (!guarded(this, [this] { removeWorkingFiles(session_.paths()); })) return;
    session_.clear();
    session_.setBackupFolder({});
    welcome_->showFinished(unconverted, anyImported);
    welcome_->setContinueEnabled(false);
    ShowWelcomeScreen();
}

void FrmMain::exportLog() {
    // A dialog opened while a run yields to events would hold the run until
    // it closed; the log is exported once the run is over.
    if (locations_->busy()) return;
    ExportDialog::run(this, session_.paths(), options_.registryFile, session_.location());
}

void FrmMain::setBusy(bool busy) { ui->exitButton->setEnabled(!busy); }

void FrmMain::closeEvent(QCloseEvent* event) {
    if (locations_->busy()) {
        // Closing during a run cancels it; the run rolls back and then
        // closes the window, so that nothing half-done is left behind.
        locations_->requestStop();
        closeAfterRun_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QWidget>
#include <filesystem>
#include <memory>

#include "app/LocationColour.h"
#include "engine/LocationSession.h"

class QRadioButton;

namespace Ui {
class frmMain;
}

namespace zolt {

class FolderBrowser;
class FolderStep;
class LocationStep;
class ResolutionStep;
class WelcomePanel;

// The converter's one window: the welcome panel and the three wizard steps,
// one shown at a time, over one location session. The window runs what
// belongs to the whole project (start-up, a new project, the import,
// FINALIZE, export); each step runs its own controls.
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

    // Each shows exactly one of the four panels.
    void ShowWelcomeScreen();
    void ShowFolderStep();
    void ShowLocationStep();
    void ShowResolutionStep();

    LocationSession& session() { return session_; }
    const ProjectPaths& paths() const { return session_.paths(); }
    QRadioButton* locationButton(int index) const;
    LocationColour locationColour(int index) const;
    bool matchingInProgress() const;
    FolderBrowser* folderBrowser() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void showOnlyPanel(QWidget* panel);
    // The settings' backup folder, if a project was started.
    void readSettings();
    void checkPendingWork();
    void startNewProject();
    void continueProject();
    void importBackups(const QString& folder);
    void finalize();
    // Ends the project: the working files go, the welcome panel says so.
    void finish(std::size_t unconverted);
    void exportLog();
    void setBusy(bool busy);
    // The step whose last control Exit follows, when the keyboard tabs on.
    void placeExitLast();

    std::unique_ptr<Ui::frmMain> ui;
    Options options_;
    LocationSession session_;
    WelcomePanel* welcome_ = nullptr;
    FolderStep* folders_ = nullptr;
    LocationStep* locations_ = nullptr;
    ResolutionStep* resolution_ = nullptr;
    bool databaseReady_ = false;
    bool closeAfterRun_ = false;
};

}  // namespace zolt

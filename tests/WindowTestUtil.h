// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "TestUtil.h"
#include "app/FrmMain.h"
#include "app/ResolutionStep.h"

namespace zolt::test {

// One QApplication for the whole test program.
QApplication& application();

// Whether the program runs under Wine, whose fonts are its own stand-ins
// for Windows' fonts: tests that measure a layout in pixels skip there.
bool underWine();

// Answers the message boxes that open while it lives, in order: each answer
// is a button to press (or Return for the default); the texts are kept.
class MessageBoxAnswerer : public QObject {
  public:
    explicit MessageBoxAnswerer(QList<QMessageBox::StandardButton> answers = {});
    ~MessageBoxAnswerer() override;
    QStringList texts;                            // the text of every box answered
    QList<QMessageBox::StandardButton> defaults;  // the default button of each
    int underBusyCursor = 0;                      // boxes shown with a busy cursor

  private:
    void poll();
    QList<QMessageBox::StandardButton> answers_;
    QTimer timer_;
};

// A home folder with Documents, an application folder with the pristine
// database and an empty folder of backups; the main window opened on them.
class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest();
    // A fresh window, started up.
    FrmMain& open();
    // Clicks `name`, answering the boxes that open with `answers` (else Return).
    QStringList click(const char* name, QList<QMessageBox::StandardButton> answers = {});
    // A new project on the demo backups in `backups`, location 1 matched by
    // the window, which is left on step two.
    void openDemoMatched();

    template <class T = QPushButton>
    T* get(const char* name) {
        T* widget = w->findChild<T*>(QString::fromLatin1(name));
        if (!widget) ADD_FAILURE() << "no widget " << name;
        return widget;
    }
    QTreeWidget* tree(const char* name) { return get<QTreeWidget>(name); }

    ResolutionStep& stepTwo() { return *w->findChild<ResolutionStep*>(); }
    bool showingUnresolved() { return stepTwo().view() == ResolutionStep::View::Unresolved; }
    // Receptions of the chosen location waiting, ambiguous or unresolved.
    std::size_t waitingCount() {
        return w->session().lists().ambiguous.size() + w->session().lists().unresolved.size();
    }

    TempDir home;
    std::filesystem::path appData = home / "app", backups = home / "backups";
    std::unique_ptr<FrmMain> w;
    ProjectPaths paths;
};

}  // namespace zolt::test

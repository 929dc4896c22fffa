// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTreeView>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <vector>

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

// Reads and drives a list as its user does, through the view's model and
// selection model only: the same for a QTreeWidget and for any QTreeView.
// Columns are model columns; a test names them by their header, so that it
// holds whichever columns a list keeps out of sight.
class ListProbe {
  public:
    explicit ListProbe(QTreeView* view) : view_(view) {}
    QTreeView* view() const { return view_; }
    QTreeView* operator->() const { return view_; }

    int rows() const;
    int columns() const;
    QString header(int column) const;
    // The column whose header reads `header`, blanks around either ignored;
    // -1 when there is none.
    int columnOrNone(const QString& header) const;
    // The same, failing the test when there is none.
    int column(const QString& header) const;
    bool shown(int column) const { return !view_->isColumnHidden(column); }

    // A cell's shown text without the blanks around it.
    QString text(int row, int column) const;
    QString text(int row, const QString& header) const { return text(row, column(header)); }
    QStringList texts(const QString& header) const;  // a column, top to bottom
    QVariant data(int row, int column, int role) const;
    // The font a cell is drawn in: the view's, with what the cell sets.
    QFont font(int row, int column) const;
    bool bold(int row, int column = 0) const { return font(row, column).bold(); }
    // The first row whose `header` cell reads `text`; -1 when none.
    int find(const QString& header, const QString& text) const;

    // As a click: `row` current and the only one selected.
    void select(int row) const;
    // As a Ctrl+click: `row` selected besides the others, and current.
    void addToSelection(int row) const;
    std::vector<int> selectedRows() const;  // top to bottom
    int currentRow() const;                 // -1 when none
    void sort(const QString& header, Qt::SortOrder order) const;

    // The beacon a row stands for, from the model's beacon id role.
    std::int64_t beaconId(int row) const;

  private:
    QModelIndex index(int row, int column = 0) const;
    QTreeView* view_;
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
    ListProbe probe(const char* name) { return ListProbe(get<QTreeView>(name)); }

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

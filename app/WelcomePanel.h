// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QFrame>
#include <memory>

namespace Ui {
class WelcomePanel;
}

namespace zolt {

// The first panel: start a project, continue one, export the log, leave;
// and, once a project is finished, the line that says so.
class WelcomePanel : public QFrame {
    Q_OBJECT
  public:
    explicit WelcomePanel(QWidget* parent = nullptr);
    ~WelcomePanel() override;

    void setStartNewEnabled(bool enabled);
    void setContinueEnabled(bool enabled);
    // Export Log is offered while the log holds receptions.
    void setExportOffered(bool offered);
    // The completion line: `unconverted` receptions were left waiting; shown
    // only for a project that converted something.
    void showFinished(std::size_t unconverted, bool shown);
    void hideFinished();
    void focusFirst();

  signals:
    void startNewRequested();
    void continueRequested();
    void exportRequested();
    void exitRequested();

  private:
    std::unique_ptr<Ui::WelcomePanel> ui;
    QString finishedText_;  // the completion line as designed
};

}  // namespace zolt

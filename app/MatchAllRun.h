// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QObject>
#include <QString>
#include <functional>

#include "engine/MatchAll.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace zolt {

// The summary after Match All Locations: one line per location matched
// (name, receptions, logged at once, of them own beacons, ambiguous,
// unresolved) and the totals; closed with OK.
class MatchAllSummaryDialog : public QDialog {
    Q_OBJECT
  public:
    MatchAllSummaryDialog(const MatchAllResult& result,
                          const std::function<QString(int)>& locationName, QWidget* parent);
};

// "Match All Locations" on step one: the button beside START MATCHING, the
// line under the progress bar naming the location being matched, the
// question before and the summary after. The window lends it what it needs
// through the hooks and keeps what would change the working set locked
// while it runs.
class MatchAllRun : public QObject {
    Q_OBJECT
  public:
    struct Hooks {
        std::function<ProjectPaths()> paths;
        std::function<QString(int)> locationName;     // 1 … 16
        std::function<bool(const QString&)> confirm;  // Yes/No, No the default
        std::function<void(const QString&)> showError;
        std::function<void(bool)> setBusy;    // lock / unlock the window
        std::function<bool()> stopRequested;  // the window is being closed
        // Shows step one as the working file now stands, after another
        // window left nothing to match.
        std::function<void()> reload;
    };

    // Puts the button beside `startMatching` and the caption under `bar`,
    // in the layouts that hold them.
    MatchAllRun(QPushButton* startMatching, QProgressBar* bar, Hooks hooks, QWidget* window);

    QPushButton* button() const { return button_; }
    // Offered only while some location has receptions not yet matched.
    void setAvailable(bool available);
    void start();

  private:
    Hooks hooks_;
    QWidget* window_;
    QPushButton* button_;
    QProgressBar* bar_;
    QLabel* caption_;
    bool running_ = false;
};

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>
#include <functional>
#include <optional>

#include "engine/HomePosition.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace zolt {

// The home of the selected location on step two: the line that says where
// it lies, the entry box and Set Home, with the question when the typed home
// lies far from where the logged beacons point. The window lends what it
// needs through the hooks.
class HomeBox : public QObject {
    Q_OBJECT
  public:
    struct Hooks {
        std::function<std::optional<int>()> location;  // the selected location
        std::function<bool()> busy;                    // a matching run is under way
        std::function<bool(const QString&)> confirm;   // Yes/No, No the default
        // Reads what the new home changes on screen before the entry is
        // stored, and returns what then shows it; an empty answer (after its
        // message) leaves the entry as it was.
        std::function<std::function<void()>(const LocationHome&)> follow;
    };
    HomeBox(QLabel* shown, QLineEdit* entry, QPushButton* setHome, const ProjectPaths& paths,
            Hooks hooks, QWidget* window);

    const LocationHome& home() const { return home_; }
    // Reads the home anew (a failure is one message, and false) and shows it.
    bool refresh();
    void show(LocationHome home);
    // The next location opened shows its own stored entry.
    void forgetEntry() { entryLocation_ = 0; }
    // Set Home: the typed entry checked, asked about when far, stored.
    void setHome();

  private:
    QLabel* shown_;
    QLineEdit* entry_;
    const ProjectPaths& paths_;
    Hooks hooks_;
    QWidget* window_;
    LocationHome home_;
    int entryLocation_ = 0;  // the location the entry box was filled for
};

}  // namespace zolt

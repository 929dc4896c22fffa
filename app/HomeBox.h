// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QGroupBox>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zolt {

class LocationSession;

// Where the chosen location lies, as step two shows it, and the listener's
// own entry (a locator or latitude and longitude) with Set Home.
class HomeBox : public QGroupBox {
    Q_OBJECT
  public:
    explicit HomeBox(QWidget* parent = nullptr);

    // The session whose home is shown; the box follows its changes.
    void attach(LocationSession& session);
    // Set Home: the typed entry checked, asked about when far, stored.
    void setHome();

  private:
    void show(unsigned changes);

    LocationSession* session_ = nullptr;
    QLabel* shown_;
    QLineEdit* entry_;
    QPushButton* setHome_;
    int entryLocation_ = 0;  // the location the entry box was filled for
};

}  // namespace zolt

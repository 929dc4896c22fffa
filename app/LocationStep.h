// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QFrame>
#include <array>
#include <filesystem>
#include <memory>

#include "app/LocationColour.h"

class QRadioButton;

namespace Ui {
class LocationStep;
}

namespace zolt {

class LocationSession;

// Step one: the sixteen locations coloured by what is left to do there,
// choosing one, its matching run, Match All Locations, FINALIZE.
class LocationStep : public QFrame {
    Q_OBJECT
  public:
    LocationStep(LocationSession& session, std::filesystem::path registryFile,
                 QWidget* parent = nullptr);
    ~LocationStep() override;

    QRadioButton* locationButton(int index) const;  // 1 … 16
    LocationColour locationColour(int index) const;
    QString locationName(int index) const;  // as the registry holds it
    // A matching run (of one location or of all) is under way.
    bool busy() const { return running_; }
    // The window is closing: a run under way is cancelled, and runEnded
    // follows once it has rolled back.
    void requestStop();

    // The step as it is entered: names and colours read afresh, the
    // keyboard on the first location that can be chosen.
    void enter();
    // Colours from the working file; false (after one message) when its
    // states could not be read, and every location is then off.
    bool refreshColours();
    void clearChoice();
    // Another window changed the working file meanwhile: the colours, and
    // the location chosen, show it as it now stands.
    void showAsStored();

  signals:
    // The chosen location has been matched: its waiting receptions are next.
    void resolutionWanted();
    // The working file was found damaged and kept as it was.
    void welcomeWanted();
    // The working file was rebuilt from the backups.
    void workingFileRebuilt();
    void finalizeRequested();
    void exportRequested();
    void busyChanged(bool busy);
    // A run the closing window waited for is over.
    void runEnded();

  private:
    void locationToggled(int index, bool checked);
    void abandon(int index);
    void startMatching();
    void matchAll();
    void setRunning(bool running);
    void setColour(int index, LocationColour colour);
    void finishRun();

    std::unique_ptr<Ui::LocationStep> ui;
    LocationSession& session_;
    std::filesystem::path registryFile_;
    std::array<QRadioButton*, 17> buttons_{};  // 1 … 16; 0 unused
    std::array<LocationColour, 17> colours_{};
    std::array<QString, 17> names_;
    bool running_ = false;
    bool stopRequested_ = false;
};

}  // namespace zolt

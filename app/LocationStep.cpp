// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/LocationStep.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRadioButton>
#include <algorithm>

#include "app/Guarded.h"
#include "app/MatchAllSummary.h"
#include "app/ShownNumbers.h"
#include "app/WorkingFileRepair.h"
#include "engine/LocationNames.h"
#include "engine/LocationSession.h"
#include "engine/MatchAll.h"
#include "ui_locationStep.h"
#include "work/WorkingFileCheck.h"

namespace zolt {

namespace {

QColor colourValue(LocationColour colour) {
    return colour == LocationColour::Yellow ? QColor(255, 255, 0) : QColor(255, 128, 128);
}

// Lets the window repaint and take input several times a second during a
// run, without paying for an event pass per reception.
class RepaintPacer {
  public:
    void restart() { since_.invalidate(); }
    void tick() {
        if (!since_.isValid() || since_.elapsed() >= 40) {
            QCoreApplication::processEvents();
            since_.start();
        }
    }

  private:
    QElapsedTimer since_;  // invalid until the first pass: repaint at once
};

// A location's name as much as fits a button's width: a long one would
// widen the step past the window and push FINALIZE off it.
QString shortName(const QWidget* on, const QString& name) {
    return on->fontMetrics().elidedText(name, Qt::ElideRight, 220);
}

}  // namespace

LocationStep::LocationStep(LocationSession& session, std::filesystem::path registryFile,
                           QWidget* parent)
    : QFrame(parent),
      ui(std::make_unique<Ui::LocationStep>()),
      session_(session),
      registryFile_(std::move(registryFile)) {
    ui->setupUi(this);
    QRadioButton* const buttons[] = {
        ui->locationButton1,  ui->locationButton2,  ui->locationButton3,  ui->locationButton4,
        ui->locationButton5,  ui->locationButton6,  ui->locationButton7,  ui->locationButton8,
        ui->locationButton9,  ui->locationButton10, ui->locationButton11, ui->locationButton12,
        ui->locationButton13, ui->locationButton14, ui->locationButton15, ui->locationButton16};
    for (int k = 1; k <= kLocationCount; ++k) {
        buttons_[static_cast<std::size_t>(k)] = buttons[k - 1];
        // Toggled, not clicked: the keyboard and assistive technology choose
        // a location the same way a mouse does.
        connect(buttons[k - 1], &QRadioButton::toggled, this,
                [this, k](bool checked) { locationToggled(k, checked); });
        setColour(k, LocationColour::ButtonFace);
    }
    connect(ui->startMatchingButton, &QPushButton::clicked, this, &LocationStep::startMatching);
    connect(ui->matchAllButton, &QPushButton::clicked, this, &LocationStep::matchAll);
    connect(ui->finalizeButton, &QPushButton::clicked, this, &LocationStep::finalizeRequested);
    connect(ui->exportLogButton, &QPushButton::clicked, this, &LocationStep::exportRequested);
}

LocationStep::~LocationStep() = default;

QRadioButton* LocationStep::locationButton(int index) const {
    return buttons_.at(static_cast<std::size_t>(index));
}

LocationColour LocationStep::locationColour(int index) const {
    return colours_.at(static_cast<std::size_t>(index));
}

QString LocationStep::locationName(int index) const {
    return names_.at(static_cast<std::size_t>(index));
}

void LocationStep::requestStop() { stopRequested_ = true; }

void LocationStep::enter() {
    ui->startMatchingButton->setEnabled(false);
    refreshColours();
    const auto names = LoadLocationNames(registryFile_);
    for (int k = 1; k <= kLocationCount; ++k) {
        QString name = QString::fromStdString(names[static_cast<std::size_t>(k - 1)]);
        // A name is shown as the listener typed it: an ampersand in it is a
        // character, not the mark of a shortcut key. A long one is cut short
        // on its button, which then carries the whole name as its tooltip.
        QRadioButton* button = locationButton(k);
        const QString shown = shortName(button, name);
        button->setText(QString(shown).replace(QLatin1Char('&'), QStringLiteral("&&")));
        button->setToolTip(shown == name ? QString() : name);
        button->setAccessibleName(name);
        names_[static_cast<std::size_t>(k)] = std::move(name);
    }
    // The keyboard starts on the first location that can be chosen, so that
    // the step is where the keyboard and a screen reader are.
    QWidget* first = ui->finalizeButton;
    for (int k = kLocationCount; k >= 1; --k) {
        if (locationButton(k)->isEnabled()) first = locationButton(k);
    }
    first->setFocus();
}

void LocationStep::setColour(int index, LocationColour colour) {
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

bool LocationStep::refreshColours() {
    std::array<LocationState, kLocationCount> states{};
    if (!guarded(this, [&] { states = scanLocationStates(session_.paths().ProcessedPath); })) {
        // States unknown: nothing can be opened until they are read again.
        for (int k = 1; k <= kLocationCount; ++k) locationButton(k)->setEnabled(false);
        return false;
    }
    for (int k = 1; k <= kLocationCount; ++k) {
        const LocationState state = states[static_cast<std::size_t>(k - 1)];
        locationButton(k)->setEnabled(hasPendingWork(state) && !running_);
        setColour(k, colourOf(state));
    }
    ui->matchAllButton->setEnabled(
        !running_ && std::any_of(states.begin(), states.end(), [](LocationState state) {
            return state == LocationState::NotMatched;
        }));
    return true;
}

void LocationStep::clearChoice() {
    // An exclusive group cannot be emptied by unchecking one button.
    for (int k = 1; k <= kLocationCount; ++k) {
        QSignalBlocker block(locationButton(k));
        locationButton(k)->setAutoExclusive(false);
        locationButton(k)->setChecked(false);
        locationButton(k)->setAutoExclusive(true);
    }
}

void LocationStep::locationToggled(int k, bool checked) {
    if (!checked || running_) return;
    session_.clear();
    const WorkingFileStatus status =
        soundWorkingFile(this, session_.paths(), session_.projectLoaded());
    if (status != WorkingFileStatus::Sound) {
        clearChoice();
        // Rebuilt, the buttons show the new file. Kept damaged, its colours
        // would claim locations done that are not: back to the welcome panel,
        // where Continue asks again.
        if (status == WorkingFileStatus::Rebuilt) {
            emit workingFileRebuilt();
            enter();
        } else {
            emit welcomeWanted();
        }
        return;
    }
    ui->startMatchingButton->setEnabled(false);
    if (!guarded(this, [&] { session_.choose(k); })) return abandon(k);
    ui->startMatchingButton->setEnabled(session_.work().unpCount > 0);
    if (locationColour(k) == LocationColour::LightRed) {
        ui->startMatchingButton->setEnabled(true);
        ui->startMatchingButton->setFocus();
        return;
    }
    emit resolutionWanted();
}

void LocationStep::abandon(int k) {
    // A location whose receptions or home could not be read is not opened:
    // step one stays, no location chosen, so that choosing it again retries.
    session_.clear();
    clearChoice();
    ui->startMatchingButton->setEnabled(false);
    locationButton(k)->setFocus();
}

void LocationStep::setRunning(bool running) {
    running_ = running;
    ui->finalizeButton->setEnabled(!running);
    if (running) {
        stopRequested_ = false;
        ui->startMatchingButton->setEnabled(false);
        ui->matchAllButton->setEnabled(false);
        // The working set must not change under the run: no other location.
        for (int k = 1; k <= kLocationCount; ++k) locationButton(k)->setEnabled(false);
    }
    ui->matchProgress->setValue(0);
    emit busyChanged(running);
}

void LocationStep::finishRun() {
    if (stopRequested_) emit runEnded();
}

void LocationStep::startMatching() {
    if (running_ || session_.location() == 0) return;
    setRunning(true);
    RepaintPacer pacer;
    MatchOutcome outcome;
    bool settledElsewhere = false;
    const bool ok = guarded(this, [&] {
        try {
            outcome = session_.match([&](int, int, float percent) {
                ui->matchProgress->setValue(static_cast<int>(percent));
                pacer.tick();
                return !stopRequested_;
            });
        } catch (const SettledElsewhere&) {
            settledElsewhere = true;
            throw;
        }
    });
    setRunning(false);
    if (!ok && settledElsewhere) {
        showAsStored();  // another window matched it meanwhile
    } else if (!ok || outcome.cancelled) {
        // Cancelled or refused, nothing was logged and no state changed; a
        // run stored before a later read failed left the session holding
        // its new states. Either way START MATCHING is offered only while
        // receptions wait to be matched.
        refreshColours();
        ui->startMatchingButton->setEnabled(session_.work().unpCount > 0);
    } else {
        refreshColours();
        emit resolutionWanted();
    }
    finishRun();
}

void LocationStep::showAsStored() {
    refreshColours();
    const int k = session_.location();
    if (k != 0) locationToggled(k, true);
}

void LocationStep::matchAll() {
    if (running_) return;
    const ProjectPaths paths = session_.paths();
    MatchAllPlan plan;
    if (!guarded(this, [&] { plan = planMatchAll(paths.ProcessedPath); })) return;
    if (plan.locations.empty()) {
        showFailure(this, QStringLiteral("No location has receptions waiting to be matched."));
        // The button was offered: another window matched them meanwhile.
        showAsStored();
        return;
    }
    const int count = static_cast<int>(plan.locations.size());
    const QString prompt =
        QStringLiteral(
            "Match All Locations will match %1 with %2 receptions not yet matched, "
            "one location after the other. Are you sure you want to continue ?")
            .arg(counted(count, "location", "locations"), numberText(plan.waiting()));
    if (!confirmed(this, prompt)) return;

    setRunning(true);
    ui->matchAllLocationLabel->show();
    int shownLocation = 0, ordinal = 0;
    RepaintPacer pacer;
    const MatchAllResult result =
        runMatchAll(paths, plan, [&](int location, long long reached, long long total) {
            if (location != shownLocation) {
                shownLocation = location;
                ++ordinal;
                const QString caption = QStringLiteral("Matching %1 (location %2 of %3)");
                ui->matchAllLocationLabel->setText(
                    caption.arg(shortName(ui->matchAllLocationLabel, locationName(location)))
                        .arg(ordinal)
                        .arg(count));
                ui->matchAllLocationLabel->setToolTip(
                    caption.arg(locationName(location)).arg(ordinal).arg(count));
                pacer.restart();
            }
            ui->matchProgress->setValue(total > 0 ? static_cast<int>(reached * 100 / total) : 0);
            pacer.tick();
            return !stopRequested_;
        });
    ui->matchAllLocationLabel->clear();
    ui->matchAllLocationLabel->hide();
    setRunning(false);
    // A loaded location may have been matched meanwhile: nothing stays
    // chosen, and the buttons are coloured afresh.
    session_.clear();
    clearChoice();
    enter();
    if (stopRequested_) return finishRun();
    if (result.cancelled) return;
    if (result.failedLocation != 0) {
        const int before = static_cast<int>(result.matched.size());
        showFailure(
            this,
            QStringLiteral("Match All Locations stopped at %1 (location %2): %3 %4")
                .arg(locationName(result.failedLocation))
                .arg(result.failedLocation)
                .arg(QString::fromStdString(result.failure))
                .arg(before == 0 ? QStringLiteral("No location was matched.")
                     : before == 1
                         ? QStringLiteral("The location matched before it stays matched.")
                         : QStringLiteral("The %1 locations matched before it stay matched.")
                               .arg(numberText(before))));
        return;
    }
    MatchAllSummaryDialog summary(result, [this](int k) { return locationName(k); }, this);
    summary.exec();
}

}  // namespace zolt

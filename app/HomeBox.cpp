// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/HomeBox.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/Guarded.h"
#include "core/Geo.h"
#include "engine/LocationMap.h"

namespace zolt {

HomeBox::HomeBox(QLabel* shown, QLineEdit* entry, QPushButton* setHome, const ProjectPaths& paths,
                 Hooks hooks, QWidget* window)
    : QObject(window),
      shown_(shown),
      entry_(entry),
      paths_(paths),
      hooks_(std::move(hooks)),
      window_(window) {
    connect(setHome, &QPushButton::clicked, this, &HomeBox::setHome);
    connect(entry, &QLineEdit::returnPressed, this, &HomeBox::setHome);
    // A description, not a name: a label's name would hide the home it shows.
    shown->setAccessibleDescription(QStringLiteral("Home of this location"));
}

bool HomeBox::refresh() {
    const auto location = hooks_.location();
    LocationHome home;
    if (location && !guarded(window_, [&] { home = locationHome(paths_, *location); })) {
        return false;
    }
    show(std::move(home));
    return true;
}

void HomeBox::show(LocationHome home) {
    const auto location = hooks_.location();
    home_ = std::move(home);
    shown_->setText(location ? QString::fromStdString(describeHome(home_)) : QString());
    // The entry box shows the stored entry when a location is opened, and
    // otherwise keeps what the listener is typing.
    if (location.value_or(0) != entryLocation_) {
        entryLocation_ = location.value_or(0);
        entry_->setText(QString::fromStdString(home_.entered));
    }
}

void HomeBox::setHome() {
    const auto location = hooks_.location();
    if (hooks_.busy() || !location) return;
    const std::string text = entry_->text().toStdString();
    const auto keepTyping = [this] {
        entry_->setFocus();
        entry_->selectAll();
    };
    // Everything the new home changes is read before the entry is stored, so
    // that a failed read leaves the stored entry and the screen as they were.
    LocationHome next;
    if (!guarded(window_, [&] { next = previewHomeEntry(paths_, *location, text); })) {
        return keepTyping();
    }
    if (const auto km = farFromInferredKm(next)) {
        const QString prompt =
            QStringLiteral(
                "The home you typed, %1, lies %2 from the place the %3 beacons logged at this "
                "location point to (%4). Distances and suggested picks would then favour "
                "beacons near the typed place. Are you sure you want to store it ?")
                .arg(QString::fromStdString(next.entered), QString::fromStdString(formatKm(*km)))
                .arg(next.beaconCount)
                .arg(QString::fromStdString(formatLatLon(*next.inferred, 1)));
        if (!hooks_.confirm(prompt)) return keepTyping();
    }
    const std::function<void()> followed = hooks_.follow(next);
    if (!followed) return keepTyping();
    if (!guarded(window_, [&] { writeHomeEntry(paths_, *location, text); })) return keepTyping();
    entryLocation_ = 0;  // show the entry as stored
    show(std::move(next));
    followed();
}

}  // namespace zolt

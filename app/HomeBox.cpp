// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/HomeBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Guarded.h"
#include "app/ShownNumbers.h"
#include "core/Geo.h"
#include "engine/LocationMap.h"
#include "engine/LocationSession.h"

namespace zolt {

HomeBox::HomeBox(QWidget* parent)
    : QGroupBox(parent),
      shown_(new QLabel(this)),
      entry_(new QLineEdit(this)),
      setHome_(new QPushButton(QStringLiteral("Set &Home"), this)) {
    shown_->setObjectName(QStringLiteral("homeLabel"));
    shown_->setTextFormat(Qt::PlainText);
    shown_->setWordWrap(true);
    shown_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A description, not a name: a label's name would hide the home it shows.
    shown_->setAccessibleDescription(QStringLiteral("Home of this location"));
    auto* entryLabel = new QLabel(QStringLiteral("Your locator or lat, lo&n:"), this);
    entryLabel->setObjectName(QStringLiteral("homeEntryLabel"));
    entryLabel->setBuddy(entry_);
    entry_->setObjectName(QStringLiteral("homeEntry"));
    entry_->setAccessibleName(QStringLiteral("Home locator or position"));
    entry_->setPlaceholderText(QStringLiteral("JO62qm or 55.6, 12.6"));
    entry_->setToolTip(
        QStringLiteral("A Maidenhead locator (JO62 or JO62qm) or latitude and longitude in "
                       "degrees. Leave it empty and press Set Home to infer home from the beacons "
                       "already logged here."));
    setHome_->setObjectName(QStringLiteral("setHomeButton"));
    setHome_->setAutoDefault(true);

    auto* column = new QVBoxLayout(this);
    column->addWidget(shown_);
    column->addWidget(entryLabel);
    auto* row = new QHBoxLayout;
    row->addWidget(entry_);
    row->addWidget(setHome_);
    column->addLayout(row);

    connect(setHome_, &QPushButton::clicked, this, &HomeBox::setHome);
    connect(entry_, &QLineEdit::returnPressed, this, &HomeBox::setHome);
}

void HomeBox::attach(LocationSession& session) {
    session_ = &session;
    session.observe([this](unsigned changes) { show(changes); });
}

void HomeBox::show(unsigned changes) {
    if (!(changes & (LocationSession::Home | LocationSession::Location))) return;
    const int location = session_->location();
    const LocationHome& home = session_->home();
    shown_->setText(location != 0 ? QString::fromStdString(describeHome(home)) : QString());
    // The entry box shows the stored entry when a location is opened, and
    // otherwise keeps what the listener is typing.
    if (location != entryLocation_) {
        entryLocation_ = location;
        entry_->setText(QString::fromStdString(home.entered));
    }
}

void HomeBox::setHome() {
    const int location = session_ ? session_->location() : 0;
    if (location == 0) return;
    const std::string text = entry_->text().toStdString();
    const auto keepTyping = [this] {
        entry_->setFocus();
        entry_->selectAll();
    };
    LocationHome next;
    if (!guarded(window(), [&] { next = previewHomeEntry(session_->paths(), location, text); })) {
        return keepTyping();
    }
    if (const auto km = farFromInferredKm(next)) {
        const QString prompt =
            QStringLiteral(
                "The home you typed, %1, lies %2 from the place the %3 beacons logged at this "
                "location point to (%4). Distances and suggested picks would then favour "
                "beacons near the typed place. Are you sure you want to store it ?")
                .arg(QString::fromStdString(next.entered), QString::fromStdString(formatKm(*km)),
                     numberText(next.beaconCount),
                     QString::fromStdString(formatLatLon(*next.inferred, 1)));
        if (!confirmed(window(), prompt)) return keepTyping();
    }
    entryLocation_ = 0;  // show the entry as stored
    if (!guarded(window(), [&] { session_->setHomeEntry(text, std::move(next)); })) {
        entryLocation_ = location;
        return keepTyping();
    }
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/WelcomePanel.h"

#include "app/ShownNumbers.h"
#include "ui_welcomePanel.h"

namespace zolt {

WelcomePanel::WelcomePanel(QWidget* parent)
    : QFrame(parent), ui(std::make_unique<Ui::WelcomePanel>()) {
    ui->setupUi(this);
    finishedText_ = ui->allDoneLabel->text();
    ui->allDoneLabel->hide();
    connect(ui->startNewButton, &QPushButton::clicked, this, &WelcomePanel::startNewRequested);
    connect(ui->continueButton, &QPushButton::clicked, this, &WelcomePanel::continueRequested);
    connect(ui->exportLogWelcomeButton, &QPushButton::clicked, this,
            &WelcomePanel::exportRequested);
    connect(ui->welcomeExitButton, &QPushButton::clicked, this, &WelcomePanel::exitRequested);
}

WelcomePanel::~WelcomePanel() = default;

void WelcomePanel::setStartNewEnabled(bool enabled) { ui->startNewButton->setEnabled(enabled); }

void WelcomePanel::setContinueEnabled(bool enabled) { ui->continueButton->setEnabled(enabled); }

void WelcomePanel::setExportOffered(bool offered) {
    ui->exportLogWelcomeButton->setVisible(offered);
}

void WelcomePanel::showFinished(std::size_t unconverted, bool shown) {
    ui->allDoneLabel->setText(
        unconverted == 0
            ? finishedText_
            : QStringLiteral("The conversion is finished, but %1 left unconverted. Run ZOLT 6.4 "
                             "and verify all your data is present. If all OK, this utility can "
                             "be uninstalled from your computer, otherwise hit START NEW "
                             "PROJECT to restart the conversion from scratch.")
                  .arg(counted(static_cast<int>(unconverted), "reception was", "receptions were")));
    ui->allDoneLabel->setVisible(shown);
}

void WelcomePanel::hideFinished() { ui->allDoneLabel->hide(); }

void WelcomePanel::focusFirst() { ui->startNewButton->setFocus(); }

}  // namespace zolt

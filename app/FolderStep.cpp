// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FolderStep.h"

#include "app/StepZeroLists.h"
#include "ui_folderStep.h"

namespace zolt {

FolderStep::FolderStep(QWidget* parent) : QFrame(parent), ui(std::make_unique<Ui::FolderStep>()) {
    ui->setupUi(this);
    browser_ = new FolderBrowser(ui->driveList, ui->folderList, ui->fileList, {}, this);
    connect(ui->startConversionButton, &QPushButton::clicked, this,
            [this] { emit conversionRequested(browser_->currentPath()); });
}

FolderStep::~FolderStep() = default;

void FolderStep::offerBackups() {
    browser_->setFilePatterns({QStringLiteral("ndb.bak"), QStringLiteral("log*.bak")});
}

void FolderStep::focusFirst() { ui->folderList->setFocus(); }

}  // namespace zolt

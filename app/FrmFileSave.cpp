// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FrmFileSave.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <system_error>

#include "app/NativePath.h"
#include "app/StepZeroLists.h"
#include "core/EngineError.h"
#include "ui_frmFileSave.h"

namespace zolt {

FrmFileSave::FrmFileSave(ReportKind kind, int location, std::filesystem::path processedPath,
                         QWidget* parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::frmFileSave>()),
      kind_(kind),
      location_(location),
      processedPath_(std::move(processedPath)) {
    ui->setupUi(this);
    setWindowTitle(QString::fromStdString(reportDialogCaption(kind_)));
    ui->fileNameEntry->setText(QString::fromStdString(defaultReportFileName(kind_, location_)));
    ui->fileNameLabel->setBuddy(ui->fileNameEntry);
    ui->driveLabel->setBuddy(ui->driveList);
    // The folder list starts at the process's current folder.
    browser_ = new FolderBrowser(ui->driveList, ui->folderList, nullptr, {}, this);
    connect(ui->saveButton, &QPushButton::clicked, this, &FrmFileSave::saveButton_Click);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    ui->fileNameEntry->setFocus();
}

FrmFileSave::~FrmFileSave() = default;

std::filesystem::path FrmFileSave::targetPath() const {
    return reportTargetPath(pathFromQString(browser_->currentPath()),
                            ui->fileNameEntry->text().toStdString());
}

void FrmFileSave::saveButton_Click() {
    try {
        const std::filesystem::path target = targetPath();
        std::error_code ec;
        // Replacing a file is the user's decision, and No is the safe answer.
        // A folder of that name is not replaced: the write below explains why.
        if (std::filesystem::exists(target, ec) && !std::filesystem::is_directory(target, ec)) {
            QMessageBox box(
                QMessageBox::Question, windowTitle(),
                tr("The file %1 already exists. Do you want to replace it?")
                    .arg(QDir::toNativeSeparators(QString::fromStdString(target.string()))),
                QMessageBox::Yes | QMessageBox::No, this);
            box.setDefaultButton(QMessageBox::No);
            box.setEscapeButton(QMessageBox::No);
            if (box.exec() != QMessageBox::Yes) return;
        }
        writeReport(processedPath_, kind_, location_, target);
        accept();
    } catch (const EngineError& error) {
        // The user may pick another name or folder and try again.
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(error.what()));
    }
}

}  // namespace zolt

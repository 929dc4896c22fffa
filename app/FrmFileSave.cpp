// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FrmFileSave.h"

#include <QMessageBox>
#include <QPushButton>

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
    ui->txtFileName->setText(QString::fromStdString(defaultReportFileName(kind_, location_)));
    ui->Label2->setBuddy(ui->txtFileName);
    ui->Label1->setBuddy(ui->Drive1);
    // The folder list starts at the process's current folder.
    browser_ = new FolderBrowser(ui->Drive1, ui->dirDirectory, nullptr, {}, this);
    connect(ui->frm, &QPushButton::clicked, this, &FrmFileSave::frm_Click);
    connect(ui->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    ui->txtFileName->setFocus();
}

FrmFileSave::~FrmFileSave() = default;

std::filesystem::path FrmFileSave::targetPath() const {
    return reportTargetPath(browser_->currentPath().toStdString(),
                            ui->txtFileName->text().toStdString());
}

void FrmFileSave::frm_Click() {
    try {
        writeReport(processedPath_, kind_, location_, targetPath());
        accept();
    } catch (const EngineError& error) {
        // The user may pick another name or folder and try again.
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(error.what()));
    }
}

}  // namespace zolt

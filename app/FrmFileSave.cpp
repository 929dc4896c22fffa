// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FrmFileSave.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <system_error>

#include "app/NativePath.h"
#include "app/StepZeroLists.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "ui_frmFileSave.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

// Where the last report of this session went; empty before the first.
fs::path lastFolder;

// Why nothing can be written in `folder`, or empty: a missing folder, or a
// file where a folder should be, named as the listener typed its path.
std::string folderProblem(const fs::path& folder) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return {};
    // The nearest part of the path that exists says which of the two it is.
    for (fs::path part = folder; !part.empty(); part = part.parent_path()) {
        const auto status = fs::status(part, ec);
        if (fs::exists(status)) {
            if (fs::is_directory(status)) break;
            return pathToUtf8(part) + " is a file, not a folder";
        }
        if (part == part.parent_path()) break;
    }
    return "the folder " + pathToUtf8(folder) + " does not exist";
}

}  // namespace

void FrmFileSave::forgetLastFolder() { lastFolder.clear(); }

FrmFileSave::FrmFileSave(ReportKind kind, int location, fs::path processedPath,
                         const fs::path& documentsFolder, QWidget* parent)
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
    browser_ = new FolderBrowser(ui->driveList, ui->folderList, nullptr, {}, this);
    // Where the listener keeps files, not wherever the program was started.
    for (const fs::path& folder : {lastFolder, documentsFolder}) {
        if (!folder.empty() && browser_->openFolder(QString::fromStdString(pathToUtf8(folder))))
            break;
    }
    connect(ui->saveButton, &QPushButton::clicked, this, &FrmFileSave::saveButton_Click);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    ui->fileNameEntry->setFocus();
}

FrmFileSave::~FrmFileSave() = default;

fs::path FrmFileSave::targetPath() const {
    const fs::path folder = pathFromQString(browser_->currentPath());
    const std::string typed = ui->fileNameEntry->text().toStdString();
    const fs::path typedPath = pathFromUtf8(typed);
    // A bare name goes into the folder shown, checked as ever.
    if (typed.find('\0') != std::string::npos || !typedPath.has_parent_path()) {
        return reportTargetPath(folder, typed);
    }
    // A path: from the folder shown, unless it is absolute. Its last part
    // is checked as a bare name is, in the folder the path names.
    const fs::path target = folder / typedPath;
    const fs::path parent = target.parent_path();
    const std::string name = pathToUtf8(target.filename());
    if (name.empty() || name == "." || name == "..") {
        throw EngineError("Could not save the report to " + pathToUtf8(target) +
                          ": the path names a folder, not a file.");
    }
    if (const std::string problem = folderProblem(parent); !problem.empty()) {
        throw EngineError("Could not save the report to " + describePath(target) + ": " + problem +
                          ".");
    }
    return reportTargetPath(parent, name);
}

void FrmFileSave::saveButton_Click() {
    try {
        const fs::path target = targetPath();
        std::error_code ec;
        // Replacing a file is the user's decision, and No is the safe answer.
        // A folder of that name is not replaced: the write below explains why.
        if (fs::exists(target, ec) && !fs::is_directory(target, ec)) {
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
        lastFolder = target.parent_path();
        accept();
    } catch (const EngineError& error) {
        // The user may pick another name or folder and try again.
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(error.what()));
    }
}

}  // namespace zolt

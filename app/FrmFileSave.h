// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <filesystem>
#include <memory>

#include "engine/Report.h"

namespace Ui {
class frmFileSave;
}

namespace zolt {

class FolderBrowser;

// The report dialog: a folder and a file name; OK writes the report of the
// location's ambiguous or unresolved receptions and closes, Cancel closes.
// A report that cannot be written is explained and the dialog stays open.
class FrmFileSave : public QDialog {
    Q_OBJECT
  public:
    FrmFileSave(ReportKind kind, int location, std::filesystem::path processedPath,
                QWidget* parent = nullptr);
    ~FrmFileSave() override;

    FolderBrowser* folderBrowser() const { return browser_; }
    // The path OK would write to.
    std::filesystem::path targetPath() const;

  private:
    void saveButton_Click();

    std::unique_ptr<Ui::frmFileSave> ui;
    ReportKind kind_;
    int location_;
    std::filesystem::path processedPath_;
    FolderBrowser* browser_ = nullptr;
};

}  // namespace zolt

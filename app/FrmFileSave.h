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
// It opens in the folder the last report of this session went to, else in
// `documentsFolder`. The name may also be a path: absolute, or from the
// folder shown.
class FrmFileSave : public QDialog {
    Q_OBJECT
  public:
    FrmFileSave(ReportKind kind, int location, std::filesystem::path processedPath,
                const std::filesystem::path& documentsFolder, QWidget* parent = nullptr);
    ~FrmFileSave() override;

    FolderBrowser* folderBrowser() const { return browser_; }
    // The path OK would write to. Throws EngineError naming it and the
    // reason when no report can be written there.
    std::filesystem::path targetPath() const;
    // Forgets the folder of the last report, as a new session starts.
    static void forgetLastFolder();

  private:
    void saveButton_Click();

    std::unique_ptr<Ui::frmFileSave> ui;
    ReportKind kind_;
    int location_;
    std::filesystem::path processedPath_;
    FolderBrowser* browser_ = nullptr;
};

}  // namespace zolt

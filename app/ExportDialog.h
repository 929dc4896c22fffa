// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <filesystem>
#include <functional>

#include "engine/LogExport.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace zolt {

// Export Log: format, location (all, or one), how to read the old dates, then
// the file through the standard save dialog. The log is read once, before
// the dialog opens; the dialog stays open when a file cannot be written.
class ExportDialog : public QDialog {
    Q_OBJECT
  public:
    // `log` holds every location; `selected` is preselected (0: all).
    ExportDialog(ExportedLog log, int selected, QWidget* parent = nullptr);

    // Reads the project's log and runs the dialog; a failure to read it or an
    // empty log is said in a message box instead.
    static void run(QWidget* parent, const ProjectPaths& paths,
                    const std::filesystem::path& registryFile, int selected);

    // The Export Log button, for a place beside the window's own buttons.
    static QPushButton* makeButton(const char* objectName, QWidget* parent);

    // Asks for the file: (suggested path, name filter) -> chosen path, or
    // empty for Cancel. The standard save dialog unless a test replaces it.
    std::function<QString(const QString&, const QString&)> chooseFile;

    QComboBox* formatBox() const { return format_; }
    QComboBox* locationBox() const { return location_; }
    QComboBox* dateOrderBox() const { return order_; }
    QLabel* datesLabel() const { return dates_; }
    QPushButton* exportButton() const { return export_; }
    // The closing message of the last file written.
    const QString& summary() const { return summary_; }

    // The folder the save dialog opens in: the last one written to while the
    // program runs, the Documents folder before that.
    static QString lastFolder;

  private:
    void refreshDates();
    void exportClicked();
    ExportedLog shownLog() const;

    ExportedLog log_;
    QComboBox* format_ = nullptr;
    QComboBox* location_ = nullptr;
    QComboBox* order_ = nullptr;
    QLabel* dates_ = nullptr;
    QPushButton* export_ = nullptr;
    QString summary_;
};

}  // namespace zolt

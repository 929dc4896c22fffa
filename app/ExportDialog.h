// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <filesystem>
#include <functional>
#include <map>

#include "engine/LogExport.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zolt {

// Export Log: format, location (all, or one), how to read each location's
// old dates, the options of the format, then the file through the standard
// save dialog. The log is read once, before the dialog opens; the dialog
// stays open when a file cannot be written.
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
    // A location's date order and what its dates show; nullptr for a
    // location without receptions.
    QComboBox* dateOrderBox(int location) const;
    QLabel* datesLabel(int location) const;
    QCheckBox* exactTextBox() const { return exactText_; }
    QLineEdit* stationCallsignEdit() const { return callsign_; }
    // What the chosen export leaves out or cannot say (no typed home,
    // beacons off the map, receptions ADIF cannot hold).
    QLabel* notesLabel() const { return notes_; }
    QPushButton* exportButton() const { return export_; }
    // The closing message of the last file written.
    const QString& summary() const { return summary_; }

    // The folder the save dialog opens in: the last one written to while the
    // program runs, the Documents folder before that.
    static QString lastFolder;

  private:
    struct DateRow {
        QWidget* caption = nullptr;
        QComboBox* order = nullptr;
        QLabel* finding = nullptr;
    };
    void refresh();
    void exportClicked();
    ExportedLog shownLog() const;
    ExportOptions chosenOptions() const;

    ExportedLog log_;
    QComboBox* format_ = nullptr;
    QComboBox* location_ = nullptr;
    QFormLayout* form_ = nullptr;
    std::map<int, DateRow> dateRows_;
    QCheckBox* exactText_ = nullptr;
    QLineEdit* callsign_ = nullptr;
    QLabel* notes_ = nullptr;
    QPushButton* export_ = nullptr;
    QString summary_;
};

}  // namespace zolt

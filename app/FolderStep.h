// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QFrame>
#include <memory>

namespace Ui {
class FolderStep;
}

namespace zolt {

class FolderBrowser;

// Step zero: where the old version's backups are. START CONVERSION asks
// for the folder on screen to be imported.
class FolderStep : public QFrame {
    Q_OBJECT
  public:
    explicit FolderStep(QWidget* parent = nullptr);
    ~FolderStep() override;

    FolderBrowser* browser() const { return browser_; }
    // The folder lists fill once a project may be started.
    void offerBackups();
    void focusFirst();

  signals:
    // The folder on screen, as the user chose it.
    void conversionRequested(const QString& folder);

  private:
    std::unique_ptr<Ui::FolderStep> ui;
    FolderBrowser* browser_ = nullptr;
};

}  // namespace zolt

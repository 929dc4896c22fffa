// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QComboBox;
class QListWidget;
class QListWidgetItem;
class QWidget;

namespace zolt {

// The drive, folder and file lists of a folder chooser: the drive list holds
// the mounted volumes' roots; the folder list the current folder's ancestors
// from the root down, then its sub-folders, and a single click (or Enter)
// opens an entry; the optional file list shows the current folder's files
// that match the patterns, without regard to letter case. Used by step zero
// and by the report dialog.
class FolderBrowser : public QObject {
    Q_OBJECT
  public:
    FolderBrowser(QComboBox* drives, QListWidget* folders, QListWidget* files,
                  QStringList filePatterns, QWidget* messageParent);

    QString currentPath() const { return current_; }
    // Opens `path`; returns false (and changes nothing) when it is no folder.
    bool openFolder(const QString& path);
    // Selects the drive whose root is `root`, as the user would.
    void chooseDrive(const QString& root);
    void setFilePatterns(const QStringList& patterns);

  signals:
    void folderChanged(const QString& path);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void fillDrives();
    void fillFolders();
    void fillFiles();
    void onDriveChanged(int index);
    void onFolderChosen(QListWidgetItem* item);

    QComboBox* drives_;
    QListWidget* folders_;
    QListWidget* files_;
    QStringList patterns_;
    QWidget* messageParent_;
    QString current_;
    bool filling_ = false;
};

// Roots of the machine's mounted volumes, the system root first.
QStringList driveRoots();

}  // namespace zolt

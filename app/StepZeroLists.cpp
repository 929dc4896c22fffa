// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/StepZeroLists.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QStorageInfo>

namespace zolt {

namespace {
constexpr int kPathRole = Qt::UserRole + 1;

QString rootOf(const QString& path) {
    QDir dir(path);
    while (dir.cdUp()) {
    }
    return dir.absolutePath();
}
}  // namespace

QStringList driveRoots() {
    QStringList roots;
    const QString systemRoot = QDir::rootPath();
    roots << systemRoot;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid()) continue;
        const QString root = volume.rootPath();
        if (!roots.contains(root)) roots << root;
    }
    return roots;
}

FolderBrowser::FolderBrowser(QComboBox* drives, QListWidget* folders, QListWidget* files,
                             QStringList filePatterns, QWidget* messageParent)
    : QObject(messageParent),
      drives_(drives),
      folders_(folders),
      files_(files),
      patterns_(std::move(filePatterns)),
      messageParent_(messageParent) {
    fillDrives();
    connect(drives_, &QComboBox::currentIndexChanged, this, &FolderBrowser::onDriveChanged);
    // A single click opens a folder; Enter does the same for the keyboard.
    connect(folders_, &QListWidget::itemClicked, this, &FolderBrowser::onFolderChosen);
    connect(folders_, &QListWidget::itemActivated, this, &FolderBrowser::onFolderChosen);
    folders_->installEventFilter(this);
    // Assistive tools choose an entry by selecting it, without a click and
    // without focus on the list. With focus, a selection change is the
    // keyboard moving through the list, which must not open every folder on
    // the way; Enter opens the chosen one.
    connect(folders_, &QListWidget::itemSelectionChanged, this, [this] {
        if (filling_ || folders_->hasFocus()) return;
        const QList<QListWidgetItem*> selected = folders_->selectedItems();
        if (!selected.isEmpty()) onFolderChosen(selected.first());
    });
    if (!openFolder(QDir::currentPath())) openFolder(QDir::homePath());
}

void FolderBrowser::fillDrives() {
    filling_ = true;
    drives_->clear();
    for (const QString& root : driveRoots()) drives_->addItem(QDir::toNativeSeparators(root), root);
    filling_ = false;
}

void FolderBrowser::setFilePatterns(const QStringList& patterns) {
    patterns_ = patterns;
    fillFiles();
}

bool FolderBrowser::openFolder(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir()) return false;
    current_ = QDir(info.absoluteFilePath()).absolutePath();
    // Keep the drive list on the volume that holds the folder.
    const QString volume = QStorageInfo(current_).rootPath();
    const int driveIndex = drives_->findData(volume.isEmpty() ? rootOf(current_) : volume);
    if (driveIndex >= 0 && driveIndex != drives_->currentIndex()) {
        filling_ = true;
        drives_->setCurrentIndex(driveIndex);
        filling_ = false;
    }
    fillFolders();
    fillFiles();
    emit folderChanged(current_);
    return true;
}

void FolderBrowser::chooseDrive(const QString& root) {
    const int index = drives_->findData(root);
    if (index >= 0) drives_->setCurrentIndex(index);
}

void FolderBrowser::fillFolders() {
    const bool wasFilling = filling_;
    filling_ = true;
    folders_->clear();
    QStringList chain;  // the current folder and its ancestors, root last
    QDir dir(current_);
    chain << dir.absolutePath();
    while (dir.cdUp()) chain << dir.absolutePath();
    int depth = 0;
    QListWidgetItem* currentItem = nullptr;
    for (auto it = chain.crbegin(); it != chain.crend(); ++it, ++depth) {
        const QString name =
            QDir(*it).isRoot() ? QDir::toNativeSeparators(*it) : QDir(*it).dirName();
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, folders_);
        item->setData(kPathRole, *it);
        currentItem = item;
    }
    const QStringList children =
        QDir(current_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& child : children) {
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + child, folders_);
        item->setData(kPathRole, QDir(current_).absoluteFilePath(child));
    }
    if (currentItem) folders_->setCurrentItem(currentItem);
    filling_ = wasFilling;
}

void FolderBrowser::fillFiles() {
    if (!files_) return;
    files_->clear();
    // Without QDir::CaseSensitive the patterns ignore letter case, so a
    // LOG3.BAK copied from another disk shows like log3.bak.
    const QStringList names = QDir(current_).entryList(patterns_, QDir::Files | QDir::Hidden,
                                                       QDir::Name | QDir::IgnoreCase);
    files_->addItems(names);
}

void FolderBrowser::onDriveChanged(int index) {
    if (filling_ || index < 0) return;
    const QString root = drives_->itemData(index).toString();
    if (!QFileInfo(root).isDir() || !openFolder(root)) {
        QMessageBox::critical(messageParent_, QStringLiteral("Error"),
                              QStringLiteral("Error selecting drive. Make sure drive exists"),
                              QMessageBox::Ok);
        // Back to the drive of the folder still shown.
        filling_ = true;
        const int back = drives_->findData(QStorageInfo(current_).rootPath());
        if (back >= 0) drives_->setCurrentIndex(back);
        filling_ = false;
    }
}

bool FolderBrowser::eventFilter(QObject* watched, QEvent* event) {
    // Enter opens the current folder and goes no further: in a dialog it
    // would also press the default button and save into the folder before.
    if (watched == folders_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            onFolderChosen(folders_->currentItem());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void FolderBrowser::onFolderChosen(QListWidgetItem* item) {
    if (!item) return;
    const QString path = item->data(kPathRole).toString();
    // Opening rebuilds the list and so deletes `item`, while a click may be
    // followed by an activation of the same item: open once control returns
    // to the event loop.
    QMetaObject::invokeMethod(
        this,
        [this, path] {
            if (path != current_) openFolder(path);
        },
        Qt::QueuedConnection);
}

}  // namespace zolt

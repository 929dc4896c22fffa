// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <system_error>

#include "core/FileUtil.h"

namespace fs = std::filesystem;

namespace zolt {

QString SingleInstance::lockPathFor(const fs::path& workFolder) {
    // The same folder reached by another spelling is the same project.
    std::error_code ec;
    fs::path absolute = fs::weakly_canonical(fs::absolute(workFolder, ec), ec);
    if (ec) absolute = workFolder;
    std::string spelled = pathToUtf8(absolute.lexically_normal());
#ifdef _WIN32
    // Windows' file names ignore letter case: Documents\ZOLT is documents\zolt.
    spelled = QString::fromStdString(spelled).toLower().toStdString();
#endif
    const QByteArray key = QByteArray::fromStdString(spelled);
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
    return QDir(QDir::tempPath()).filePath(QStringLiteral("zolt-converter-%1.lock").arg(hash));
}

SingleInstance::SingleInstance(const fs::path& workFolder)
    : workFolder_(QString::fromStdString(pathToUtf8(workFolder))),
      lockPath_(lockPathFor(workFolder)),
      lock_(std::make_unique<QLockFile>(lockPath_)) {
    // Never stale by age: a converter may stay open for days. Only a lock
    // whose process is gone is stale, and QLockFile checks that itself.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire() {
    if (lock_->isLocked()) return true;
    if (lock_->tryLock(0)) return true;
    error_ = lock_->error();
    if (error_ == QLockFile::LockFailedError) {
        // A lock naming this very process was left by one that had the same
        // number and died (numbers begin again after a restart, and in Wine
        // whenever its server starts anew): this process never took it.
        qint64 pid = 0;
        QString host, application;
        if (lock_->getLockInfo(&pid, &host, &application) &&
            pid == QCoreApplication::applicationPid() && lock_->removeStaleLockFile() &&
            lock_->tryLock(0)) {
            error_ = QLockFile::NoError;
            return true;
        }
        return false;
    }
    // No lock file can be made at all (a temporary folder that cannot be
    // written): refusing would keep the user from the project for a reason
    // that has nothing to do with it. Each action still checks, before it
    // stores its rows, that its receptions are not settled already.
    qWarning("%s", qPrintable(refusal()));
    return true;
}

QString SingleInstance::refusal() const {
    if (error_ == QLockFile::LockFailedError) {
        return QStringLiteral(
                   "The converter is already running on these files (the working folder %1). "
                   "Please use the window that is open; a second one could log receptions "
                   "twice. This one closes without touching anything.")
            .arg(QDir::toNativeSeparators(workFolder_));
    }
    return QStringLiteral(
               "The converter cannot make sure that it runs only once on the working folder "
               "%1: the lock file %2 cannot be created. It goes on without that guard.")
        .arg(QDir::toNativeSeparators(workFolder_), QDir::toNativeSeparators(lockPath_));
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QLockFile>
#include <QString>
#include <filesystem>
#include <memory>

namespace zolt {

// One converter per working folder. Two windows on one project would each
// log from their own, soon stale, lists; the second start is refused.
//
// The lock is a lock file in the temporary folder, named after the working
// folder, so that a refused start writes nothing into the project. It holds
// the owner's process id: a lock left by a process that died (even by kill -9)
// is taken over at the next start, so a crash never locks the user out.
class SingleInstance {
  public:
    explicit SingleInstance(const std::filesystem::path& workFolder);
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

    // False when another process holds the working folder. A lock file that
    // cannot be made at all is reported on the error output and does not
    // stop the start.
    bool acquire();
    // The text to show when acquire() failed.
    QString refusal() const;
    // Where the lock file lies.
    QString lockPath() const { return lockPath_; }

    static QString lockPathFor(const std::filesystem::path& workFolder);

  private:
    QString workFolder_;
    QString lockPath_;
    std::unique_ptr<QLockFile> lock_;
    QLockFile::LockError error_ = QLockFile::NoError;
};

}  // namespace zolt

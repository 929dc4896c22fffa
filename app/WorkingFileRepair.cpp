// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/WorkingFileRepair.h"

#include <QMessageBox>

#include "app/Guarded.h"
#include "app/ShownNumbers.h"
#include "engine/WorkingFileRebuild.h"
#include "work/WorkingFileCheck.h"

namespace zolt {

WorkingFileStatus soundWorkingFile(QWidget* window, const ProjectPaths& paths, bool projectLoaded,
                                   std::size_t* waiting) {
    if (!projectLoaded) {
        // No project to rebuild from; what waits is still counted.
        if (waiting) {
            guarded(window, [&] { *waiting = checkWorkingFile(paths.ProcessedPath, {}).pending; });
        }
        return WorkingFileStatus::Sound;
    }
    WorkingFileHealth health;
    if (!guarded(window, [&] { health = assessWorkingFile(paths); })) {
        return WorkingFileStatus::Refused;
    }
    if (waiting) *waiting = health.check.pending;
    if (health.problem.empty()) return WorkingFileStatus::Sound;
    const QString prompt =
        QStringLiteral(
            "%1 It is not taken for a finished project, and nothing was changed.\n\nRebuild "
            "it now from the old logs in %2? Every reception that the database already holds "
            "(%3) is then marked as settled, so that nothing is logged twice; the others wait "
            "to be matched again.")
            .arg(QString::fromStdString(health.problem),
                 QString::fromStdString(paths.BackupFolder.string()),
                 counted(static_cast<int>(health.logged), "row", "rows"));
    if (!confirmed(window, prompt)) return WorkingFileStatus::Refused;
    RebuildOutcome outcome;
    if (!guarded(window, [&] { outcome = rebuildWorkingFile(paths); })) {
        return WorkingFileStatus::Refused;
    }
    QString done = QStringLiteral(
                       "The working file %1 was rebuilt: %2, %3 of them already in "
                       "the log and marked as settled.")
                       .arg(QString::fromStdString(paths.ProcessedPath.string()),
                            counted(static_cast<int>(outcome.records), "reception", "receptions"))
                       .arg(outcome.settled);
    const std::string partial = describePartialRecords(outcome.partial);
    if (!partial.empty()) done += QStringLiteral("\n\n") + QString::fromStdString(partial);
    QMessageBox::information(window, QStringLiteral("Database Converter"), done);
    return WorkingFileStatus::Rebuilt;
}

void reportPartialRecords(QWidget* window, const ProjectPaths& paths, LogSource source) {
    std::string text;
    guarded(window,
            [&] { text = describePartialRecords(partialLogRecords(paths.BackupFolder, source)); });
    if (!text.empty()) {
        QMessageBox::warning(window, QStringLiteral("Database Converter"),
                             QString::fromStdString(text));
    }
}

}  // namespace zolt

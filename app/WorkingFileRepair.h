// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <cstddef>

#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"
#include "work/BackupImport.h"

class QWidget;

namespace zolt {

enum class WorkingFileStatus { Sound, Rebuilt, Refused };

// Checks processed.dat before the project is used: a damaged, empty or
// missing one is never taken for a finished project, and is offered a
// rebuild from the backups (Yes/No, No the default). Without a
// project (`projectLoaded` false) there is nothing to rebuild from. `waiting`
// receives the receptions still waiting. Failures are one message each.
WorkingFileStatus soundWorkingFile(QWidget* window, const ProjectPaths& paths, bool projectLoaded,
                                   std::size_t* waiting = nullptr);

// Warns of records of the old logs that were cut short, if any.
void reportPartialRecords(QWidget* window, const ProjectPaths& paths, LogSource source);

}  // namespace zolt

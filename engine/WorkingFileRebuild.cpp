// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/WorkingFileRebuild.h"

#include <map>
#include <system_error>
#include <tuple>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "db/Database.h"
#include "engine/LogStore.h"
#include "engine/Project.h"
#include "engine/StateJournal.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

// A logged reception as NDBLog and the working file can both say it.
using ReceptionKey = std::tuple<int, std::string, std::string, std::string>;

ReceptionKey keyOf(const ProcessedRecord& record) {
    return {record.Location, cp1252ToUtf8(trimBlanks(record.Time)),
            cp1252ToUtf8(trimBlanks(record.Date)), cp1252ToUtf8(trimBlanks(record.Comment))};
}

std::string describeKey(const ReceptionKey& key) {
    const auto& [location, time, date, comment] = key;
    return "location " + std::to_string(location) + " at " + time + " on " + date +
           (comment.empty() ? std::string(" without a comment") : " (\"" + comment + "\")");
}

std::string counted(std::int64_t n, const char* one, const char* many) {
    return shownCount(n, one, many);
}

}  // namespace

WorkingFileHealth assessWorkingFile(const ProjectPaths& paths) {
    WorkingFileHealth health;
    health.check = checkWorkingFile(paths.ProcessedPath, paths.BackupFolder);
    // The file may still lack states whose rows were committed just before
    // a kill, or hold them half written (a State field cut in two looks
    // damaged): they are written now, before anything reads the file. Where
    // they do not fit a damaged file, it is rebuilt from the rows instead.
    if (health.check.exists && health.check.records > 0) {
        bool completed = false;
        try {
            completed = completeStateWrites(paths);
        } catch (const EngineError&) {
            if (health.check.sound()) throw;
        }
        if (completed) health.check = checkWorkingFile(paths.ProcessedPath, paths.BackupFolder);
    }
    const std::string file = "The working file " + paths.ProcessedPath.string();
    if (!health.check.exists || health.check.records == 0) {
        // Missing or empty: only a project whose log already holds receptions
        // has lost something; without any, the file is built (or dropped) as
        // a project that never converted anything.
        health.logged = loggedReceptionCount(paths);
        if (health.logged == 0) return health;
        health.problem = file + (health.check.exists ? " is empty" : " is missing") +
                         ", while the database " + paths.DatabasePath.string() + " already holds " +
                         counted(health.logged, "logged reception", "logged receptions") + ".";
        return health;
    }
    if (!health.check.sound()) {
        health.logged = loggedReceptionCount(paths);
        health.problem = file + " is damaged: " + health.check.problem + ".";
    }
    return health;
}

RebuildOutcome rebuildWorkingFile(const ProjectPaths& paths) {
    const std::string refused = "The working file " + paths.ProcessedPath.string() +
                                " was not rebuilt and nothing was changed: ";
    // Built beside the working file first, so that a refusal below leaves the
    // working file exactly as it was.
    const fs::path fresh = paths.WorkFolder / "processed.dat.rebuild";
    std::vector<ProcessedRecord> records;
    try {
        buildProcessedFile(paths.BackupFolder, fresh, LogSource::Backups);
        records = readProcessedFile(fresh);
    } catch (const EngineError& error) {
        std::error_code ignored;
        fs::remove(fresh, ignored);
        throw EngineError(refused + error.what());
    }
    removeFileIfExists(fresh);

    std::map<ReceptionKey, std::int64_t> logged;
    {
        const DbResult rows = LogStore(paths, LogStore::Mode::Read).allReceptions();
        for (const auto& row : rows.rows) {
            const auto* location = std::get_if<std::int64_t>(&row[0]);
            // Rows of no listening location are not the converter's to match.
            if (!location || *location < 1 || *location > kLocationCount) continue;
            ++logged[{static_cast<int>(*location), trimBlanks(dbValueText(row[1])),
                      trimBlanks(dbValueText(row[2])), trimBlanks(dbValueText(row[3]))}];
        }
    }

    std::map<ReceptionKey, std::vector<std::size_t>> receptions;
    for (std::size_t i = 0; i < records.size(); ++i) receptions[keyOf(records[i])].push_back(i);

    RebuildOutcome outcome;
    for (const auto& [key, rows] : logged) {
        const auto found = receptions.find(key);
        const std::size_t have = found == receptions.end() ? 0 : found->second.size();
        if (static_cast<std::size_t>(rows) > have) {
            throw EngineError(refused + "the database " + paths.DatabasePath.string() + " holds " +
                              counted(rows, "logged reception", "logged receptions") + " of " +
                              describeKey(key) + ", but the old logs in " +
                              paths.BackupFolder.string() + " give " + std::to_string(have) +
                              ". Start New Project converts everything afresh.");
        }
        const auto& indices = found->second;
        if (static_cast<std::size_t>(rows) < have) {
            // Which of them are logged is only clear when they are one station.
            const ProcessedRecord& first = records[indices.front()];
            for (std::size_t i : indices) {
                if (trimBlanks(records[i].Ident) != trimBlanks(first.Ident) ||
                    trimBlanks(records[i].Frequency) != trimBlanks(first.Frequency)) {
                    throw EngineError(
                        refused + "the database holds " +
                        counted(rows, "logged reception", "logged receptions") + " of " +
                        describeKey(key) + ", and the old logs give " + std::to_string(have) +
                        " different stations there, so which are logged cannot be told. Start "
                        "New Project converts everything afresh.");
                }
            }
        }
        for (std::int64_t r = 0; r < rows; ++r) {
            records[indices[static_cast<std::size_t>(r)]].State = std::string(state::OK);
        }
        outcome.settled += static_cast<std::size_t>(rows);
    }
    writeProcessedFile(paths.ProcessedPath, records);
    // The new file's states come from the rows themselves: a journaled
    // write is already in them and no longer fits the file.
    try {
        discardStateWrites(paths);
    } catch (const EngineError&) {
        // Left behind, it is written again at the next look, or refused
        // there with its reason.
    }
    outcome.records = records.size();
    outcome.partial = partialLogRecords(paths.BackupFolder, LogSource::Backups);
    return outcome;
}

}  // namespace zolt

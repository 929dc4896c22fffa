// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/Project.h"

#include <string>
#include <system_error>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "db/Compaction.h"
#include "db/Database.h"
#include "engine/DecisionRecord.h"
#include "engine/HomePosition.h"
#include "engine/LocationActions.h"
#include "engine/LogStore.h"
#include "engine/StateJournal.h"
#include "engine/UserBeacons.h"
#include "work/LocationStates.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

constexpr const char* kWorkFolderName = "ZOLT";
constexpr const char* kShareFolder = "zolt-converter";

bool isNativeSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

fs::path settingsPath(const ProjectPaths& paths) { return paths.WorkFolder / kSettingsFile; }

// The line of settings.ini that names the own-beacon file.
constexpr std::string_view kOwnBeaconsKey = "OwnBeacons=";

// A folder in settings.ini is one comma-delimited field. A plain field ends at
// the first comma; a field that starts with a quotation mark runs to the
// closing one, which is how a folder whose name holds a comma is kept whole.
// The line ends at a CR as well as at an LF, so that a lone CR never becomes
// part of the folder; a NUL ends the text too, since no path can hold one.
std::string firstField(const std::string& bytes) {
    const std::string line = bytes.substr(0, bytes.find_first_of("\r\n\0", 0, 3));
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    if (line[start] == '"') {
        const std::size_t close = line.find('"', start + 1);
        return line.substr(start + 1,
                           close == std::string::npos ? std::string::npos : close - start - 1);
    }
    const std::size_t comma = line.find(',', start);
    return line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
}

}  // namespace

ProjectPaths projectPathsFor(const fs::path& documentsFolder) {
    ProjectPaths paths;
    paths.WorkFolder =
        documentsFolder.empty() ? fs::path(kWorkFolderName) : documentsFolder / kWorkFolderName;
    paths.DatabasePath = paths.WorkFolder / kDatabaseFile;
    paths.ProcessedPath = paths.WorkFolder / kProcessedFile;
    return paths;
}

fs::path applicationDataFolder(const fs::path& executableFolder) {
    if (FExists(executableFolder / kDatabaseFile)) return executableFolder;
    return (executableFolder / ".." / "share" / kShareFolder).lexically_normal();
}

bool DirExists(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool FExists(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

void prepareWorkFolder(const ProjectPaths& paths, const fs::path& appDataFolder) {
    const bool needDatabase = !FExists(paths.DatabasePath);
    const fs::path pristine = appDataFolder / kDatabaseFile;
    // Checked before anything is made, so that a broken installation leaves
    // the user's Documents folder as it was.
    if (needDatabase && !FExists(pristine)) {
        throw EngineError("The beacon database " + pristine.string() +
                          " that comes with the converter is missing, so no working copy can "
                          "be made in " +
                          paths.WorkFolder.string() + ". Please reinstall the converter.");
    }

    if (!DirExists(paths.WorkFolder)) {
        std::error_code ec;
        // The Documents folder itself may be missing on a fresh account.
        fs::create_directories(paths.WorkFolder, ec);
        if (!DirExists(paths.WorkFolder)) {
            const std::string reason =
                ec ? plainReason(ec.value()) : std::string("a file of that name is in the way");
            throw EngineError("Could not create the working folder " + paths.WorkFolder.string() +
                              ": " + reason + ".");
        }
    }

    if (!needDatabase) return;  // a database already there is the user's work: never replaced
    std::error_code ec;
    if (fs::exists(fs::symlink_status(paths.DatabasePath, ec))) {
        throw EngineError("Could not place the beacon database at " + paths.DatabasePath.string() +
                          ": something that is not a database file is in the way.");
    }
    // Written beside the target and renamed into place: a copy cut short
    // (disk full) never leaves a half database that a later start would keep.
    replaceFileAtomically(paths.DatabasePath, readWholeFile(pristine));
}

std::optional<fs::path> readSettings(const ProjectPaths& paths) {
    const fs::path file = settingsPath(paths);
    std::error_code ec;
    if (!fs::exists(file, ec)) return std::nullopt;
    // A settings file that is there but cannot be read is a real failure, not
    // "no project": readWholeFile throws and names it.
    const std::string folder = firstField(readWholeFile(file));
    if (folder.empty()) return std::nullopt;
    return pathFromUtf8(folder);
}

void writeSettings(const ProjectPaths& paths, const fs::path& backupFolder) {
    const fs::path file = settingsPath(paths);
    std::string folder = backupFolderText(pathToUtf8(backupFolder));
    if (folder.empty()) {
        throw EngineError("Could not write " + describePath(file) +
                          ": no backup folder was chosen.");
    }
    // The usual file is the bare folder. A folder with a comma in its name is
    // quoted, so that reading it back does not cut it at the comma.
    if (folder.find(',') != std::string::npos || folder.front() == '"') {
        if (folder.find('"') != std::string::npos) {
            throw EngineError("Could not write " + describePath(file) + ": the folder name " +
                              folder +
                              " holds both a comma and a quotation mark and cannot be "
                              "remembered.");
        }
        folder = '"' + folder + '"';
    }
    // The home entries below the folder line belong to the project, not to
    // the folder: choosing the folder again keeps them. A file that cannot be
    // read is replaced as before.
    SettingsLines lines;
    std::error_code ec;
    if (fs::is_regular_file(file, ec)) {
        try {
            lines = splitSettings(readWholeFile(file));
        } catch (const EngineError&) {
            lines = {};
        }
    }
    lines.folderLine = folder;
    std::erase_if(lines.more,
                  [](const std::string& line) { return line.starts_with(kOwnBeaconsKey); });
    if (const auto own = ownBeaconFile(backupFolder)) {
        lines.more.push_back(std::string(kOwnBeaconsKey) + pathToUtf8(own->filename()));
    }
    replaceFileAtomically(file, joinSettings(lines));
}

std::optional<std::string> recordedOwnBeaconFile(const ProjectPaths& paths) {
    const fs::path file = settingsPath(paths);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    std::string name;  // the last such line wins
    for (const auto& line : splitSettings(readWholeFile(file)).more) {
        if (line.starts_with(kOwnBeaconsKey)) name = line.substr(kOwnBeaconsKey.size());
    }
    if (name.empty()) return std::nullopt;
    return name;
}

void requireOwnBeaconFile(const ProjectPaths& paths) {
    const auto recorded = recordedOwnBeaconFile(paths);
    if (!recorded || ownBeaconFile(paths.BackupFolder)) return;
    throw EngineError(
        "The file " + pathToUtf8(paths.BackupFolder / pathFromUtf8(*recorded)) +
        " held your own beacons when the conversion started, and it is no longer in the backup "
        "folder. START MATCHING reads your own beacons from it; without it they would be taken "
        "for unresolved stations. Nothing was logged. Put the file back and press START "
        "MATCHING once more.");
}

SettingsLines splitSettings(std::string_view bytes) {
    SettingsLines lines;
    const std::size_t end = bytes.find_first_of("\r\n");
    lines.folderLine = std::string(bytes.substr(0, end));
    if (end != std::string_view::npos) lines.more = nonBlankLines(bytes.substr(end));
    return lines;
}

std::vector<std::string> nonBlankLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t end = 0;
    while (end != std::string_view::npos) {
        const std::size_t start = bytes.find_first_not_of("\r\n", end);
        if (start == std::string_view::npos) break;
        end = bytes.find_first_of("\r\n", start);
        const std::string_view line = bytes.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (line.find_first_not_of(" \t") != std::string_view::npos) lines.emplace_back(line);
    }
    return lines;
}

std::string joinSettings(const SettingsLines& lines) {
    std::string bytes = lines.folderLine + "\r\n";
    for (const auto& line : lines.more) bytes += line + "\r\n";
    return bytes;
}

std::string backupFolderText(const std::string& folderPath) {
    const std::size_t first = folderPath.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const std::size_t last = folderPath.find_last_not_of(' ');
    std::string text = folderPath.substr(first, last - first + 1);
    if (!isNativeSeparator(text.back())) text += static_cast<char>(fs::path::preferred_separator);
    return text;
}

void removeWorkingFiles(const ProjectPaths& paths) {
    // The homes the listener typed outlive the project: exports after
    // FINALIZE measure from them as before.
    keepHomeEntries(paths);
    // settings.ini goes first: should a later removal fail, no project is
    // left whose missing processed.dat start-up would rebuild as unmatched
    // while the log already holds its receptions.
    removeFileIfExists(settingsPath(paths));
    removeFileIfExists(paths.ProcessedPath);
    removeFileIfExists(paths.WorkFolder / kCompactFile);
}

std::int64_t loggedReceptionCount(const ProjectPaths& paths) {
    return LogStore(paths, LogStore::Mode::Read).rowCount();
}

void compactProjectDatabase(const ProjectPaths& paths) {
    compactMainDatabase(paths.DatabasePath, paths.WorkFolder / kCompactFile);
}

namespace {

// The reset's changes are stored when this runs; its failure says so.
void compactAfterReset(const ProjectPaths& paths) {
    try {
        compactProjectDatabase(paths);
    } catch (const EngineError& error) {
        throw CompactionFailed(std::string(error.what()) +
                               " Your changes were saved; only the compaction is left undone.");
    }
}

}  // namespace

void startNewProject(const ProjectPaths& paths) {
    // The order keeps the project consistent when a step fails (for example
    // while the new product version holds the database open):
    //  1. open the database and delete every log row inside a transaction,
    //     so a locked or unreadable database stops the command before any
    //     file is touched;
    //  2. with the deletion still uncommitted, remove settings.ini (first:
    //     without it no half-cleared project is offered to continue) and then
    //     processed.dat; a failure here rolls the rows back;
    //  3. commit, close and compact. A failed compaction leaves a consistent,
    //     empty project behind and is reported.
    {
        LogStore store(paths, LogStore::Mode::Write);
        store.deleteAllRows();
        store.dropRecord();
        keepHomeEntries(paths);  // the same listener, the same homes
        removeFileIfExists(settingsPath(paths));
        removeFileIfExists(paths.ProcessedPath);
        store.commit();
    }
    compactAfterReset(paths);
}

void startOver(const ProjectPaths& paths, int location) {
    StartOverAction action(location);
    {
        std::optional<LogStore> store;
        perform(action, paths, location, store);
    }
    compactAfterReset(paths);
}

}  // namespace zolt

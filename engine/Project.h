// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/EngineError.h"
#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"

namespace zolt {

// File names of the working folder.
inline constexpr const char* kDatabaseFile = "ndbdata.ndf";
inline constexpr const char* kCompactFile = "ndbdata1.ndf";
inline constexpr const char* kProcessedFile = "processed.dat";
inline constexpr const char* kSettingsFile = "settings.ini";
inline constexpr const char* kHomesFile = "homes.ini";

// WorkFolder = <documents>/ZOLT/ and the paths inside it. An empty documents
// folder gives the relative folder ZOLT/ under the current folder.
ProjectPaths projectPathsFor(const std::filesystem::path& documentsFolder);

// The folder that holds the pristine ndbdata.ndf: the executable's own
// folder when the file is there, else ../share/zolt-converter/ relative to it.
std::filesystem::path applicationDataFolder(const std::filesystem::path& executableFolder);

bool DirExists(const std::filesystem::path& path);
bool FExists(const std::filesystem::path& path);

// Start-up, steps 1 to 3: creates WorkFolder when missing and copies the
// pristine database there when none is present (never overwriting one).
// Throws EngineError naming the missing pristine file or the folder that
// could not be made; nothing later may then run against the database.
void prepareWorkFolder(const ProjectPaths& paths, const std::filesystem::path& appDataFolder);

// settings.ini: the backup folder (ending in the separator) and CR LF.
// Read as one comma-delimited field: leading blanks skipped, reading stops at
// a comma or the line end. A file without a folder line is no project.
// Lines after the first hold the own-beacon record below, and in a project of
// an earlier version the listener's home entries (read by
// engine/HomePosition.h until homes.ini exists); writing the folder keeps them.
std::optional<std::filesystem::path> readSettings(const ProjectPaths& paths);
// START CONVERSION's record: the folder, and below it, when the folder holds
// the listener's own beacons, the name of that file ("OwnBeacons=ndb.bak").
void writeSettings(const ProjectPaths& paths, const std::filesystem::path& backupFolder);

// The own-beacon file START CONVERSION found in the backup folder; none when
// it found none, or the project is older than that record.
std::optional<std::string> recordedOwnBeaconFile(const ProjectPaths& paths);
// A matching run reads the own beacons from that file: when it was there at
// START CONVERSION and is gone now, every own beacon would silently become
// an unresolved reception. Throws naming the file; nothing is written.
void requireOwnBeaconFile(const ProjectPaths& paths);

// settings.ini taken apart: the first line exactly as stored (the folder) and
// the non-blank lines after it, each without its line end.
struct SettingsLines {
    std::string folderLine;
    std::vector<std::string> more;
};
SettingsLines splitSettings(std::string_view bytes);
// The file again: every line ends in CR LF.
std::string joinSettings(const SettingsLines& lines);
// The non-blank lines of `bytes`, each without its line end (CR, LF or both).
std::vector<std::string> nonBlankLines(std::string_view bytes);

// The folder as START CONVERSION stores it: blanks trimmed, one separator
// appended unless it already ends in one.
std::string backupFolderText(const std::string& folderPath);

// Finalize's file removals: settings.ini, processed.dat, ndbdata1.ndf. The
// listener's homes are kept (keepHomeEntries in engine/HomePosition.h).
void removeWorkingFiles(const ProjectPaths& paths);

// Rows in NDBLog: receptions already logged.
std::int64_t loggedReceptionCount(const ProjectPaths& paths);

// The reset's changes are stored, but the compaction that ends it failed:
// the project is consistent, the database merely not compacted.
class CompactionFailed : public EngineError {
  public:
    using EngineError::EngineError;
};

// Start New Project after consent: settings.ini and processed.dat removed
// (the listener's homes kept), every NDBLog row deleted, database compacted;
// stops at the first failure.
// A failed compaction after the rest is stored throws CompactionFailed.
void startNewProject(const ProjectPaths& paths);
// Start Over after consent: the location's NDBLog rows deleted, compacted.
void startOver(const ProjectPaths& paths, int location);
// CompactMainDatabase for these paths.
void compactProjectDatabase(const ProjectPaths& paths);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#include "db/Compaction.h"

#include <memory>
#include <string>
#include <system_error>

#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "db/Database.h"

namespace fs = std::filesystem;

namespace zolt {

void compactDatabase(const fs::path& source, const fs::path& destination) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(destination, ec))) {
        throw EngineError("Compacting the database " + source.string() + " into " +
                          describePath(destination) +
                          " failed: that file already exists and is left as it is.");
    }
    // Read-write so that a journal left by an interrupted program is rolled
    // back into the source before it is copied.
    Database db(source, Database::Mode::ReadWrite);
    // An absolute name never looks like a "file:" address to the engine.
    fs::path target = fs::absolute(destination, ec);
    if (ec) target = destination;

    // The name is bound, not spliced into the text, so any file name is
    // taken as it is.
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db.handle(), "VACUUM INTO ?", -1, &raw, nullptr);
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, &sqlite3_finalize);
    if (rc == SQLITE_OK) {
        rc = sqlite3_bind_text(raw, 1, pathToUtf8(target).c_str(), -1, SQLITE_TRANSIENT);
    }
    if (rc == SQLITE_OK) rc = sqlite3_step(raw);
    if (rc != SQLITE_DONE) {
        // The engine says only that it cannot open the target; what the user
        // can act on is the folder or file that refuses writing.
        std::string reason = writeProblem(target);
        if (reason.empty()) {
            reason = databaseReason(source, sqlite3_extended_errcode(db.handle()),
                                    sqlite3_errmsg(db.handle()));
        }
        // The file did not exist before: whatever part of it was written is ours.
        std::error_code ignored;
        fs::remove(destination, ignored);
        throw EngineError("Compacting the database " + source.string() + " into " +
                          describePath(destination) + " failed: " + reason + ".");
    }
}

void compactMainDatabase(const fs::path& databasePath, const fs::path& compactPath,
                         const std::function<void(Database&)>& alterCopy) {
    // Compacted under a name of its own and renamed over the previous copy
    // only once complete: a compaction that fails (a locked database, a full
    // disk) leaves the previous compacted copy and every other file as it was.
    fs::path fresh = compactPath;
    fresh += ".new";
    removeFileIfExists(fresh);  // left by an interrupted compaction
    compactDatabase(databasePath, fresh);
    if (alterCopy) {
        try {
            Database copy(fresh);
            {
                Transaction transaction(copy);
                alterCopy(copy);
                transaction.commit();
            }
            copy.executeScript("VACUUM");  // no page of what was removed stays behind
        } catch (...) {
            std::error_code ignored;
            fs::remove(fresh, ignored);
            throw;
        }
    }
    const std::error_code ec = renameReplacing(fresh, compactPath);
    if (ec) {
        std::error_code ignored;
        fs::remove(fresh, ignored);
        throw EngineError("Compacting the database " + databasePath.string() +
                          " failed: " + describePath(compactPath) +
                          " could not be replaced: " + plainReason(ec.value()) + ".");
    }
    // The database is replaced by renaming a flushed copy over it, so that at
    // every moment one complete database sits at databasePath; the compacted
    // file stays beside it.
    const std::string compacted = readWholeFile(compactPath);
    replaceFileAtomically(databasePath, compacted);
}

}  // namespace zolt

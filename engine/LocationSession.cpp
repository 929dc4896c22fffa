// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/LocationSession.h"

#include <algorithm>
#include <utility>

#include "core/EngineError.h"
#include "core/TextFields.h"
#include "engine/Project.h"
#include "engine/StateJournal.h"
#include "work/WorkingFileCheck.h"

namespace zolt {
namespace {

// What Undo would reverse; a record that cannot be read now shows the
// button anyway, and Undo, pressed, says what is wrong.
std::optional<UndoOffer> undoOfferOf(const ProjectPaths& paths, int location) {
    try {
        return nextUndo(paths, location);
    } catch (const EngineError&) {
        return UndoOffer{"the last action", 0};
    }
}

}  // namespace

LocationSession::LocationSession(ProjectPaths paths) : paths_(std::move(paths)) {}

void LocationSession::setBackupFolder(const std::filesystem::path& folder) {
    paths_.BackupFolder = folder;
}

void LocationSession::observe(Observer observer) { observers_.push_back(std::move(observer)); }

void LocationSession::notify(unsigned changes) {
    if (changes == 0) return;
    for (const auto& observer : observers_) observer(changes);
}

int LocationSession::settledCount() const {
    return static_cast<int>(std::count_if(
        work_.entries.begin(), work_.entries.end(),
        [](const WorkEntry& e) { return trimmedView(e.state) == trimmedView(state::OK); }));
}

// Everything held about a location, read anew: what an action leaves
// behind, and what a choice loads. Built aside and swapped in, so that a
// failed read leaves the session as it was.
struct LocationSession::Loaded {
    WorkingSet work;
    StepTwoLists lists;
    LocationHome home;
    std::vector<LoggedReception> logged;
    std::optional<UndoOffer> undo;
};

LocationSession::Loaded LocationSession::load(WorkingSet work) const {
    Loaded loaded;
    const int location = work.location;
    loaded.lists = stepTwoListsOf(work);
    loaded.home = locationHome(paths_, location);
    if (loggedWanted_) loaded.logged = readLoggedReceptions(paths_, location, loaded.home.position);
    loaded.undo = undoOfferOf(paths_, location);
    loaded.work = std::move(work);
    return loaded;
}

void LocationSession::take(Loaded loaded, unsigned changes) {
    work_ = std::move(loaded.work);
    lists_ = std::move(loaded.lists);
    home_ = std::move(loaded.home);
    logged_ = std::move(loaded.logged);
    undo_ = std::move(loaded.undo);
    notify(changes);
}

unsigned LocationSession::afterAction() const {
    return Lists | Home | Undo | (loggedWanted_ ? Logged : 0u);
}

void LocationSession::choose(int location) {
    if (location < 1 || location > kLocationCount) {
        throw EngineError("Could not load listening location " + std::to_string(location) +
                          ": there is no such listening location.");
    }
    // A state write that a kill cut short is completed before the file is
    // read, as every look at the project does.
    completeStateWrites(paths_);
    take(load(loadWorkingSet(paths_.ProcessedPath, location)), Everything);
}

void LocationSession::clear() {
    work_ = WorkingSet{};
    lists_ = StepTwoLists{};
    home_ = LocationHome{};
    logged_.clear();
    undo_.reset();
    notify(Everything);
}

void LocationSession::wantLogged(bool wanted) {
    if (wanted == loggedWanted_) return;
    if (!wanted) {
        loggedWanted_ = false;
        logged_.clear();
        return;
    }
    std::vector<LoggedReception> logged;
    if (location() != 0) logged = readLoggedReceptions(paths_, location(), home_.position);
    loggedWanted_ = true;
    logged_ = std::move(logged);
    notify(Logged);
}

template <typename Action>
auto LocationSession::logging(Action&& action) {
    try {
        return action();
    } catch (const SettledElsewhere&) {
        // The lists were stale: the session shows what the file now says.
        try {
            take(load(loadWorkingSet(paths_.ProcessedPath, location())), afterAction());
        } catch (const EngineError&) {
        }
        throw;
    }
}

MatchOutcome LocationSession::match(const MatchProgress& progress) {
    WorkingSet work = work_;
    const MatchOutcome outcome = logging([&] { return runMatching(paths_, work, progress); });
    if (outcome.cancelled) return outcome;
    take(load(std::move(work)), afterAction());
    return outcome;
}

int LocationSession::addToLog(const Selection& selection, bool applyAll) {
    WorkingSet work = work_;
    const int rows = logging([&] { return zolt::addToLog(paths_, work, selection, applyAll); });
    if (rows == 0) return 0;
    take(load(std::move(work)), afterAction());
    return rows;
}

SuggestedPickPlan LocationSession::planSuggestedPicks() {
    LocationHome home = locationHome(paths_, location());
    SuggestedPickPlan plan = zolt::planSuggestedPicks(paths_, work_, home.position);
    home_ = std::move(home);
    notify(Home);
    return plan;
}

int LocationSession::addSuggestedPicks(const SuggestedPickPlan& plan) {
    WorkingSet work = work_;
    const int rows = logging([&] { return zolt::addSuggestedPicks(paths_, work, plan); });
    if (rows == 0) return 0;
    take(load(std::move(work)), afterAction());
    return rows;
}

std::vector<int> LocationSession::returnedWith(const std::vector<int>& positions) const {
    if (!loggedWanted_) return zolt::returnedWith(paths_, location(), positions);
    std::vector<int> result;
    for (const LoggedReception* r : returnedWithRows(logged_, positions))
        result.push_back(r->position);
    return result;
}

int LocationSession::returnToWaiting(const std::vector<int>& positions) {
    WorkingSet work = work_;
    const int returned = zolt::returnToWaiting(paths_, work, positions);
    take(load(std::move(work)), afterAction());
    return returned;
}

UndoOffer LocationSession::undoLastAction() {
    WorkingSet work = work_;
    const UndoOffer undone = zolt::undoLastAction(paths_, work);
    take(load(std::move(work)), afterAction());
    return undone;
}

void LocationSession::startOver() {
    const int location = this->location();
    try {
        zolt::startOver(paths_, location);
    } catch (const CompactionFailed&) {
        // The reset is stored; only the compaction is left undone.
        clear();
        throw;
    }
    clear();
}

void LocationSession::setHomeEntry(const std::string& text) {
    // Everything the new home changes is read before the entry is stored,
    // so that a failed read leaves the stored entry as it was.
    LocationHome home = previewHomeEntry(paths_, location(), text);
    std::vector<LoggedReception> logged;
    // Distances in the logged view are measured from the home.
    if (loggedWanted_) logged = readLoggedReceptions(paths_, location(), home.position);
    writeHomeEntry(paths_, location(), text);
    home_ = std::move(home);
    if (loggedWanted_) logged_ = std::move(logged);
    notify(Home | (loggedWanted_ ? Logged : 0u));
}

}  // namespace zolt

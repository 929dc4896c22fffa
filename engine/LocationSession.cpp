// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/LocationSession.h"

#include <algorithm>
#include <utility>

#include "core/EngineError.h"
#include "core/TextFields.h"
#include "engine/LocationActions.h"
#include "engine/LogStore.h"
#include "engine/ProcessedBytes.h"
#include "engine/Project.h"
#include "engine/StateJournal.h"
#include "work/WorkingFileCheck.h"

namespace zolt {
namespace {

// What Undo would reverse; a record that cannot be read now shows the
// button anyway, and Undo, pressed, says what is wrong.
std::optional<UndoOffer> undoOfferOf(LogStore& store, int location) {
    try {
        return undoOffer(store, location);
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

LocationSession::Loaded LocationSession::load(LogStore& store, WorkingSet work) const {
    Loaded loaded;
    const int location = work.location;
    // The lists come from the receptions themselves: processed.dat is not
    // read a second time for them.
    loaded.lists = stepTwoListsOf(work);
    loaded.home = locationHome(store, paths_, location);
    if (loggedWanted_) loaded.logged = loggedReceptionsOf(store, work, loaded.home.position);
    loaded.undo = undoOfferOf(store, location);
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

LocationSession::Loaded LocationSession::read(int location) const {
    std::optional<LogStore> store;
    try {
        store.emplace(paths_, LogStore::Mode::Read);
    } catch (const EngineError&) {
        // As the location check does: a database that cannot be read now
        // leaves the journal for the next action, and the home below says
        // what is wrong.
    }
    // A state write that a kill cut short is completed before the file is
    // read, as every look at the project does; that takes a transaction of
    // its own, and happens only after a kill.
    if (store && store->hasStateWrites()) {
        store.reset();
        completeStateWrites(paths_);
    }
    if (!store) store.emplace(paths_, LogStore::Mode::Read);
    WorkingSet work;
    {
        const ProcessedBytes processed(paths_.ProcessedPath, ProcessedBytes::How::Mapped);
        work = workingSetOf(paths_.ProcessedPath, processed.bytes(), location);
    }
    return load(*store, std::move(work));
}

void LocationSession::choose(int location) {
    if (location < 1 || location > kLocationCount) {
        throw EngineError("Could not load listening location " + std::to_string(location) +
                          ": there is no such listening location.");
    }
    take(read(location), Everything);
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
    if (location() != 0) {
        LogStore store(paths_, LogStore::Mode::Read);
        logged = loggedReceptionsOf(store, work_, home_.position);
    }
    loggedWanted_ = true;
    logged_ = std::move(logged);
    notify(Logged);
}

// The action's store stays open for the reads that follow it: the location
// as the action left it comes from processed.dat as the action read it, with
// the states it wrote, and everything else through the same connection.
void LocationSession::performed(LocationAction& action) {
    std::optional<LogStore> store;
    Performed result;
    try {
        result = perform(action, paths_, location(), store);
    } catch (const SettledElsewhere&) {
        // The lists were stale: the session shows what the file now says.
        store.reset();
        try {
            take(read(location()), afterAction());
        } catch (const EngineError&) {
        }
        throw;
    }
    if (!result.done) return;
    WorkingSet after = *result.after(paths_, location());
    Loaded loaded;
    try {
        loaded = load(*store, after);
    } catch (const EngineError&) {
        // The action is stored: the session holds the receptions as it left
        // them, and what could not be read anew stays as it was.
        lists_ = stepTwoListsOf(after);
        work_ = std::move(after);
        notify(Lists);
        throw;
    }
    take(std::move(loaded), afterAction());
}

MatchOutcome LocationSession::match(const MatchProgress& progress) {
    if (work_.WorkCount() == 0) return {};
    MatchingRunAction action(work_, progress);
    performed(action);
    return action.outcome();
}

int LocationSession::addToLog(const Selection& selection, bool applyAll) {
    AddToLogAction action(work_, selection, applyAll);
    if (action.empty()) return 0;
    performed(action);
    return action.rows();
}

SuggestedPickPlan LocationSession::planSuggestedPicks() {
    LocationHome home = locationHome(paths_, location());
    SuggestedPickPlan plan = zolt::planSuggestedPicks(paths_, work_, home.position);
    home_ = std::move(home);
    notify(Home);
    return plan;
}

int LocationSession::addSuggestedPicks(const SuggestedPickPlan& plan) {
    SuggestedPicksAction action(work_, plan);
    if (action.empty()) return 0;
    performed(action);
    return action.rows();
}

std::vector<int> LocationSession::returnedWith(const std::vector<int>& positions) const {
    std::vector<int> result;
    if (loggedWanted_) {
        for (const LoggedReception* r : returnedWithRows(logged_, positions)) {
            result.push_back(r->position);
        }
        return result;
    }
    LogStore store(paths_, LogStore::Mode::Read);
    const auto paired = store.pairLogged(work_);
    for (const PairedReception* r : returnedWithRows(paired, positions)) {
        result.push_back(r->position);
    }
    return result;
}

int LocationSession::returnToWaiting(const std::vector<int>& positions) {
    ReturnAction action(location(), positions);
    if (positions.empty()) {
        action.check(paths_);
        return 0;
    }
    performed(action);
    return action.returned();
}

UndoOffer LocationSession::undoLastAction() {
    UndoAction action(location());
    performed(action);
    return action.undone();
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
    setHomeEntry(text, previewHomeEntry(paths_, location(), text));
}

void LocationSession::setHomeEntry(const std::string& text, LocationHome home) {
    // Everything the new home changes is read before the entry is stored,
    // so that a failed read leaves the stored entry as it was.
    std::vector<LoggedReception> logged;
    // Distances in the logged view are measured from the home.
    if (loggedWanted_) {
        LogStore store(paths_, LogStore::Mode::Read);
        logged = loggedReceptionsOf(store, work_, home.position);
    }
    writeHomeEntry(paths_, location(), text);
    home_ = std::move(home);
    if (loggedWanted_) logged_ = std::move(logged);
    notify(Home | (loggedWanted_ ? Logged : 0u));
}

}  // namespace zolt

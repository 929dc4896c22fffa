// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/LocationActions.h"

#include <limits>
#include <set>
#include <system_error>
#include <unordered_map>

#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"
#include "engine/Project.h"
#include "engine/StateJournal.h"
#include "engine/SuggestedPicks.h"
#include "engine/UserBeacons.h"
#include "work/Records.h"
#include "work/WorkingFileCheck.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

constexpr std::string_view kNothingReturned = "Nothing was returned to waiting.";
constexpr std::string_view kNothingUndone = "Nothing was changed.";

bool isOk(std::string_view state) { return trimmedView(state) == trimmedView(state::OK); }

void checkLocation(int location, std::string_view what) {
    if (location < 1 || location > kLocationCount) {
        throw EngineError(std::string(what) + ": no listening location is selected.");
    }
}

ProcessedRecordView recordAt(std::string_view bytes, int position) {
    return {bytes.substr(static_cast<std::size_t>(position - 1) * ProcessedRecord::kLength,
                         ProcessedRecord::kLength)};
}

// The record at `position` as it must be for a change to apply: of this
// location, carrying its own number, in `expected` state. Anything else
// means the file was changed or replaced since the record was written.
bool recordAgrees(std::string_view bytes, int position, int location, std::string_view expected) {
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    if (position < 1 || static_cast<std::size_t>(position) > count) return false;
    const ProcessedRecordView r = recordAt(bytes, position);
    return r.location() == location && r.recordNo() == static_cast<std::int16_t>(position) &&
           trimmedView(r.state()) == trimmedView(expected);
}

// The state `entry`'s record holds in `bytes`, as one of the codes (which
// outlive the bytes); the entry's own where the record holds none of them.
std::string_view stateOnDisk(std::string_view bytes, const WorkEntry& entry) {
    const std::size_t count = recordCount(bytes.size(), ProcessedRecord::kLength);
    if (entry.recordNo < 1 || static_cast<std::size_t>(entry.recordNo) > count) return entry.state;
    const std::string_view stored = trimmedView(recordAt(bytes, entry.recordNo).state());
    for (const std::string_view code : {state::OK, state::AMB, state::MIS, state::UNP}) {
        if (stored == trimmedView(code)) return code;
    }
    return entry.state;
}

// An entry of the states to write: its place and its new state.
WorkEntry entryAt(int location, int position, std::string_view newState) {
    WorkEntry entry;
    entry.location = static_cast<std::int16_t>(location);
    entry.recordNo = position;
    entry.state = std::string(newState);
    return entry;
}

}  // namespace

// ---- running an action ------------------------------------------------------------------

std::string_view ActionRun::bytes() {
    if (!processed_) processed_.emplace(paths_.ProcessedPath, ProcessedBytes::How::Copied);
    return processed_->bytes();
}

const WorkingSet& ActionRun::now() {
    if (!now_) now_ = workingSetOf(paths_.ProcessedPath, bytes(), location_);
    return *now_;
}

std::unique_ptr<PendingStates> StateWrite::prepare(const fs::path& processedPath) const {
    return over ? prepareWorkStates(processedPath, *over, states)
                : prepareWorkStates(processedPath, entries);
}

void StateWrite::applyTo(WorkingSet& set) const {
    if (!over) {
        applyStates(set, entries);
        return;
    }
    // Both in file order: one walk.
    std::size_t at = 0;
    for (std::size_t i = 0; i < over->entries.size() && i < states.size(); ++i) {
        const int position = over->entries[i].recordNo;
        while (at < set.entries.size() && set.entries[at].recordNo < position) ++at;
        if (at == set.entries.size()) break;
        if (set.entries[at].recordNo != position) continue;
        std::string state(trimmedView(states[i]).substr(0, ProcessedRecordView::kStateWidth));
        state.resize(ProcessedRecordView::kStateWidth, ' ');
        set.entries[at].state = std::move(state);
    }
    recountStates(set);
}

std::optional<WorkingSet> Performed::after(const ProjectPaths& paths, int location) {
    if (!processed) return std::nullopt;
    WorkingSet set = receptions ? std::move(*receptions)
                                : workingSetOf(paths.ProcessedPath, processed->bytes(), location);
    receptions.reset();
    written.applyTo(set);
    return set;
}

Performed perform(LocationAction& action, const ProjectPaths& paths, int location,
                  std::optional<LogStore>& store) {
    Performed performed;
    const auto run = [&](bool& committing) {
        action.check(paths);
        store.emplace(paths, LogStore::Mode::Write, action.cacheKib());
        ActionRun current(paths, location, *store);
        // A state write that a kill cut short goes first: what it settled is
        // then seen below, and refused rather than logged again.
        if (action.readsProcessed(paths)) store->completeStateWrites(paths.ProcessedPath);
        std::optional<StateWrite> changed = action.apply(current);
        // Leaving without a commit rolls every row back; processed.dat was
        // not touched.
        if (action.cancelled()) return;
        std::unique_ptr<PendingStates> states;
        if (changed) states = changed->prepare(paths.ProcessedPath);
        committing = true;
        store->commit(states.get(), action.kept());
        performed.done = true;
        if (changed) performed.written = std::move(*changed);
        performed.processed = std::move(current.processed());
        performed.receptions = std::move(current.receptions());
    };
    if (action.kept().empty()) {
        bool committing = false;
        run(committing);
    } else {
        keptUnlessCommitting(action.kept(), [&](bool& committing) { run(committing); });
    }
    return performed;
}

void performOn(LocationAction& action, const ProjectPaths& paths, WorkingSet& set) {
    std::optional<LogStore> store;
    const Performed performed = perform(action, paths, set.location, store);
    performed.written.applyTo(set);
}

// ---- the actions that log rows --------------------------------------------------------

std::optional<StateWrite> SettleAction::apply(ActionRun& run) {
    // Inside the transaction: another window may have settled them meanwhile.
    for (const auto& entry : settled_.entries) {
        requireWaiting(run.paths().ProcessedPath, run.bytes(), entry);
    }
    LogStore& store = run.store();
    std::string time, date, comment;
    for (const auto& row : rows_) {
        store.appendRow(settled_.location, row.beaconId, cp1252ToUtf8(row.time, time),
                        cp1252ToUtf8(row.date, date), cp1252ToUtf8(row.comment, comment));
    }
    store.flushRows();
    store.storeDecisions(settled_.location, decisions_);
    return settled_;
}

std::unique_ptr<UndoableAction> UndoableAction::fromRecord(const RecordedAction& recorded) {
    if (recorded.kind == action::kReturnToWaiting) return std::make_unique<ReturnAction>(recorded);
    if (recorded.kind == action::kAddSuggestedPicks) {
        return std::make_unique<SuggestedPicksAction>(recorded);
    }
    // Add To Log, and whatever else appended rows with their decisions.
    return std::make_unique<AddToLogAction>(recorded);
}

WorkingSet SettleAction::undo(ActionRun& run) {
    const RecordedAction& recorded = recorded_;
    const int location = run.location();
    LogStore& store = run.store();
    const std::string refused = "Undo of " + recorded.kind + " refused: ";
    const std::string unchanged = " Nothing was changed.";
    const std::vector<LogStore::Decided> settled = store.decisionsOf(recorded.id);
    std::set<std::int64_t> rows;
    for (const auto& s : settled) rows.insert(s.logId);
    std::size_t missing = 0;
    for (std::int64_t id : rows) missing += !store.rowPresent(id, location);
    if (missing > 0) {
        throw EngineError(
            refused + "the database " + run.paths().DatabasePath.string() + " no longer holds " +
            std::to_string(missing) + " of the " + std::to_string(rows.size()) +
            " log rows it appended (they were removed outside the converter)." + unchanged);
    }
    for (const auto& s : settled) {
        if (!recordAgrees(run.bytes(), s.position, location, state::OK)) {
            throw EngineError(refused + "reception " + std::to_string(s.position) + " of " +
                              describePath(run.paths().ProcessedPath) + " is no longer logged as " +
                              recorded.kind + " left it." + unchanged);
        }
    }
    for (std::int64_t id : rows) store.deleteRow(id);
    store.deleteDecisionsOf(recorded.id);
    WorkingSet changed;
    changed.location = location;
    for (const auto& s : settled) {
        changed.entries.push_back(entryAt(location, s.position, s.previousState));
    }
    return changed;
}

AddToLogAction::AddToLogAction(const RecordedAction& recorded) : SettleAction(recorded.kind) {
    recorded_ = recorded;
}

SuggestedPicksAction::SuggestedPicksAction(const RecordedAction& recorded)
    : SettleAction(recorded.kind) {
    recorded_ = recorded;
}

ReturnAction::ReturnAction(const RecordedAction& recorded) { recorded_ = recorded; }

AddToLogAction::AddToLogAction(const WorkingSet& set, const Selection& selection, bool applyAll)
    : SettleAction(action::kAddToLog) {
    const std::string ident = trimBlanks(selection.SelectedIdent);
    const std::string frequency = trimBlanks(selection.SelectedFrequency);
    const std::string date = trimBlanks(selection.SelectedDate);
    const std::string time = trimBlanks(selection.SelectedTime);

    // After a refill the candidate list may still offer a beacon while no
    // reception is selected; logging then would store a row with empty time
    // and date, or settle every reception with an empty ident.
    if (ident.empty() && frequency.empty() && date.empty() && time.empty()) {
        throw EngineError("Nothing was added to the log: no reception is selected.");
    }
    if (selection.SelectedBeaconId == 0) {
        throw EngineError("Nothing was added to the log: no beacon is chosen for the reception.");
    }
    // The log's Beacon_ID is the logbook's 32-bit number: an id beyond it
    // would be stored as another beacon's.
    if (!loggableId(selection.SelectedBeaconId)) {
        throw EngineError("Nothing was added to the log: the chosen beacon's number " +
                          std::to_string(selection.SelectedBeaconId) +
                          " is beyond what the log can store.");
    }
    if (set.location < 1 || set.location > kLocationCount) {
        throw EngineError("Nothing was added to the log: no listening location is selected.");
    }

    settled_.location = set.location;
    for (const auto& entry : set.entries) {
        // An entry already settled has its row; a second one would log the
        // same reception twice.
        if (isOk(entry.state)) continue;
        if (trimBlanks(entry.ident) != ident || trimBlanks(entry.frequency) != frequency) {
            continue;
        }
        if (applyAll) {
            decisions_.settle(rows_.size(), how::kPickedForAll, entry);
            rows_.push_back({selection.SelectedBeaconId, trimBlanks(entry.time),
                             trimBlanks(entry.date), trimBlanks(entry.comment)});
        } else if (trimBlanks(entry.date) != date || trimBlanks(entry.time) != time) {
            continue;
        } else {
            decisions_.settle(0, how::kPicked, entry);
        }
        settled_.entries.push_back(entry);
        settled_.entries.back().state = std::string(state::OK);
    }
    // One row for the selected reception, however many entries it settles
    // (the same reception logged twice in the old log).
    if (!applyAll && !settled_.entries.empty()) {
        rows_.push_back(
            {selection.SelectedBeaconId, time, date, trimBlanks(selection.SelectedComment)});
    }
    decisions_.rows = rows_.size();
}

SuggestedPicksAction::SuggestedPicksAction(const WorkingSet& set, const SuggestedPickPlan& plan)
    : SettleAction(action::kAddSuggestedPicks) {
    if (set.location < 1 || set.location > kLocationCount) {
        throw EngineError("Nothing was added to the log: no listening location is selected.");
    }
    for (const auto& pick : plan.picks) {
        if (!loggableId(pick.beaconId)) {
            throw EngineError("Nothing was added to the log: no beacon is chosen for " +
                              cp1252ToUtf8(trimBlanks(pick.ident)) + " on " +
                              cp1252ToUtf8(trimBlanks(pick.frequency)) + ".");
        }
    }
    // What Add To Log for all instances does pick after pick. An entry is
    // settled by the first pick of its pair; a pick whose pair was settled
    // meanwhile (by hand, or by an earlier run of this) finds nothing left,
    // so no reception is logged twice.
    std::unordered_map<PairKey, std::size_t, PairKeyHash> pickOf;
    for (std::size_t p = 0; p < plan.picks.size(); ++p) {
        pickOf.try_emplace(
            PairKey{trimBlanks(plan.picks[p].ident), trimBlanks(plan.picks[p].frequency)}, p);
    }
    std::vector<std::vector<std::size_t>> entriesOf(plan.picks.size());
    for (std::size_t e = 0; e < set.entries.size(); ++e) {
        const WorkEntry& entry = set.entries[e];
        if (isOk(entry.state)) continue;
        const auto it = pickOf.find(PairKey{trimBlanks(entry.ident), trimBlanks(entry.frequency)});
        if (it != pickOf.end()) entriesOf[it->second].push_back(e);
    }
    settled_.location = set.location;
    for (std::size_t p = 0; p < plan.picks.size(); ++p) {
        for (std::size_t e : entriesOf[p]) {
            const WorkEntry& entry = set.entries[e];
            decisions_.settle(rows_.size(), how::kSuggested, entry);
            rows_.push_back({plan.picks[p].beaconId, trimBlanks(entry.time), trimBlanks(entry.date),
                             trimBlanks(entry.comment)});
            settled_.entries.push_back(entry);
            settled_.entries.back().state = std::string(state::OK);
        }
    }
    decisions_.rows = rows_.size();
}

// ---- the matching run -----------------------------------------------------------------

void MatchingRunAction::check(const ProjectPaths& paths) const {
    if (set_.location < 1 || set_.location > kLocationCount) {
        throw EngineError("The matching run cannot start: no listening location is selected.");
    }
    requireBackupFolder(paths.BackupFolder);
    requireOwnBeaconFile(paths);
}

std::optional<StateWrite> MatchingRunAction::apply(ActionRun& run) {
    LogStore& store = run.store();
    const int location = set_.location;
    const int count = set_.WorkCount();
    const ListedBeacons listed(store.db());
    UserBeaconIndex userBeacons(run.paths().BackupFolder, store);

    // The caller's set changes only once the rows and processed.dat have both
    // been stored; until then the new states are kept here (empty: unchanged).
    std::vector<std::string_view> newStates(static_cast<std::size_t>(count));
    std::string identBuffer, timeBuffer, dateBuffer, commentBuffer;

    PendingDecisions decisions(action::kMatchingRun);
    auto logReception = [&](std::int64_t beaconId, const WorkEntry& entry, std::string_view how) {
        decisions.settle(static_cast<std::size_t>(outcome_.logged), how, entry);
        store.appendRow(location, beaconId, cp1252ToUtf8(trimmedView(entry.time), timeBuffer),
                        cp1252ToUtf8(trimmedView(entry.date), dateBuffer),
                        cp1252ToUtf8(trimmedView(entry.comment), commentBuffer));
        ++outcome_.logged;
    };

    for (int i = 1; i <= count; ++i) {
        if (progress_) {
            const float percent = static_cast<float>(i) / static_cast<float>(count) * 100.0f;
            if (!progress_(i, count, percent)) {
                outcome_ = MatchOutcome{};
                outcome_.cancelled = true;
                cancelled_ = true;
                return std::nullopt;
            }
            // The run reads the set as it goes; one that changed under it
            // (through the window, while it took its events) is not saved.
            if (set_.WorkCount() != count) {
                throw EngineError(
                    "The matching run stopped because the receptions of the location changed "
                    "while it ran; nothing was logged and no state was saved.");
            }
        }
        const WorkEntry& entry = set_.entries[static_cast<std::size_t>(i - 1)];
        std::string_view& newState = newStates[static_cast<std::size_t>(i - 1)];
        // An entry already settled has its log row; matching it again would
        // log the reception a second time.
        if (isOk(entry.state)) continue;

        const std::string_view ident = trimmedView(entry.ident);
        const ListedBeacons::Match beacons =
            listed.find(cp1252ToUtf8(ident, identBuffer), leadingNumber(entry.frequency));

        if (beacons.count > 1) {
            newState = state::AMB;
            ++outcome_.ambiguous;
        } else if (beacons.count == 1) {
            logReception(beacons.beaconId, entry, how::kUniqueMatch);
            newState = state::OK;
        } else {
            const UserBeaconLookup user =
                userBeacons.LookupUserBeacon(ident, trimmedView(entry.frequency));
            if (user.UserBeaconFound) {
                // 32-bit sum: user beacons above 12767 keep a usable number
                // instead of wrapping around as a 16-bit sum would.
                logReception(std::int64_t{user.UserBeaconID} + kUserBeaconOffset, entry,
                             how::kOwnBeacon);
                newState = state::OK;
                ++outcome_.userBeacons;
            } else {
                newState = state::MIS;
                ++outcome_.unresolved;
            }
        }
    }
    store.flushRows();
    // Still inside the transaction: what another window settled meanwhile is
    // never logged a second time.
    for (std::size_t i = 0; i < newStates.size(); ++i) {
        if (!newStates[i].empty()) {
            requireWaiting(run.paths().ProcessedPath, run.bytes(), set_.entries[i]);
        }
    }
    decisions.rows = static_cast<std::size_t>(outcome_.logged);
    store.storeDecisions(location, decisions);
    // Entries the run left alone keep the state the file holds now: another
    // window may have returned one of them to waiting since this set was
    // loaded, and writing back the OK of the set would leave it settled
    // without its row, lost to every later action.
    for (std::size_t i = 0; i < newStates.size(); ++i) {
        if (newStates[i].empty()) newStates[i] = stateOnDisk(run.bytes(), set_.entries[i]);
    }
    return StateWrite(set_, std::move(newStates));
}

// ---- Return To Waiting ------------------------------------------------------------------

std::string_view ReturnAction::kept() const { return kNothingReturned; }

void ReturnAction::check(const ProjectPaths&) const {
    checkLocation(location_, "Nothing was returned to waiting");
}

std::optional<StateWrite> ReturnAction::apply(ActionRun& run) {
    const int location = run.location();
    LogStore& store = run.store();
    const std::vector<PairedReception> logged = store.pairLogged(run.now());
    std::unordered_map<int, const PairedReception*> byPosition;
    for (const auto& r : logged) byPosition.emplace(r.position, &r);

    std::set<std::int64_t> rows;
    for (int position : positions_) {
        const auto found = byPosition.find(position);
        if (found == byPosition.end()) {
            throw EngineError("Nothing was returned to waiting: reception " +
                              std::to_string(position) + " of " +
                              describePath(run.paths().ProcessedPath) +
                              " is no longer logged for this location.");
        }
        if (found->second->logId != 0) rows.insert(found->second->logId);
    }
    // A row is taken out whole: every reception it settled goes back with it.
    const std::vector<const PairedReception*> returning = returnedWithRows(logged, positions_);

    const std::int64_t actionId = store.addAction(location, action::kReturnToWaiting);
    WorkingSet changed;
    changed.location = location;
    std::string ident;
    for (const PairedReception* r : returning) {
        std::string after(trimmedView(r->previousState));
        if (after != state::AMB && after != state::MIS) {
            // A reception settled by the run goes to the ambiguous list when
            // the exact look-up would offer it a candidate.
            const ProcessedRecordView record = recordAt(run.bytes(), r->position);
            const std::string_view raw = record.ident();
            const std::string_view stored = raw.substr(0, raw.find_last_not_of(' ') + 1);
            const bool listed = store.listedCount(cp1252ToUtf8(stored, ident),
                                                  leadingNumber(record.frequency())) > 0;
            after = std::string(listed ? state::AMB : state::MIS);
        }
        const bool recorded = r->actionId != 0;
        DbValue how, previous, decidedBy;
        if (recorded) {
            how = r->how;
            previous = r->previousState;
            decidedBy = r->actionId;
        }
        store.keepReturned(actionId, r->position, r->logId, how, previous, decidedBy, after);
        if (recorded) store.deleteDecision(r->decisionRowId);
        changed.entries.push_back(entryAt(location, r->position, after));
    }
    for (std::int64_t id : rows) store.deleteRow(id);
    returned_ = static_cast<int>(returning.size());
    return changed;
}

WorkingSet ReturnAction::undo(ActionRun& run) {
    const RecordedAction& recorded = recorded_;
    const int location = run.location();
    LogStore& store = run.store();
    const std::vector<ReturnedReception> kept = store.returnedBy(recorded.id);
    for (const auto& k : kept) {
        if (!recordAgrees(run.bytes(), k.position, location, k.stateAfter)) {
            throw EngineError("Undo of " + recorded.kind + " refused: reception " +
                              std::to_string(k.position) + " of " +
                              describePath(run.paths().ProcessedPath) +
                              " is no longer waiting as Return To Waiting left it. Nothing was "
                              "changed.");
        }
    }
    // Each row comes back once, in its old order, for all the receptions it
    // settled; their decisions come back with it.
    WorkingSet changed;
    changed.location = location;
    std::int64_t group = -1, logId = 0;
    for (const auto& k : kept) {
        if (k.hadRow && k.group != group) {
            group = k.group;
            logId = store.restoreRow(location, k.row);
        }
        if (k.how && k.hadRow) {
            store.addDecision(k.position, location, logId, *k.how,
                              k.previousState.value_or(std::string()), k.decidedBy);
        }
        changed.entries.push_back(entryAt(location, k.position, state::OK));
    }
    store.deleteReturnedOf(recorded.id);
    return changed;
}

// ---- Undo Last Action -----------------------------------------------------------------------

std::string_view UndoAction::kept() const { return kNothingUndone; }

void UndoAction::check(const ProjectPaths&) const {
    checkLocation(location_, "Nothing was undone");
}

std::optional<StateWrite> UndoAction::apply(ActionRun& run) {
    LogStore& store = run.store();
    std::optional<RecordedAction> last = store.lastAction(location_);
    // The matching run is the floor: nothing before it is offered.
    if (!last || last->kind == action::kMatchingRun) {
        throw EngineError("Nothing was undone: this location has no action left to undo.");
    }
    // The action's own command, rebuilt from the record, reverses it.
    WorkingSet changed = UndoableAction::fromRecord(*last)->undo(run);
    store.deleteAction(last->id);
    undone_ = UndoOffer{last->kind, static_cast<int>(changed.entries.size())};
    return changed;
}

// ---- Start Over ------------------------------------------------------------------------------

void StartOverAction::check(const ProjectPaths& paths) const {
    if (location_ < 1 || location_ > kLocationCount) {
        throw EngineError("Could not start location " + std::to_string(location_) +
                          " over in the database " + paths.DatabasePath.string() +
                          ": there is no such listening location.");
    }
}

bool StartOverAction::readsProcessed(const ProjectPaths& paths) const {
    std::error_code ec;
    return fs::exists(paths.ProcessedPath, ec);
}

std::optional<StateWrite> StartOverAction::apply(ActionRun& run) {
    // The location's receptions go back to UNP together with the deletion of
    // their rows. Kept as OK, the receptions logged so far would have no row
    // left and could never be matched again: they would be lost. The states
    // are journaled with the deletion: killed before they are written, the
    // receptions would stay OK with no row left.
    std::optional<StateWrite> states;
    if (readsProcessed(run.paths())) {
        WorkingSet unmatched = run.now();
        for (WorkEntry& entry : unmatched.entries) entry.state = std::string(state::UNP);
        states.emplace(std::move(unmatched));
    }
    run.store().forgetLocation(location_);
    return states;
}

// ---- the undo offer ---------------------------------------------------------------------------

std::optional<UndoOffer> undoOffer(LogStore& store, int location) {
    const auto last = store.lastAction(location);
    if (!last || last->kind == action::kMatchingRun) return std::nullopt;
    const std::int64_t n = last->kind == action::kReturnToWaiting ? store.returnedCount(last->id)
                                                                  : store.decisionCount(last->id);
    return UndoOffer{last->kind, static_cast<int>(n)};
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/AddToLog.h"
#include "engine/LogStore.h"
#include "engine/MatchingRun.h"
#include "engine/ProcessedBytes.h"
#include "engine/ProjectPaths.h"
#include "engine/Reversal.h"
#include "engine/SuggestedPicks.h"
#include "work/LocationStates.h"

// The actions that change a location's log as commands. Each prepares its
// rows, states and decisions, applies them in one transaction of a LogStore
// with the state journal (the new processed.dat states are written right
// after the commit), and, where Undo offers it, knows its own inverse.

namespace zolt {

// One action while it runs: the project, its location, the store whose
// transaction is open, and processed.dat as the transaction sees it (read
// once, on first use, after the journal was completed).
class ActionRun {
  public:
    ActionRun(const ProjectPaths& paths, int location, LogStore& store)
        : paths_(paths), location_(location), store_(store) {}

    const ProjectPaths& paths() const { return paths_; }
    int location() const { return location_; }
    LogStore& store() { return store_; }
    std::string_view bytes();
    // The location's receptions among bytes().
    const WorkingSet& now();
    // Whether processed.dat was read.
    bool read() const { return processed_.has_value(); }
    std::optional<ProcessedBytes>& processed() { return processed_; }
    std::optional<WorkingSet>& receptions() { return now_; }

  private:
    const ProjectPaths& paths_;
    int location_;
    LogStore& store_;
    std::optional<ProcessedBytes> processed_;
    std::optional<WorkingSet> now_;
};

// The states an action writes into processed.dat.
struct StateWrite {
    StateWrite() = default;
    // The receptions written, each with its new state (location, recordNo
    // and state of each).
    StateWrite(WorkingSet changed) : entries(std::move(changed)) {}
    // Every entry of `set` with `states[i]` in place of its own (a run over
    // the whole working set, which leaves the set alone until it is stored).
    StateWrite(const WorkingSet& set, std::vector<std::string_view> newStates)
        : over(&set), states(std::move(newStates)) {}

    WorkingSet entries;
    const WorkingSet* over = nullptr;
    std::vector<std::string_view> states;

    std::unique_ptr<PendingStates> prepare(const std::filesystem::path& processedPath) const;
    // Gives `set` (receptions of the location, in file order) the states written.
    void applyTo(WorkingSet& set) const;
};

class LocationAction {
  public:
    virtual ~LocationAction() = default;
    // The sentence a failure before the commit ends with; empty: none.
    virtual std::string_view kept() const = 0;
    // Refusals due before the database is opened.
    virtual void check(const ProjectPaths&) const {}
    // The page cache (KiB) its connection needs; 0: the library's own.
    virtual int cacheKib() const { return 0; }
    // Whether the action looks at processed.dat (and so completes the
    // journal into it first).
    virtual bool readsProcessed(const ProjectPaths&) const { return true; }
    // Changes the log and the record in the run's transaction; returns the
    // receptions whose states it writes (location, recordNo and new state
    // of each), or none to commit without a state write. Leaving `cancelled`
    // set rolls everything back.
    virtual std::optional<StateWrite> apply(ActionRun& run) = 0;

    bool cancelled() const { return cancelled_; }

  protected:
    bool cancelled_ = false;
};

// What perform() leaves behind.
struct Performed {
    bool done = false;   // false: cancelled, nothing stored
    StateWrite written;  // the receptions written, with their new states
    // processed.dat as read inside the transaction, before the new states,
    // and the location's receptions in it when the action took them apart.
    std::optional<ProcessedBytes> processed;
    std::optional<WorkingSet> receptions;
    // The location's receptions as they are now on disk (read once, inside
    // the transaction, with the new states); none when never read. Takes
    // them out of `receptions`.
    std::optional<WorkingSet> after(const ProjectPaths& paths, int location);
};

// Runs `action` on `location` in one transaction of `store`, which it opens
// for writing (and leaves open for the reads after it). A failure before the
// commit has stored nothing and says so with the action's kept() sentence.
Performed perform(LocationAction& action, const ProjectPaths& paths, int location,
                  std::optional<LogStore>& store);
// The same with a store of its own, for `set`'s location; `set` takes the
// states written only once rows and file are both stored.
void performOn(LocationAction& action, const ProjectPaths& paths, WorkingSet& set);

// An action Undo offers. Rebuilt from the record, it knows its own inverse.
class UndoableAction : public LocationAction {
  public:
    // The command of the recorded action (Add To Log, Add Suggested Picks,
    // Return To Waiting; the matching run is Undo's floor and never gets here).
    static std::unique_ptr<UndoableAction> fromRecord(const RecordedAction& recorded);
    // Reverses the recorded action in the run's transaction; returns the
    // states it gives back. Refuses, changing nothing, when the record no
    // longer agrees with the log or processed.dat.
    virtual WorkingSet undo(ActionRun& run) = 0;

  protected:
    RecordedAction recorded_;
};

// ---- the actions that log rows ------------------------------------------------------

// Rows appended for receptions, with their decisions; Undo takes the rows
// out again and gives each reception back the state it had.
class SettleAction : public UndoableAction {
  public:
    std::string_view kept() const override { return kNothingLogged; }
    std::optional<StateWrite> apply(ActionRun& run) override;
    WorkingSet undo(ActionRun& run) override;

    int rows() const { return static_cast<int>(rows_.size()); }
    bool empty() const { return settled_.entries.empty(); }

  protected:
    explicit SettleAction(std::string_view kind) : decisions_(kind) {}
    std::vector<ReceptionRow> rows_;
    PendingDecisions decisions_;
    WorkingSet settled_;  // the entries it settles, state OK
};

// Add To Log of the selected reception, or of every waiting reception of
// its ident and frequency.
class AddToLogAction : public SettleAction {
  public:
    // Throws the refusals that need nothing read (no reception selected, no
    // beacon chosen, no location).
    AddToLogAction(const WorkingSet& set, const Selection& selection, bool applyAll);
    // The recorded one, for its Undo.
    explicit AddToLogAction(const RecordedAction& recorded);
};

// Add Suggested Picks: every pick for all waiting receptions of its pair.
class SuggestedPicksAction : public SettleAction {
  public:
    SuggestedPicksAction(const WorkingSet& set, const SuggestedPickPlan& plan);
    explicit SuggestedPicksAction(const RecordedAction& recorded);
};

// The matching run of `set`: AMB, OK (with a row) or MIS for every entry not
// settled yet.
class MatchingRunAction : public LocationAction {
  public:
    MatchingRunAction(const WorkingSet& set, const MatchProgress& progress)
        : set_(set), progress_(progress) {}
    std::string_view kept() const override { return kNothingLogged; }
    void check(const ProjectPaths& paths) const override;
    // Room for every page the run writes: a cache that overflows writes
    // pages out (and syncs the journal) before the commit, which costs time
    // though it stays safe. Only this connection's limit; pages are taken as
    // they are used.
    int cacheKib() const override { return 16384; }
    std::optional<StateWrite> apply(ActionRun& run) override;
    const MatchOutcome& outcome() const { return outcome_; }

  private:
    const WorkingSet& set_;
    const MatchProgress& progress_;
    MatchOutcome outcome_;
};

// ---- the actions that take rows out -----------------------------------------------

// Return To Waiting of the logged receptions at `positions` and every
// reception sharing a row with one of them.
class ReturnAction : public UndoableAction {
  public:
    ReturnAction(int location, std::vector<int> positions)
        : positions_(std::move(positions)), location_(location) {}
    // The recorded one, for its Undo.
    explicit ReturnAction(const RecordedAction& recorded);
    std::string_view kept() const override;
    void check(const ProjectPaths& paths) const override;
    std::optional<StateWrite> apply(ActionRun& run) override;
    // Puts the rows back and the receptions in the log as before.
    WorkingSet undo(ActionRun& run) override;
    int returned() const { return returned_; }

  private:
    std::vector<int> positions_;
    int returned_ = 0;
    int location_ = 0;
};

// Undo Last Action: the location's latest action that Undo offers, rebuilt
// from the record and reversed by its own command.
class UndoAction : public LocationAction {
  public:
    explicit UndoAction(int location) : location_(location) {}
    std::string_view kept() const override;
    void check(const ProjectPaths& paths) const override;
    std::optional<StateWrite> apply(ActionRun& run) override;
    const UndoOffer& undone() const { return undone_; }

  private:
    int location_;
    UndoOffer undone_;
};

// Start Over of a location: its rows and record gone, its receptions UNP.
// Not offered by Undo.
class StartOverAction : public LocationAction {
  public:
    explicit StartOverAction(int location) : location_(location) {}
    std::string_view kept() const override { return {}; }
    void check(const ProjectPaths& paths) const override;
    bool readsProcessed(const ProjectPaths& paths) const override;
    std::optional<StateWrite> apply(ActionRun& run) override;

  private:
    int location_;
};

// What Undo would reverse next for `location`; none below the matching run.
std::optional<UndoOffer> undoOffer(LogStore& store, int location);

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/AddToLog.h"
#include "engine/DecisionRecord.h"
#include "engine/HomePosition.h"
#include "engine/MatchingRun.h"
#include "engine/ProjectPaths.h"
#include "engine/Reversal.h"
#include "engine/StepTwoLists.h"
#include "engine/SuggestedPicks.h"
#include "work/LocationStates.h"

namespace zolt {

class LocationAction;
class LogStore;

// The listening location being worked on, held once: its receptions, the
// two waiting lists, its home, its logged receptions (while they are
// wanted) and what Undo would reverse. It changes only through the actions
// below, each of which reads what it needs once, changes the project in one
// transaction and then tells its observers what changed. A failed action
// throws EngineError and leaves the session as it was.
class LocationSession {
  public:
    enum Change : unsigned {
        Location = 1u << 0,  // another location (or none) was chosen
        Lists = 1u << 1,     // receptions, waiting lists, counts
        Home = 1u << 2,
        Logged = 1u << 3,  // the logged receptions
        Undo = 1u << 4,    // the undo offer
        Everything = 0xffu,
    };
    using Observer = std::function<void(unsigned changes)>;

    explicit LocationSession(ProjectPaths paths);

    // The project's paths; the backup folder changes with the settings.
    const ProjectPaths& paths() const { return paths_; }
    void setBackupFolder(const std::filesystem::path& folder);
    // A project's settings were read: its backups are known (an empty
    // folder says none is).
    bool projectLoaded() const { return !paths_.BackupFolder.empty(); }

    // Observers are told after every change, in the order they were added.
    void observe(Observer observer);

    int location() const { return work_.location; }  // 0: none chosen
    const WorkingSet& work() const { return work_; }
    const StepTwoLists& lists() const { return lists_; }
    const LocationHome& home() const { return home_; }
    // Read only while wanted (the logged view is on screen).
    const std::vector<LoggedReception>& logged() const { return logged_; }
    const std::optional<UndoOffer>& undoOffer() const { return undo_; }
    int settledCount() const;  // OK receptions of the location

    // Loads `location`: its receptions, lists, home and undo offer.
    void choose(int location);
    // No location chosen; nothing is read.
    void clear();
    // Whether the logged receptions are read with every change; wanted,
    // they are read at once (and observers told of Logged).
    void wantLogged(bool wanted);

    // The matching run of the chosen location; a cancelled run changes
    // nothing.
    MatchOutcome match(const MatchProgress& progress);
    // Add To Log of the selected reception (and, with `applyAll`, of every
    // waiting reception with its ident and frequency). Returns rows appended.
    int addToLog(const Selection& selection, bool applyAll);
    // The picks Add Suggested Picks would log, from the home read anew.
    SuggestedPickPlan planSuggestedPicks();
    int addSuggestedPicks(const SuggestedPickPlan& plan);
    // The positions Return To Waiting takes for `positions`: those and every
    // reception sharing a row with one of them (from the logged receptions
    // held, nothing read).
    std::vector<int> returnedWith(const std::vector<int>& positions) const;
    int returnToWaiting(const std::vector<int>& positions);
    // Reverses the action the undo offer names.
    UndoOffer undoLastAction();
    // Start Over of the chosen location: its rows and record are gone and
    // its receptions unmatched; no location is chosen afterwards.
    void startOver();
    // Stores a typed home entry (empty: none) and reads the home anew.
    void setHomeEntry(const std::string& text);
    // The same with the home the entry gives already read (previewHomeEntry),
    // as the window has it from asking about a far one.
    void setHomeEntry(const std::string& text, LocationHome previewed);

  private:
    struct Loaded;
    // The location's lists, home, logged receptions and undo offer for
    // `work`, read aside through `store`; take() then holds them and tells
    // the observers.
    Loaded load(LogStore& store, WorkingSet work) const;
    // `location` read anew: its receptions, then load().
    Loaded read(int location) const;
    void take(Loaded loaded, unsigned changes);
    // What an action that changed the location changes in the session.
    unsigned afterAction() const;
    // Runs `action` and holds what it left: one open of the database, one
    // read of processed.dat. When another window settled the receptions
    // first, the location is loaded anew before the refusal goes on.
    void performed(LocationAction& action);
    void notify(unsigned changes);

    ProjectPaths paths_;
    WorkingSet work_;
    StepTwoLists lists_;
    LocationHome home_;
    std::vector<LoggedReception> logged_;
    bool loggedWanted_ = false;
    std::optional<UndoOffer> undo_;
    std::vector<Observer> observers_;
};

}  // namespace zolt

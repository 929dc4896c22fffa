// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ResolutionStep.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMessageBox>
#include <QShortcut>
#include <algorithm>
#include <set>

#include "app/FrmFileSave.h"
#include "app/Guarded.h"
#include "app/MapLink.h"
#include "app/ReceptionModels.h"
#include "app/ShownNumbers.h"
#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/TextFields.h"
#include "engine/CandidateLookup.h"
#include "engine/LocationSession.h"
#include "ui_resolutionStep.h"

namespace zolt {

namespace {

const QKeySequence kSuggestedKey(Qt::Key_F2);

// The platform's own undo key, known only once the application runs.
QKeySequence undoKey() { return QKeySequence(QKeySequence::Undo); }

QString utf8(const std::string& text) { return QString::fromStdString(text); }

QString returnPrompt(int receptions) {
    return QStringLiteral(
               "This will remove %1 from the log and put them back among the waiting "
               "ones. Are you sure you want to continue ?")
        .arg(counted(receptions, "reception", "receptions"));
}

QString undoPrompt(const UndoOffer& offer) {
    const bool returned = offer.action == action::kReturnToWaiting;
    const bool one = offer.receptions == 1;
    QString happens;
    if (returned) {
        happens = one ? QStringLiteral("goes back into the log as it was")
                      : QStringLiteral("go back into the log as they were");
    } else {
        happens = one ? QStringLiteral("returns to waiting") : QStringLiteral("return to waiting");
    }
    return QStringLiteral("This will undo %1: %2 %3. Are you sure you want to continue ?")
        .arg(utf8(offer.action), counted(offer.receptions, "reception", "receptions"), happens);
}

// The selection line: hidden while empty, so that a screen reader meets no
// label without a name, yet keeping its room, so that nothing moves.
void setLine(QLabel* line, const QString& text) {
    line->setText(text);
    line->setVisible(!text.isEmpty());
}

// The rows of `view` that are selected, as indexes of its first column.
QModelIndexList selectedRows(const QTreeView* view) {
    return view->selectionModel() ? view->selectionModel()->selectedRows() : QModelIndexList{};
}

}  // namespace

ResolutionStep::ResolutionStep(LocationSession& session, std::filesystem::path landOutline,
                               std::filesystem::path documentsFolder, QWidget* parent)
    : QFrame(parent),
      ui(std::make_unique<Ui::ResolutionStep>()),
      session_(session),
      documentsFolder_(std::move(documentsFolder)) {
    ui->setupUi(this);
    ui->homeFrame->attach(session_);
    map_ = new MapLink(session_.paths(), std::move(landOutline), this);

    waiting_ = new WaitingReceptionModel(this);
    exact_ = new CandidateModel(CandidateModel::Kind::Exact, this);
    possible_ = new CandidateModel(CandidateModel::Kind::Possible, this);
    logged_ = new LoggedReceptionModel(this);
    loggedBeacons_ = new LoggedBeaconModel(this);
    const QFontMetrics metrics(font());
    waitingOrder_ = setupWaitingView(ui->waitingList, waiting_, metrics);
    exactOrder_ = setupCandidateView(ui->exactCandidateList, exact_, metrics);
    possibleOrder_ = setupCandidateView(ui->prefixCandidateList, possible_, metrics);
    loggedOrder_ = setupLoggedView(ui->loggedList, logged_);
    setupLoggedBeaconView(ui->loggedBeaconList, loggedBeacons_);

    // Nothing moves when a selection changes: the warning beside Apply To
    // All keeps its room while hidden, the selection line its height while
    // empty.
    QSizePolicy keepRoom = ui->applyToAllWarning->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    ui->applyToAllWarning->setSizePolicy(keepRoom);
    for (QLabel* line : {ui->selectedStationLabel, ui->selectedPlaceLabel}) {
        line->setMinimumHeight(line->fontMetrics().height());
        QSizePolicy keep = line->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        line->setSizePolicy(keep);
        line->hide();
    }
    ui->applyToAllWarning->hide();
    ui->applyToAllCheck->setEnabled(false);
    ui->addToLogButton->setEnabled(false);
    for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(true);

    // One key takes the keyboard to the suggested candidate; Enter there
    // then logs it as Add To Log would.
    auto* suggestedKey = new QShortcut(kSuggestedKey, this);
    suggestedKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(suggestedKey, &QShortcut::activated, this, &ResolutionStep::selectSuggested);
    const QString keyHint =
        QStringLiteral(
            "%1 selects the suggested pick, the clearly nearest candidate, shown in "
            "bold; Enter then adds it to the log.")
            .arg(kSuggestedKey.toString(QKeySequence::NativeText));
    for (QTreeView* list : {ui->exactCandidateList, ui->prefixCandidateList}) {
        list->setToolTip(keyHint);
        list->setAccessibleDescription(keyHint);
        list->installEventFilter(this);
    }
    // Undo has no free letter among its words; the platform's undo key serves.
    auto* undoShortcut = new QShortcut(undoKey(), this);
    undoShortcut->setContext(Qt::WindowShortcut);
    connect(undoShortcut, &QShortcut::activated, this, [this] {
        if (ui->undoButton->isVisible() && ui->undoButton->isEnabled()) undoLastAction();
    });

    connect(ui->waitingList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ResolutionStep::receptionSelected);
    connect(ui->exactCandidateList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { candidateSelected(ui->exactCandidateList); });
    connect(ui->prefixCandidateList->selectionModel(), &QItemSelectionModel::selectionChanged,
            this, [this] { candidateSelected(ui->prefixCandidateList); });
    connect(ui->loggedList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ResolutionStep::loggedSelectionChanged);
    connect(ui->loggedList->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ResolutionStep::loggedSelectionChanged);

    connect(ui->showAmbiguousButton, &QPushButton::clicked, this,
            [this] { showView(View::Ambiguous); });
    connect(ui->showUnresolvedButton, &QPushButton::clicked, this,
            [this] { showView(View::Unresolved); });
    connect(ui->showLoggedButton, &QPushButton::clicked, this, [this] { showView(View::Logged); });
    connect(ui->saveToFileButton, &QPushButton::clicked, this, &ResolutionStep::saveToFile);
    connect(ui->addToLogButton, &QPushButton::clicked, this, &ResolutionStep::addToLog);
    connect(ui->addSuggestedButton, &QPushButton::clicked, this,
            &ResolutionStep::addSuggestedPicks);
    connect(ui->undoButton, &QPushButton::clicked, this, &ResolutionStep::undoLastAction);
    connect(ui->returnToWaitingButton, &QPushButton::clicked, this,
            &ResolutionStep::returnToWaiting);
    connect(ui->mapButton, &QPushButton::clicked, this, &ResolutionStep::openMap);
    connect(ui->startOverButton, &QPushButton::clicked, this, &ResolutionStep::startOver);
    connect(ui->anotherLocationButton, &QPushButton::clicked, this,
            &ResolutionStep::anotherLocationRequested);
    connect(ui->exportLogStepTwoButton, &QPushButton::clicked, this,
            &ResolutionStep::exportRequested);

    session_.observe([this](unsigned changes) { sessionChanged(changes); });
}

ResolutionStep::~ResolutionStep() = default;

// ---- what the session holds, on screen --------------------------------------

void ResolutionStep::sessionChanged(unsigned changes) {
    if (changes & LocationSession::Location) {
        // Another location: its own views, nothing of the last one chosen,
        // and its rows filled once, for the list it opens on.
        resetSelection();
        clearCandidates();
        if (view_ == View::Logged) session_.wantLogged(false);
        view_ = openingView();
    }
    if (changes & (LocationSession::Lists | LocationSession::Location)) {
        if (view_ == View::Unresolved && session_.lists().unresolved.empty()) {
            // The last unresolved reception was logged: the ambiguous ones show.
            showView(View::Ambiguous);
        } else if (view_ != View::Logged) {
            fillWaiting();
        }
        showCounts();
    }
    if (changes & LocationSession::Logged) {
        logged_->setRows(session_.logged());
        if (ui->loggedList->isVisible()) fitColumns(ui->loggedList, LoggedReceptionModel::Comment);
        ui->returnToWaitingButton->setEnabled(false);
        loggedBeacons_->setRows({});
        if (view_ == View::Logged) map_->showCandidates({});
    }
    if (changes & (LocationSession::Home | LocationSession::Location)) {
        // Distances and the suggestion of the reception on screen follow the
        // home; the candidate chosen before is chosen anew.
        if (!selectedRows(ui->waitingList).isEmpty()) lookUpCandidates();
    }
    if (changes & (LocationSession::Undo | LocationSession::Location)) {
        const std::optional<UndoOffer>& offer = session_.undoOffer();
        ui->undoButton->setEnabled(offer.has_value());
        const QString key = undoKey().toString(QKeySequence::NativeText);
        const QString tip =
            offer ? QStringLiteral("Undoes the last %1 of this location (%2); %3")
                        .arg(utf8(offer->action),
                             counted(offer->receptions, "reception", "receptions"), key)
                  : QStringLiteral(
                        "Nothing to undo: no Add To Log, Add Suggested Picks or Return To "
                        "Waiting of this location is left to reverse since its matching "
                        "run.");
        ui->undoButton->setToolTip(tip);
        ui->undoButton->setAccessibleDescription(tip);
    }
}

void ResolutionStep::showCounts() {
    const int ambiguous = static_cast<int>(session_.lists().ambiguous.size());
    const int unresolved = static_cast<int>(session_.lists().unresolved.size());
    ui->showAmbiguousButton->setText(
        QStringLiteral("Show A&mbiguous Stations (%1)").arg(numberText(ambiguous)));
    ui->showAmbiguousButton->setVisible(ambiguous != 0);
    ui->showUnresolvedButton->setText(
        QStringLiteral("Show &Unresolved Stations (%1)").arg(numberText(unresolved)));
    ui->showUnresolvedButton->setVisible(unresolved != 0);
    // A report is offered of the list on screen while it has rows.
    ui->saveToFileButton->setVisible((view_ == View::Ambiguous && ambiguous != 0) ||
                                     (view_ == View::Unresolved && unresolved != 0));
    const int settled = session_.settledCount();
    ui->showLoggedButton->setText(
        QStringLiteral("Sho&w Logged Stations (%1)").arg(numberText(settled)));
    ui->showLoggedButton->setAccessibleName(
        QStringLiteral("Show Logged Stations (%1)").arg(numberText(settled)));
    ui->showLoggedButton->setEnabled(settled > 0);
}

void ResolutionStep::fillWaiting() {
    const StepTwoLists& lists = session_.lists();
    {
        const QSignalBlocker block(ui->waitingList->selectionModel());
        waiting_->setRows(view_ == View::Unresolved ? lists.unresolved : lists.ambiguous,
                          &session_.work());
    }
    filledUnresolved_ = view_ == View::Unresolved;
    clearCandidates();
    resetSelection();
}

ResolutionStep::View ResolutionStep::openingView() const {
    const WorkingSet& work = session_.work();
    if (work.ambCount > 0) return View::Ambiguous;
    return work.misCount > 0 ? View::Unresolved : View::Empty;
}

void ResolutionStep::enter(const QString& locationName) {
    locationName_ = locationName;
    setLine(ui->selectedPlaceLabel, {});
    setLine(ui->selectedStationLabel, {});
    showView(openingView(), false);
    ui->waitingList->setFocus();
}

void ResolutionStep::leave() { map_->close(); }

void ResolutionStep::showView(View view, bool refill) {
    const bool logged = view == View::Logged;
    const bool wasLogged = view_ == View::Logged;
    view_ = view;
    if (logged != wasLogged) guarded(window(), [&] { session_.wantLogged(logged); });
    static const char* const captions[] = {"Ambiguous Stations", "Unresolved Stations",
                                           "Logged Stations", "No stations to process"};
    ui->listCaption->setText(QString::fromLatin1(captions[static_cast<int>(view)]));
    // The logged view's heading is the list's own caption: said once.
    ui->listCaption->setVisible(!logged);
    ui->ambiguousHelp->setVisible(view == View::Ambiguous);
    ui->unresolvedHelp->setVisible(view == View::Unresolved);

    // The logged view has no help to show beside it: its lists take the room.
    ui->picStepTwoLayout->setStretch(0, logged ? 3 : 2);
    ui->waitingList->setVisible(!logged);
    ui->loggedList->setVisible(logged);
    ui->loggedBeaconList->setVisible(logged);
    ui->returnToWaitingButton->setVisible(logged);
    ui->loggedCaption->setBuddy(logged ? ui->loggedList : ui->waitingList);
    ui->candidateCaption->setText(logged ? QStringLiteral("Logged &Beacon")
                                         : QStringLiteral("&Possible Matches"));
    if (logged) {
        ui->exactCandidateList->hide();
        ui->prefixCandidateList->hide();
        ui->candidateCaption->setBuddy(ui->loggedBeaconList);
        layout()->activate();
        fitColumns(ui->loggedList, LoggedReceptionModel::Comment);
        resetSelection();
        ui->loggedList->setFocus();
    } else {
        showCandidateList(view == View::Unresolved);
        // A show button refills its list; entering the step keeps the rows
        // already filled for the list it opens on.
        if (refill || wasLogged || filledUnresolved_ != (view == View::Unresolved)) fillWaiting();
    }
    ui->applyToAllCheck->setEnabled(false);
    ui->applyToAllWarning->hide();
    showCounts();
}

void ResolutionStep::fitColumns(QTreeView* list, int roomColumn) {
    // Each column as wide as what it shows, judged by a sample of rows so
    // that a large location costs no more.
    QHeaderView* header = list->header();
    header->setResizeContentsPrecision(200);
    const int count = header->count();
    std::vector<int> widths(static_cast<std::size_t>(count));
    for (int column = 0; column < count; ++column) {
        list->resizeColumnToContents(column);
        widths[static_cast<std::size_t>(column)] = header->sectionSize(column);
    }
    const int room = list->viewport()->width();
    const auto total = [&](int cap) {
        int sum = 0;
        for (int w : widths) sum += std::min(w, cap);
        return sum;
    };
    // Too little room: the widest columns give way alike, down to a dozen
    // characters, rather than the last ones leaving the screen.
    int cap = *std::max_element(widths.begin(), widths.end());
    const int least = list->fontMetrics().averageCharWidth() * 12;
    if (total(cap) > room) {
        int low = least, high = cap;
        while (low < high) {
            const int mid = (low + high + 1) / 2;
            if (total(mid) <= room) {
                low = mid;
            } else {
                high = mid - 1;
            }
        }
        cap = low;
    }
    for (int column = 0; column < count; ++column) {
        header->resizeSection(column, std::min(widths[static_cast<std::size_t>(column)], cap));
    }
    // Room to spare goes to the longest text.
    const int spare = room - total(cap);
    if (spare > 0) header->resizeSection(roomColumn, header->sectionSize(roomColumn) + spare);
}

void ResolutionStep::showCandidateList(bool possible) {
    ui->prefixCandidateList->setVisible(possible);
    ui->exactCandidateList->setVisible(!possible);
    // Alt+P reaches whichever candidate list is on screen.
    ui->candidateCaption->setBuddy(possible ? ui->prefixCandidateList : ui->exactCandidateList);
}

void ResolutionStep::clearCandidates() {
    const QSignalBlocker blockExact(ui->exactCandidateList->selectionModel());
    const QSignalBlocker blockPossible(ui->prefixCandidateList->selectionModel());
    exact_->setRanked({});
    possible_->setRanked({});
}

void ResolutionStep::resetSelection() {
    ui->applyToAllCheck->setChecked(false);
    ui->applyToAllCheck->setEnabled(false);
    ui->addToLogButton->setEnabled(false);
    ui->applyToAllWarning->hide();
    selection_ = Selection{};
    setLine(ui->selectedStationLabel, {});
    setLine(ui->selectedPlaceLabel, {});
    map_->showCandidates({});
}

// ---- choosing a reception and its beacon -------------------------------------

void ResolutionStep::receptionSelected() {
    const QModelIndexList chosen = selectedRows(ui->waitingList);
    if (chosen.isEmpty()) return;
    const ListedReception fields = listedReceptionAt(chosen.first());
    selection_ = Selection{};
    selection_.SelectedIdent = fields.ident;
    selection_.SelectedFrequency = fields.frequency;
    selection_.SelectedTime = fields.time;
    selection_.SelectedDate = fields.date;
    selection_.SelectedComment = fields.comment;
    setLine(ui->selectedStationLabel,
            QString::fromStdString(cp1252ToUtf8(trimBlanks(fields.ident)) + " - " +
                                   cp1252ToUtf8(trimBlanks(fields.frequency))));
    setLine(ui->selectedPlaceLabel, {});
    lookUpCandidates();
}

void ResolutionStep::lookUpCandidates() {
    const QModelIndexList chosen = selectedRows(ui->waitingList);
    if (chosen.isEmpty()) return;
    const ListedReception fields = listedReceptionAt(chosen.first());
    const bool possible = view_ == View::Unresolved;
    const std::optional<LatLon> home = session_.home().position;
    const std::filesystem::path& database = session_.paths().DatabasePath;
    clearCandidates();
    ui->applyToAllCheck->setChecked(false);
    ui->addToLogButton->setEnabled(false);
    ui->applyToAllCheck->setEnabled(false);
    ui->applyToAllWarning->hide();
    setLine(ui->selectedPlaceLabel, {});
    selection_.SelectedBeaconId = 0;
    RankedCandidates ranked;
    if (!guarded(window(), [&] {
            ranked = possible ? rankPrefix(prefixCandidates(database, fields.ident), home,
                                           leadingNumber(fields.frequency))
                              : rankExact(exactCandidates(database, fields.ident, fields.frequency),
                                          home);
        })) {
        return;
    }
    map_->showCandidates(ranked);
    const QSignalBlocker block((possible ? ui->prefixCandidateList : ui->exactCandidateList)
                                   ->selectionModel());
    (possible ? possible_ : exact_)->setRanked(std::move(ranked));
}

void ResolutionStep::candidateSelected(QTreeView* list) {
    const QModelIndexList chosen = selectedRows(list);
    if (chosen.isEmpty()) return;
    setLine(ui->selectedPlaceLabel, chosen.first().data(PlaceRole).toString());
    selection_.SelectedBeaconId = beaconIdAt(chosen.first());
    ui->addToLogButton->setEnabled(true);
    ui->applyToAllCheck->setEnabled(true);
    ui->applyToAllWarning->show();
}

void ResolutionStep::selectSuggested() {
    const bool possible = ui->prefixCandidateList->isVisible();
    QTreeView* list = possible ? ui->prefixCandidateList : ui->exactCandidateList;
    const CandidateModel* model = possible ? possible_ : exact_;
    const int row = model->suggestedRow();
    if (row < 0) {
        QApplication::beep();  // no suggestion for this reception
        return;
    }
    const auto* order = static_cast<const ListSortProxy*>(list->model());
    const QModelIndex index = order->mapFromSource(model->index(row, 0));
    list->setCurrentIndex(index);
    list->scrollTo(index);
    list->setFocus();
}

bool ResolutionStep::eventFilter(QObject* watched, QEvent* event) {
    // Enter on a chosen candidate logs it, so that F2 and Enter settle a
    // reception without leaving the list.
    if (event->type() == QEvent::KeyPress &&
        (watched == ui->exactCandidateList || watched == ui->prefixCandidateList)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && ui->addToLogButton->isEnabled()) {
            ui->addToLogButton->click();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void ResolutionStep::loggedSelectionChanged() {
    QModelIndexList chosen = selectedRows(ui->loggedList);
    ui->returnToWaitingButton->setEnabled(!chosen.isEmpty());
    // The current row's beacon first: it is the one the map rings brightest.
    const QModelIndex current = ui->loggedList->currentIndex().siblingAtColumn(0);
    std::stable_partition(chosen.begin(), chosen.end(),
                          [&](const QModelIndex& index) { return index == current; });
    std::vector<LoggedReception> beacons;
    RankedCandidates ringed;
    std::set<std::int64_t> seen;
    for (const QModelIndex& index : chosen) {
        LoggedReception r = loggedReceptionAt(index);
        if (r.logId == 0 || r.call.empty() || !seen.insert(r.beaconId).second) continue;
        const Candidate beacon{r.beaconId, r.call,    r.beaconFrequency,  r.city,
                               r.province, r.country, r.beaconPosition, false};
        ringed.rows.push_back({beacon, r.distanceKm, std::nullopt});
        beacons.push_back(std::move(r));
    }
    loggedBeacons_->setRows(std::move(beacons));
    fitColumns(ui->loggedBeaconList, LoggedBeaconModel::City);
    if (!ringed.rows.empty()) ringed.suggested = 0;
    map_->showCandidates(ringed);
}

// ---- actions -----------------------------------------------------------------

void ResolutionStep::afterAction() {
    if (view_ == View::Logged) {
        // The listener stays where the action was taken.
        map_->reload();
        return;
    }
    showCandidateList(view_ == View::Unresolved);
    map_->showLocation(session_.location());
    resetSelection();
    ui->waitingList->setFocus();
}

void ResolutionStep::addToLog() {
    const bool applyAll = ui->applyToAllCheck->isChecked();
    int rows = 0;
    if (!guarded(window(), [&] { rows = session_.addToLog(selection_, applyAll); })) return;
    if (rows == 0) {
        showFailure(window(), QStringLiteral("Nothing was added to the log: the selected "
                                             "reception is already logged."));
    }
    afterAction();
}

void ResolutionStep::addSuggestedPicks() {
    if (session_.location() == 0) return;
    // The home anew, and the plan from it; a failure to read either has
    // logged nothing, and says so.
    SuggestedPickPlan plan;
    if (!guarded(window(), [&] {
            sayingWhatWasKept(kNothingLogged, [&] { plan = session_.planSuggestedPicks(); });
        })) {
        return;
    }
    const LocationHome& home = session_.home();
    if (plan.picks.empty()) {
        // Without a home, the line that says why is the answer.
        QMessageBox::information(
            window(), QStringLiteral("Database Converter"),
            home.position
                ? QStringLiteral("No waiting reception of this location has a candidate "
                                 "clearly nearer than the others to %1, so nothing was logged.")
                      .arg(QString::fromStdString(describeHomeUsed(home)))
                : QStringLiteral("Nothing was logged: a suggested pick needs the location's "
                                 "home. %1")
                      .arg(QString::fromStdString(describeHome(home))));
        return;
    }
    const QString prompt =
        QStringLiteral(
            "This will log %1 of %2, each to its suggested pick, the candidate clearly "
            "nearest to %3. Receptions without a clear suggestion stay waiting. Are you "
            "sure you want to continue ?")
            .arg(counted(plan.receptions, "reception", "receptions"),
                 counted(static_cast<int>(plan.picks.size()), "distinct callsign/frequency pair",
                         "distinct callsign/frequency pairs"),
                 QString::fromStdString(describeHomeUsed(home)));
    if (!confirmed(window(), prompt)) return;
    if (!guarded(window(), [&] { session_.addSuggestedPicks(plan); })) return;
    afterAction();
}

void ResolutionStep::returnToWaiting() {
    std::vector<int> chosen;
    for (const QModelIndex& index : selectedRows(ui->loggedList)) {
        chosen.push_back(index.data(PositionRole).toInt());
    }
    std::sort(chosen.begin(), chosen.end());
    if (session_.location() == 0 || chosen.empty()) return;
    const std::vector<int> returning = session_.returnedWith(chosen);
    if (!confirmed(window(), returnPrompt(static_cast<int>(returning.size())))) return;
    if (!guarded(window(), [&] { session_.returnToWaiting(returning); })) return;
    afterAction();
}

void ResolutionStep::undoLastAction() {
    const std::optional<UndoOffer> offer = session_.undoOffer();
    if (session_.location() == 0 || !offer) return;
    if (!confirmed(window(), undoPrompt(*offer))) return;
    if (!guarded(window(), [&] { session_.undoLastAction(); })) return;
    afterAction();
}

void ResolutionStep::startOver() {
    const int location = session_.location();
    if (location == 0) return;
    if (!confirmed(window(),
                   QStringLiteral("Are you sure you want to recreate log#%1?").arg(location))) {
        return;
    }
    if (!resetGuarded(window(), [&] { session_.startOver(); })) return;
    // The location's receptions are unmatched again: it is chosen anew,
    // which reloads them and offers START MATCHING.
    emit locationReset();
}

void ResolutionStep::saveToFile() {
    const int location = session_.location();
    if (location == 0) return;
    FrmFileSave dialog(view_ == View::Ambiguous ? ReportKind::Ambiguous : ReportKind::Unresolved,
                       location, session_.paths().ProcessedPath, documentsFolder_, window());
    if (dialog.exec() != QDialog::Accepted) return;
    QMessageBox::information(
        window(), QStringLiteral("Database Converter"),
        QStringLiteral("The report was saved to %1.")
            .arg(QDir::toNativeSeparators(QString::fromStdString(dialog.targetPath().string()))));
}

void ResolutionStep::openMap() {
    const int location = session_.location();
    if (location == 0) return;
    map_->open(location, locationName_);
}

}  // namespace zolt

// SPDX-License-Identifier: GPL-2.0-or-later
// Times the window on the benchmark's large location: from the START
// MATCHING click to the filled step-two screen, and sorting and scrolling
// the step-two lists. Runs offscreen; figures are printed with their
// targets, never asserted in a test.
//
// Then a whole archive of sixteen such locations: from the Match All
// Locations click (its question answered at once) to the summary, and
// selecting a matched location afterwards.
//
//   zolt-window-bench [--receptions N] [--no-archive]

#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/FrmMain.h"
#include "app/MatchAllSummary.h"
#include "app/ReceptionModels.h"
#include "bench/ArchiveBench.h"
#include "bench/DataGenerator.h"
#include "bench/Timing.h"
#include "core/TextFields.h"
#include "engine/Project.h"
#include "engine/StepTwoLists.h"
#include "engine/SuggestedPicks.h"
#include "work/BackupImport.h"

namespace fs = std::filesystem;

namespace {

using zolt::bench::report;

template <class T>
T* child(QWidget& window, const char* name) {
    T* widget = window.findChild<T*>(QString::fromLatin1(name));
    if (!widget) throw std::runtime_error(std::string("the window has no ") + name);
    return widget;
}

// Runs `action`, lets the window process what it queued and paints it, as
// the user would see the result.
double timed(QWidget& window, const std::function<void()>& action) {
    QElapsedTimer clock;
    clock.start();
    action();
    QCoreApplication::processEvents();
    (void)window.grab();
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

// Sorting `view` by every column both ways, each painted: the slowest of
// them is what the user may feel.
double slowestSort(QTreeView& view) {
    double slowest = 0;
    for (int column = 0; column < view.model()->columnCount(); ++column) {
        for (const auto order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            slowest = std::max(slowest, timed(view, [&] { view.sortByColumn(column, order); }));
        }
    }
    return slowest;
}

// A list's model alone, in a view of its own as large as the window's list:
// `fill` timed, then every sort, to set beside the window's figures.
bool modelBench(const char* what, QTreeView& view, const QSize& size,
                const std::function<void()>& fill) {
    view.resize(size);
    view.show();
    const double filled = timed(view, fill);
    std::printf("window: model: %s: %d rows\n", what, view.model()->rowCount());
    const std::string fillLine = std::string("window: model: fill the ") + what;
    const std::string sortLine = std::string("window: model: slowest sort of the ") + what;
    bool met = report(fillLine.c_str(), filled, 0.3);
    met &= report(sortLine.c_str(), slowestSort(view), 0.1);
    return met;
}

// The waiting list's model with `rows` repeated to `count` rows.
bool waitingModelBench(const std::vector<zolt::ListedReception>& rows, std::size_t count,
                       const QSize& size) {
    if (rows.empty()) return true;
    std::vector<zolt::ListedReception> many;
    many.reserve(count);
    while (many.size() < count) many.push_back(rows[many.size() % rows.size()]);
    QTreeView view;
    zolt::WaitingReceptionModel model;
    zolt::setupWaitingView(&view, &model, QFontMetrics(view.font()));
    return modelBench("waiting list's model", view, size, [&] { model.setRows(std::move(many)); });
}

// The logged view's model on the rows the window's logged view lists.
bool loggedModelBench(std::vector<zolt::LoggedReception> rows, const QSize& size) {
    QTreeView view;
    zolt::LoggedReceptionModel model;
    zolt::setupLoggedView(&view, &model);
    return modelBench("logged view's model", view, size, [&] { model.setRows(std::move(rows)); });
}

// Match All Locations on sixteen locations of `perLocation` receptions:
// the click (its question answered Yes at once) to the summary on screen.
bool archiveBench(const fs::path& folder, int perLocation) {
    const fs::path pristine = ZOLT_NDBDATA;
    const auto archive = zolt::bench::writeArchiveBackups(pristine, folder, perLocation);
    const zolt::ProjectPaths paths = zolt::projectPathsFor(folder / "Documents");
    fs::create_directories(paths.WorkFolder);
    fs::copy_file(pristine, paths.DatabasePath);
    zolt::buildProcessedFile(archive.backup, paths.ProcessedPath, zolt::LogSource::Backups);
    zolt::writeSettings(paths, archive.backup);

    zolt::FrmMain window({folder / "Documents", pristine.parent_path(), folder / "user.reg"});
    window.resize(1024, 768);
    window.show();
    window.startUp();
    child<QAbstractButton>(window, "continueButton")->click();
    QCoreApplication::processEvents();

    QElapsedTimer clock;
    double toSummary = -1;
    int lines = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->isVisible()) {
            if (box->button(QMessageBox::Yes)) {
                box->button(QMessageBox::Yes)->click();
            } else {
                std::printf("window: archive: %s\n", box->text().toStdString().c_str());
                box->accept();
            }
        } else if (auto* summary = qobject_cast<zolt::MatchAllSummaryDialog*>(modal);
                   summary && summary->isVisible()) {
            (void)summary->grab();  // painted, as the user sees it
            toSummary = static_cast<double>(clock.nsecsElapsed()) / 1e9;
            auto* table = summary->findChild<QTreeView*>(QStringLiteral("matchAllSummary"));
            lines = table ? table->model()->rowCount() : 0;
            summary->accept();
        }
    });
    answer.start(1);
    clock.start();
    child<QAbstractButton>(window, "matchAllButton")->click();
    answer.stop();
    std::printf("window: archive: Match All Locations summary of %d lines\n", lines);
    bool met = lines == zolt::kLocationCount + 1;
    met &= report("window: archive: Match All Locations click to the summary", toSummary, 3.0);
    const double select = timed(window, [&] { window.locationButton(16)->setChecked(true); });
    // The window adds the lists on screen and the home of the location,
    // which the database works out from the location's log rows.
    met &= report("window: archive: selecting a matched location (step two filled)", select, 0.05);
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    int receptions = 32767;
    bool archive = true;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--receptions" && i + 1 < argc) {
            receptions = std::atoi(argv[++i]);
        } else if (std::string(argv[i]) == "--no-archive") {
            archive = false;
        } else {
            std::fprintf(stderr, "usage: %s [--receptions N] [--no-archive]\n", argv[0]);
            return 2;
        }
    }
    std::string pattern = (fs::temp_directory_path() / "zolt-window-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path home = pattern;
    int status = 0;
    try {
        const fs::path pristine = ZOLT_NDBDATA;
        const fs::path backup = home / "backup";
        const zolt::ProjectPaths paths = zolt::projectPathsFor(home / "Documents");
        fs::create_directories(paths.WorkFolder);
        fs::copy_file(pristine, paths.DatabasePath);
        zolt::bench::GeneratorOptions options;
        options.receptions = receptions;
        zolt::bench::writeBenchmarkBackups(pristine, backup, options);
        zolt::buildProcessedFile(backup, paths.ProcessedPath, zolt::LogSource::Backups);
        zolt::writeSettings(paths, backup);

        zolt::FrmMain window({home / "Documents", pristine.parent_path(), home / "user.reg"});
        window.resize(1024, 768);
        window.show();
        window.startUp();
        child<QAbstractButton>(window, "continueButton")->click();
        window.locationButton(1)->setChecked(true);
        QCoreApplication::processEvents();

        auto* upper = child<QTreeView>(window, "waitingList");
        const double toStepTwo =
            timed(window, [&] { child<QAbstractButton>(window, "startMatchingButton")->click(); });
        std::printf("window: %d ambiguous rows listed\n", upper->model()->rowCount());
        if (!report("window: START MATCHING to the filled step two", toStepTwo, 1.0)) status = 1;

        // Sorting by every column both ways, and scrolling end to end, each
        // painted: the slowest of them is what the user may feel.
        const double sorted = slowestSort(*upper);
        double slowestScroll = 0;
        slowestScroll = std::max(timed(window, [&] { upper->scrollToBottom(); }),
                                 timed(window, [&] { upper->scrollToTop(); }));
        if (!report("window: slowest sort of the ambiguous list", sorted, 0.1)) status = 1;
        if (!report("window: slowest scroll of the ambiguous list", slowestScroll, 0.1)) status = 1;
        // The same list's model alone, at the size of a large location.
        if (!waitingModelBench(zolt::readStepTwoLists(paths.ProcessedPath, 1).ambiguous, 36000,
                               upper->size())) {
            status = 1;
        }
        const double toUnresolved =
            timed(window, [&] { child<QAbstractButton>(window, "showUnresolvedButton")->click(); });
        std::printf("window: %d unresolved rows listed\n", upper->model()->rowCount());
        if (!report("window: switch to the unresolved view", toUnresolved, 0.1)) status = 1;

        // The logged view at its fullest: every reception of the location
        // settled, so that it lists them all.
        zolt::SuggestedPickPlan everyPair;
        std::set<std::pair<std::string, std::string>> seen;
        for (const auto& e : window.session().work().entries) {
            const std::string code = zolt::trimBlanks(e.state);
            if (code != "AMB" && code != "MIS") continue;
            if (!seen.insert({zolt::trimBlanks(e.ident), zolt::trimBlanks(e.frequency)}).second) {
                continue;
            }
            everyPair.picks.push_back({e.ident, e.frequency, 1, 0});
        }
        window.session().addSuggestedPicks(everyPair);
        child<QAbstractButton>(window, "showAmbiguousButton")->click();
        auto* logged = child<QTreeView>(window, "loggedList");
        const double toLogged =
            timed(window, [&] { child<QAbstractButton>(window, "showLoggedButton")->click(); });
        std::printf("window: %d logged rows listed\n", logged->model()->rowCount());
        if (!report("window: fill the logged view", toLogged, 0.3)) status = 1;
        if (!report("window: slowest sort of the logged view", slowestSort(*logged), 0.1)) {
            status = 1;
        }
        if (!loggedModelBench(window.session().logged(),
                              logged->size())) {
            status = 1;
        }

        if (archive && !archiveBench(home / "archive", receptions)) status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolt-window-bench: %s\n", e.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(home, ignored);
    return status;
}

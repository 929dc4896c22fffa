// SPDX-License-Identifier: GPL-2.0-or-later
// The logged view of step two, Return To Waiting and Undo Last Action on the
// demo backups, location 1 matched by the window itself.

#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <optional>

#include "DbTestUtil.h"
#include "WindowTestUtil.h"
#include "app/LogExportFile.h"
#include "app/MapWindow.h"
#include "core/OldDates.h"
#include "engine/ProcessedBytes.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::MessageBoxAnswerer;

namespace {

class LoggedViewTest : public test::MainWindowTest {
  protected:
    LoggedViewTest() {
        fs::copy(fs::path(ZOLT_SOURCE_DIR) / "examples" / "backup", backups,
                 fs::copy_options::recursive);
        openDemoMatched();
    }

    // Settled receptions of location 1 as processed.dat holds them.
    int settled() {
        const auto set = loadWorkingSet(paths.ProcessedPath, 1);
        return set.WorkCount() - set.ambCount - set.misCount - set.unpCount;
    }
    QString showCaption() { return get("showLoggedButton")->text().remove(QLatin1Char('&')); }
    test::ListProbe logged() { return probe("loggedList"); }
    // Selects the first row whose How reads `how`, adding to the selection.
    void selectFirst(const QString& how) {
        const test::ListProbe list = logged();
        const std::vector<int> selected = list.selectedRows();
        for (int i = 0; i < list.rows(); ++i) {
            if (list.text(i, "How") == how &&
                std::find(selected.begin(), selected.end(), i) == selected.end()) {
                list.addToSelection(i);
                return;
            }
        }
        ADD_FAILURE() << "no row decided as " << how.toStdString();
    }
};

TEST_F(LoggedViewTest, ButtonsCountsAndConfirmationsFollowEveryAction) {
    const int afterRun = settled();
    ASSERT_GT(afterRun, 0);
    EXPECT_EQ(showCaption(), QStringLiteral("Show Logged Stations (%1)").arg(afterRun));
    EXPECT_FALSE(get("undoButton")->isEnabled());
    EXPECT_TRUE(get("undoButton")->toolTip().startsWith("Nothing to undo"));
    EXPECT_FALSE(get("returnToWaitingButton")->isVisible());

    click("addSuggestedButton", {QMessageBox::Yes});
    const int suggested = settled() - afterRun;
    ASSERT_GT(suggested, 0);
    EXPECT_EQ(showCaption(), QStringLiteral("Show Logged Stations (%1)").arg(settled()));
    EXPECT_TRUE(get("undoButton")->isEnabled());
    EXPECT_TRUE(get("undoButton")->toolTip().contains("Add Suggested Picks"));

    get("showLoggedButton")->click();
    EXPECT_TRUE(logged()->isVisible());
    EXPECT_FALSE(probe("waitingList")->isVisible());
    EXPECT_EQ(get<QLabel>("listCaption")->text(), "Logged Stations");
    EXPECT_EQ(logged().rows(), settled());
    EXPECT_FALSE(get("returnToWaitingButton")->isEnabled()) << "nothing selected yet";

    // Every row selectable at once; the lower list holds the selection's beacons.
    logged()->setFocus();
    QTest::keyClick(logged().view(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(static_cast<int>(logged().selectedRows().size()), settled());
    logged()->clearSelection();
    selectFirst("suggested");
    selectFirst("unique match");
    EXPECT_TRUE(get("returnToWaitingButton")->isEnabled());
    EXPECT_GE(probe("loggedBeaconList").rows(), 1);

    const std::size_t ambiguousBefore = waitingCount();
    const auto beforeReturn = test::snapshot(paths.WorkFolder);
    {
        MessageBoxAnswerer no({QMessageBox::No});
        get("returnToWaitingButton")->click();
        ASSERT_EQ(no.texts.size(), 1);
        EXPECT_EQ(no.texts[0],
                  "This will remove 2 receptions from the log and put them back among the "
                  "waiting ones. Are you sure you want to continue ?");
        EXPECT_EQ(no.defaults[0], QMessageBox::No);
        EXPECT_EQ(test::snapshot(paths.WorkFolder), beforeReturn);
    }

    click("returnToWaitingButton", {QMessageBox::Yes});
    EXPECT_EQ(settled(), afterRun + suggested - 2);
    EXPECT_EQ(logged().rows(), settled()) << "still the logged view, refilled";
    EXPECT_EQ(waitingCount(), ambiguousBefore + 2);
    EXPECT_EQ(showCaption(), QStringLiteral("Show Logged Stations (%1)").arg(settled()));

    const QStringList undoReturn = click("undoButton", {QMessageBox::Yes});
    ASSERT_EQ(undoReturn.size(), 1);
    EXPECT_TRUE(undoReturn[0].startsWith("This will undo Return To Waiting: 2 receptions"));
    EXPECT_EQ(test::snapshot(paths.WorkFolder).at("processed.dat"),
              beforeReturn.at("processed.dat"));

    const QStringList undoPicks = click("undoButton", {QMessageBox::Yes});
    ASSERT_EQ(undoPicks.size(), 1);
    EXPECT_TRUE(undoPicks[0].startsWith(
        QStringLiteral("This will undo Add Suggested Picks: %1 receptions return to waiting")
            .arg(suggested)));
    EXPECT_EQ(settled(), afterRun);
    EXPECT_FALSE(get("undoButton")->isEnabled());

    // Back to a waiting list: the logged view gives its place back.
    get("showAmbiguousButton")->click();
    EXPECT_TRUE(probe("waitingList")->isVisible());
    EXPECT_FALSE(logged()->isVisible());
    EXPECT_FALSE(get("returnToWaitingButton")->isVisible());
}

// A reception logged to one of the listener's own beacons and returned to
// waiting finds that beacon among its candidates, marked as their own, and
// Add To Log puts it back as it was.
// One click of an action that changes the log costs one opening of the
// database and at most one read of processed.dat, the refill of every list,
// count and button included.
TEST_F(LoggedViewTest, OneClickOpensTheDatabaseOnce) {
    const struct {
        const char* button;
        std::function<void()> before;  // the selection the click acts on
    } clicks[] = {
        {"returnToWaitingButton",
         [this] {
             get("showLoggedButton")->click();
             selectFirst("unique match");
         }},
        {"undoButton", [] {}},
        {"addToLogButton",
         [this] {
             get("showAmbiguousButton")->click();
             probe("waitingList").select(0);
             probe("exactCandidateList").select(0);
         }},
    };
    for (const auto& c : clicks) {
        SCOPED_TRACE(c.button);
        c.before();
        const int before = settled();
        const std::uint64_t opens = Database::opens(), reads = ProcessedBytes::reads();
        const QStringList boxes = click(c.button, {QMessageBox::Yes, QMessageBox::Yes});
        EXPECT_EQ(Database::opens() - opens, 1u) << boxes.join("\n").toStdString();
        EXPECT_LE(ProcessedBytes::reads() - reads, 1u);
        EXPECT_NE(settled(), before) << "the click changed the log";
    }
}

TEST_F(LoggedViewTest, AnOwnBeaconReturnedToWaitingIsOfferedAndLoggedAgainByHand) {
    const auto ownRows = [&] {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        return test::count(db, "SELECT count(*) FROM NDBLog WHERE Beacon_ID > 20000");
    };
    const int afterRun = settled();
    const auto before = ownRows();
    ASSERT_GT(before, 0);
    get("showLoggedButton")->click();
    logged()->clearSelection();
    selectFirst("own beacon");
    const int current = logged().currentRow();
    ASSERT_GE(current, 0);
    const QString ident = logged().text(current, "Ident");
    const QString beacon = logged().text(current, "Beacon");
    click("returnToWaitingButton", {QMessageBox::Yes});
    ASSERT_EQ(settled(), afterRun - 1);
    EXPECT_EQ(ownRows(), before - 1);

    get("showUnresolvedButton")->click();
    const test::ListProbe upper = probe("waitingList");
    for (int i = 0; i < upper.rows(); ++i) {
        if (upper.text(i, "Ident") == ident) upper.select(i);
    }
    ASSERT_GE(upper.currentRow(), 0);
    const test::ListProbe possible = probe("prefixCandidateList");
    int own = -1;
    for (int i = 0; i < possible.rows(); ++i) {
        if (possible.text(i, "Country").endsWith("(your own beacon)")) own = i;
    }
    ASSERT_GE(own, 0) << "no own beacon among " << possible.rows() << " candidates";
    EXPECT_EQ(possible.text(own, "Call"), ident);
    possible.select(own);
    EXPECT_TRUE(get("addToLogButton")->isEnabled());
    EXPECT_TRUE(click("addToLogButton").isEmpty());
    EXPECT_EQ(settled(), afterRun);
    EXPECT_EQ(ownRows(), before);
    get("showLoggedButton")->click();
    bool back = false;
    const test::ListProbe list = logged();
    for (int i = 0; i < list.rows(); ++i) {
        back = back || (list.text(i, "Ident") == ident && list.text(i, "Beacon") == beacon &&
                        list.text(i, "How") == "picked");
    }
    EXPECT_TRUE(back) << ident.toStdString() << " " << beacon.toStdString();
}

TEST_F(LoggedViewTest, TheMapRingsTheSelectedReceptionsBeacon) {
    get("mapButton")->click();
    auto* map = w->findChild<MapWindow*>();
    ASSERT_NE(map, nullptr);
    get("showLoggedButton")->click();
    selectFirst("unique match");
    ASSERT_EQ(map->renderer().candidates().size(), 1u);
    EXPECT_TRUE(map->renderer().candidates()[0].suggested) << "ringed brightest";
    EXPECT_EQ(map->renderer().candidates()[0].candidate.beaconId,
              probe("loggedBeaconList").beaconId(0));
}

TEST_F(LoggedViewTest, DatesSortByTheDayTheyName) {
    get("showLoggedButton")->click();
    logged().sort("Date", Qt::AscendingOrder);
    std::vector<std::string> days;
    for (const QString& date : logged().texts("Date")) {
        const auto day = readOldDate(date.toStdString(), DateOrder::MonthFirst);
        days.push_back(day ? isoDate(*day) : "unreadable");
    }
    ASSERT_GT(days.size(), 1u);
    EXPECT_TRUE(std::is_sorted(days.begin(), days.end()));
    EXPECT_LT(days.front(), days.back());
}

TEST_F(LoggedViewTest, TheExportSaysHowEachRowWasDecided) {
    const ExportSource source = exportSourceFor(paths, 1);
    EXPECT_EQ(static_cast<int>(source.howByLogId.size()), settled());
    for (const auto& [logId, how] : source.howByLogId) {
        EXPECT_TRUE(how == "unique match" || how == "own beacon") << logId << " " << how;
    }
}

TEST_F(LoggedViewTest, AFailureShowsOneMessageAndChangesNothing) {
    get("showLoggedButton")->click();
    selectFirst("unique match");
    const auto before = test::snapshot(paths.WorkFolder);
    const QString database = QString::fromStdString(paths.DatabasePath.string());
    struct Case {
        const char* name;
        bool exclusive;
    };
    // The question needs nothing from the database: the failure comes after it.
    for (const Case& c : {Case{"held by another program", true},
                          Case{"commit blocked after asking", false}}) {
        SCOPED_TRACE(c.name);
        std::optional<test::DatabaseLock> lock;
        std::optional<test::DatabaseReader> reader;
        if (c.exclusive) {
            lock.emplace(paths.DatabasePath);
        } else {
            reader.emplace(paths.DatabasePath);
        }
        const QStringList boxes = click("returnToWaitingButton", {QMessageBox::Yes});
        lock.reset();
        reader.reset();
        ASSERT_EQ(boxes.size(), 2) << boxes.join("\n").toStdString();
        EXPECT_TRUE(boxes.last().contains(database)) << boxes.last().toStdString();
        // What was kept, in plain words; the commit blocked by a reader is
        // said as the database in use, never as the engine says it.
        if (!c.exclusive) {
            EXPECT_TRUE(boxes.last().endsWith("Nothing was returned to waiting."))
                << boxes.last().toStdString();
        }
        EXPECT_FALSE(boxes.last().contains("locked")) << boxes.last().toStdString();
        EXPECT_EQ(test::snapshot(paths.WorkFolder), before);
        EXPECT_EQ(logged().rows(), settled());
    }
}

}  // namespace

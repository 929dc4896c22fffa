// SPDX-License-Identifier: GPL-2.0-or-later
// Step two's distances and suggested picks, on the demo backups matched by
// the window itself: the Distance and Offset columns, the suggested row and
// its key, the home entry, and Add Suggested Picks with its confirmation.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "DbTestUtil.h"
#include "TestUtil.h"
#include "WindowTestUtil.h"
#include "app/FrmMain.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::MessageBoxAnswerer;

namespace {

struct View {
    const char* name;
    bool unresolved;
    const char* list;
    int idColumn, distanceColumn, offsetColumn;  // -1: no such column
};
const View kAmbiguous{"ambiguous", false, "lvDuplicateData", 3, 4, -1};
const View kUnresolved{"unresolved", true, "lvPossible", 5, 6, 7};

class SuggestionsTest : public ::testing::Test {
  protected:
    SuggestionsTest() {
        test::application();
        test::useHome(home.path());
        fs::create_directories(appData);
        test::copyPristineDatabase(appData / "ndbdata.ndf");
        fs::copy(fs::path(ZOLT_SOURCE_DIR) / "examples" / "backup", backups);
    }

    // The window on step two of the demo's location 1 ("Home"), matched
    // with START MATCHING; its home is inferred from 100-odd beacons.
    void openMatched(const View& view = kAmbiguous) {
        // Each case starts a project of its own.
        w.reset();
        fs::remove_all(home / "Documents");
        // The project as START CONVERSION leaves it, read at start-up: the
        // listener's own beacons are found through the backup folder.
        const ProjectPaths paths = projectPathsFor(home / "Documents");
        fs::create_directories(paths.WorkFolder);
        writeSettings(paths, backups);
        buildProcessedFile(backups, paths.ProcessedPath, LogSource::Backups);
        w = std::make_unique<FrmMain>(
            FrmMain::Options{home / "Documents", appData, home / "user.reg"});
        w->show();
        w->startUp();
        w->ShowLocationStep();
        w->optLog(1)->setChecked(true);
        child<QPushButton>("cmdDuplicates")->click();
        ASSERT_TRUE(w->home().position.has_value());
        if (view.unresolved) child<QPushButton>("cmdShowMissing")->click();
    }

    template <class T>
    T* child(const char* name) {
        T* widget = w->findChild<T*>(QString::fromLatin1(name));
        if (!widget) ADD_FAILURE() << "no widget " << name;
        return widget;
    }

    // Selects the first upper row of `ident`; its candidates are then listed.
    QTreeWidget* lookUp(const View& view, const QString& ident) {
        auto* upper = child<QTreeWidget>("lvLoggedDuplicates");
        for (int i = 0; i < upper->topLevelItemCount(); ++i) {
            if (upper->topLevelItem(i)->text(1).trimmed() == ident) {
                upper->setCurrentItem(upper->topLevelItem(i));
                return child<QTreeWidget>(view.list);
            }
        }
        ADD_FAILURE() << "no logged row " << ident.toStdString();
        return child<QTreeWidget>(view.list);
    }

    int query(const std::string& sql) {
        Database db(w->paths().DatabasePath, Database::Mode::ReadOnly);
        return static_cast<int>(test::count(db, sql));
    }
    int logged() { return query("SELECT count(*) FROM NDBLog"); }

    test::TempDir home;
    fs::path appData = home / "app";
    fs::path backups = home / "backups";
    std::unique_ptr<FrmMain> w;
};

QStringList column(const QTreeWidget* list, int c) {
    QStringList cells;
    for (int i = 0; i < list->topLevelItemCount(); ++i) cells << list->topLevelItem(i)->text(c);
    return cells;
}

std::vector<int> numbers(const QStringList& cells) {
    std::vector<int> values;
    for (const QString& cell : cells) {
        if (!cell.isEmpty()) values.push_back(cell.toInt());
    }
    return values;
}

void clickHeader(QTreeWidget* list, int c) {
    QHeaderView* header = list->header();
    const QPoint at(header->sectionViewportPosition(c) + header->sectionSize(c) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

std::vector<int> boldRows(const QTreeWidget* list) {
    std::vector<int> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->font(0).bold()) rows.push_back(i);
    }
    return rows;
}

// Every candidate of every waiting reception shows its distance in whole
// km, and the Beacon_ID behind it stays where Add To Log reads it.
TEST_F(SuggestionsTest, EveryCandidateShowsItsDistanceAndKeepsItsBeaconId) {
    for (const View& view : {kAmbiguous, kUnresolved}) {
        SCOPED_TRACE(view.name);
        openMatched(view);
        auto* upper = child<QTreeWidget>("lvLoggedDuplicates");
        auto* list = child<QTreeWidget>(view.list);
        EXPECT_EQ(list->headerItem()->text(view.distanceColumn), "Distance");
        EXPECT_TRUE(list->isColumnHidden(view.idColumn));
        int filled = 0;
        for (int r = 0; r < upper->topLevelItemCount(); ++r) {
            upper->setCurrentItem(upper->topLevelItem(r));
            const double loggedKHz = upper->topLevelItem(r)->text(2).toDouble();
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                QTreeWidgetItem* row = list->topLevelItem(i);
                bool whole = false;
                EXPECT_GE(row->text(view.distanceColumn).toInt(&whole), 0);
                EXPECT_TRUE(whole) << row->text(view.distanceColumn).toStdString();
                if (view.offsetColumn >= 0) {
                    EXPECT_NEAR(row->text(view.offsetColumn).toDouble(),
                                row->text(1).toDouble() - loggedKHz, 0.005);
                }
                list->setCurrentItem(row);
                EXPECT_EQ(w->selection.SelectedBeaconId, row->text(view.idColumn).toInt());
                ++filled;
            }
        }
        EXPECT_GT(filled, 4);
    }
}

// Header clicks sort by number, nearest first, then farthest first; a
// beacon without a position has no distance and stays last either way.
TEST_F(SuggestionsTest, DistanceSortsNumericallyWithTheUnknownLast) {
    openMatched(kUnresolved);
    {
        Database db(w->paths().DatabasePath);
        db.execute("UPDATE NDBInformation SET Latitude = NULL WHERE City = 'Dalat'");
    }
    QTreeWidget* list = lookUp(kUnresolved, "DL");
    ASSERT_GT(list->topLevelItemCount(), 3);
    EXPECT_EQ(column(list, 2).first(), "Dalat");  // the look-up's own order to begin with
    for (const bool ascending : {true, false}) {
        SCOPED_TRACE(ascending);
        clickHeader(list, kUnresolved.distanceColumn);
        const QStringList cells = column(list, kUnresolved.distanceColumn);
        auto values = numbers(cells);
        EXPECT_EQ(values.size() + 1, static_cast<std::size_t>(cells.size()));
        EXPECT_TRUE(cells.last().isEmpty()) << cells.join(' ').toStdString();
        if (!ascending) std::reverse(values.begin(), values.end());
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << cells.join(' ').toStdString();
    }
    // The chosen order holds for the next reception's candidates.
    list = lookUp(kUnresolved, "UD");
    const auto next = numbers(column(list, kUnresolved.distanceColumn));
    EXPECT_TRUE(std::is_sorted(next.rbegin(), next.rend()));
}

// The clearly nearest candidate is bold; F2 chooses it and Enter logs it.
// With no clear suggestion nothing is bold and F2 chooses nothing.
TEST_F(SuggestionsTest, TheSuggestedRowIsBoldAndF2ChoosesIt) {
    struct Case {
        const View& view;
        QString ident, suggestedCity;  // empty: no suggestion
        int beaconId;
    };
    const Case cases[] = {{kAmbiguous, "BNR", "Benton Ridge", 653},
                          {kAmbiguous, "ON", "", 0},
                          {kUnresolved, "UD", "Darlington", 1572}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ident.toStdString());
        openMatched(c.view);
        QApplication::setActiveWindow(w.get());
        QTreeWidget* list = lookUp(c.view, c.ident);
        const int cityColumn = c.view.unresolved ? 2 : 0;
        const auto bold = boldRows(list);
        child<QTreeWidget>("lvLoggedDuplicates")->setFocus();
        QTest::keyClick(w.get(), Qt::Key_F2);
        auto* place = child<QLabel>("lblSelectionLocation");
        if (c.suggestedCity.isEmpty()) {
            EXPECT_TRUE(bold.empty());
            EXPECT_TRUE(list->selectedItems().isEmpty());
            EXPECT_FALSE(child<QPushButton>("cmdAddToLog")->isEnabled());
            continue;
        }
        ASSERT_EQ(bold.size(), 1u);
        EXPECT_EQ(list->topLevelItem(bold[0])->text(cityColumn), c.suggestedCity);
        ASSERT_EQ(list->currentItem(), list->topLevelItem(bold[0]));
        EXPECT_TRUE(list->hasFocus());
        EXPECT_TRUE(place->text().startsWith(c.view.unresolved ? c.ident : c.suggestedCity));
        EXPECT_TRUE(place->text().endsWith("(suggested pick)")) << place->text().toStdString();
        const int before = logged();
        MessageBoxAnswerer answerer;  // none is expected
        QTest::keyClick(list, Qt::Key_Return);
        EXPECT_TRUE(answerer.texts.isEmpty()) << answerer.texts.join('\n').toStdString();
        EXPECT_EQ(logged(), before + 1);
        EXPECT_EQ(query("SELECT Beacon_ID FROM NDBLog ORDER BY rowid DESC LIMIT 1"), c.beaconId);
    }
}

// A typed home replaces the inferred one at once: the home line, the
// distances and the suggestion follow; a refused entry changes nothing.
TEST_F(SuggestionsTest, TypedHomeRefreshesDistancesAndARefusedOneStoresNothing) {
    openMatched();
    const fs::path settings = w->paths().WorkFolder / "settings.ini";
    struct Case {
        QString typed;
        bool accepted;
        QString homeLineHas;
        int bentonRidgeKm;  // BNR on 334
        bool suggested;
    };
    const Case cases[] = {
        {"JO62qm", true, "JO62qm", 6930, false},  // Berlin: both beacons far away
        {"somewhere nice", false, "JO62qm", 6930, false},
        {"", true, "inferred", 70, true},  // empty: back to the logged beacons
    };
    auto* entry = child<QLineEdit>("txtHome");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        const std::string before = test::readFile(settings);
        entry->setText(c.typed);
        MessageBoxAnswerer answerer;
        child<QPushButton>("cmdSetHome")->click();
        EXPECT_EQ(answerer.texts.size(), c.accepted ? 0 : 1);
        if (!c.accepted) {
            EXPECT_TRUE(answerer.texts.value(0).contains(c.typed))
                << answerer.texts.value(0).toStdString();
            EXPECT_EQ(test::readFile(settings), before);
        }
        EXPECT_TRUE(
            test::readFile(settings).starts_with(backupFolderText(backups.string()) + "\r\n"));
        EXPECT_TRUE(child<QLabel>("lblHome")->text().contains(c.homeLineHas))
            << child<QLabel>("lblHome")->text().toStdString();
        QTreeWidget* list = lookUp(kAmbiguous, "BNR");
        const auto rows = list->findItems("Benton Ridge", Qt::MatchExactly, 0);
        ASSERT_EQ(rows.size(), 1);
        EXPECT_NEAR(rows[0]->text(kAmbiguous.distanceColumn).toInt(), c.bentonRidgeKm, 50);
        EXPECT_EQ(boldRows(list).size(), c.suggested ? 1u : 0u);
    }
}

// Add Suggested Picks says what it will log and logs nothing unless told
// Yes; then the waiting lists and their counts are refilled.
TEST_F(SuggestionsTest, AddSuggestedPicksLogsOnlyAfterYes) {
    struct Case {
        QMessageBox::StandardButton answer;
        int loggedAdded, ambiguousLeft, unresolvedLeft;
    };
    // Of 11 ambiguous and 7 unresolved receptions, BNR (3), LA, SG, DL and UD
    // have a suggestion.
    const Case cases[] = {{QMessageBox::No, 0, 11, 7}, {QMessageBox::Yes, 7, 6, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer == QMessageBox::Yes ? "Yes" : "No");
        openMatched();
        const int before = logged();
        const std::string states = test::readFile(w->paths().ProcessedPath);
        EXPECT_EQ(w->AmbiguousCount, 11);
        MessageBoxAnswerer answerer({c.answer});
        child<QPushButton>("cmdAddSuggested")->click();
        ASSERT_EQ(answerer.texts.size(), 1);
        EXPECT_EQ(answerer.defaults[0], QMessageBox::No);
        EXPECT_TRUE(
            answerer.texts[0].contains("7 receptions of 5 distinct callsign/frequency "
                                       "pairs"))
            << answerer.texts[0].toStdString();
        EXPECT_EQ(logged(), before + c.loggedAdded);
        if (c.loggedAdded == 0) {
            EXPECT_EQ(test::readFile(w->paths().ProcessedPath), states);
        }
        EXPECT_EQ(w->AmbiguousCount, c.ambiguousLeft);
        EXPECT_EQ(w->UnresolvedCount, c.unresolvedLeft);
        EXPECT_EQ(child<QTreeWidget>("lvLoggedDuplicates")->topLevelItemCount(), c.ambiguousLeft);
    }
    // Nothing left to suggest: a message instead of a question.
    MessageBoxAnswerer answerer;
    child<QPushButton>("cmdAddSuggested")->click();
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].startsWith("No waiting reception"))
        << answerer.texts[0].toStdString();
    EXPECT_EQ(w->AmbiguousCount, 6);
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
// Step two's distances and suggested picks on the demo backups, matched by
// the window itself; location 1 infers its home from 100-odd logged beacons.
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

#include "DbTestUtil.h"
#include "WindowTestUtil.h"
#include "app/MapWindow.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::MessageBoxAnswerer;

namespace {

struct View {
    bool unresolved;
    const char* list;
};
const View kAmbiguous{false, "exactCandidateList"};
const View kUnresolved{true, "prefixCandidateList"};
const QString kOffset = QStringLiteral("\u0394 kHz");

class SuggestionsTest : public test::MainWindowTest {
  protected:
    SuggestionsTest() {
        fs::copy(fs::path(ZOLT_SOURCE_DIR) / "examples" / "backup", backups,
                 fs::copy_options::recursive);
    }

    // A new project on the demo backups, location 1 matched, on step two.
    void openMatched(const View& view) {
        openDemoMatched();
        if (view.unresolved) get("showUnresolvedButton")->click();
    }

    // Selects the first logged row of `ident`; its candidates are then listed.
    test::ListProbe lookUp(const View& view, const QString& ident) {
        const test::ListProbe upper = probe("waitingList");
        for (int i = 0; i < upper.rows(); ++i) {
            if (upper.text(i, "Ident") == ident) upper.select(i);
        }
        return probe(view.list);
    }

    // The typed homes as stored; "-" while none was ever stored.
    std::string homes() const {
        const fs::path file = paths.WorkFolder / kHomesFile;
        return fs::exists(file) ? test::readFile(file) : std::string("-");
    }

    int query(const std::string& sql) {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        return static_cast<int>(test::count(db, sql));
    }
};

std::vector<int> distances(const test::ListProbe& list) {
    std::vector<int> km;  // -1: empty
    for (const QString& cell : list.texts("Distance")) {
        km.push_back(cell.isEmpty() ? -1 : QLocale().toInt(cell));
    }
    return km;
}

// Every candidate shows its distance in whole km (unresolved: and its offset
// from the logged frequency), and the Beacon_ID stays where it is read.
TEST_F(SuggestionsTest, EveryCandidateShowsItsDistanceAndKeepsItsBeaconId) {
    for (const View& view : {kAmbiguous, kUnresolved}) {
        SCOPED_TRACE(view.list);
        openMatched(view);
        const test::ListProbe upper = probe("waitingList");
        const test::ListProbe list = probe(view.list);
        EXPECT_GE(list.columnOrNone("Distance"), 0);
        // The beacon id is the window's to read, not the listener's.
        const int idColumn = list.columnOrNone("Beacon_ID");
        EXPECT_TRUE(idColumn < 0 || !list.shown(idColumn));
        int rows = 0;
        for (int r = 0; r < upper.rows(); ++r) {
            upper.select(r);
            for (int i = 0; i < list.rows(); ++i, ++rows) {
                bool whole = false;
                QLocale().toUInt(list.text(i, "Distance"), &whole);
                EXPECT_TRUE(whole) << list.text(i, "Distance").toStdString();
                if (view.unresolved) {
                    EXPECT_NEAR(list.text(i, kOffset).toDouble(),
                                list.text(i, "Frequency").toDouble() -
                                    upper.text(upper.currentRow(), "Freq").toDouble(),
                                0.005);
                }
                list.select(i);
                EXPECT_EQ(stepTwo().selection().SelectedBeaconId, list.beaconId(i));
            }
        }
        EXPECT_GT(rows, 4);
    }
}

// A header click sorts by number, nearest first, a second one farthest
// first; a beacon without a position stays last either way, and the order
// holds for the next reception.
TEST_F(SuggestionsTest, DistanceSortsNumericallyWithTheUnknownLast) {
    openMatched(kUnresolved);
    Database(paths.DatabasePath)
        .execute("UPDATE NDBInformation SET Latitude = NULL WHERE City = 'Dalat'");
    const test::ListProbe list = lookUp(kUnresolved, "DL");
    const int c = list.column("Distance");
    ASSERT_EQ(list.text(0, "City"), "Dalat");  // the look-up's order at first
    QHeaderView* header = list->header();
    for (const bool ascending : {true, false}) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          {header->sectionViewportPosition(c) + 5, header->height() / 2});
        auto km = distances(list);
        EXPECT_EQ(km.back(), -1);
        km.pop_back();
        if (!ascending) std::reverse(km.begin(), km.end());
        EXPECT_TRUE(km.front() >= 0 && std::is_sorted(km.begin(), km.end())) << ascending;
    }
    const auto next = distances(lookUp(kUnresolved, "UD"));
    EXPECT_TRUE(std::is_sorted(next.rbegin(), next.rend()));
}

// The clearly nearest candidate is bold; F2 chooses it and Enter logs it.
// A typed home moves the distances and the suggestion at once; a refused
// one is explained and stores nothing.
TEST_F(SuggestionsTest, TheSuggestionFollowsHomeAndF2ChoosesIt) {
    struct Case {
        const View& view;
        const char* typedHome;  // nullptr: the inferred home
        bool refused;
        QString ident, suggestedCity;  // empty: no suggestion
        int beaconId;
    };
    const Case cases[] = {
        {kAmbiguous, nullptr, false, "BNR", "Benton Ridge", 653},
        {kAmbiguous, nullptr, false, "ON", "", 0},  // two beacons equally far
        {kUnresolved, nullptr, false, "UD", "Darlington", 1572},
        {kAmbiguous, "JO62qm", false, "BNR", "", 0},  // Berlin: both far away
        {kAmbiguous, "somewhere nice", true, "BNR", "Benton Ridge", 653},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ident.toStdString() + " " + (c.typedHome ? c.typedHome : ""));
        openMatched(c.view);
        const test::ListProbe list = lookUp(c.view, c.ident);
        if (c.typedHome) {
            const std::string settings = homes();
            get<QLineEdit>("homeEntry")->setText(c.typedHome);
            // Berlin lies far from the Ohio the logged beacons point to: asked.
            const bool far = !c.refused && c.suggestedCity.isEmpty();
            QList<QMessageBox::StandardButton> answers;
            if (far) answers << QMessageBox::Yes;
            ASSERT_EQ(click("setHomeButton", answers).size(), c.refused || far ? 1 : 0);
            EXPECT_EQ(homes() == settings, c.refused);
            EXPECT_EQ(get<QLabel>("homeLabel")->text().contains(c.typedHome), !c.refused);
        }
        QApplication::setActiveWindow(w.get());  // again, after a message box
        probe("waitingList")->setFocus();
        QTest::keyClick(w.get(), Qt::Key_F2);
        const int chosen = list.currentRow();
        ASSERT_EQ(chosen >= 0, !c.suggestedCity.isEmpty());
        for (int i = 0; i < list.rows(); ++i) EXPECT_EQ(list.bold(i), i == chosen) << i;
        if (chosen < 0) continue;
        EXPECT_EQ(list.text(chosen, "City"), c.suggestedCity);
        EXPECT_TRUE(list->hasFocus());
        EXPECT_TRUE(get<QLabel>("selectedPlaceLabel")->text().endsWith("(suggested pick)"));
        MessageBoxAnswerer answerer;  // none is expected
        QTest::keyClick(list.view(), Qt::Key_Return);
        EXPECT_TRUE(answerer.texts.isEmpty()) << answerer.texts.join('\n').toStdString();
        EXPECT_EQ(query("SELECT Beacon_ID FROM NDBLog ORDER BY rowid DESC LIMIT 1"), c.beaconId);
    }
}

// A typed home far from where the logged beacons point is stored only
// after the listener confirms it; the question names the distance.
TEST_F(SuggestionsTest, AFarTypedHomeIsStoredOnlyWhenConfirmed) {
    const struct {
        const char* typed;
        QMessageBox::StandardButton answer;  // NoButton: no question expected
        bool stored;
    } cases[] = {
        {"JO62qm", QMessageBox::No, false},
        {"JO62qm", QMessageBox::Yes, true},
        {"EN80", QMessageBox::NoButton, true},  // Ohio itself
        {"", QMessageBox::NoButton, true},      // back to the inferred home
    };
    openMatched(kAmbiguous);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " " + std::to_string(c.answer));
        const std::string settings = homes();
        const QString label = get<QLabel>("homeLabel")->text();
        get<QLineEdit>("homeEntry")->setText(c.typed);
        QList<QMessageBox::StandardButton> answers;
        if (c.answer != QMessageBox::NoButton) answers << c.answer;
        const QStringList texts = click("setHomeButton", answers);
        ASSERT_EQ(texts.size(), c.answer == QMessageBox::NoButton ? 0 : 1);
        if (!texts.isEmpty()) {
            EXPECT_TRUE(texts[0].contains(QRegularExpression("lies \\d,\\d{3} km from")))
                << texts[0].toStdString();
        }
        EXPECT_EQ(homes() != settings, c.stored);
        EXPECT_EQ(get<QLabel>("homeLabel")->text() != label, c.stored);
        EXPECT_EQ(readHomeEntry(paths, 1), c.stored ? c.typed : "");
    }
}

// Add Suggested Picks says what it will log and logs nothing unless told
// Yes; then the lists and counts are refilled. Of 11 ambiguous and 7
// unresolved receptions, BNR (3), LA, SG, DL and UD have a suggestion, and
// WNA on 389.0, whose only candidate is the listener's own WNA on 389.
TEST_F(SuggestionsTest, AddSuggestedPicksLogsOnlyAfterYes) {
    struct Case {
        QMessageBox::StandardButton answer;
        int loggedAdded, ambiguousLeft, unresolvedLeft;
    };
    for (const Case& c : {Case{QMessageBox::No, 0, 11, 7}, Case{QMessageBox::Yes, 8, 6, 4}}) {
        SCOPED_TRACE(c.loggedAdded);
        openMatched(kAmbiguous);
        const int before = query("SELECT count(*) FROM NDBLog");
        const std::string states = test::readFile(paths.ProcessedPath);
        MessageBoxAnswerer answerer({c.answer});
        get("addSuggestedButton")->click();
        ASSERT_EQ(answerer.texts.size(), 1);
        EXPECT_EQ(answerer.defaults[0], QMessageBox::No);
        EXPECT_TRUE(answerer.texts[0].contains("8 receptions of 6 distinct callsign/frequency"))
            << answerer.texts[0].toStdString();
        // It names the home it measures from, and that it was not typed.
        EXPECT_TRUE(answerer.texts[0].contains(QRegularExpression(
            "nearest to a home inferred from the \\d+ beacons logged here, "
            "near [0-9.]+\xC2\xB0 N [0-9.]+\xC2\xB0 W \\(you have not typed one\\)")))
            << answerer.texts[0].toStdString();
        EXPECT_EQ(query("SELECT count(*) FROM NDBLog"), before + c.loggedAdded);
        EXPECT_EQ(test::readFile(paths.ProcessedPath) == states, c.loggedAdded == 0);
        EXPECT_EQ(std::tuple(static_cast<int>(w->session().lists().ambiguous.size()),
                             static_cast<int>(w->session().lists().unresolved.size()),
                             probe("waitingList").rows()),
                  std::tuple(c.ambiguousLeft, c.unresolvedLeft, c.ambiguousLeft));
    }
}

// A typed home is named as typed in the question.
TEST_F(SuggestionsTest, AddSuggestedPicksNamesATypedHome) {
    openMatched(kAmbiguous);
    get<QLineEdit>("homeEntry")->setText("EN80");  // Ohio: no question
    ASSERT_TRUE(click("setHomeButton").isEmpty());
    const QStringList texts = click("addSuggestedButton", {QMessageBox::No});
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(
        texts[0].contains("nearest to your home at 40.5\xC2\xB0 N 83.0\xC2\xB0 W (you typed "
                          "your locator EN80)"))
        << texts[0].toStdString();
}

// Beacons logged all over the world point to no home: none is guessed, the
// home line says why and asks for the locator, and nothing is suggested.
TEST_F(SuggestionsTest, AWorldwideLogGivesNoHomeAndNoSuggestion) {
    openMatched(kAmbiguous);
    Database(paths.DatabasePath)
        .execute(
            "INSERT INTO NDBLog (Beacon_ID, loggedlocation) SELECT Beacon_ID, 1 FROM "
            "NDBInformation WHERE Beacon_ID % 10 = 0");
    const int before = query("SELECT count(*) FROM NDBLog");
    const QStringList texts = click("addSuggestedButton");
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(
        texts[0].startsWith("Nothing was logged: a suggested pick needs the location's "
                            "home. Home: unknown."))
        << texts[0].toStdString();
    EXPECT_EQ(query("SELECT count(*) FROM NDBLog"), before);
    const QString home = get<QLabel>("homeLabel")->text();
    EXPECT_TRUE(home.contains("too far apart") && home.contains("Set Home")) << home.toStdString();
    const test::ListProbe list = lookUp(kAmbiguous, "BNR");
    for (int i = 0; i < list.rows(); ++i) {
        EXPECT_FALSE(list.bold(i));
        EXPECT_TRUE(list.text(i, "Distance").isEmpty());
    }
}

// View Map opens the location's map, which follows the selected reception
// and the refills after logging, and ends when step two is left.
TEST_F(SuggestionsTest, TheMapFollowsStepTwo) {
    openMatched(kAmbiguous);
    lookUp(kAmbiguous, "BNR");
    get("mapButton")->click();
    auto* map = w->findChild<MapWindow*>();
    ASSERT_TRUE(map && map->isVisible());
    EXPECT_TRUE(map->figuresText().contains("receptions of")) << map->figuresText().toStdString();
    EXPECT_TRUE(map->statusText().contains("the suggested pick"))
        << map->statusText().toStdString();
    const QString before = map->figuresText();
    click("addSuggestedButton", {QMessageBox::Yes});
    EXPECT_NE(map->figuresText(), before);  // more receptions logged
    EXPECT_FALSE(map->statusText().contains("candidates"));
    QPointer<MapWindow> gone = map;
    get("anotherLocationButton")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(gone.isNull());
}

}  // namespace

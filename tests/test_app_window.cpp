// SPDX-License-Identifier: GPL-2.0-or-later
// The main window driven as a user would: real files, a real database, a
// temporary home folder, and message boxes answered as they open.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextDocumentFragment>

#include "DbTestUtil.h"
#include "WindowTestUtil.h"
#include "app/ExportDialog.h"
#include "app/FrmFileSave.h"
#include "app/MapWindow.h"
#include "app/StepZeroLists.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::MessageBoxAnswerer;
using Box = QMessageBox;

namespace {

// The caption as shown: a mnemonic's ampersand is not part of it.
QString caption(const QAbstractButton* button) { return QString(button->text()).remove('&'); }
// A path as the folder lists give it: with forward slashes on every system.
QString qs(const fs::path& path) {
    return QDir::fromNativeSeparators(QString::fromStdString(path.string()));
}

class WindowTest : public test::MainWindowTest {
  protected:
    // Opens the window, answering its message boxes; their texts.
    std::string opened() {
        MessageBoxAnswerer answerer;
        open();
        return answerer.texts.join('\n').toStdString();
    }
    bool enabled(const char* name) { return get<QWidget>(name)->isEnabled(); }
    QString text(const char* name) { return get<QLabel>(name)->text(); }

    // True when `name` is the one panel shown.
    bool only(const char* name) {
        for (const char* panel : {"welcomePanel", "folderStep", "locationStep", "resolutionStep"}) {
            if (get<QWidget>(panel)->isVisible() != (std::string(panel) == name)) return false;
        }
        return true;
    }

    int logged(const std::string& where = "1") {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        return static_cast<int>(test::count(db, "SELECT count(*) FROM NDBLog WHERE " + where));
    }
    void logOne(int location) {
        Database(paths.DatabasePath)
            .execute("INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES (1, " +
                     std::to_string(location) + ")");
    }
    // A started project on `backups` whose working file holds `rows`.
    void project(const std::vector<test::Row>& rows) {
        writeSettings(paths, backups);
        test::writeProcessed(paths.ProcessedPath, rows);
    }

    fs::path work() const { return home / "Documents" / "ZOLT"; }
};

TEST_F(WindowTest, StartUpOffersOnlyWhatTheFilesAllow) {
    EXPECT_EQ(opened(), "");
    EXPECT_TRUE(fs::exists(work() / "ndbdata.ndf") && only("welcomePanel"));
    EXPECT_TRUE(enabled("startNewButton") && !enabled("continueButton"));
    EXPECT_FALSE(get<QLabel>("allDoneLabel")->isVisible());
    // A project: the copy is kept, never replaced by a newer shipped one.
    const std::string copy = test::readFile(work() / "ndbdata.ndf");
    test::writeFile(appData / "ndbdata.ndf", "a newer file that must not be copied");
    project({{1, "NL", "358", "UNP"}});
    EXPECT_EQ(opened(), "");
    EXPECT_EQ(test::readFile(work() / "ndbdata.ndf"), copy);
    EXPECT_TRUE(enabled("continueButton"));
    EXPECT_EQ(paths.BackupFolder.string(), backupFolderText(backups.string()));
    // A settings file without a folder is no project.
    test::writeFile(work() / "settings.ini", "\r\n");
    EXPECT_EQ(opened(), "");
    EXPECT_FALSE(enabled("continueButton"));
    // A lost working file is not rebuilt over logged receptions unless the
    // user agrees; declined, nothing is written and Continue asks again.
    writeSettings(paths, backups);
    test::writeLogFile(backups / "log0.dat", {test::logRecord("APH", "396")});
    logOne(1);
    fs::remove(paths.ProcessedPath);
    EXPECT_NE(opened().find("processed.dat is missing"), std::string::npos);
    EXPECT_FALSE(fs::exists(paths.ProcessedPath));
    EXPECT_EQ(click("continueButton", {Box::No}).size(), 1);
    EXPECT_TRUE(only("welcomePanel"));
    EXPECT_FALSE(fs::exists(paths.ProcessedPath));
    // Without the shipped database the message names it, and nothing can start.
    fs::remove_all(work());
    fs::remove(appData / "ndbdata.ndf");
    EXPECT_NE(opened().find((appData / "ndbdata.ndf").string()), std::string::npos);
    EXPECT_FALSE(fs::exists(work() / "ndbdata.ndf"));
    EXPECT_FALSE(enabled("startNewButton") || enabled("continueButton"));
}

// Return on the confirmation presses its default button, No.
TEST_F(WindowTest, StartNewProjectAnsweredWithReturnChangesNothing) {
    open();
    project({{1, "NL", "358", "OK"}});
    logOne(1);
    const auto before = test::snapshot(work());
    EXPECT_EQ(click("startNewButton").size(), 1);
    EXPECT_EQ(test::snapshot(work()), before);
    EXPECT_TRUE(only("welcomePanel"));
}

// The whole road: a new project, import, matching, settling, resets, finalize.
TEST_F(WindowTest, ConvertALocationFromImportToFinalize) {
    // Location 1: NL/358 three times ambiguous (twice the same time and date),
    // APH/396 unique, QQQ/999 and AB/999 unknown. Location 2: ML/324 unique.
    test::writeLogFile(backups / "log0.bak",
                       {test::logRecord("NL", "358", "0100", "20010101", "first"),
                        test::logRecord("APH", "396", "0200", "20010102", "unique"),
                        test::logRecord("NL", "358", "0300", "20010103", "second"),
                        test::logRecord("QQQ", "999", "0400", "20010104", "nowhere"),
                        test::logRecord("AB", "999", "0500", "20010105", "ab")});
    test::writeLogFile(backups / "LOG1.BAK", {test::logRecord("ML", "324")});
    open();
    EXPECT_EQ(click("startNewButton", {Box::Yes}).size(), 1);
    ASSERT_TRUE(only("folderStep"));
    ASSERT_TRUE(w->folderBrowser()->openFolder(qs(backups)));
    QStringList files;
    for (auto* item : get<QListWidget>("fileList")->findItems("*", Qt::MatchWildcard))
        files << item->text();
    EXPECT_EQ(files, (QStringList{"log0.bak", "LOG1.BAK"}));

    get("startConversionButton")->click();
    ASSERT_TRUE(only("locationStep"));
    EXPECT_EQ(test::readFile(work() / "settings.ini"), backupFolderText(backups.string()) + "\r\n");
    EXPECT_EQ(fs::file_size(work() / "processed.dat"), 6u * 102u);
    EXPECT_EQ(w->locationColour(1), LocationColour::LightRed);
    EXPECT_FALSE(w->locationButton(3)->isEnabled());
    EXPECT_EQ(w->locationButton(3)->text(), "Empty");

    EXPECT_FALSE(enabled("startMatchingButton"));
    w->locationButton(1)->setChecked(true);
    ASSERT_TRUE(enabled("startMatchingButton"));
    get("startMatchingButton")->click();
    ASSERT_TRUE(only("resolutionStep"));
    EXPECT_EQ(logged(), 1);  // APH
    const test::ListProbe upper = probe("waitingList");
    EXPECT_EQ(upper.rows(), 2);
    EXPECT_EQ(get<QProgressBar>("matchProgress")->value(), 0);
    EXPECT_TRUE(enabled("exitButton"));

    // Settle one ambiguous reception: the row, then a candidate, whose beacon
    // the list keeps out of sight.
    upper.select(0);
    const test::ListProbe exact = probe("exactCandidateList");
    const test::ListProbe possible = probe("prefixCandidateList");
    EXPECT_EQ(exact.rows(), 3);
    EXPECT_EQ(text("selectedStationLabel"), "NL - 358");
    EXPECT_FALSE(enabled("addToLogButton"));
    exact.select(0);
    EXPECT_TRUE(enabled("addToLogButton"));
    EXPECT_FALSE(text("selectedPlaceLabel").isEmpty());
    const auto chosen = exact.beaconId(0);
    get("addToLogButton")->click();
    EXPECT_EQ(test::logRows(paths.DatabasePath).back().beaconId, chosen);
    EXPECT_EQ(logged(), 2);
    EXPECT_EQ(upper.rows(), 1);
    EXPECT_FALSE(enabled("addToLogButton") || enabled("applyToAllCheck"));

    // The unresolved view offers beacons that begin with the logged ident.
    get("showUnresolvedButton")->click();
    EXPECT_EQ(text("listCaption"), "Unresolved Stations");
    ASSERT_EQ(upper.rows(), 2);
    const int abRow = upper.find("Ident", "AB");
    ASSERT_GE(abRow, 0);
    upper.select(abRow);
    EXPECT_GT(possible.rows(), 3);
    possible.select(0);
    get("addToLogButton")->click();
    EXPECT_EQ(logged(), 3);
    EXPECT_EQ(upper.rows(), 1);
    // A refill leaves no candidate to choose without a selected reception.
    EXPECT_EQ(possible.rows(), 0);

    logOne(2);
    EXPECT_EQ(click("startOverButton", {Box::Yes}),
              QStringList{"Are you sure you want to recreate log#1?"});
    EXPECT_TRUE(only("locationStep"));
    EXPECT_EQ(logged("loggedlocation = 1"), 0);
    EXPECT_EQ(logged(), 1);
    EXPECT_TRUE(fs::exists(work() / "ndbdata1.ndf"));

    // FINALIZE with a stale compacted copy: the project ends.
    click("finalizeButton", {Box::Yes});
    EXPECT_TRUE(only("welcomePanel"));
    EXPECT_TRUE(get<QLabel>("allDoneLabel")->isVisible());
    EXPECT_FALSE(enabled("continueButton"));
    for (const char* gone : {"processed.dat", "settings.ini", "ndbdata1.ndf"}) {
        EXPECT_FALSE(fs::exists(work() / gone)) << gone;
    }
    EXPECT_EQ(logged(), 1);
}

TEST_F(WindowTest, FinalizeEndsTheProjectOnlyWhenItCanAndClaimsNoConversionOfNothing) {
    open();
    project({{1, "NL", "358", "AMB"}});
    // The database cannot be compacted: the project stays as it was.
    const auto before = test::snapshot(work());
    QStringList texts;
    {
        test::DatabaseLock lock(paths.DatabasePath);
        texts = click("finalizeButton", {Box::Yes, Box::Ok});
    }
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[1].contains("ndbdata.ndf")) << texts[1].toStdString();
    EXPECT_EQ(test::snapshot(work()), before);
    EXPECT_FALSE(get<QLabel>("allDoneLabel")->isVisible());
    // Nothing was imported: the project ends without a word of conversion.
    test::writeFile(paths.ProcessedPath, "");
    click("finalizeButton", {Box::Yes});
    EXPECT_TRUE(only("welcomePanel"));
    EXPECT_FALSE(get<QLabel>("allDoneLabel")->isVisible());
    EXPECT_FALSE(fs::exists(work() / "settings.ini"));
}

// The welcome panel offers Export Log… whenever the log holds receptions:
// also once start-up has found everything converted, and after FINALIZE.
TEST_F(WindowTest, TheWelcomePanelOffersTheExportWheneverTheLogHoldsReceptions) {
    const auto exportShown = [&] { return get<QWidget>("exportLogWelcomeButton")->isVisible(); };
    open();
    EXPECT_TRUE(only("welcomePanel"));
    EXPECT_FALSE(exportShown()) << "an empty log";

    // A project with work left: the log already holds a reception.
    project({{1, "APH", "396", "OK"}, {1, "NL", "358", "AMB"}});
    logOne(1);
    opened();
    EXPECT_TRUE(only("welcomePanel"));
    EXPECT_TRUE(exportShown());

    // Everything converted: start-up finalizes by itself and says so.
    project({{1, "APH", "396", "OK"}});
    opened();
    EXPECT_TRUE(get<QLabel>("allDoneLabel")->isVisible());
    EXPECT_FALSE(fs::exists(work() / "settings.ini"));
    EXPECT_TRUE(exportShown());

    // After FINALIZE by the button, and at the next start.
    project({{1, "NL", "358", "AMB"}});
    opened();
    ASSERT_EQ(click("continueButton").size(), 0);
    click("finalizeButton", {Box::Yes});
    EXPECT_TRUE(only("welcomePanel"));
    EXPECT_TRUE(exportShown());
    opened();
    EXPECT_TRUE(exportShown());
    EXPECT_EQ(caption(get<QAbstractButton>("exportLogWelcomeButton")), "Export Log…");
}

// The own-beacon file START CONVERSION found, gone by START MATCHING: the
// run is refused by the file's name, and nothing is logged.
TEST_F(WindowTest, AnOwnBeaconFileGoneBeforeMatchingIsRefusedByName) {
    fs::copy(fs::path(ZOLT_SOURCE_DIR) / "examples" / "backup", backups,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    open();
    writeSettings(paths, backups);
    buildProcessedFile(backups, paths.ProcessedPath, LogSource::Backups);
    fs::remove(backups / "ndb.bak");
    EXPECT_EQ(opened(), "");  // a project of that folder, continued
    w->ShowLocationStep();
    w->locationButton(1)->setChecked(true);
    const auto before = test::snapshot(work());
    const QStringList texts = click("startMatchingButton");
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].contains(QString::fromStdString(pathToUtf8(backups / "ndb.bak"))) &&
                texts[0].contains("Nothing was logged."))
        << texts[0].toStdString();
    EXPECT_EQ(logged(), 0);
    EXPECT_EQ(test::snapshot(work()), before);
}

TEST_F(WindowTest, ClosingDuringAMatchingRunRollsItBack) {
    // Enough receptions that the run passes through the event loop.
    std::vector<LogBackupRecord> records(3000, test::logRecord("APH", "396"));
    test::writeLogFile(backups / "log0.bak", records);
    open();
    writeSettings(paths, backups);
    buildProcessedFile(backups, paths.ProcessedPath, LogSource::Backups);
    open();  // the project as a start finds it: matching reads the backup folder
    const std::string statesBefore = test::readFile(paths.ProcessedPath);
    w->ShowLocationStep();
    w->locationButton(1)->setChecked(true);
    // The window says it is busy while the run works (as it does while a
    // lock held by another program is waited for).
    bool busy = false;
    QTimer::singleShot(0, w.get(), [&] {
        busy = QApplication::overrideCursor() != nullptr;
        w->close();
    });
    get("startMatchingButton")->click();
    EXPECT_TRUE(busy);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->matchingInProgress());
    EXPECT_EQ(logged(), 0);
    EXPECT_EQ(test::readFile(paths.ProcessedPath), statesBefore);
}

TEST_F(WindowTest, LocationButtonsFollowTheWorkingFile) {
    open();
    project({{3, "A", "1", "UNP"}, {4, "A", "1", "MIS"}, {4, "B", "1", "OK"}, {5, "A", "1", "OK"}});
    w->ShowLocationStep();
    const std::tuple<int, bool, LocationColour> cases[] = {{3, true, LocationColour::LightRed},
                                                           {4, true, LocationColour::Yellow},
                                                           {5, false, LocationColour::ButtonFace}};
    for (const auto& [location, on, colour] : cases) {
        EXPECT_EQ(w->locationButton(location)->isEnabled(), on) << location;
        EXPECT_EQ(w->locationColour(location), colour) << location;
    }
    // A yellow location with unresolved receptions only opens step two on them.
    w->locationButton(4)->setChecked(true);
    EXPECT_TRUE(only("resolutionStep"));
    EXPECT_EQ(text("listCaption"), "Unresolved Stations");
    EXPECT_TRUE(get<QWidget>("unresolvedHelp")->isVisible() &&
                probe("prefixCandidateList")->isVisible());
    EXPECT_EQ(probe("waitingList").rows(), 1);
    get("anotherLocationButton")->click();
    EXPECT_TRUE(only("locationStep"));
    EXPECT_EQ(w->session().location(), 0);
}

TEST_F(WindowTest, StepTwoWorksFromTheKeyboardAlone) {
    open();
    project({{1, "NL", "358", "AMB", "0100", "20010101"},
             {1, "NL", "358", "AMB", "0200", "20010102"},
             {1, "QQQ", "999", "MIS"}});
    QApplication::setActiveWindow(w.get());
    w->ShowLocationStep();
    // Space on a location button chooses it, as a click would.
    w->locationButton(1)->setFocus();
    QTest::keyClick(w->locationButton(1), Qt::Key_Space);
    ASSERT_TRUE(only("resolutionStep"));

    const test::ListProbe upper = probe("waitingList");
    upper->setFocus();
    QTest::keyClick(upper.view(), Qt::Key_Down);  // the first row
    ASSERT_GE(upper.currentRow(), 0);
    QTest::keyClick(w.get(), Qt::Key_P, Qt::AltModifier);  // "&Possible Matches"
    QTreeView* candidates = probe("exactCandidateList").view();
    ASSERT_TRUE(candidates->hasFocus());
    QTest::keyClick(candidates, Qt::Key_Down);
    auto* addToLog = get("addToLogButton");
    ASSERT_TRUE(addToLog->isEnabled());
    QTest::keyClick(w.get(), Qt::Key_Y, Qt::AltModifier);  // "Appl&y To All ..."
    QTest::qWait(250);  // a mnemonic presses its button after a short animation
    EXPECT_TRUE(get<QCheckBox>("applyToAllCheck")->isChecked());
    addToLog->setFocus();
    QTest::keyClick(addToLog, Qt::Key_Return);
    EXPECT_EQ(logged(), 2);
    EXPECT_EQ(upper.rows(), 0);

    QTest::keyClick(w.get(), Qt::Key_U, Qt::AltModifier);  // "Show &Unresolved Stations"
    QTest::qWait(250);
    EXPECT_TRUE(showingUnresolved());
    EXPECT_EQ(upper.rows(), 1);
}

TEST_F(WindowTest, EveryControlHasANameAScreenReaderCanSpeak) {
    open();
    for (QWidget* widget : w->findChildren<QWidget*>()) {
        if (!widget->focusPolicy() || qobject_cast<QLabel*>(widget)) continue;
        const QString name = widget->objectName();
        if (name.startsWith("qt_") || name.isEmpty()) continue;
        QString spoken = widget->accessibleName();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) spoken += button->text();
        EXPECT_FALSE(spoken.trimmed().isEmpty()) << name.toStdString();
    }
}

// Step two opens on the list that has receptions, its buttons and Save To
// File offered as the counts say.
TEST_F(WindowTest, StepTwoButtonsAndCaptionsFollowWhatIsLeft) {
    using View = ResolutionStep::View;
    const struct {
        int amb, mis;
        bool suspect, missing, save;
        View view;
        const char* first;  // the first row of the upper list
    } cases[] = {
        {0, 0, false, false, false, View::Empty, nullptr},
        {0, 2, false, true, true, View::Unresolved, "M0"},
        {3, 0, true, false, true, View::Ambiguous, "Z1"},
        {3, 2, true, true, true, View::Ambiguous, "Z1"},
    };
    open();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.amb) + " AMB, " + std::to_string(c.mis) + " MIS");
        std::vector<test::Row> rows = {{2, "OTHER", "1", "AMB"}, {1, "DONE", "1", "OK"}};
        // Stored in descending order: the list shows them sorted by ident.
        for (int i = c.amb; i > 0; --i) rows.push_back({1, "Z" + std::to_string(i), "1", "AMB"});
        for (int i = 0; i < c.mis; ++i) rows.push_back({1, "M" + std::to_string(i), "1", "MIS"});
        test::writeProcessed(paths.ProcessedPath, rows);
        w->session().choose(1);
        w->ShowResolutionStep();
        EXPECT_EQ(!get("showAmbiguousButton")->isHidden(), c.suspect);
        EXPECT_EQ(!get("showUnresolvedButton")->isHidden(), c.missing);
        EXPECT_EQ(!get("saveToFileButton")->isHidden(), c.save);
        EXPECT_EQ(stepTwo().view(), c.view);
        const test::ListProbe upper = probe("waitingList");
        EXPECT_EQ(upper.rows(), c.view == View::Unresolved ? c.mis : c.amb);
        if (c.first) {
            EXPECT_EQ(upper.text(0, "Ident"), c.first);
        }
        EXPECT_EQ(caption(get("showAmbiguousButton")),
                  QString("Show Ambiguous Stations (%1)").arg(c.amb));
        EXPECT_EQ(caption(get("showUnresolvedButton")),
                  QString("Show Unresolved Stations (%1)").arg(c.mis));
    }
}

// The drive list holds the roots of the machine's volumes, the system's
// first: drive letters on Windows (C:\), mount points elsewhere (/).
TEST_F(WindowTest, TheDriveListHoldsTheRootsOfTheVolumes) {
    open();
    w->ShowFolderStep();
    auto* drives = get<QComboBox>("driveList");
    ASSERT_GT(drives->count(), 0);
    EXPECT_EQ(drives->itemText(0), QDir::toNativeSeparators(QDir::rootPath()));
#ifdef _WIN32
    const QRegularExpression root(QStringLiteral(R"(^[A-Z]:\\$)"));
#else
    const QRegularExpression root(QStringLiteral("^/"));
#endif
    for (int i = 0; i < drives->count(); ++i) {
        EXPECT_TRUE(root.match(drives->itemText(i)).hasMatch())
            << drives->itemText(i).toStdString();
    }
}

TEST_F(WindowTest, FolderStepReportsAMissingDriveAndOpensFoldersOnlyOnSelection) {
    open();
    w->ShowFolderStep();
    fs::create_directories(backups / "inner");
    ASSERT_TRUE(w->folderBrowser()->openFolder(qs(backups)));
    auto* drives = get<QComboBox>("driveList");
    const int drive = drives->currentIndex();
    drives->addItem("Z:", qs(home / "no-such-drive"));
    {
        MessageBoxAnswerer answerer;
        drives->setCurrentIndex(drives->count() - 1);
        EXPECT_EQ(answerer.texts, QStringList{"Error selecting drive. Make sure drive exists"});
    }
    EXPECT_EQ(w->folderBrowser()->currentPath(), qs(backups));
    EXPECT_EQ(drives->currentIndex(), drive);

    // Arrowing through the list with the keyboard opens nothing; a screen
    // reader, which selects without focus, opens the folder.
    auto* folders = get<QListWidget>("folderList");
    folders->setFocus();
    QApplication::setActiveWindow(w.get());
    folders->setCurrentItem(folders->findItems("inner", Qt::MatchEndsWith).value(0));
    QApplication::processEvents();
    EXPECT_EQ(w->folderBrowser()->currentPath(), qs(backups));
    folders->clearFocus();
    get("startConversionButton")->setFocus();
    folders->clearSelection();
    folders->setCurrentItem(folders->findItems("inner", Qt::MatchEndsWith).value(0));
    QApplication::processEvents();
    EXPECT_EQ(w->folderBrowser()->currentPath(), qs(backups / "inner"));
}

// Location 1 half settled: one reception logged, one ambiguous, one unresolved.
class SettledLocationTest : public WindowTest {
  protected:
    void openSettled() {
        open();
        project({{1, "APH", "396", "OK"},
                 {1, "NL", "358", "AMB"},
                 {1, "AB", "999", "MIS"},
                 {2, "ML", "324", "UNP"}});
        logOne(1);
        open();  // the project as a start finds it: matching reads its backup folder
    }
    void chooseCandidate() {
        probe("waitingList").select(0);
        probe("exactCandidateList").select(0);
        ASSERT_TRUE(enabled("addToLogButton"));
    }
};

TEST_F(SettledLocationTest, AddToLogIsDisarmedWhenTheViewOrTheLocationChanges) {
    openSettled();
    w->ShowLocationStep();
    w->locationButton(1)->setChecked(true);
    chooseCandidate();
    get("showUnresolvedButton")->click();
    EXPECT_FALSE(enabled("addToLogButton"));

    get("showAmbiguousButton")->click();
    chooseCandidate();
    get("anotherLocationButton")->click();
    w->locationButton(2)->setChecked(true);
    EXPECT_FALSE(enabled("addToLogButton"));
    EXPECT_TRUE(stepTwo().selection().SelectedIdent.empty());
}

// Controls stay where they are while the listener picks: a misclick is a
// wrong beacon in the log.
TEST_F(SettledLocationTest, NothingMovesWhenASelectionChanges) {
    if (test::underWine()) GTEST_SKIP() << "pixels measured with Wine's stand-in fonts";
    openSettled();
    w->ShowLocationStep();
    w->locationButton(1)->setChecked(true);
    const auto places = [this] {
        std::map<QString, QRect> at;
        for (QWidget* control : get<QWidget>("resolutionStep")->findChildren<QWidget*>()) {
            if (!control->isVisible() || control->objectName().isEmpty()) continue;
            if (!qobject_cast<QAbstractButton*>(control) && !qobject_cast<QTreeView*>(control))
                continue;
            at[control->objectName()] = QRect(control->mapTo(w.get(), QPoint()), control->size());
        }
        return at;
    };
    QApplication::processEvents();
    const auto before = places();
    for (const char* list : {"waitingList", "exactCandidateList"}) {
        probe(list).select(0);
        QApplication::processEvents();
        EXPECT_EQ(places(), before) << list;
    }
}

// The window cannot be made so small that a control is cut: below the
// panels' own size they scroll.
TEST_F(SettledLocationTest, AtTheSmallestSizeEveryControlIsWhole) {
    openSettled();
    w->resize(1, 1);
    QApplication::processEvents();
    EXPECT_EQ(w->size(), w->minimumSize());
    const std::function<void()> panels[] = {
        [this] { w->ShowWelcomeScreen(); },
        [this] { w->ShowFolderStep(); },
        [this] { w->ShowLocationStep(); },
        [this] { w->locationButton(1)->setChecked(true); },
    };
    for (const auto& show : panels) {
        show();
        QApplication::processEvents();
        for (QWidget* control : w->findChildren<QWidget*>()) {
            if (!control->isVisible() || control->objectName().isEmpty()) continue;
            const QString name = control->objectName();
            if (qobject_cast<QAbstractButton*>(control)) {
                EXPECT_GE(control->width(), control->sizeHint().width()) << name.toStdString();
                EXPECT_GE(control->height(), control->sizeHint().height()) << name.toStdString();
            } else if (qobject_cast<QAbstractItemView*>(control)) {
                EXPECT_GE(control->height(), 3 * control->fontMetrics().height())
                    << name.toStdString() << " " << control->height();
            }
        }
    }
}

// At the size the window opens with, every panel fits without scroll bars:
// a command hidden below the fold is a command the listener never finds.
TEST_F(SettledLocationTest, AtTheOpeningSizeNoPanelScrolls) {
    if (test::underWine()) GTEST_SKIP() << "pixels measured with Wine's stand-in fonts";
    openSettled();
    auto* scroll = get<QAbstractScrollArea>("panelScroll");
    const std::pair<const char*, std::function<void()>> panels[] = {
        {"welcome", [this] { w->ShowWelcomeScreen(); }},
        {"step zero", [this] { w->ShowFolderStep(); }},
        {"step one", [this] { w->ShowLocationStep(); }},
        {"ambiguous", [this] { w->locationButton(1)->setChecked(true); }},
        {"unresolved", [this] { get("showUnresolvedButton")->click(); }},
        {"logged", [this] { get("showLoggedButton")->click(); }},
    };
    for (const auto& [name, show] : panels) {
        show();
        QApplication::processEvents();
        EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible()) << name;
        EXPECT_FALSE(scroll->verticalScrollBar()->isVisible()) << name;
    }
}

// The caption over the upper list names the list shown: after another
// location is matched from the unresolved view (all of it logged at once,
// nothing left to process), and after the last unresolved reception is
// logged.
TEST_F(SettledLocationTest, TheCaptionNamesTheListShown) {
    const struct {
        const char* name;
        std::function<void()> steps;
        const char* caption;
    } cases[] = {
        {"another location matched",
         [this] {
             get("anotherLocationButton")->click();
             w->locationButton(2)->setChecked(true);
             get("startMatchingButton")->click();
         },
         "No stations to process"},
        {"the last unresolved reception logged",
         [this] {
             probe("waitingList").select(0);
             probe("prefixCandidateList").select(0);
             get("addToLogButton")->click();
         },
         "Ambiguous Stations"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        openSettled();
        w->ShowLocationStep();
        w->locationButton(1)->setChecked(true);
        get("showUnresolvedButton")->click();
        c.steps();
        ASSERT_TRUE(only("resolutionStep"));
        EXPECT_FALSE(showingUnresolved());
        EXPECT_EQ(text("listCaption"), c.caption);
        EXPECT_TRUE(probe("exactCandidateList")->isVisible() &&
                    !probe("prefixCandidateList")->isVisible());
        const test::ListProbe upper = probe("waitingList");
        for (int i = 0; i < upper.rows(); ++i) EXPECT_EQ(upper.text(i, "Ident"), "NL");
    }
}

// A name from the registry is shown as typed: an ampersand is no shortcut
// mark and angle brackets are no markup, on the button and on the map.
TEST_F(SettledLocationTest, LocationNamesAreShownAsTheyAre) {
    const QString names[] = {"Bob & Ann's cabin", "<b>Hut</b> &&x"};
    test::writeFile(home / "user.reg",
                    "WINE REGISTRY Version 2\n\n[Software\\\\ZOLT6.1\\\\ListeningLocations]\n"
                    "\"Location(0)\"=\"" +
                        names[0].toStdString() +
                        "\"\n"
                        "\"Location(1)\"=\"" +
                        names[1].toStdString() + "\"\n");
    openSettled();
    w->ShowLocationStep();
    for (int k : {1, 2}) {
        auto* spoken = QAccessible::queryAccessibleInterface(w->locationButton(k));
        EXPECT_EQ(spoken->text(QAccessible::Name), names[k - 1]);
    }
    w->locationButton(1)->setChecked(true);
    get("mapButton")->click();
    auto* map = w->findChild<MapWindow*>();
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->titleText(), "Map of " + names[0]);
}

// A name of 96 characters is cut short on its button, the whole of it in the
// tooltip and the accessible name, and the step stays as wide as the window.
TEST_F(SettledLocationTest, ALongLocationNameKeepsTheStepInsideTheWindow) {
    const QString name = QString("Listening post on the ridge above the old mill, ").repeated(2);
    ASSERT_EQ(name.size(), 96);
    test::writeFile(home / "user.reg",
                    "WINE REGISTRY Version 2\n\n[Software\\\\ZOLT6.1\\\\ListeningLocations]\n"
                    "\"Location(0)\"=\"" +
                        name.toStdString() + "\"\n");
    openSettled();
    w->resize(960, 720);
    w->ShowLocationStep();
    QApplication::processEvents();
    QRadioButton* button = w->locationButton(1);
    EXPECT_LT(button->text().size(), name.size());
    EXPECT_EQ(button->toolTip(), name);
    EXPECT_EQ(button->accessibleName(), name);
    // Nothing pushes the step wider than the window (it may scroll down).
    EXPECT_LE(get<QWidget>("panelHost")->width(),
              get<QAbstractScrollArea>("panelScroll")->viewport()->width());
}

// Tab runs through step two in the order the controls stand on screen:
// down the left column, then down the right one, Exit last.
TEST_F(SettledLocationTest, TabFollowsTheScreenOnStepTwo) {
    openSettled();
    w->ShowLocationStep();
    w->locationButton(1)->setChecked(true);
    ASSERT_TRUE(only("resolutionStep"));
    const QStringList expected = {"waitingList",     "showAmbiguousButton",
                                  "showUnresolvedButton", "showLoggedButton",
                                  "saveToFileButton", "exactCandidateList",
                                  "addSuggestedButton", "mapButton",
                                  "homeEntry",       "setHomeButton",
                                  "exportLogStepTwoButton", "anotherLocationButton",
                                  "startOverButton", "exitButton"};
    QStringList order;
    QWidget* at = get<QWidget>("waitingList");
    do {
        if (at->isVisible() && at->isEnabled() && (at->focusPolicy() & Qt::TabFocus) &&
            expected.contains(at->objectName())) {
            order << at->objectName();
        }
        at = at->nextInFocusChain();
    } while (at != get<QWidget>("waitingList"));
    EXPECT_EQ(order, expected);
}

// The candidate list shows the whole country name at the window's first
// size; an item view elides a text wider than its cell less a margin on
// either side, and the suggested pick is in bold.
TEST_F(SettledLocationTest, CountryIsWholeInTheCandidateList) {
    openSettled();
    w->ShowLocationStep();
    w->locationButton(1)->setChecked(true);
    get("showUnresolvedButton")->click();
    probe("waitingList").select(0);
    QApplication::processEvents();
    const test::ListProbe list = probe("prefixCandidateList");
    ASSERT_GT(list.rows(), 3);
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
    const int country = list.column("Country");
    for (int i = 0; i < list.rows(); ++i) {
        EXPECT_GE(list->columnWidth(country),
                  QFontMetrics(list.font(i, country)).horizontalAdvance(list.text(i, country)) +
                      2 * margin)
            << list.text(i, country).toStdString();
    }
}

// A label's accessible name replaces its text for a screen reader: on every
// panel and in every window the program opens, a name may only repeat it.
TEST_F(SettledLocationTest, NoLabelHidesItsTextBehindAnAccessibleName) {
    openSettled();
    w->ShowLocationStep();
    w->locationButton(1)->setChecked(true);
    probe("waitingList").select(0);
    get("mapButton")->click();
    ASSERT_NE(w->findChild<MapWindow*>(), nullptr);
    FrmFileSave dialog(ReportKind::Ambiguous, 1, paths.ProcessedPath, home.path(), w.get());
    ExportDialog exportDialog(readExportedLog({paths, 0, {}, {}}), 1, w.get());
    int labels = 0;
    for (QLabel* label : w->findChildren<QLabel*>()) {
        ++labels;
        const QString name = label->accessibleName();
        if (name.isEmpty()) continue;
        QString shown = label->text();
        if (label->textFormat() == Qt::RichText ||
            (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(shown))) {
            shown = QTextDocumentFragment::fromHtml(shown).toPlainText();
        }
        if (label->buddy()) shown.remove(QRegularExpression("&(?=[^&])"));
        EXPECT_EQ(name, shown) << label->objectName().toStdString();
    }
    EXPECT_GT(labels, 40);
}

// The compacted copy cannot be written (a folder with something in it): the
// reset is stored all the same, and the window shows its outcome.
TEST_F(SettledLocationTest, ResetsWhoseCompactionFailsStillTakeEffect) {
    openSettled();
    fs::create_directories(work() / "ndbdata1.ndf" / "in the way");
    w->ShowLocationStep();
    w->locationButton(1)->setChecked(true);
    const QStringList texts = click("startOverButton", {Box::Yes, Box::Ok});
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[1].contains("were saved")) << texts[1].toStdString();
    EXPECT_TRUE(only("locationStep"));
    EXPECT_EQ(w->session().location(), 0);
    EXPECT_EQ(logged(), 0);
    EXPECT_EQ(loadWorkingSet(paths.ProcessedPath, 1).unpCount, 3);
    EXPECT_EQ(w->locationColour(1), LocationColour::LightRed);
    w->locationButton(1)->setChecked(true);
    EXPECT_TRUE(enabled("startMatchingButton"));

    EXPECT_EQ(click("startNewButton", {Box::Yes, Box::Ok}).size(), 2);
    EXPECT_TRUE(only("folderStep"));
    EXPECT_FALSE(enabled("continueButton"));
    EXPECT_FALSE(fs::exists(paths.ProcessedPath));
}

class FileSaveTest : public WindowTest {
  protected:
    FileSaveTest() {
        fs::create_directories(processed.parent_path());
        fs::create_directories(target / "sub");
        test::writeProcessed(processed, {{3, "NL", "358", "AMB"}, {3, "QQQ", "999", "MIS"}});
    }
    ~FileSaveTest() override { FrmFileSave::forgetLastFolder(); }
    std::unique_ptr<FrmFileSave> dialog(ReportKind kind) {
        auto d = std::make_unique<FrmFileSave>(kind, 3, processed, documents);
        EXPECT_TRUE(d->folderBrowser()->openFolder(qs(target)));
        d->show();
        return d;
    }
    fs::path processed = home / "work" / "processed.dat";
    fs::path target = home / "reports";
    fs::path documents = home / "Documents";
};

// It opens where the listener keeps files, then where the last report went.
TEST_F(FileSaveTest, OpensInDocumentsThenWhereTheLastReportWent) {
    fs::create_directories(documents);
    FrmFileSave::forgetLastFolder();
    auto first = std::make_unique<FrmFileSave>(ReportKind::Ambiguous, 3, processed, documents);
    EXPECT_EQ(first->folderBrowser()->currentPath(), qs(documents));
    first->findChild<QLineEdit*>("fileNameEntry")->setText(qs(target / "sub" / "r.txt"));
    first->findChild<QPushButton*>("saveButton")->click();
    ASSERT_EQ(first->result(), QDialog::Accepted);
    const FrmFileSave next(ReportKind::Unresolved, 3, processed, documents);
    EXPECT_EQ(next.folderBrowser()->currentPath(), qs(target / "sub"));
    // Cancelled, a dialog does not move where the next one opens.
    FrmFileSave::forgetLastFolder();
    const FrmFileSave missing(ReportKind::Unresolved, 3, processed, home / "no such folder");
    EXPECT_TRUE(QFileInfo(missing.folderBrowser()->currentPath()).isDir());
}

// A typed path is taken as absolute, or from the folder shown; where it
// cannot be written, the message names the file and why, and nothing is
// left on the disk.
TEST_F(FileSaveTest, ATypedPathIsWrittenOrRefusedWhole) {
    test::writeFile(home / "notes.txt", "the listener's notes");
    fs::create_directories(home / "elsewhere");
    const struct {
        QString typed;
        fs::path written;    // empty: refused
        const char* reason;  // in the message when refused
    } cases[] = {
        {"plain.txt", target / "plain.txt", nullptr},
        {"sub/nested.txt", target / "sub" / "nested.txt", nullptr},
        {qs(home / "elsewhere" / "away.txt"), home / "elsewhere" / "away.txt", nullptr},
        {"../elsewhere/up.txt", target / ".." / "elsewhere" / "up.txt", nullptr},
        {qs(home / "notes.txt" / "r.txt"), {}, "is a file, not a folder"},
        {qs(home / "notes.txt" / "deeper" / "r.txt"), {}, "is a file, not a folder"},
        {"missing/r.txt", {}, "does not exist"},
        {"sub/", {}, "names a folder"},
        {"sub/..", {}, "names a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        auto d = dialog(ReportKind::Ambiguous);
        const auto before = test::snapshot(home.path());
        MessageBoxAnswerer answerer({Box::Ok});
        d->findChild<QLineEdit*>("fileNameEntry")->setText(c.typed);
        d->findChild<QPushButton*>("saveButton")->click();
        if (c.reason) {
            ASSERT_EQ(answerer.texts.size(), 1);
            EXPECT_TRUE(answerer.texts[0].contains(c.reason)) << answerer.texts[0].toStdString();
            if (c.typed != "sub/" && c.typed != "sub/..") {
                EXPECT_TRUE(answerer.texts[0].contains(QFileInfo(c.typed).fileName()))
                    << answerer.texts[0].toStdString();
            }
            EXPECT_TRUE(d->isVisible());
            EXPECT_EQ(test::snapshot(home.path()), before);
        } else {
            EXPECT_TRUE(answerer.texts.isEmpty());
            EXPECT_EQ(d->result(), QDialog::Accepted);
            EXPECT_EQ(d->targetPath(), c.written);
            EXPECT_EQ(test::readFile(c.written).size(), 120u + 77u);
        }
    }
    EXPECT_EQ(test::readFile(home / "notes.txt"), "the listener's notes");
}

TEST_F(FileSaveTest, CaptionAndNameByKindCancelWritesNothingOkWritesTheReport) {
    // The report's size: title, blank, header and one data line.
    const std::tuple<ReportKind, QString, std::string, std::size_t> cases[] = {
        {ReportKind::Ambiguous, "Ambiguous Station Report Save...",
         "AmbiguousStations_Location3.txt", 120 + 77},
        {ReportKind::Unresolved, "Unresolved Station Report Save...",
         "UnresolvedStations_Location3.txt", 121 + 77},
    };
    for (const auto& [kind, title, name, size] : cases) {
        SCOPED_TRACE(name);
        auto d = dialog(kind);
        EXPECT_EQ(d->windowTitle(), title);
        EXPECT_EQ(d->findChild<QLineEdit*>("fileNameEntry")->text().toStdString(), name);
        d->findChild<QPushButton*>("cancelButton")->click();
        EXPECT_EQ(d->result(), QDialog::Rejected);
        EXPECT_FALSE(fs::exists(target / name));
        d = dialog(kind);
        d->findChild<QPushButton*>("saveButton")->click();
        EXPECT_EQ(d->result(), QDialog::Accepted);
        EXPECT_EQ(test::readFile(target / name).size(), size);
    }
}

TEST_F(FileSaveTest, ANameThatCannotBeWrittenIsExplainedAndTheDialogStays) {
    auto d = dialog(ReportKind::Ambiguous);
    const auto before = test::snapshot(home.path());
    for (const QString& name : {QString(), QString("a/b.txt"), QString(300, QLatin1Char('x'))}) {
        MessageBoxAnswerer answerer({Box::Ok});
        d->findChild<QLineEdit*>("fileNameEntry")->setText(name);
        d->findChild<QPushButton*>("saveButton")->click();
        ASSERT_EQ(answerer.texts.size(), 1) << name.toStdString();
        EXPECT_TRUE(d->isVisible());
    }
    EXPECT_EQ(test::snapshot(home.path()), before);
}

TEST_F(FileSaveTest, EnterOnAFolderOpensItWithoutSaving) {
    auto d = dialog(ReportKind::Ambiguous);
    QApplication::setActiveWindow(d.get());
    auto* folders = d->findChild<QListWidget*>("folderList");
    folders->setFocus();
    folders->setCurrentItem(folders->findItems("sub", Qt::MatchEndsWith).value(0));
    QTest::keyClick(folders, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->folderBrowser()->currentPath(), qs(target / "sub"));
    EXPECT_TRUE(fs::is_empty(target / "sub"));
}

}  // namespace

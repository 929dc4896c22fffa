// SPDX-License-Identifier: GPL-2.0-or-later
// The main window driven as a user would: real files, a real database, a
// temporary home folder, and message boxes answered as they open.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "DbTestUtil.h"
#include "TestUtil.h"
#include "WindowTestUtil.h"
#include "app/FrmFileSave.h"
#include "app/FrmMain.h"
#include "app/StepZeroLists.h"
#include "engine/Project.h"
#include "work/Records.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::MessageBoxAnswerer;

namespace {

int rowCount(const fs::path& db, const std::string& sql) {
    Database database(db, Database::Mode::ReadOnly);
    return static_cast<int>(test::count(database, sql));
}

template <class T>
T* child(QWidget& window, const char* name) {
    T* widget = window.findChild<T*>(QString::fromLatin1(name));
    if (!widget) ADD_FAILURE() << "no widget " << name;
    return widget;
}

// A home folder with Documents, an application folder with the pristine
// database, and a folder of old backups.
class WindowTest : public ::testing::Test {
  protected:
    WindowTest() {
        test::application();
        test::useHome(home.path());
        fs::create_directories(appData);
        test::copyPristineDatabase(appData / "ndbdata.ndf");
        fs::create_directories(backups);
    }

    std::unique_ptr<FrmMain> open() {
        FrmMain::Options options{home / "Documents", appData, home / "user.reg"};
        auto window = std::make_unique<FrmMain>(options);
        window->show();
        window->startUp();
        return window;
    }

    fs::path work() const { return home / "Documents" / "ZOLT"; }

    // Location 1: NL/358 three times ambiguous (twice the same time and date),
    // APH/396 unique, QQQ/999 unknown. Location 2: ML/324 unique.
    void writeBackups() {
        test::writeLogFile(backups / "log0.bak",
                           {test::logRecord("NL", "358", "0100", "20010101", "first"),
                            test::logRecord("APH", "396", "0200", "20010102", "unique"),
                            test::logRecord("NL", "358", "0300", "20010103", "second"),
                            test::logRecord("QQQ", "999", "0400", "20010104", "nowhere"),
                            test::logRecord("AB", "999", "0500", "20010105", "ab")});
        test::writeLogFile(backups / "LOG1.BAK", {test::logRecord("ML", "324")});
    }

    test::TempDir home;
    fs::path appData = home / "app";
    fs::path backups = home / "backups";
};

// The caption as shown: a mnemonic's ampersand is not part of it.
QString caption(const QAbstractButton* button) { return QString(button->text()).remove('&'); }

bool onlyVisiblePanel(QWidget& w, const char* name) {
    for (const char* panel : {"picWelcome", "picStepZero", "picStepOne", "picStepTwo"}) {
        const bool visible = w.findChild<QWidget*>(panel)->isVisible();
        if (visible != (std::string(panel) == name)) return false;
    }
    return true;
}

TEST_F(WindowTest, FirstStartCopiesTheDatabaseAndSecondStartKeepsIt) {
    {
        auto w = open();
        EXPECT_TRUE(fs::exists(work() / "ndbdata.ndf"));
        EXPECT_TRUE(onlyVisiblePanel(*w, "picWelcome"));
        EXPECT_FALSE(child<QPushButton>(*w, "cmdContinueWithExisting")->isEnabled());
        EXPECT_TRUE(child<QPushButton>(*w, "cmdStartNew")->isEnabled());
        EXPECT_FALSE(child<QLabel>(*w, "lblAllDone")->isVisible());
    }
    const std::string before = test::readFile(work() / "ndbdata.ndf");
    test::writeFile(appData / "ndbdata.ndf", "a newer file that must not be copied");
    writeBackups();
    writeSettings(projectPathsFor(home / "Documents"), backups);
    test::writeProcessed(work() / "processed.dat", {{1, "NL", "358", "UNP"}});
    auto w = open();
    EXPECT_EQ(test::readFile(work() / "ndbdata.ndf"), before);
    EXPECT_TRUE(child<QPushButton>(*w, "cmdContinueWithExisting")->isEnabled());
    EXPECT_EQ(w->paths().BackupFolder.string(), backupFolderText(backups.string()));
}

TEST_F(WindowTest, StartUpWithoutTheShippedDatabaseSaysWhichFileIsMissing) {
    fs::remove(appData / "ndbdata.ndf");
    MessageBoxAnswerer answerer;
    auto w = open();
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(
        answerer.texts[0].contains(QString::fromStdString((appData / "ndbdata.ndf").string())))
        << answerer.texts[0].toStdString();
    EXPECT_FALSE(fs::exists(work() / "ndbdata.ndf"));
    EXPECT_FALSE(child<QPushButton>(*w, "cmdStartNew")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*w, "cmdContinueWithExisting")->isEnabled());
}

TEST_F(WindowTest, ASettingsFileWithoutAFolderIsNoProject) {
    fs::create_directories(work());
    test::writeFile(work() / "settings.ini", "\r\n");
    auto w = open();
    EXPECT_FALSE(child<QPushButton>(*w, "cmdContinueWithExisting")->isEnabled());
}

TEST_F(WindowTest, ColumnsAndHiddenKeys) {
    auto w = open();
    struct Case {
        const char* list;
        QStringList headers;
        int hiddenColumn;
    };
    const Case cases[] = {
        {"lvDuplicates", {"Station ", "Frequency"}, -1},
        {"lvDuplicateData", {"City ", "Province", "Country", "Beacon_ID"}, 3},
        {"lvPossible", {"Call ", "Frequency", "City", "Province", "Country", "Beacon_ID"}, 5},
        {"lvLoggedDuplicates", {"Processed", "Ident", "Freq", "Time", "Date", "Comment"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        auto* list = child<QTreeWidget>(*w, c.list);
        QStringList headers;
        for (int i = 0; i < list->columnCount(); ++i) headers << list->headerItem()->text(i);
        EXPECT_EQ(headers, c.headers);
        for (int i = 0; i < list->columnCount(); ++i) {
            EXPECT_EQ(list->isColumnHidden(i), i == c.hiddenColumn) << i;
        }
    }
}

TEST_F(WindowTest, ConfirmationDefaultsToNo) {
    auto w = open();
    MessageBoxAnswerer answerer;  // presses Return at once
    EXPECT_EQ(w->ConfirmAction("Really?", "Confirm"), QMessageBox::No);
    ASSERT_EQ(answerer.defaults.size(), 1);
    EXPECT_EQ(answerer.defaults[0], QMessageBox::No);
    EXPECT_EQ(w->PromptText, "Really?");
}

TEST_F(WindowTest, ScreenProceduresShowExactlyOnePanel) {
    auto w = open();
    const std::pair<void (FrmMain::*)(), const char*> steps[] = {
        {&FrmMain::ShowFolderStep, "picStepZero"},
        {&FrmMain::ShowLocationStep, "picStepOne"},
        {&FrmMain::ShowResolutionStep, "picStepTwo"},
        {&FrmMain::ShowWelcomeScreen, "picWelcome"},
    };
    for (const auto& [show, panel] : steps) {
        (w.get()->*show)();
        EXPECT_TRUE(onlyVisiblePanel(*w, panel)) << panel;
    }
    EXPECT_FALSE(child<QPushButton>(*w, "cmdDuplicates")->isEnabled());
}

TEST_F(WindowTest, StartNewProjectAnsweredNoChangesNothing) {
    writeBackups();
    auto w = open();
    const auto paths = w->paths();
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath, {{1, "NL", "358", "OK"}});
    {
        Database db(paths.DatabasePath);
        db.execute("INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES (1, 1)");
    }
    const auto before = test::snapshot(work());
    MessageBoxAnswerer answerer;
    child<QPushButton>(*w, "cmdStartNew")->click();
    EXPECT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(test::snapshot(work()), before);
    EXPECT_TRUE(onlyVisiblePanel(*w, "picWelcome"));
}

// The whole road: a new project, import, matching, settling, resets, finalize.
TEST_F(WindowTest, ConvertALocationFromImportToFinalize) {
    writeBackups();
    auto w = open();
    {
        MessageBoxAnswerer yes({QMessageBox::Yes});
        child<QPushButton>(*w, "cmdStartNew")->click();
        EXPECT_EQ(yes.texts.size(), 1);
    }
    ASSERT_TRUE(onlyVisiblePanel(*w, "picStepZero"));
    ASSERT_TRUE(w->folderBrowser()->openFolder(QString::fromStdString(backups.string())));
    QStringList files;
    for (auto* item : child<QListWidget>(*w, "filFiles")->findItems("*", Qt::MatchWildcard))
        files << item->text();
    EXPECT_EQ(files, (QStringList{"log0.bak", "LOG1.BAK"}));

    child<QPushButton>(*w, "cmdSelectFolder")->click();
    ASSERT_TRUE(onlyVisiblePanel(*w, "picStepOne"));
    EXPECT_EQ(test::readFile(work() / "settings.ini"), backupFolderText(backups.string()) + "\r\n");
    EXPECT_EQ(fs::file_size(work() / "processed.dat"), 6u * 102u);
    EXPECT_EQ(w->locationColour(1), LocationColour::LightRed);
    EXPECT_EQ(w->locationColour(2), LocationColour::LightRed);
    EXPECT_FALSE(w->optLog(3)->isEnabled());
    EXPECT_EQ(w->optLog(3)->text(), "Empty");

    // Choosing a location that was never matched readies START MATCHING.
    w->optLog(1)->setChecked(true);
    auto* startMatching = child<QPushButton>(*w, "cmdDuplicates");
    EXPECT_TRUE(startMatching->isEnabled());
    EXPECT_EQ(w->work.WorkCount(), 5);

    startMatching->click();
    ASSERT_TRUE(onlyVisiblePanel(*w, "picStepTwo"));
    const fs::path db = work() / "ndbdata.ndf";
    EXPECT_EQ(rowCount(db, "SELECT count(*) FROM NDBLog"), 1);  // APH
    auto* upper = child<QTreeWidget>(*w, "lvLoggedDuplicates");
    EXPECT_EQ(upper->topLevelItemCount(), 2);
    EXPECT_EQ(caption(child<QPushButton>(*w, "cmdShowSuspect")), "Show Ambiguous Stations (2)");
    EXPECT_EQ(caption(child<QPushButton>(*w, "cmdShowMissing")), "Show Unresolved Stations (2)");
    EXPECT_EQ(child<QProgressBar>(*w, "pbSearch")->value(), 0);
    EXPECT_TRUE(child<QPushButton>(*w, "cmdExit")->isEnabled());

    // Settle one ambiguous reception: the row, then a candidate.
    upper->setCurrentItem(upper->topLevelItem(0));
    auto* exact = child<QTreeWidget>(*w, "lvDuplicateData");
    EXPECT_EQ(exact->topLevelItemCount(), 3);
    EXPECT_EQ(child<QLabel>(*w, "lblSelectionStation")->text(), "NL - 358");
    auto* addToLog = child<QPushButton>(*w, "cmdAddToLog");
    EXPECT_FALSE(addToLog->isEnabled());
    exact->setCurrentItem(exact->topLevelItem(0));
    EXPECT_TRUE(addToLog->isEnabled());
    EXPECT_FALSE(child<QLabel>(*w, "lblSelectionLocation")->text().isEmpty());
    addToLog->click();
    EXPECT_EQ(rowCount(db, "SELECT count(*) FROM NDBLog"), 2);
    EXPECT_EQ(upper->topLevelItemCount(), 1);
    EXPECT_FALSE(addToLog->isEnabled());
    EXPECT_FALSE(child<QCheckBox>(*w, "chkApplyAll")->isEnabled());

    // The unresolved view offers beacons that begin with the logged ident.
    child<QPushButton>(*w, "cmdShowMissing")->click();
    EXPECT_EQ(child<QLabel>(*w, "lblDuplicateUnresolvedLabel")->text(), "Unresolved Stations");
    EXPECT_TRUE(w->ShowingUnresolved);
    ASSERT_EQ(upper->topLevelItemCount(), 2);
    QTreeWidgetItem* abRow = upper->findItems("AB", Qt::MatchStartsWith, 1).value(0);
    ASSERT_NE(abRow, nullptr);
    upper->setCurrentItem(abRow);
    auto* possible = child<QTreeWidget>(*w, "lvPossible");
    EXPECT_GT(possible->topLevelItemCount(), 3);
    possible->setCurrentItem(possible->topLevelItem(0));
    addToLog->click();
    EXPECT_EQ(rowCount(db, "SELECT count(*) FROM NDBLog"), 3);
    EXPECT_EQ(upper->topLevelItemCount(), 1);
    // A refill leaves no candidate to choose without a selected reception.
    EXPECT_EQ(possible->topLevelItemCount(), 0);

    // Start Over removes this location's rows only.
    {
        Database database(db);
        database.execute("INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES (1, 2)");
    }
    {
        MessageBoxAnswerer yes({QMessageBox::Yes});
        child<QPushButton>(*w, "cmdStartOver")->click();
        ASSERT_EQ(yes.texts.size(), 1);
        EXPECT_EQ(yes.texts[0], "Are you sure you want to recreate log#1?");
    }
    EXPECT_TRUE(onlyVisiblePanel(*w, "picStepOne"));
    EXPECT_EQ(rowCount(db, "SELECT count(*) FROM NDBLog WHERE loggedlocation = 1"), 0);
    EXPECT_EQ(rowCount(db, "SELECT count(*) FROM NDBLog"), 1);
    EXPECT_TRUE(fs::exists(work() / "ndbdata1.ndf"));

    // FINALIZE with a stale compacted copy: the project ends.
    {
        MessageBoxAnswerer yes({QMessageBox::Yes});
        child<QPushButton>(*w, "cmdFinalize")->click();
    }
    EXPECT_TRUE(onlyVisiblePanel(*w, "picWelcome"));
    EXPECT_TRUE(child<QLabel>(*w, "lblAllDone")->isVisible());
    EXPECT_FALSE(child<QPushButton>(*w, "cmdContinueWithExisting")->isEnabled());
    EXPECT_TRUE(fs::exists(db));
    for (const char* gone : {"processed.dat", "settings.ini", "ndbdata1.ndf"}) {
        EXPECT_FALSE(fs::exists(work() / gone)) << gone;
    }
    EXPECT_EQ(rowCount(db, "SELECT count(*) FROM NDBLog"), 1);
}

TEST_F(WindowTest, FinalizeThatCannotCompactLeavesTheProject) {
    writeBackups();
    auto w = open();
    const auto paths = w->paths();
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath, {{1, "NL", "358", "AMB"}});
    const auto before = test::snapshot(work());
    MessageBoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok});
    {
        test::DatabaseLock lock(paths.DatabasePath);
        child<QPushButton>(*w, "cmdFinalize")->click();
    }
    ASSERT_EQ(answerer.texts.size(), 2);
    EXPECT_TRUE(answerer.texts[1].contains("ndbdata.ndf")) << answerer.texts[1].toStdString();
    EXPECT_EQ(test::snapshot(work()), before);
    EXPECT_FALSE(child<QLabel>(*w, "lblAllDone")->isVisible());
}

TEST_F(WindowTest, ClosingDuringAMatchingRunRollsItBack) {
    // Enough receptions that the run passes through the event loop.
    std::vector<LogBackupRecord> records(3000, test::logRecord("APH", "396"));
    test::writeLogFile(backups / "log0.bak", records);
    auto w = open();
    const auto paths = w->paths();
    writeSettings(paths, backups);
    buildProcessedFile(backups, paths.ProcessedPath, LogSource::Backups);
    const std::string statesBefore = test::readFile(paths.ProcessedPath);
    w->ShowLocationStep();
    w->optLog(1)->setChecked(true);
    QTimer::singleShot(0, w.get(), [&] { w->close(); });
    child<QPushButton>(*w, "cmdDuplicates")->click();
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->matchingInProgress());
    EXPECT_EQ(rowCount(paths.DatabasePath, "SELECT count(*) FROM NDBLog"), 0);
    EXPECT_EQ(test::readFile(paths.ProcessedPath), statesBefore);
}

TEST_F(WindowTest, LocationButtonsFollowTheWorkingFile) {
    auto w = open();
    const auto paths = w->paths();
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath, {{3, "A", "1", "UNP"},
                                               {3, "B", "1", "UNP"},
                                               {4, "A", "1", "MIS"},
                                               {4, "B", "1", "OK"},
                                               {5, "A", "1", "OK"},
                                               {6, "A", "1", "MIS"},
                                               {6, "B", "1", "UNP"}});
    w->ShowLocationStep();
    struct Case {
        int location;
        bool enabled;
        LocationColour colour;
    };
    const Case cases[] = {{3, true, LocationColour::LightRed},
                          {4, true, LocationColour::Yellow},
                          {5, false, LocationColour::ButtonFace},
                          {6, true, LocationColour::Yellow},
                          {7, false, LocationColour::ButtonFace}};
    for (const Case& c : cases) {
        EXPECT_EQ(w->optLog(c.location)->isEnabled(), c.enabled) << c.location;
        EXPECT_EQ(w->locationColour(c.location), c.colour) << c.location;
    }
    // A yellow location with unresolved receptions only opens step two on them.
    w->optLog(4)->setChecked(true);
    EXPECT_TRUE(onlyVisiblePanel(*w, "picStepTwo"));
    EXPECT_EQ(child<QLabel>(*w, "lblDuplicateUnresolvedLabel")->text(), "Unresolved Stations");
    EXPECT_TRUE(child<QWidget>(*w, "picMissing")->isVisible());
    EXPECT_TRUE(child<QTreeWidget>(*w, "lvPossible")->isVisible());
    EXPECT_EQ(child<QTreeWidget>(*w, "lvLoggedDuplicates")->topLevelItemCount(), 1);
    // Process Another Listening Location clears the choice.
    child<QPushButton>(*w, "cmdProcessAnotherLog")->click();
    EXPECT_TRUE(onlyVisiblePanel(*w, "picStepOne"));
    EXPECT_FALSE(w->SelectedLocation().has_value());
}

TEST_F(WindowTest, StepTwoWorksFromTheKeyboardAlone) {
    auto w = open();
    const auto paths = w->paths();
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath, {{1, "NL", "358", "AMB", "0100", "20010101"},
                                               {1, "NL", "358", "AMB", "0200", "20010102"},
                                               {1, "QQQ", "999", "MIS"}});
    QApplication::setActiveWindow(w.get());
    w->ShowLocationStep();
    // Space on a location button chooses it, as a click would.
    w->optLog(1)->setFocus();
    QTest::keyClick(w->optLog(1), Qt::Key_Space);
    ASSERT_TRUE(onlyVisiblePanel(*w, "picStepTwo"));

    auto* upper = child<QTreeWidget>(*w, "lvLoggedDuplicates");
    upper->setFocus();
    QTest::keyClick(upper, Qt::Key_Down);  // the first row
    ASSERT_NE(upper->currentItem(), nullptr);
    QTest::keyClick(w.get(), Qt::Key_P, Qt::AltModifier);  // "&Possible Matches"
    auto* candidates = child<QTreeWidget>(*w, "lvDuplicateData");
    ASSERT_TRUE(candidates->hasFocus());
    QTest::keyClick(candidates, Qt::Key_Down);
    auto* addToLog = child<QPushButton>(*w, "cmdAddToLog");
    ASSERT_TRUE(addToLog->isEnabled());
    QTest::keyClick(w.get(), Qt::Key_Y, Qt::AltModifier);  // "Appl&y To All ..."
    QTest::qWait(250);  // a mnemonic presses its button after a short animation
    EXPECT_TRUE(child<QCheckBox>(*w, "chkApplyAll")->isChecked());
    addToLog->setFocus();
    QTest::keyClick(addToLog, Qt::Key_Return);
    EXPECT_EQ(rowCount(paths.DatabasePath, "SELECT count(*) FROM NDBLog"), 2);
    EXPECT_EQ(upper->topLevelItemCount(), 0);

    QTest::keyClick(w.get(), Qt::Key_U, Qt::AltModifier);  // "Show &Unresolved Stations"
    QTest::qWait(250);
    EXPECT_TRUE(w->ShowingUnresolved);
    EXPECT_EQ(upper->topLevelItemCount(), 1);
}

TEST_F(WindowTest, EveryControlHasANameAScreenReaderCanSpeak) {
    auto w = open();
    for (QWidget* widget : w->findChildren<QWidget*>()) {
        if (!widget->focusPolicy() || qobject_cast<QLabel*>(widget)) continue;
        const QString name = widget->objectName();
        if (name.startsWith("qt_") || name.isEmpty()) continue;
        QString spoken = widget->accessibleName();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) spoken += button->text();
        EXPECT_FALSE(spoken.trimmed().isEmpty()) << name.toStdString();
    }
}

class FileSaveTest : public WindowTest {
  protected:
    FileSaveTest() {
        fs::create_directories(processed.parent_path());
        fs::create_directories(target);
        test::writeProcessed(processed, {{3, "NL", "358", "AMB"}, {3, "QQQ", "999", "MIS"}});
    }
    fs::path processed = home / "work" / "processed.dat";
    fs::path target = home / "reports";
};

TEST_F(FileSaveTest, OpensWithTheReportsCaptionAndDefaultName) {
    struct Case {
        ReportKind kind;
        QString caption, name;
    };
    const Case cases[] = {
        {ReportKind::Ambiguous, "Ambiguous Station Report Save...",
         "AmbiguousStations_Location3.txt"},
        {ReportKind::Unresolved, "Unresolved Station Report Save...",
         "UnresolvedStations_Location3.txt"},
    };
    for (const Case& c : cases) {
        FrmFileSave dialog(c.kind, 3, processed);
        EXPECT_EQ(dialog.windowTitle(), c.caption);
        EXPECT_EQ(dialog.findChild<QLineEdit*>("txtFileName")->text(), c.name);
    }
}

TEST_F(FileSaveTest, OkWritesTheReportAndCancelWritesNothing) {
    {
        FrmFileSave dialog(ReportKind::Unresolved, 3, processed);
        ASSERT_TRUE(dialog.folderBrowser()->openFolder(QString::fromStdString(target.string())));
        dialog.show();
        dialog.findChild<QPushButton*>("CancelButton")->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(fs::is_empty(target));
    }
    FrmFileSave dialog(ReportKind::Unresolved, 3, processed);
    ASSERT_TRUE(dialog.folderBrowser()->openFolder(QString::fromStdString(target.string())));
    dialog.show();
    dialog.findChild<QPushButton*>("frm")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const std::string report = test::readFile(target / "UnresolvedStations_Location3.txt");
    EXPECT_EQ(report.size(), 121u + 77u);  // title, blank, header, one data line
}

TEST_F(FileSaveTest, ANameThatCannotBeWrittenIsExplainedAndTheDialogStays) {
    test::writeFile(home / "plain", "a file, not a folder");
    FrmFileSave dialog(ReportKind::Ambiguous, 3, processed);
    ASSERT_TRUE(dialog.folderBrowser()->openFolder(QString::fromStdString(target.string())));
    dialog.show();
    const auto before = test::snapshot(home.path());
    for (const QString& name : {QString(), QString("a/b.txt"), QString(300, QLatin1Char('x'))}) {
        MessageBoxAnswerer answerer({QMessageBox::Ok});
        dialog.findChild<QLineEdit*>("txtFileName")->setText(name);
        dialog.findChild<QPushButton*>("frm")->click();
        ASSERT_EQ(answerer.texts.size(), 1) << name.toStdString();
        EXPECT_TRUE(dialog.isVisible());
    }
    EXPECT_EQ(test::snapshot(home.path()), before);
}

TEST_F(WindowTest, AmbiguousFillSetsButtonsByWhatIsLeft) {
    struct Case {
        int amb, mis;
        bool suspect, missing, save, reportIsAmbiguous;
    };
    const Case cases[] = {
        {0, 0, false, false, false, true},  // unchanged from before the fill
        {0, 2, false, true, false, false},
        {3, 0, true, false, true, true},
        {3, 2, true, true, true, true},
    };
    auto w = open();
    const auto paths = w->paths();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.amb) + " AMB, " + std::to_string(c.mis) + " MIS");
        std::vector<test::Row> rows = {{2, "OTHER", "1", "AMB"}, {1, "DONE", "1", "OK"}};
        // Stored in descending order: the list shows them sorted by ident.
        for (int i = c.amb; i > 0; --i) rows.push_back({1, "Z" + std::to_string(i), "1", "AMB"});
        for (int i = 0; i < c.mis; ++i) rows.push_back({1, "M" + std::to_string(i), "1", "MIS"});
        test::writeProcessed(paths.ProcessedPath, rows);
        {
            QSignalBlocker block(w->optLog(1));
            w->optLog(1)->setChecked(true);
        }
        w->ReportIsAmbiguous = true;
        w->FillAmbiguousList();
        EXPECT_EQ(!child<QPushButton>(*w, "cmdShowSuspect")->isHidden(), c.suspect);
        EXPECT_EQ(!child<QPushButton>(*w, "cmdShowMissing")->isHidden(), c.missing);
        EXPECT_EQ(!child<QPushButton>(*w, "cmdSaveToFile")->isHidden(), c.save);
        EXPECT_EQ(w->ReportIsAmbiguous, c.reportIsAmbiguous);
        auto* upper = child<QTreeWidget>(*w, "lvLoggedDuplicates");
        EXPECT_EQ(upper->topLevelItemCount(), c.amb);
        for (int i = 0; i < upper->topLevelItemCount(); ++i) {
            EXPECT_EQ(upper->topLevelItem(i)->text(0), "NO");
            EXPECT_EQ(upper->topLevelItem(i)->text(1), QString("Z%1").arg(i + 1).leftJustified(10));
        }
        EXPECT_EQ(caption(child<QPushButton>(*w, "cmdShowSuspect")),
                  QString("Show Ambiguous Stations (%1)").arg(c.amb));
        EXPECT_EQ(caption(child<QPushButton>(*w, "cmdShowMissing")),
                  QString("Show Unresolved Stations (%1)").arg(c.mis));
    }
}

TEST_F(WindowTest, ADriveThatIsNotThereIsReportedAndTheFolderStays) {
    auto w = open();
    w->ShowFolderStep();
    ASSERT_TRUE(w->folderBrowser()->openFolder(QString::fromStdString(backups.string())));
    auto* drives = child<QComboBox>(*w, "drDrives");
    const int before = drives->currentIndex();
    drives->addItem("Z:", QString::fromStdString((home / "no-such-drive").string()));
    MessageBoxAnswerer answerer({QMessageBox::Ok});
    drives->setCurrentIndex(drives->count() - 1);
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(answerer.texts[0], "Error selecting drive. Make sure drive exists");
    EXPECT_EQ(w->folderBrowser()->currentPath().toStdString(), backups.string());
    EXPECT_EQ(drives->currentIndex(), before);
}

TEST_F(WindowTest, FolderListOpensOnSelectionFromAssistiveToolsNotWhileArrowing) {
    auto w = open();
    w->ShowFolderStep();
    fs::create_directories(backups / "inner");
    ASSERT_TRUE(w->folderBrowser()->openFolder(QString::fromStdString(backups.string())));
    auto* folders = child<QListWidget>(*w, "dirFolders");
    const auto inner = folders->findItems("inner", Qt::MatchEndsWith);
    ASSERT_EQ(inner.size(), 1);

    folders->setFocus();  // the keyboard moves through the list
    QApplication::setActiveWindow(w.get());
    folders->setCurrentItem(inner[0]);
    QApplication::processEvents();
    EXPECT_EQ(w->folderBrowser()->currentPath().toStdString(), backups.string());

    folders->clearFocus();  // a screen reader selects without focus
    child<QPushButton>(*w, "cmdSelectFolder")->setFocus();
    folders->clearSelection();
    folders->setCurrentItem(folders->findItems("inner", Qt::MatchEndsWith)[0]);
    QApplication::processEvents();
    EXPECT_EQ(w->folderBrowser()->currentPath().toStdString(), (backups / "inner").string());
}

// Location 1 half settled: one reception logged, one ambiguous, one unresolved.
class SettledLocationTest : public WindowTest {
  protected:
    std::unique_ptr<FrmMain> openSettled() {
        auto w = open();
        paths = w->paths();
        writeSettings(paths, backups);
        test::writeProcessed(paths.ProcessedPath, {{1, "APH", "396", "OK"},
                                                   {1, "NL", "358", "AMB"},
                                                   {1, "AB", "999", "MIS"},
                                                   {2, "ML", "324", "UNP"}});
        Database db(paths.DatabasePath);
        db.execute("INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES (1, 1)");
        return w;
    }
    void chooseCandidate(FrmMain& w) {
        auto* upper = child<QTreeWidget>(w, "lvLoggedDuplicates");
        upper->setCurrentItem(upper->topLevelItem(0));
        auto* exact = child<QTreeWidget>(w, "lvDuplicateData");
        exact->setCurrentItem(exact->topLevelItem(0));
        ASSERT_TRUE(child<QPushButton>(w, "cmdAddToLog")->isEnabled());
    }
    ProjectPaths paths;
};

TEST_F(SettledLocationTest, AddToLogIsDisarmedWhenTheViewOrTheLocationChanges) {
    auto w = openSettled();
    w->ShowLocationStep();
    w->optLog(1)->setChecked(true);
    auto* addToLog = child<QPushButton>(*w, "cmdAddToLog");
    chooseCandidate(*w);
    child<QPushButton>(*w, "cmdShowMissing")->click();
    EXPECT_FALSE(addToLog->isEnabled());

    child<QPushButton>(*w, "cmdShowSuspect")->click();
    chooseCandidate(*w);
    child<QPushButton>(*w, "cmdProcessAnotherLog")->click();
    w->optLog(2)->setChecked(true);
    EXPECT_FALSE(addToLog->isEnabled());
    EXPECT_TRUE(w->selection.SelectedIdent.empty());
}

TEST_F(SettledLocationTest, StartOverMakesTheLocationMatchableAgainEvenIfCompactionFails) {
    auto w = openSettled();
    w->ShowLocationStep();
    w->optLog(1)->setChecked(true);
    // The compacted copy cannot be written: a folder with something in it.
    fs::create_directories(work() / "ndbdata1.ndf" / "in the way");
    {
        MessageBoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok});
        child<QPushButton>(*w, "cmdStartOver")->click();
        ASSERT_EQ(answerer.texts.size(), 2);
        EXPECT_TRUE(answerer.texts[1].contains("were saved")) << answerer.texts[1].toStdString();
    }
    EXPECT_TRUE(onlyVisiblePanel(*w, "picStepOne"));
    EXPECT_FALSE(w->SelectedLocation().has_value());
    EXPECT_EQ(rowCount(paths.DatabasePath, "SELECT count(*) FROM NDBLog"), 0);
    const auto set = loadWorkingSet(paths.ProcessedPath, 1);
    EXPECT_EQ(set.unpCount, 3);
    // Chosen again, it is ready for START MATCHING.
    EXPECT_EQ(w->locationColour(1), LocationColour::LightRed);
    w->optLog(1)->setChecked(true);
    EXPECT_TRUE(child<QPushButton>(*w, "cmdDuplicates")->isEnabled());
}

TEST_F(SettledLocationTest, StartNewProjectWhoseCompactionFailsStillEndsTheOldProject) {
    auto w = openSettled();
    fs::create_directories(work() / "ndbdata1.ndf" / "in the way");
    MessageBoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok});
    child<QPushButton>(*w, "cmdStartNew")->click();
    EXPECT_EQ(answerer.texts.size(), 2);
    EXPECT_TRUE(onlyVisiblePanel(*w, "picStepZero"));
    EXPECT_FALSE(child<QPushButton>(*w, "cmdContinueWithExisting")->isEnabled());
    EXPECT_FALSE(fs::exists(paths.ProcessedPath));
}

TEST_F(SettledLocationTest, AMissingWorkingFileIsNotRebuiltOverLoggedReceptions) {
    { auto w = openSettled(); }
    fs::remove(work() / "processed.dat");
    test::writeLogFile(backups / "log0.dat", {test::logRecord("APH", "396")});
    MessageBoxAnswerer answerer({QMessageBox::Ok});
    auto w = open();
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].contains("processed.dat")) << answerer.texts[0].toStdString();
    EXPECT_FALSE(fs::exists(work() / "processed.dat"));
    EXPECT_FALSE(child<QPushButton>(*w, "cmdContinueWithExisting")->isEnabled());
}

TEST_F(WindowTest, FinalizingAProjectThatImportedNothingClaimsNoConversion) {
    auto w = open();
    writeSettings(w->paths(), backups);
    test::writeFile(w->paths().ProcessedPath, "");
    MessageBoxAnswerer yes({QMessageBox::Yes});
    child<QPushButton>(*w, "cmdFinalize")->click();
    EXPECT_TRUE(onlyVisiblePanel(*w, "picWelcome"));
    EXPECT_FALSE(child<QLabel>(*w, "lblAllDone")->isVisible());
    EXPECT_FALSE(fs::exists(work() / "settings.ini"));
}

TEST_F(FileSaveTest, EnterOnAFolderOpensItWithoutSaving) {
    fs::create_directories(target / "sub");
    FrmFileSave dialog(ReportKind::Ambiguous, 3, processed);
    ASSERT_TRUE(dialog.folderBrowser()->openFolder(QString::fromStdString(target.string())));
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    auto* folders = dialog.findChild<QListWidget*>("dirDirectory");
    folders->setFocus();
    folders->setCurrentItem(folders->findItems("sub", Qt::MatchEndsWith)[0]);
    QTest::keyClick(folders, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.folderBrowser()->currentPath().toStdString(), (target / "sub").string());
    EXPECT_TRUE(fs::is_empty(target / "sub"));
}

}  // namespace

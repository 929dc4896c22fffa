// SPDX-License-Identifier: GPL-2.0-or-later
// Everyday accidents met through the window: a damaged working file, a
// folder without old logs, FINALIZE with receptions waiting or a locked
// database, a report over an existing file, two windows on one project and a
// second start of the program.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>
#include <QTreeView>
#include <csignal>

#include "DbTestUtil.h"
#include "WindowTestUtil.h"
#include "app/FrmFileSave.h"
#include "app/NativePath.h"
#include "app/SingleInstance.h"
#include "app/StepZeroLists.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::MessageBoxAnswerer;
using Box = QMessageBox;

namespace {

const char* const kAllDone =
    "All your logs have been converted. Run ZOLT 6.4 and verify all your data is present. If all "
    "OK, this utility can be uninstalled from your computer, otherwise hit START NEW PROJECT to "
    "restart the conversion from scratch.";
const char* const kFinalizePrompt =
    "This action will close your current work and prepare database for use with ZOLT 6.4, are "
    "you sure you want to continue ?";

class AccidentTest : public test::MainWindowTest {
  protected:
    QStringList opened(QList<Box::StandardButton> answers = {}) {
        MessageBoxAnswerer answerer(std::move(answers));
        open();
        return answerer.texts;
    }
    bool visible(const char* name) { return get<QWidget>(name)->isVisible(); }
    fs::path work() const { return home / "Documents" / "ZOLT"; }
    void logRow(int location, const char* time) {
        Database(paths.DatabasePath)
            .execute(std::string("INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, "
                                 "ReceptionDate, ReceptionComments) VALUES (1, ") +
                     std::to_string(location) + ", '" + time + "', '20010101', '')");
    }
    std::int64_t logged() {
        Database db(paths.DatabasePath, Database::Mode::ReadOnly);
        return test::count(db, "SELECT count(*) FROM NDBLog");
    }
};

TEST_F(AccidentTest, StartConversionRefusesAFolderWithoutOldLogsAndReportsPartialRecords) {
    open();
    click("startNewButton", {Box::Yes});
    ASSERT_TRUE(w->folderBrowser()->openFolder(QString::fromStdString(backups.string())));
    const auto before = test::snapshot(home.path());
    const QStringList refused = click("startConversionButton");
    ASSERT_EQ(refused.size(), 1);
    EXPECT_TRUE(refused[0].contains(QString::fromStdString(backups.string())))
        << refused[0].toStdString();
    EXPECT_TRUE(visible("folderStep"));
    EXPECT_TRUE(test::snapshot(home.path()) == before);

    // "BNR 334 1558 02/17/01" is whole; the 55 bytes after it are not.
    const std::string two = test::logRecord("BNR", "334", "1558", "02/17/01").encode() +
                            test::logRecord("APH", "396").encode();
    test::writeFile(backups / "log0.bak", two.substr(0, 85 + 55));
    const QStringList partial = click("startConversionButton");
    ASSERT_EQ(partial.size(), 1);
    EXPECT_TRUE(partial[0].contains(QString::fromStdString((backups / "log0.bak").string())));
    EXPECT_TRUE(partial[0].contains("55 bytes")) << partial[0].toStdString();
    EXPECT_TRUE(visible("locationStep"));
    EXPECT_EQ(loadWorkingSet(paths.ProcessedPath, 1).WorkCount(), 1);
}

// The working file damaged while the log holds one of location 1's receptions
// and location 2 was never matched.
TEST_F(AccidentTest, ADamagedWorkingFileIsNeverFinalizedAndIsRebuiltOnlyWithConsent) {
    test::writeLogFile(backups / "log0.bak", {test::logRecord("APH", "396", "0100"),
                                              test::logRecord("NL", "358", "0200")});
    test::writeLogFile(backups / "log1.bak", {test::logRecord("APH", "396", "0300")});
    const std::string sound = test::processedRecord(1, 1, "APH", "396", "OK", "0100").encode() +
                              test::processedRecord(1, 2, "NL", "358", "AMB", "0200").encode() +
                              test::processedRecord(2, 3, "APH", "396", "UNP", "0300").encode();
    const std::string firstOk = sound.substr(0, 102);
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"cut inside a record", sound.substr(0, 150)},
        {"cut at a record boundary", firstOk},
        {"records out of order", sound.substr(102, 102) + firstOk + sound.substr(204)},
    };
    for (const auto& [name, damaged] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(work());
        open();
        writeSettings(paths, backups);
        logRow(1, "0100");
        test::writeFile(paths.ProcessedPath, damaged);
        const auto before = test::snapshot(work());
        const QStringList declined = opened({Box::No});
        ASSERT_EQ(declined.size(), 1);
        EXPECT_TRUE(declined[0].contains(QString::fromStdString(paths.ProcessedPath.string())));
        EXPECT_TRUE(test::snapshot(work()) == before);
        EXPECT_FALSE(visible("allDoneLabel"));
        // Continue asks again; declined, step one is not shown.
        EXPECT_EQ(click("continueButton", {Box::No}).size(), 1);
        EXPECT_TRUE(visible("welcomePanel"));
        EXPECT_TRUE(test::snapshot(work()) == before);

        const QStringList agreed = opened({Box::Yes, Box::Ok});
        ASSERT_EQ(agreed.size(), 2);
        EXPECT_TRUE(agreed[1].contains("1 of them already in the log")) << agreed[1].toStdString();
        EXPECT_EQ(test::states(loadWorkingSet(paths.ProcessedPath, 1)),
                  (std::vector<std::string>{"OK", "UNP"}));
        EXPECT_EQ(logged(), 1);
        click("continueButton");
        EXPECT_TRUE(w->locationButton(1)->isEnabled() && w->locationButton(2)->isEnabled());
    }
}

TEST_F(AccidentTest, ChoosingALocationChecksTheWorkingFileFirst) {
    open();
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath, {{1, "APH", "396", "UNP"}, {2, "NL", "358", "AMB"}});
    open();
    click("continueButton");
    std::string file = test::readFile(paths.ProcessedPath);
    file.replace(102 + 99, 3, "???");
    test::writeFile(paths.ProcessedPath, file);
    MessageBoxAnswerer answerer({Box::No});
    w->locationButton(2)->setChecked(true);
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].contains("record 2 holds no valid state"));
    EXPECT_TRUE(visible("welcomePanel"));
    EXPECT_EQ(w->session().location(), 0);
    EXPECT_EQ(w->session().work().WorkCount(), 0);
}

TEST_F(AccidentTest, FinalizeSaysWhatIsLeftUnconverted) {
    const struct {
        const char* name;
        std::vector<test::Row> rows;
        QString facts;  // before the question
        QString done;   // part of the completion text
    } cases[] = {
        {"nothing waiting", {{1, "APH", "396", "OK"}}, "", kAllDone},
        {"two waiting",
         {{1, "NL", "358", "AMB"}, {1, "APH", "396", "OK"}, {2, "QQQ", "999", "MIS"}},
         "2 receptions are still waiting (ambiguous, unresolved or not yet matched) and will "
         "not be converted; Save To File on step two keeps a list of the ambiguous and "
         "unresolved ones.\n\n",
         "The conversion is finished, but 2 receptions were left unconverted."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open();
        writeSettings(paths, backups);
        test::writeProcessed(paths.ProcessedPath, c.rows);
        const QStringList texts = click("finalizeButton", {Box::Yes});
        ASSERT_EQ(texts.size(), 1);
        EXPECT_EQ(texts[0], c.facts + QString(kFinalizePrompt));
        const QString done = get<QLabel>("allDoneLabel")->text();
        EXPECT_TRUE(done.startsWith(c.done)) << done.toStdString();
        EXPECT_FALSE(fs::exists(paths.ProcessedPath));
    }
}

TEST_F(AccidentTest, FinalizeOnALockedDatabaseLeavesEveryFileAsItWas) {
    open();
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath, {{1, "APH", "396", "OK"}});
    compactProjectDatabase(paths);  // leaves the compacted copy ndbdata1.ndf
    ASSERT_TRUE(fs::exists(work() / "ndbdata1.ndf"));
    const auto before = test::snapshot(work());
    QStringList texts;
    {
        test::DatabaseLock lock(paths.DatabasePath);
        texts = click("finalizeButton", {Box::Yes, Box::Ok});
    }
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[1].contains(QString::fromStdString(paths.DatabasePath.string())));
    EXPECT_TRUE(test::snapshot(work()) == before);
    EXPECT_TRUE(visible("welcomePanel") || visible("locationStep"));
    EXPECT_FALSE(visible("allDoneLabel"));
}

TEST_F(AccidentTest, ADatabaseThatIsNoBeaconDatabaseIsNamedAtStartUp) {
    fs::create_directories(work());
    test::writeFile(work() / "ndbdata.ndf", "a letter saved under the wrong name");
    const QStringList texts = opened();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].contains(QString::fromStdString((work() / "ndbdata.ndf").string())));
    EXPECT_TRUE(texts[0].contains("not a beacon database"));
    EXPECT_FALSE(get("startNewButton")->isEnabled() || get("continueButton")->isEnabled());
    EXPECT_EQ(test::readFile(work() / "ndbdata.ndf"), "a letter saved under the wrong name");
}

TEST_F(AccidentTest, SaveToFileAsksBeforeReplacingAFileNoBeingTheDefault) {
    open();
    test::writeProcessed(paths.ProcessedPath, {{3, "NL", "358", "AMB"}});
    const fs::path folder = home / "reports";
    fs::create_directories(folder);
    const fs::path target = folder / "AmbiguousStations_Location3.txt";
    test::writeFile(target, "notes the listener keeps");
    FrmFileSave dialog(ReportKind::Ambiguous, 3, paths.ProcessedPath, folder);
    ASSERT_TRUE(dialog.folderBrowser()->openFolder(QString::fromStdString(folder.string())));
    dialog.show();
    const std::pair<Box::StandardButton, bool> answers[] = {
        {Box::NoButton, false}, {Box::No, false}, {Box::Yes, true}};
    for (const auto& [answer, replaced] : answers) {
        MessageBoxAnswerer answerer({answer});
        dialog.findChild<QPushButton*>("saveButton")->click();
        ASSERT_EQ(answerer.texts.size(), 1);
        EXPECT_TRUE(answerer.texts[0].contains(QString::fromStdString(target.string())));
        EXPECT_EQ(answerer.defaults.value(0), Box::No);
        EXPECT_EQ(test::readFile(target) != "notes the listener keeps", replaced);
        EXPECT_EQ(dialog.isVisible(), !replaced);
    }
}

// Two windows on one project: the second one's lists are out of date.
TEST_F(AccidentTest, ASecondWindowRefusesToLogAgainAndRefillsItsLists) {
    open();
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath,
                         {{1, "NL", "358", "AMB", "0100"}, {1, "NL", "358", "AMB", "0200"}});
    std::unique_ptr<FrmMain> first = std::move(w);
    open();
    for (FrmMain* window : {first.get(), w.get()}) {
        window->ShowLocationStep();
        window->locationButton(1)->setChecked(true);
    }
    auto logFirstRow = [](FrmMain& window, bool applyAll) {
        test::ListProbe(window.findChild<QTreeView*>("waitingList")).select(0);
        test::ListProbe(window.findChild<QTreeView*>("exactCandidateList")).select(0);
        window.findChild<QCheckBox*>("applyToAllCheck")->setChecked(applyAll);
        window.findChild<QPushButton*>("addToLogButton")->click();
    };
    logFirstRow(*first, true);
    ASSERT_EQ(logged(), 2);
    MessageBoxAnswerer answerer;
    logFirstRow(*w, false);
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].contains("already settled"));
    EXPECT_EQ(logged(), 2);
    EXPECT_EQ(probe("waitingList").rows(), 0);
}

TEST_F(AccidentTest, ASecondWindowThatMatchesTooLateShowsTheMatchedLocation) {
    open();
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath, {{1, "APH", "396", "UNP"}, {1, "NL", "358", "UNP"}});
    open();  // both windows start on the project: matching reads its backup folder
    std::unique_ptr<FrmMain> first = std::move(w);
    open();
    for (FrmMain* window : {first.get(), w.get()}) {
        window->ShowLocationStep();
        window->locationButton(1)->setChecked(true);
    }
    first->findChild<QPushButton*>("startMatchingButton")->click();
    ASSERT_EQ(logged(), 1);
    MessageBoxAnswerer answerer;
    get("startMatchingButton")->click();
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].contains("already settled"));
    EXPECT_EQ(logged(), 1);
    EXPECT_TRUE(visible("resolutionStep"));
    EXPECT_EQ(probe("waitingList").rows(), 1);
}

TEST(SingleInstanceTest, ASecondStartIsRefusedUntilTheFirstHasEndedEvenByKill) {
    test::TempDir home;
    fs::create_directories(home / "Documents");
#ifdef _WIN32
    // Windows gives a program its Documents folder from the shell, whatever
    // HOME says: the converter started here works in this user's
    // Documents\ZOLT, which under scripts/test-windows.sh lies in a Wine
    // prefix made for the test. One that is there already is somebody's
    // project and is left alone.
    const fs::path work =
        pathFromQString(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)) /
        "ZOLT";
    if (fs::exists(work)) GTEST_SKIP() << "a project is in " << work.string();
    struct Remove {
        fs::path folder;
        ~Remove() {
            std::error_code ec;
            fs::remove_all(folder, ec);
        }
    } removeAfterwards{work};
    const fs::path watched = work;
#else
    const fs::path work = home / "Documents" / "ZOLT";
    const fs::path watched = home.path();
#endif
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(home.path().string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((home / ".config").string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    auto start = [&](QProcess& process) {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QString::fromStdString(home.path().string()));
        process.start(QStringLiteral(ZOLT_CONVERTER), {});
        EXPECT_TRUE(process.waitForStarted(10000));
    };
    QProcess first;
    start(first);
    // The first has started once its database is in place.
    EXPECT_TRUE(QTest::qWaitFor([&] { return fs::exists(work / "ndbdata.ndf"); }, 20000));

    SingleInstance here(work);
    EXPECT_FALSE(here.acquire());
    EXPECT_TRUE(here.refusal().contains(QString::fromStdString(work.string())));
    // The program's own second start says so and touches nothing (its
    // message box is not answered here: the process is ended instead).
    const auto before = test::snapshot(watched);
    QProcess second;
    start(second);
    QByteArray said;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            said += second.readAllStandardError();
            return said.contains("already running");
        },
        20000))
        << said.toStdString();
    EXPECT_TRUE(test::snapshot(watched) == before);
    second.kill();
    second.waitForFinished();

    // Killed outright, the first leaves its lock behind; it is no obstacle.
#ifdef _WIN32
    first.kill();  // TerminateProcess: no chance to clean up
#else
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
#endif
    first.waitForFinished();
    EXPECT_TRUE(QFileInfo::exists(here.lockPath()));
    EXPECT_TRUE(here.acquire());
}

}  // namespace

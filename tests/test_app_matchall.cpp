// SPDX-License-Identifier: GPL-2.0-or-later
// Match All Locations in the window: the question, the locked window while
// it runs, the summary and the colours afterwards.
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>

#include "DbTestUtil.h"
#include "WindowTestUtil.h"
#include "app/MatchAllSummary.h"
#include "engine/Project.h"
#include "work/BackupImport.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::MessageBoxAnswerer;
using Box = QMessageBox;

namespace {

// Reads the summary when it opens and closes it with its OK button.
struct SummaryReader : QObject {
    QStringList lines;
    QTimer timer;
    SummaryReader() {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* dialog = qobject_cast<MatchAllSummaryDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            auto* table = dialog->findChild<QTreeView*>(QStringLiteral("matchAllSummary"));
            const test::ListProbe summary(table);
            for (int i = 0; table && i < summary.rows(); ++i) {
                QStringList cells;
                for (int c = 0; c < summary.columns(); ++c) cells << summary.text(i, c);
                lines << cells.join('|');
            }
            QTest::keyClick(dialog, Qt::Key_Return);  // OK is the default
        });
        timer.start(5);
    }
};

class MatchAllTest : public test::MainWindowTest {};

TEST_F(MatchAllTest, AsksFirstThenMatchesEveryWaitingLocationAndSumsThemUp) {
    // The summary names a location as the registry holds it.
    test::writeFile(home / "user.reg",
                    "WINE REGISTRY Version 2\n\n[Software\\\\ZOLT6.1\\\\ListeningLocations]\n"
                    "\"Location(0)\"=\"Bob & Ann's <b>cabin</b>\"\n");
    open();
    writeSettings(paths, backups);
    // Location 1: enough receptions that the run passes through the event
    // loop; location 2 is done; location 3 has one of each kind.
    std::vector<test::Row> rows(3000, {1, "APH", "396", "UNP"});
    rows.push_back({2, "APH", "396", "OK"});
    for (const char* ident : {"APH", "GL", "NOPE"}) {
        rows.push_back({3, ident, std::string(ident) == "GL" ? "201" : "396", "UNP"});
    }
    test::writeProcessed(paths.ProcessedPath, rows);
    open();  // the project as a start finds it: matching reads its backup folder
    w->ShowLocationStep();
    ASSERT_TRUE(get("matchAllButton")->isEnabled());
    const std::string before = test::readFile(paths.ProcessedPath);

    {
        MessageBoxAnswerer no;  // Return: No is the default
        get("matchAllButton")->click();
        ASSERT_EQ(no.texts.size(), 1);
        EXPECT_TRUE(no.texts[0].contains("2 locations") &&
                    no.texts[0].contains(QLocale().toString(3003)))
            << no.texts[0].toStdString();
        EXPECT_EQ(no.defaults, QList<Box::StandardButton>{Box::No});
        EXPECT_EQ(test::readFile(paths.ProcessedPath), before);
    }

    SummaryReader summary;
    const QStringList answers = click("matchAllButton", {Box::Yes});
    EXPECT_EQ(answers.size(), 1) << answers.join('\n').toStdString();
    const QLocale l;
    EXPECT_EQ(summary.lines,
              (QStringList{"Bob & Ann's <b>cabin</b> (1)|" + l.toString(3000) + "|" +
                               l.toString(3000) + "|0|0|0",
                           "Empty (3)|3|1|0|1|1",
                           "Total|" + l.toString(3003) + "|" + l.toString(3001) + "|0|1|1"}));
    EXPECT_EQ(w->locationColour(1), LocationColour::ButtonFace);
    EXPECT_EQ(w->locationColour(3), LocationColour::Yellow);
    EXPECT_FALSE(get("matchAllButton")->isEnabled());
    EXPECT_TRUE(get("finalizeButton")->isEnabled() && get("exitButton")->isEnabled());
    EXPECT_FALSE(get<QLabel>("matchAllLocationLabel")->isVisible());
}

TEST_F(MatchAllTest, AFailureIsOneMessageAndKeepsWhatWasMatched) {
    open();
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath, {{1, "APH", "396", "UNP"}, {2, "APH", "396", "UNP"}});
    open();  // the project as a start finds it: matching reads its backup folder
    w->ShowLocationStep();
    // Location 2 loses its number: its states cannot be saved.
    std::string bytes = test::readFile(paths.ProcessedPath);
    bytes[102 + 2] = 7;
    test::writeFile(paths.ProcessedPath, bytes);
    SummaryReader summary;
    const QStringList texts = click("matchAllButton", {Box::Yes});
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[1].contains("(location 2)") && texts[1].contains("processed.dat") &&
                texts[1].contains("The location matched before it stays matched."))
        << texts[1].toStdString();
    EXPECT_TRUE(summary.lines.isEmpty());
    EXPECT_EQ(w->locationColour(1), LocationColour::ButtonFace);
    EXPECT_EQ(w->locationColour(2), LocationColour::LightRed);
}

// A second window still offers Match All after the first matched the last
// waiting location: its refusal shows the locations, and the one chosen, as
// they now stand.
TEST_F(MatchAllTest, ARefusalAfterAnotherWindowMatchedShowsTheLocationsAsTheyNowAre) {
    open();
    writeSettings(paths, backups);
    for (const bool chosen : {false, true}) {
        SCOPED_TRACE(chosen ? "location 1 chosen" : "no location chosen");
        test::writeProcessed(paths.ProcessedPath,
                             {{1, "APH", "396", "UNP"}, {1, "NL", "358", "UNP"}});
        open();  // both windows start on the project: matching reads its backup folder
        std::unique_ptr<FrmMain> first = std::move(w);
        open();
        w->ShowLocationStep();
        if (chosen) w->locationButton(1)->setChecked(true);
        first->ShowLocationStep();
        first->locationButton(1)->setChecked(true);
        first->findChild<QPushButton*>("startMatchingButton")->click();
        ASSERT_NE(first->locationColour(1), LocationColour::LightRed);
        ASSERT_TRUE(get("matchAllButton")->isEnabled());

        const QStringList texts = click("matchAllButton");  // refused before any question
        ASSERT_EQ(texts.size(), 1);
        EXPECT_TRUE(texts[0].contains("No location has receptions waiting"))
            << texts[0].toStdString();
        EXPECT_EQ(w->locationColour(1), first->locationColour(1));
        EXPECT_FALSE(get("matchAllButton")->isEnabled());
        EXPECT_EQ(get<QWidget>("resolutionStep")->isVisible(), chosen);
        EXPECT_EQ(probe("waitingList").rows(), chosen ? 1 : 0);
    }
}

}  // namespace

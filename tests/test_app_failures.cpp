// SPDX-License-Identifier: GPL-2.0-or-later
// Every action of the window meets a database held by another program: it
// stops at the first failed read or write with one message that says so,
// writes nothing, and leaves the window showing what is true.
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "DbTestUtil.h"
#include "WindowTestUtil.h"
#include "app/MapWindow.h"
#include "engine/HomePosition.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::MessageBoxAnswerer;
using Box = QMessageBox;

namespace {

class LockedDatabaseTest : public test::MainWindowTest {
  public:
    using MainWindowTest::get;
    using MainWindowTest::probe;
    using MainWindowTest::w;

    // Location 1 half settled, with a typed home; location 2 not matched.
    void openProject() {
        open();
        writeSettings(paths, backups);
        test::writeProcessed(paths.ProcessedPath, {{1, "APH", "396", "OK"},
                                                   {1, "NL", "358", "AMB"},
                                                   {1, "AB", "999", "MIS"},
                                                   {2, "ML", "324", "UNP"}});
        Database(paths.DatabasePath)
            .execute("INSERT INTO NDBLog (Beacon_ID, loggedlocation) VALUES (1, 1)");
        writeHomeEntry(paths, 1, "JO62");
        w->ShowLocationStep();
    }
    void openLocation(int k) {
        w->locationButton(k)->setChecked(true);
        ASSERT_EQ(w->session().location(), k);
    }
    void selectReception() { probe("waitingList").select(0); }
    bool visible(const char* name) { return get<QWidget>(name)->isVisible(); }
    bool enabled(const char* name) { return get<QWidget>(name)->isEnabled(); }
};

TEST_F(LockedDatabaseTest, EachActionStopsAtTheLockWithOneMessageAndWritesNothing) {
    const struct {
        const char* name;
        std::function<void(LockedDatabaseTest&)> before;  // with the database free
        std::function<void(LockedDatabaseTest&)> act;     // with it held
        QList<Box::StandardButton> answers;               // confirmations first
        std::function<void(LockedDatabaseTest&)> after;   // the window tells no untruth
    } cases[] = {
        {"opening a location in progress",
         nullptr,
         [](auto& t) { t.w->locationButton(1)->setChecked(true); },
         {},
         [](auto& t) {
             EXPECT_TRUE(t.visible("locationStep"));
             EXPECT_EQ(t.w->session().location(), 0);
         }},
        {"selecting a reception",
         [](auto& t) { t.openLocation(1); },
         [](auto& t) { t.selectReception(); },
         {},
         [](auto& t) { EXPECT_FALSE(t.enabled("addToLogButton")); }},
        {"Set Home",
         [](auto& t) { t.openLocation(1); },
         [](auto& t) {
             t.template get<QLineEdit>("homeEntry")->setText("EN81");
             t.get("setHomeButton")->click();
         },
         {},
         [](auto& t) {
             EXPECT_EQ(t.template get<QLineEdit>("homeEntry")->text(), "EN81");
             EXPECT_TRUE(t.template get<QLabel>("homeLabel")->text().contains("JO62"));
         }},
        {"Add Suggested Picks",
         [](auto& t) { t.openLocation(1); },
         [](auto& t) { t.get("addSuggestedButton")->click(); },
         {},
         nullptr},
        {"Add To Log",
         [](auto& t) {
             t.openLocation(1);
             t.selectReception();
             t.probe("exactCandidateList").select(0);
         },
         [](auto& t) { t.get("addToLogButton")->click(); },
         {},
         nullptr},
        {"View Map",
         [](auto& t) { t.openLocation(1); },
         [](auto& t) { t.get("mapButton")->click(); },
         {},
         [](auto& t) { EXPECT_EQ(t.w->template findChild<MapWindow*>(), nullptr); }},
        {"START MATCHING",
         [](auto& t) { t.openLocation(2); },
         [](auto& t) { t.get("startMatchingButton")->click(); },
         {},
         [](auto& t) {
             EXPECT_TRUE(t.visible("locationStep"));
             EXPECT_EQ(t.w->locationColour(2), LocationColour::LightRed);
         }},
        {"Start Over",
         [](auto& t) { t.openLocation(1); },
         [](auto& t) { t.get("startOverButton")->click(); },
         {Box::Yes},
         nullptr},
        {"Start New Project",
         nullptr,
         [](auto& t) { t.get("startNewButton")->click(); },
         {Box::Yes},
         nullptr},
        {"FINALIZE",
         nullptr,
         [](auto& t) { t.get("finalizeButton")->click(); },
         {Box::Yes},
         [](auto& t) { EXPECT_TRUE(t.visible("locationStep")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        openProject();
        if (c.before) c.before(*this);
        const auto files = test::snapshot(home / "Documents" / "ZOLT");
        MessageBoxAnswerer answerer(c.answers);
        {
            test::DatabaseLock lock(paths.DatabasePath);
            c.act(*this);
        }
        ASSERT_EQ(answerer.texts.size(), c.answers.size() + 1)
            << answerer.texts.join("\n|").toStdString();
        EXPECT_TRUE(answerer.texts.back().contains("in use by another program"))
            << answerer.texts.back().toStdString();
        EXPECT_FALSE(answerer.texts.back().contains("database is locked"))
            << answerer.texts.back().toStdString();
        // The actions that log say that nothing was.
        const std::string name = c.name;
        if (name == "Add Suggested Picks" || name == "Add To Log" || name == "START MATCHING") {
            EXPECT_TRUE(answerer.texts.back().endsWith("Nothing was logged."))
                << answerer.texts.back().toStdString();
        }
        EXPECT_EQ(answerer.underBusyCursor, 0);
        EXPECT_EQ(test::snapshot(home / "Documents" / "ZOLT"), files);
        if (c.after) c.after(*this);
    }
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
// Export Log in the window: the buttons of steps one and two, the dialog's
// choices, the file it writes or the reason it cannot, and the step-two
// Date column sorted by the day it names.
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QRadioButton>
#include <QTimer>

#include "DbTestUtil.h"
#include "WindowTestUtil.h"
#include "app/ExportDialog.h"
#include "app/LogExportFile.h"
#include "engine/Project.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::MessageBoxAnswerer;

namespace {

class ExportWindowTest : public test::MainWindowTest {
  protected:
    ExportWindowTest() {
        open();
        // Location 1 writes the month first, 2 the day first, 3 shows neither.
        for (const auto& [location, date] : std::vector<std::pair<int, std::string>>{
                 {1, "12/24/99"}, {1, "05/09/97"}, {2, "24/12/99"}, {3, "01/02/03"}}) {
            Database(paths.DatabasePath)
                .prepare(
                    "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, "
                    "ReceptionDate) VALUES (2, ?, '1200', ?)")
                .bind({std::int64_t{location}, date})
                .execute();
        }
    }
    std::unique_ptr<ExportDialog> dialog(int selected = 0) {
        auto d = std::make_unique<ExportDialog>(
            readExportedLog(exportSourceFor(paths, 0, home / "user.reg")), selected);
        d->show();
        return d;
    }
    void choose(QComboBox* box, int data) { box->setCurrentIndex(box->findData(data)); }
};

TEST_F(ExportWindowTest, BothStepsOpenTheDialogOnTheSelectedLocation) {
    for (const auto& [button, panel] : {std::pair{"cmdExportLog", "picStepOne"},
                                        std::pair{"cmdExportLogStepTwo", "picStepTwo"}}) {
        auto* b = get(button);
        EXPECT_TRUE(get<QWidget>(panel)->isAncestorOf(b)) << button;
        EXPECT_FALSE(b->accessibleName().isEmpty()) << button;
    }
    {
        QSignalBlocker block(w->optLog(2));
        w->optLog(2)->setChecked(true);
    }
    int shown = -1;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<ExportDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        shown = d->locationBox()->currentData().toInt();
        d->reject();
    });
    get("cmdExportLog")->click();
    EXPECT_EQ(shown, 2);

    Database(paths.DatabasePath).execute("DELETE FROM NDBLog");
    const QStringList texts = click("cmdExportLogStepTwo", {QMessageBox::Ok});
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].contains("nothing to export")) << texts[0].toStdString();
}

TEST_F(ExportWindowTest, TheDetectedOrderIsPreselectedAndMixedDatesWaitForAChoice) {
    const struct {
        int location;
        int order;  // index of the preselected order; -1: none
        const char* says;
    } cases[] = {
        {0, -1, "mixed"},
        {1, 0, "month first (12/24/99)"},
        {2, 1, "day first (24/12/99)"},
        {3, 0, "No date shows"},
    };
    auto d = dialog();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        choose(d->locationBox(), c.location);
        EXPECT_EQ(d->dateOrderBox()->currentIndex(), c.order);
        EXPECT_EQ(d->exportButton()->isEnabled(), c.order >= 0);
        EXPECT_TRUE(d->datesLabel()->text().contains(c.says))
            << d->datesLabel()->text().toStdString();
    }
    choose(d->locationBox(), 0);
    d->dateOrderBox()->setCurrentIndex(1);
    EXPECT_TRUE(d->exportButton()->isEnabled());
}

TEST_F(ExportWindowTest, WritesTheChosenFileOrSaysWhyNotAndStays) {
    const fs::path plain = home / "plain";
    test::writeFile(plain, "x");
    auto d = dialog(1);
    d->formatBox()->setCurrentIndex(2);  // KML
    QString offered;
    QString answer;
    d->chooseFile = [&](const QString& suggested, const QString&) {
        offered = suggested;
        return answer;
    };
    const auto before = test::snapshot(home.path());
    for (const fs::path& bad : {plain / "log.kml", home / (std::string(300, 'x') + ".kml")}) {
        MessageBoxAnswerer answerer({QMessageBox::Ok});
        answer = QString::fromStdString(bad.string());
        d->exportButton()->click();
        ASSERT_EQ(answerer.texts.size(), 1);
        EXPECT_TRUE(answerer.texts[0].contains(answer)) << answerer.texts[0].toStdString();
        EXPECT_TRUE(d->isVisible());
    }
    answer.clear();  // the save dialog cancelled
    d->exportButton()->click();
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(test::snapshot(home.path()), before);
    EXPECT_TRUE(offered.endsWith("ndb-log-location-1.kml")) << offered.toStdString();

    // A name without an ending gets the chosen format's.
    MessageBoxAnswerer answerer({QMessageBox::Ok});
    answer = QString::fromStdString((home / "out").string());
    d->exportButton()->click();
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(answerer.texts[0], d->summary());
    EXPECT_TRUE(d->summary().startsWith("1 beacon of 2 receptions of 1 location written to "));
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_TRUE(test::readFile(home / "out.kml").starts_with("<?xml"));
    EXPECT_EQ(ExportDialog::lastFolder,
              QDir::fromNativeSeparators(QString::fromStdString(home.path().string())));
}

TEST_F(ExportWindowTest, StepTwoDatesSortByTheDayTheyName) {
    std::vector<test::Row> rows;
    for (const char* date : {"junk", "02/17/01", "05/09/97", "12/27/96"}) {
        rows.push_back({1, "ID", "400", "AMB", "1200", date});
    }
    writeSettings(paths, backups);
    test::writeProcessed(paths.ProcessedPath, rows);
    {
        QSignalBlocker block(w->optLog(1));
        w->optLog(1)->setChecked(true);
    }
    w->FillAmbiguousList();
    auto* list = tree("lvLoggedDuplicates");
    const auto dates = [list] {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            out << list->topLevelItem(i)->text(4).trimmed();
        }
        return out;
    };
    list->sortByColumn(4, Qt::AscendingOrder);
    EXPECT_EQ(dates(), QStringList({"12/27/96", "05/09/97", "02/17/01", "junk"}));
    list->sortByColumn(4, Qt::DescendingOrder);
    EXPECT_EQ(dates(), QStringList({"02/17/01", "05/09/97", "12/27/96", "junk"}));
}

}  // namespace

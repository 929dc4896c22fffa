// SPDX-License-Identifier: GPL-2.0-or-later
// Export Log in the window: the buttons of steps one and two, the dialog's
// choices, the file it writes or the reason it cannot, and the step-two
// Date column sorted by the day it names.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>

#include "DbTestUtil.h"
#include "WindowTestUtil.h"
#include "app/ExportDialog.h"
#include "app/LogExportFile.h"
#include "app/ShownNumbers.h"
#include "core/TextFields.h"
#include "engine/HomePosition.h"
#include "engine/KmlExport.h"
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
    for (const auto& [button, panel] : {std::pair{"exportLogButton", "locationStep"},
                                        std::pair{"exportLogStepTwoButton", "resolutionStep"}}) {
        auto* b = get(button);
        EXPECT_TRUE(get<QWidget>(panel)->isAncestorOf(b)) << button;
        EXPECT_FALSE(b->accessibleName().isEmpty()) << button;
    }
    test::writeProcessed(paths.ProcessedPath, {{2, "ID", "400", "AMB"}});
    w->session().choose(2);
    int shown = -1;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<ExportDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        shown = d->locationBox()->currentData().toInt();
        d->reject();
    });
    get("exportLogButton")->click();
    EXPECT_EQ(shown, 2);

    Database(paths.DatabasePath).execute("DELETE FROM NDBLog");
    const QStringList texts = click("exportLogStepTwoButton", {QMessageBox::Ok});
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].contains("nothing to export")) << texts[0].toStdString();
}

TEST_F(ExportWindowTest, EachLocationShowsItsOwnOrderAndOnlyMixedOnesWait) {
    // Location 4 mixes both orders.
    for (const char* date : {"24/12/99", "12/24/99"}) {
        Database(paths.DatabasePath)
            .prepare(
                "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate) "
                "VALUES (2, 4, '1200', ?)")
            .bind({std::string(date)})
            .execute();
    }
    const struct {
        int location;
        int order;  // index of the preselected order; -1: none
        const char* says;
    } rows[] = {
        {1, 0, "month first (12/24/99)"},
        {2, 1, "day first (24/12/99)"},
        {3, 0, "No date shows"},
        {4, -1, "mixed"},
    };
    auto d = dialog();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.location);
        EXPECT_EQ(d->dateOrderBox(row.location)->currentIndex(), row.order);
        EXPECT_TRUE(d->datesLabel(row.location)->text().contains(row.says))
            << d->datesLabel(row.location)->text().toStdString();
    }
    EXPECT_EQ(d->dateOrderBox(5), nullptr);
    // Every location of the export is shown; one alone shows only its own row.
    const struct {
        int location;
        std::vector<int> shown;
        bool enabled;
    } views[] = {{0, {1, 2, 3, 4}, false}, {2, {2}, true}, {4, {4}, false}};
    for (const auto& view : views) {
        SCOPED_TRACE(view.location);
        choose(d->locationBox(), view.location);
        for (int n = 1; n <= 4; ++n) {
            const bool shown =
                std::find(view.shown.begin(), view.shown.end(), n) != view.shown.end();
            EXPECT_EQ(d->dateOrderBox(n)->isVisible(), shown) << n;
        }
        EXPECT_EQ(d->exportButton()->isEnabled(), view.enabled);
    }
    d->dateOrderBox(4)->setCurrentIndex(1);
    EXPECT_TRUE(d->exportButton()->isEnabled());

    // All locations in one file, each read in its own order.
    choose(d->locationBox(), 0);
    d->chooseFile = [&](const QString&, const QString&) {
        return QString::fromStdString((home / "all.csv").string());
    };
    MessageBoxAnswerer answerer({QMessageBox::Ok});
    d->exportButton()->click();
    const std::string csv = test::readFile(home / "all.csv");
    for (const char* date : {",1999-12-24,", ",1997-05-09,", ",2003-01-02,"}) {
        EXPECT_NE(csv.find(date), std::string::npos) << date;
    }
    EXPECT_EQ(csv.find("1997-09-05"), std::string::npos);
}

TEST_F(ExportWindowTest, SaysWhatTheChosenFormatLeavesOutAndOffersItsOptions) {
    // Location 1 has a typed home; an own beacon without a position; a time
    // ADIF cannot hold.
    writeSettings(paths, backups);
    writeHomeEntry(paths, 1, "JO57fa");
    Database db(paths.DatabasePath);
    db.execute(
        "INSERT INTO NewBeacons (Ident, Country, State, City, frequency) "
        "VALUES ('QQ', 'CAN', 'ON', 'Nowhere', 400)");
    db.execute(
        "INSERT INTO NDBLog (Beacon_ID, loggedlocation, ReceptionTime, ReceptionDate) "
        "VALUES (20001, 1, '', '12/24/99')");
    auto d = dialog(0);
    d->dateOrderBox(1)->setCurrentIndex(0);
    const struct {
        int format;
        bool exact, callsign;
        std::vector<const char*> says;
    } cases[] = {
        {0, true, false, {"No home was typed for location 2, location 3: "}},
        {1, true, false, {"No home was typed"}},
        {2, false, true, {"No home was typed", "1 without a usable time"}},
        {3, false, false, {"No home was typed", "1 beacon has no known position"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        d->formatBox()->setCurrentIndex(c.format);
        EXPECT_EQ(d->exactTextBox()->isVisible(), c.exact);
        EXPECT_EQ(d->stationCallsignEdit()->isVisible(), c.callsign);
        const QString notes = d->notesLabel()->text();
        for (const char* text : c.says) EXPECT_TRUE(notes.contains(text)) << notes.toStdString();
        EXPECT_EQ(notes.contains("usable time"), c.format == 2);
        EXPECT_EQ(notes.contains("position and"), c.format == 3);
    }
    choose(d->locationBox(), 1);
    EXPECT_FALSE(d->notesLabel()->text().contains("No home was typed"));
}

TEST_F(ExportWindowTest, FormatOptionsReachTheFileAndTheCallsignIsRemembered) {
    Database(paths.DatabasePath)
        .execute("UPDATE NDBLog SET ReceptionComments = '=1+1' WHERE loggedlocation = 1");
    const struct {
        int format;
        bool exact;
        const char* file;
        const char* starts;
        const char* holds;
    } cases[] = {
        {0, false, "plain.csv", "location,", ",'=1+1,"},
        {0, true, "exact.csv", "location,", ",=1+1,"},
        {1, false, "excel.csv", "\xEF\xBB\xBFlocation,", ",'=1+1,"},
        {2, false, "log.adi", "Receptions", "<STATION_CALLSIGN:6>DE1234 <OPERATOR:6>DE1234 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        auto d = dialog(1);
        d->formatBox()->setCurrentIndex(c.format);
        d->exactTextBox()->setChecked(c.exact);
        if (c.format == 2) d->stationCallsignEdit()->setText(" DE1234 ");
        d->chooseFile = [&](const QString&, const QString&) {
            return QString::fromStdString((home / c.file).string());
        };
        MessageBoxAnswerer answerer({QMessageBox::Ok});
        d->exportButton()->click();
        const std::string bytes = test::readFile(home / c.file);
        EXPECT_TRUE(bytes.starts_with(c.starts));
        EXPECT_NE(bytes.find(c.holds), std::string::npos) << bytes;
    }
    EXPECT_EQ(dialog()->stationCallsignEdit()->text(), "DE1234");
}

TEST_F(ExportWindowTest, WritesTheChosenFileOrSaysWhyNotAndStays) {
    const fs::path plain = home / "plain";
    test::writeFile(plain, "x");
    auto d = dialog(1);
    d->formatBox()->setCurrentIndex(3);  // KML
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
    w->session().choose(1);
    const test::ListProbe list = probe("waitingList");
    list.sort("Date", Qt::AscendingOrder);
    EXPECT_EQ(list.texts("Date"), QStringList({"12/27/96", "05/09/97", "02/17/01", "junk"}));
    list.sort("Date", Qt::DescendingOrder);
    EXPECT_EQ(list.texts("Date"), QStringList({"02/17/01", "05/09/97", "12/27/96", "junk"}));
}

// A number reads alike wherever the listener sees it, whether the window
// wrote the sentence or the engine did, in the locale's way; what goes into
// a file stays as it always was.
TEST(ShownNumbers, TheLocalesFormatOnScreenAndNeverInFiles) {
    const QLocale before;
    showNumbersAsTheLocaleDoes();
    ExportedLog log;
    ExportedLocation place;
    place.number = 1;
    place.home = LatLon{55.6, 12.6};
    log.locations.push_back(place);
    ExportedReception r;
    r.location = 1;
    r.beaconId = 2;
    r.position = LatLon{56.0, 10.0};
    r.distanceKm = 12345.0;
    log.receptions.assign(1001, r);
    QLocale::setDefault(QLocale::c());
    const std::string kml = writeKml(log, DateOrders());
    const std::string csv = writeCsv(log, {});

    const struct {
        QLocale locale;
        const char* one;
        const char* two;
        const char* thousand;
        const char* many;  // 36056
    } cases[] = {
        {QLocale::c(), "1 beacon", "2 beacons", "1000 beacons", "36056 beacons"},
        {QLocale(QLocale::English, QLocale::UnitedStates), "1 beacon", "2 beacons", "1,000 beacons",
         "36,056 beacons"},
        {QLocale(QLocale::German, QLocale::Germany), "1 beacon", "2 beacons", "1.000 beacons",
         "36.056 beacons"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        QLocale::setDefault(c.locale);
        const std::pair<long long, const char*> counts[] = {
            {1, c.one}, {2, c.two}, {1000, c.thousand}, {36056, c.many}};
        for (const auto& [n, text] : counts) {
            EXPECT_EQ(counted(n, "beacon", "beacons"), text);
            EXPECT_EQ(shownCount(n, "beacon", "beacons"), text);
            LocationHome home;
            home.source = LocationHome::Source::Inferred;
            home.position = LatLon{55.6, 12.6};
            home.beaconCount = static_cast<int>(n);
            EXPECT_TRUE(describeHome(home).ends_with(std::string("inferred from ") + text))
                << describeHome(home);
        }
        EXPECT_EQ(writeKml(log, DateOrders()), kml);
        EXPECT_EQ(writeCsv(log, {}), csv);
        EXPECT_NE(kml.find("12,345 km from home&lt;br&gt;1,001 receptions"), std::string::npos);
    }
    QLocale::setDefault(before);
}

}  // namespace

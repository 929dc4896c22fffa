// SPDX-License-Identifier: GPL-2.0-or-later
// Captures each panel of the converter, the map and the report dialog as PNG files,
// driving the real window through a conversion of the given backups in a
// temporary home folder. Run under a display (scripts/screenshots.sh uses Xvfb).
//
//   zolt-screenshots APPDATA BACKUPS REGISTRY OUTDIR
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>

#include "app/ExportDialog.h"
#include "app/FrmFileSave.h"
#include "app/FrmMain.h"
#include "app/LogExportFile.h"
#include "app/MapWindow.h"
#include "app/StepZeroLists.h"
#include "engine/Project.h"

namespace fs = std::filesystem;

namespace {

void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

bool save(QWidget& widget, const QString& folder, const char* name) {
    settle();
    const QString path = QDir(folder).filePath(QString::fromLatin1(name) + ".png");
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "zolt-screenshots: could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Presses Yes on the confirmation box that the next action opens.
void answerYes() {
    QTimer::singleShot(50, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::Yes)->click();
        }
    });
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: zolt-screenshots APPDATA BACKUPS REGISTRY OUTDIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[4]);
    QDir().mkpath(out);
    // A home of a fixed name, so that the pictures are the same on every run.
    struct Home {
        QDir dir{QDir::temp().filePath(QStringLiteral("zolt-screenshots"))};
        Home() {
            dir.removeRecursively();
            dir.mkpath(QStringLiteral("."));
        }
        ~Home() { dir.removeRecursively(); }
        QString path() const { return dir.absolutePath(); }
    } home;
    const fs::path documents = fs::path(home.path().toStdString()) / "Documents";
    fs::create_directories(documents);

    zolt::FrmMain window({documents, argv[1], argv[3]});
    // The size the window opens with, so that the pictures show what a
    // listener sees first.
    window.show();
    window.startUp();
    bool ok = save(window, out, "welcome");

    answerYes();
    window.findChild<QPushButton*>("startNewButton")->click();
    window.folderBrowser()->openFolder(QString::fromLocal8Bit(argv[2]));
    ok &= save(window, out, "step-zero");

    window.findChild<QPushButton*>("startConversionButton")->click();
    int location = 1;
    while (location < 16 && !window.locationButton(location)->isEnabled()) ++location;
    window.locationButton(location)->setChecked(true);
    ok &= save(window, out, "step-one");

    window.findChild<QPushButton*>("startMatchingButton")->click();
    auto* upper = window.findChild<QTreeWidget*>("waitingList");
    if (upper->topLevelItemCount() > 0) upper->setCurrentItem(upper->topLevelItem(0));
    auto* exact = window.findChild<QTreeWidget*>("exactCandidateList");
    if (exact->topLevelItemCount() > 0) exact->setCurrentItem(exact->topLevelItem(0));
    ok &= save(window, out, "step-two-ambiguous");

    // The location's map, with the candidates of the reception selected above.
    zolt::MapWindow map(window.paths(), location, fs::path(argv[1]) / zolt::kLandOutlineFile);
    map.showCandidates(zolt::rankExact(
        zolt::exactCandidates(window.paths().DatabasePath, window.selection.SelectedIdent,
                              window.selection.SelectedFrequency),
        zolt::locationHome(window.paths(), location).position));
    // The button doubles an ampersand of the name, so that it is no shortcut.
    map.setLocationName(
        window.locationButton(location)->text().replace(QStringLiteral("&&"), QStringLiteral("&")));
    map.resize(1000, 800);
    map.show();
    ok &= save(map, out, "map");
    map.close();

    window.findChild<QPushButton*>("showUnresolvedButton")->click();
    if (upper->topLevelItemCount() > 0) upper->setCurrentItem(upper->topLevelItem(0));
    ok &= save(window, out, "step-two-unresolved");

    // Suggested picks: the candidates of an unresolved reception sorted by
    // distance, the suggested one (bold) chosen as F2 chooses it.
    auto* possible = window.findChild<QTreeWidget*>("prefixCandidateList");
    for (int i = 0; i < upper->topLevelItemCount(); ++i) {
        if (upper->topLevelItem(i)->text(1).trimmed() == QLatin1String("DL")) {
            upper->setCurrentItem(upper->topLevelItem(i));
        }
    }
    const int distance = possible->columnCount() - 2;
    possible->header()->setSortIndicatorShown(true);
    possible->sortItems(distance, Qt::AscendingOrder);
    for (int i = 0; i < possible->topLevelItemCount(); ++i) {
        if (possible->topLevelItem(i)->font(0).bold()) {
            possible->setCurrentItem(possible->topLevelItem(i));
        }
    }
    ok &= save(window, out, "step-two-suggested");

    zolt::FrmFileSave dialog(
        window.ReportIsAmbiguous ? zolt::ReportKind::Ambiguous : zolt::ReportKind::Unresolved,
        location, window.paths().ProcessedPath, {}, &window);
    const QString reports = QDir(home.path()).filePath(QStringLiteral("Reports"));
    QDir().mkpath(reports);
    dialog.folderBrowser()->openFolder(reports);
    dialog.show();
    ok &= save(dialog, out, "save-dialog");
    dialog.close();

    // Export Log on the location just converted.
    zolt::ExportDialog exporter(
        zolt::readExportedLog(zolt::exportSourceFor(window.paths(), 0, argv[3])), location,
        &window);
    exporter.show();
    ok &= save(exporter, out, "export-dialog");
    exporter.close();

    // The logged view after Add Suggested Picks: every settled reception with
    // its beacon and how it was decided, a suggested one selected.
    answerYes();
    window.findChild<QPushButton*>("addSuggestedButton")->click();
    settle();
    window.findChild<QPushButton*>("showLoggedButton")->click();
    auto* logged = window.findChild<QTreeWidget*>("loggedList");
    const int how = logged->columnCount() - 1;
    for (int i = logged->topLevelItemCount() - 1; i >= 0; --i) {
        if (logged->topLevelItem(i)->text(how) == QLatin1String("suggested")) {
            logged->setCurrentItem(logged->topLevelItem(i));
        }
    }
    ok &= save(window, out, "step-two-logged");
    return ok ? 0 : 1;
}

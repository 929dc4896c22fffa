// SPDX-License-Identifier: GPL-2.0-or-later
// Captures each panel of the converter, the map and the report dialog as PNG files,
// driving the real window through a conversion of the given backups in a
// temporary home folder. Run under a display (scripts/screenshots.sh uses Xvfb).
//
//   zolt-screenshots APPDATA BACKUPS REGISTRY OUTDIR
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "app/ExportDialog.h"
#include "app/FrmFileSave.h"
#include "app/FrmMain.h"
#include "app/LogExportFile.h"
#include "app/MapWindow.h"
#include "app/ResolutionStep.h"
#include "app/StepZeroLists.h"
#include "engine/Project.h"

namespace fs = std::filesystem;

namespace {

// The lists are read through their views' models, whatever view shows them.
QTreeView* list(QWidget& window, const char* name) {
    return window.findChild<QTreeView*>(QString::fromLatin1(name));
}

int columnOf(const QTreeView* view, const char* header) {
    const QAbstractItemModel* model = view->model();
    for (int c = 0; c < model->columnCount(); ++c) {
        if (model->headerData(c, Qt::Horizontal).toString().trimmed() == QLatin1String(header)) {
            return c;
        }
    }
    return -1;
}

// The first row (or the last, from the end) of which `accept` approves; -1 when none.
int findRow(const QTreeView* view, const std::function<bool(const QModelIndex&)>& accept,
            bool last = false) {
    const int rows = view->model()->rowCount();
    for (int i = 0; i < rows; ++i) {
        const int row = last ? rows - 1 - i : i;
        if (accept(view->model()->index(row, 0))) return row;
    }
    return -1;
}

// Makes `row` current and selected, as a click would; nothing when it is -1.
void selectRow(QTreeView* view, int row) {
    if (row >= 0 && row < view->model()->rowCount()) {
        view->setCurrentIndex(view->model()->index(row, 0));
    }
}

QString cell(const QModelIndex& row, int column) {
    return row.siblingAtColumn(column).data().toString().trimmed();
}

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
    QTreeView* upper = list(window, "waitingList");
    selectRow(upper, 0);
    selectRow(list(window, "exactCandidateList"), 0);
    ok &= save(window, out, "step-two-ambiguous");

    // The location's map, with the candidates of the reception selected above.
    const auto* stepTwo = window.findChild<zolt::ResolutionStep*>();
    zolt::MapWindow map(window.paths(), location, fs::path(argv[1]) / zolt::kLandOutlineFile);
    map.showCandidates(zolt::rankExact(
        zolt::exactCandidates(window.paths().DatabasePath, stepTwo->selection().SelectedIdent,
                              stepTwo->selection().SelectedFrequency),
        zolt::locationHome(window.paths(), location).position));
    // The button doubles an ampersand of the name, so that it is no shortcut.
    map.setLocationName(
        window.locationButton(location)->text().replace(QStringLiteral("&&"), QStringLiteral("&")));
    map.resize(1000, 800);
    map.show();
    ok &= save(map, out, "map");
    map.close();

    window.findChild<QPushButton*>("showUnresolvedButton")->click();
    selectRow(upper, 0);
    ok &= save(window, out, "step-two-unresolved");

    // Suggested picks: the candidates of an unresolved reception sorted by
    // distance, the suggested one (bold) chosen as F2 chooses it.
    QTreeView* possible = list(window, "prefixCandidateList");
    const int ident = columnOf(upper, "Ident");
    selectRow(
        upper,
        findRow(
            upper, [ident](const QModelIndex& row) { return cell(row, ident) == "DL"; }, true));
    possible->header()->setSortIndicatorShown(true);
    possible->sortByColumn(columnOf(possible, "Distance"), Qt::AscendingOrder);
    selectRow(possible, findRow(
                            possible,
                            [](const QModelIndex& row) {
                                return row.data(Qt::FontRole).value<QFont>().bold();
                            },
                            true));
    ok &= save(window, out, "step-two-suggested");

    zolt::FrmFileSave dialog(
        zolt::ReportKind::Unresolved, location, window.paths().ProcessedPath, {}, &window);
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
    QTreeView* logged = list(window, "loggedList");
    const int how = columnOf(logged, "How");
    selectRow(logged, findRow(logged, [how](const QModelIndex& row) {
                  return cell(row, how) == QLatin1String("suggested");
              }));
    ok &= save(window, out, "step-two-logged");
    return ok ? 0 : 1;
}

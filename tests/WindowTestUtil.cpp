// SPDX-License-Identifier: GPL-2.0-or-later
#include "WindowTestUtil.h"

#include <QFont>
#include <QHeaderView>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <algorithm>
#include <set>

#ifdef _WIN32
#include <windows.h>
#endif

#include "app/ReceptionModels.h"
#include "engine/Project.h"
#include "work/BackupImport.h"

namespace zolt::test {

QApplication& application() { return *qobject_cast<QApplication*>(QCoreApplication::instance()); }

bool underWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

MessageBoxAnswerer::MessageBoxAnswerer(QList<QMessageBox::StandardButton> answers)
    : answers_(std::move(answers)) {
    connect(&timer_, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
    timer_.start(10);
}

MessageBoxAnswerer::~MessageBoxAnswerer() = default;

void MessageBoxAnswerer::poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    texts << box->text();
    defaults << box->standardButton(box->defaultButton());
    if (QApplication::overrideCursor()) ++underBusyCursor;
    const auto answer = answers_.isEmpty() ? QMessageBox::NoButton : answers_.takeFirst();
    if (answer == QMessageBox::NoButton) {
        QTest::keyClick(box, Qt::Key_Return);  // whatever the default is
    } else {
        box->button(answer)->click();
    }
}

QModelIndex ListProbe::index(int row, int column) const {
    const QModelIndex at = view_->model()->index(row, column);
    if (!at.isValid()) ADD_FAILURE() << "no cell " << row << ", " << column;
    return at;
}

int ListProbe::rows() const { return view_->model()->rowCount(); }

int ListProbe::columns() const { return view_->model()->columnCount(); }

QString ListProbe::header(int column) const {
    return view_->model()->headerData(column, Qt::Horizontal).toString();
}

int ListProbe::columnOrNone(const QString& header) const {
    for (int c = 0; c < columns(); ++c) {
        if (this->header(c).trimmed() == header.trimmed()) return c;
    }
    return -1;
}

int ListProbe::column(const QString& header) const {
    const int found = columnOrNone(header);
    if (found < 0) ADD_FAILURE() << "no column " << header.toStdString();
    return found;
}

QString ListProbe::text(int row, int column) const {
    return index(row, column).data().toString().trimmed();
}

QStringList ListProbe::texts(const QString& header) const {
    const int c = column(header);
    QStringList cells;
    for (int r = 0; r < rows(); ++r) cells << text(r, c);
    return cells;
}

QVariant ListProbe::data(int row, int column, int role) const {
    return index(row, column).data(role);
}

QFont ListProbe::font(int row, int column) const {
    const QVariant set = data(row, column, Qt::FontRole);
    return set.isValid() ? set.value<QFont>().resolve(view_->font()) : view_->font();
}

int ListProbe::find(const QString& header, const QString& text) const {
    const int c = column(header);
    for (int r = 0; r < rows(); ++r) {
        if (this->text(r, c) == text) return r;
    }
    return -1;
}

void ListProbe::select(int row) const {
    view_->selectionModel()->setCurrentIndex(
        index(row), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ListProbe::addToSelection(int row) const {
    view_->selectionModel()->select(index(row),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view_->selectionModel()->setCurrentIndex(index(row), QItemSelectionModel::NoUpdate);
}

std::vector<int> ListProbe::selectedRows() const {
    std::set<int> rows;
    for (const QModelIndex& cell : view_->selectionModel()->selectedIndexes()) {
        rows.insert(cell.row());
    }
    return {rows.begin(), rows.end()};
}

int ListProbe::currentRow() const {
    const QModelIndex current = view_->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void ListProbe::sort(const QString& header, Qt::SortOrder order) const {
    view_->sortByColumn(column(header), order);
}

std::int64_t ListProbe::beaconId(int row) const {
    const QVariant id = data(row, 0, BeaconIdRole);
    if (!id.isValid()) ADD_FAILURE() << "row " << row << " names no beacon";
    return id.toLongLong();
}

MainWindowTest::MainWindowTest() {
    application();
    useHome(home.path());
    std::filesystem::create_directories(appData);
    copyPristineDatabase(appData / "ndbdata.ndf");
    std::filesystem::create_directories(backups);
}

FrmMain& MainWindowTest::open() {
    w.reset();
    w = std::make_unique<FrmMain>(FrmMain::Options{home / "Documents", appData, home / "user.reg"});
    w->show();
    w->startUp();
    paths = w->paths();
    return *w;
}

QStringList MainWindowTest::click(const char* name, QList<QMessageBox::StandardButton> answers) {
    MessageBoxAnswerer answerer(std::move(answers));
    get(name)->click();
    return answerer.texts;
}

void MainWindowTest::openDemoMatched() {
    w.reset();
    std::filesystem::remove_all(home / "Documents");
    const ProjectPaths project = projectPathsFor(home / "Documents");
    std::filesystem::create_directories(project.WorkFolder);
    writeSettings(project, backups);
    buildProcessedFile(backups, project.ProcessedPath, LogSource::Backups);
    open();
    w->ShowLocationStep();
    w->locationButton(1)->setChecked(true);
    get("startMatchingButton")->click();
}

}  // namespace zolt::test

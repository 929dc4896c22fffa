// SPDX-License-Identifier: GPL-2.0-or-later
#include "WindowTestUtil.h"

#include <QRadioButton>
#include <QTest>

#ifdef _WIN32
#include <windows.h>
#endif

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

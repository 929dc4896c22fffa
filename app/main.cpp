// SPDX-License-Identifier: GPL-2.0-or-later
#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>

#include "app/CommandLine.h"
#include "app/FrmMain.h"
#include "app/NativePath.h"
#include "app/ShownNumbers.h"
#include "app/SingleInstance.h"
#include "engine/Project.h"

int main(int argc, char* argv[]) {
    zolt::showNumbersAsTheLocaleDoes();
    // --export and --help run without a window, so before the display check.
    if (const auto code = zolt::runCommandLine(argc, argv)) return *code;
#if !defined(_WIN32) && !defined(__APPLE__)
    // Without a display the toolkit aborts with a terse message; say what to do.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM") && !zolt::choosesPlatform(argc, argv)) {
        std::fprintf(stderr,
                     "zolt-converter: no graphical display is available (DISPLAY is not set).\n"
                     "Run it on a desktop, or under a virtual display:\n"
                     "  xvfb-run -a %s\n",
                     argv[0]);
        return 2;
    }
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zolt-converter"));

    zolt::FrmMain::Options options;
    options.documentsFolder =
        zolt::pathFromQString(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    options.appDataFolder =
        zolt::applicationDataFolder(zolt::pathFromQString(QCoreApplication::applicationDirPath()));

    // One window per project: the second start touches nothing and ends.
    zolt::SingleInstance instance(zolt::projectPathsFor(options.documentsFolder).WorkFolder);
    if (!instance.acquire()) {
        std::fprintf(stderr, "zolt-converter: %s\n", qPrintable(instance.refusal()));
        QMessageBox::warning(nullptr, QStringLiteral("Database Converter"), instance.refusal());
        return 1;
    }

    zolt::FrmMain window(options);
    window.show();
    window.startUp();
    return app.exec();
}

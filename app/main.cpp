// SPDX-License-Identifier: GPL-2.0-or-later
#include <QApplication>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>

#include "app/CommandLine.h"
#include "app/FrmMain.h"
#include "engine/Project.h"

int main(int argc, char* argv[]) {
    // --export and --help run without a window, so before the display check.
    if (const auto code = zolt::runCommandLine(argc, argv)) return *code;
#if !defined(_WIN32) && !defined(__APPLE__)
    // Without a display the toolkit aborts with a terse message; say what to do.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM")) {
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
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
    options.appDataFolder =
        zolt::applicationDataFolder(QCoreApplication::applicationDirPath().toStdString());

    zolt::FrmMain window(options);
    window.show();
    window.startUp();
    return app.exec();
}

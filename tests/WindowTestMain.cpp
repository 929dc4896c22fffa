// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

#include "app/ShownNumbers.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Window tests never need a screen; the build also runs this program to
    // list its tests, outside CTest's environment.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program does at start-up.
    zolt::showNumbersAsTheLocaleDoes();
    return RUN_ALL_TESTS();
}

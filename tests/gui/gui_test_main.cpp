// SPDX-License-Identifier: Apache-2.0
// The widget tests need one QApplication for the whole executable.
#include <gtest/gtest.h>

#include <QApplication>

#include "gui/display_setup.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    reburn3::prepareDisplayConnection();  // as the program does, for the tests on X
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

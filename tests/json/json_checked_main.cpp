// SPDX-License-Identifier: Apache-2.0
// The main of the test programs that run `reburn3` and read what it prints: a Qt core
// application for the processes they start, and every JSON line they read checked
// against the published schema when the program ends.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "json/json_lines_check.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    reburn3::json_check::checkJsonLinesAtExit();
    return RUN_ALL_TESTS();
}

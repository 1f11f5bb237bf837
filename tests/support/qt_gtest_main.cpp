// SPDX-License-Identifier: Apache-2.0
// The main of the test programs whose units need a Qt event loop (timers, queued calls):
// one QCoreApplication, then every test.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

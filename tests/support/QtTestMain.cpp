// SPDX-License-Identifier: MIT
// GoogleTest entry point for suites that need a Qt event loop (queued calls, timers, sockets).

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

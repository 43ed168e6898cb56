// SPDX-License-Identifier: MIT
// A panel's tray on the session bus, for end-to-end starts: takes the StatusNotifierWatcher name,
// registers its host and prints every item that registers, one line each. Runs until killed.

#include "support/FakeStatusNotifierWatcher.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    exitwise::test::FakeStatusNotifierWatcher watcher;
    if (!watcher.registerOn(QDBusConnection::sessionBus())) {
        std::fprintf(stderr, "cannot take the watcher name\n");
        return 1;
    }
    QObject::connect(&watcher, &exitwise::test::FakeStatusNotifierWatcher::StatusNotifierItemRegistered,
                     [](const QString& service) {
                         std::printf("item %s\n", qPrintable(service));
                         std::fflush(stdout);
                     });
    watcher.registerHost();
    std::printf("host\n");
    std::fflush(stdout);
    return app.exec();
}

// SPDX-License-Identifier: MIT
#pragma once

#include <QCoreApplication>

#include <chrono>
#include <functional>

namespace exitwise::test {

// Runs the Qt event loop until `done` holds or `limit` passes; whether it held.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(3000))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace exitwise::test

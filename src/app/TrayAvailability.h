// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

namespace exitwise::app {

// Whether the desktop has a status area (a tray) that can show our item. A panel often starts
// after the applications of the session, so the answer may change at any time. Main thread only.
class TrayAvailability : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~TrayAvailability() override = default;

    [[nodiscard]] virtual bool isAvailable() const = 0;

signals:
    // Emitted after isAvailable() changed.
    void availabilityChanged(bool available);
};

} // namespace exitwise::app

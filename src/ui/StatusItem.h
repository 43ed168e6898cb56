// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>

class QMenu;

namespace exitwise::ui {

// The application's item in the desktop's status area (the tray).
class StatusItem : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~StatusItem() override = default;

    // Puts the item on screen. `toolTip` is also what assistive technology reads; the menu (not
    // owned, may be null) opens on a secondary click.
    virtual void show(const QIcon& icon, const QString& toolTip, QMenu* contextMenu) = 0;
    // Change what the shown item looks like or says.
    virtual void setIcon(const QIcon& icon) = 0;
    virtual void setToolTip(const QString& toolTip) = 0;
    // Where the item is on screen; empty when the desktop does not say.
    [[nodiscard]] virtual QRect geometry() const = 0;

signals:
    // The user clicked the item (primary button).
    void triggered();
};

} // namespace exitwise::ui

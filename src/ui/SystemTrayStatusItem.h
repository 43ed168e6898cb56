// SPDX-License-Identifier: MIT
#pragma once

#include "ui/StatusItem.h"

#include <QSystemTrayIcon>

namespace exitwise::ui {

// The status item as a QSystemTrayIcon (StatusNotifierItem or the XEmbed tray). Qt chooses between
// the two when the first one is made and never again: make it only once a tray is known to exist.
class SystemTrayStatusItem final : public StatusItem
{
    Q_OBJECT

public:
    explicit SystemTrayStatusItem(QObject* parent = nullptr);

    void show(const QIcon& icon, const QString& toolTip, QMenu* contextMenu) override;
    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& toolTip) override;
    [[nodiscard]] QRect geometry() const override;

private:
    QSystemTrayIcon m_icon;
};

} // namespace exitwise::ui

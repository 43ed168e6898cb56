// SPDX-License-Identifier: MIT
#pragma once

#include "ui/StatusItem.h"

#include <QSystemTrayIcon>

namespace exitwise::ui {

// The status item as a QSystemTrayIcon (StatusNotifierItem or the XEmbed tray).
class SystemTrayStatusItem final : public StatusItem
{
    Q_OBJECT

public:
    explicit SystemTrayStatusItem(QObject* parent = nullptr);

    void show(const QIcon& icon, const QString& toolTip, QMenu* contextMenu) override;
    [[nodiscard]] QRect geometry() const override;

private:
    QSystemTrayIcon m_icon;
};

} // namespace exitwise::ui

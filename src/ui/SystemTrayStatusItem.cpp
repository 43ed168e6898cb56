// SPDX-License-Identifier: MIT
#include "ui/SystemTrayStatusItem.h"

namespace exitwise::ui {

SystemTrayStatusItem::SystemTrayStatusItem(QObject* parent)
    : StatusItem(parent)
{
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            emit triggered();
        }
    });
}

void SystemTrayStatusItem::show(const QIcon& icon, const QString& toolTip, QMenu* contextMenu)
{
    m_icon.setIcon(icon);
    m_icon.setToolTip(toolTip);
    m_icon.setContextMenu(contextMenu);
    m_icon.show();
}

void SystemTrayStatusItem::setIcon(const QIcon& icon)
{
    m_icon.setIcon(icon);
}

void SystemTrayStatusItem::setToolTip(const QString& toolTip)
{
    m_icon.setToolTip(toolTip);
}

QRect SystemTrayStatusItem::geometry() const
{
    return m_icon.geometry();
}

} // namespace exitwise::ui

// SPDX-License-Identifier: MIT
#pragma once

#include "app/TrayAvailability.h"
#include "ui/StatusItem.h"

#include <QIcon>
#include <QMenu>
#include <QRect>
#include <QString>

namespace exitwise::test {

// A desktop whose tray comes and goes when the test says so.
class FakeTrayAvailability final : public app::TrayAvailability
{
public:
    explicit FakeTrayAvailability(bool available = false)
        : m_available(available)
    {}

    [[nodiscard]] bool isAvailable() const override { return m_available; }
    void set(bool available)
    {
        if (available != m_available) {
            m_available = available;
            emit availabilityChanged(available);
        }
    }

private:
    bool m_available;
};

// There is no tray host here; this stands in for the item it would show.
class FakeStatusItem final : public ui::StatusItem
{
public:
    void show(const QIcon& icon, const QString& toolTip, QMenu* contextMenu) override
    {
        shownIcon = icon;
        shownToolTip = toolTip;
        menu = contextMenu;
        ++shows;
    }
    void setIcon(const QIcon& icon) override { shownIcon = icon; }
    void setToolTip(const QString& toolTip) override { shownToolTip = toolTip; }
    [[nodiscard]] QRect geometry() const override { return itemGeometry; }

    QIcon shownIcon;
    QString shownToolTip;
    QMenu* menu = nullptr;
    int shows = 0;
    QRect itemGeometry;
};

} // namespace exitwise::test

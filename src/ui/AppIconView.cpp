// SPDX-License-Identifier: MIT
#include "ui/AppIconView.h"

#include "ui/AppIconProvider.h"

#include <QPainter>

namespace exitwise::ui {

AppIconView::AppIconView(
    AppIconProvider& icons, std::optional<std::string> appPath, int size, int cornerRadius, QWidget* parent)
    : QWidget(parent)
    , m_icons(icons)
    , m_appPath(std::move(appPath))
    , m_size(size)
    , m_cornerRadius(cornerRadius)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TranslucentBackground);
}

QPixmap AppIconView::pixmap() const
{
    return m_icons.roundedPixmap(m_appPath, m_size, m_cornerRadius, devicePixelRatioF());
}

void AppIconView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(QRect(0, 0, m_size, m_size), pixmap());
}

} // namespace exitwise::ui

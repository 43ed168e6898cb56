// SPDX-License-Identifier: MIT
#include "ui/PopoverWindow.h"

#include "ui/Style.h"

#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace exitwise::ui {

namespace {

// A click on the tray item arrives this soon after the panel closed because of that click.
constexpr qint64 kReopenGuardMs = 300;
constexpr int kScreenInset = 8;

} // namespace

PopoverWindow::PopoverWindow(QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setWindowTitle(QStringLiteral("Exitwise"));
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(1, 1, 1, 1);
    m_layout->setSpacing(0);
    setFixedSize(kContentSize);
}

void PopoverWindow::setContent(QWidget* content)
{
    if (m_content != nullptr) {
        m_content->hide();
        m_layout->removeWidget(m_content);
        m_content->deleteLater();
    }
    m_content = content;
    if (content != nullptr) {
        content->setParent(this);
        m_layout->addWidget(content);
        content->show();
    }
    fitToContent();
}

void PopoverWindow::fitToContent()
{
    int width = kContentSize.width();
    int height = kContentSize.height();
    if (m_content != nullptr) {
        // Wider only when a larger font needs it, so that no choice is cut off.
        width = std::max(width, m_content->minimumSizeHint().width() + 2);
        const int needed = m_content->hasHeightForWidth() ? m_content->heightForWidth(width - 2)
                                                          : m_content->sizeHint().height();
        height = std::max(height, needed + 2);
    }
    setFixedSize(width, height);
}

void PopoverWindow::dismiss()
{
    m_isDismissing = true;
    close();
    m_isDismissing = false;
}

bool PopoverWindow::closedByItselfJustNow() const
{
    return m_closedByItself.isValid() && m_closedByItself.elapsed() < kReopenGuardMs;
}

void PopoverWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_isDismissing) {
        m_closedByItself.invalidate();
    } else {
        m_closedByItself.start();
    }
}

void PopoverWindow::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    // A hairline edge so the panel stands apart from whatever is behind it.
    painter.setPen(style::withAlpha(style::secondary(this), 0.55));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

namespace detail {

QPoint popoverPosition(QSize size, const QRect& available, const QRect& anchor, std::optional<QPoint> cursor)
{
    QPoint position;
    const auto below = [&](int top, int bottom, int centreX) {
        position.setX(centreX - size.width() / 2);
        position.setY(bottom + PopoverWindow::kAnchorGap);
        if (position.y() + size.height() > available.bottom() + 1) {
            position.setY(top - PopoverWindow::kAnchorGap - size.height());
        }
    };
    if (anchor.isValid() && !anchor.isEmpty()) {
        below(anchor.top(), anchor.bottom() + 1, anchor.x() + anchor.width() / 2);
    } else if (cursor) {
        below(cursor->y(), cursor->y(), cursor->x());
    } else {
        position =
            QPoint(available.right() + 1 - kScreenInset - size.width(), available.top() + kScreenInset);
    }
    const int maxX = std::max(available.left(), available.right() + 1 - size.width());
    const int maxY = std::max(available.top(), available.bottom() + 1 - size.height());
    return {std::clamp(position.x(), available.left(), maxX),
            std::clamp(position.y(), available.top(), maxY)};
}

} // namespace detail

} // namespace exitwise::ui

// SPDX-License-Identifier: MIT
#include "ui/AppIconProvider.h"

#include <QDir>
#include <QFileInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace exitwise::ui {

namespace {

constexpr int kDrawnIconSize = 128;

// A theme or file icon that renders nothing (a missing file, an empty theme) is no icon.
bool renders(const QIcon& icon)
{
    return !icon.isNull() && !icon.pixmap(QSize(32, 32)).isNull();
}

// A neutral application tile: a window outline on a soft blue-grey square.
QIcon drawnApplicationIcon()
{
    QPixmap pixmap(kDrawnIconSize, kDrawnIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF tile(0, 0, kDrawnIconSize, kDrawnIconSize);
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    fill.setColorAt(0.0, QColor(0x8e, 0x9e, 0xb8));
    fill.setColorAt(1.0, QColor(0x5f, 0x70, 0x8c));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRect(tile);

    const QRectF window = tile.adjusted(26, 32, -26, -30);
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawRoundedRect(window, 8, 8);
    painter.setBrush(QColor(0x5f, 0x70, 0x8c, 120));
    painter.drawRect(QRectF(window.left(), window.top() + 16, window.width(), 3));
    painter.setBrush(QColor(0x5f, 0x70, 0x8c));
    for (int i = 0; i < 3; ++i) {
        painter.drawEllipse(QPointF(window.left() + 11 + i * 10, window.top() + 8.5), 3, 3);
    }
    painter.end();
    return QIcon(pixmap);
}

} // namespace

AppIconProvider::AppIconProvider(Lookup lookup)
    : m_lookup(std::move(lookup))
{}

QIcon AppIconProvider::genericIcon()
{
    if (!m_generic) {
        const QIcon themed = QIcon::fromTheme(QStringLiteral("application-x-executable"));
        m_generic = renders(themed) ? themed : drawnApplicationIcon();
    }
    return *m_generic;
}

QIcon AppIconProvider::resolve(const std::string& appPath)
{
    if (!m_lookup) {
        return genericIcon();
    }
    const std::optional<std::string> name = m_lookup(appPath);
    if (!name || name->empty()) {
        return genericIcon();
    }
    const QString text = QString::fromStdString(*name);
    QIcon icon;
    if (QDir::isAbsolutePath(text)) {
        if (QFileInfo(text).isFile()) {
            icon = QIcon(text);
        }
    } else {
        // Some entries still name a theme icon with its file extension.
        QString themeName = text;
        for (const QLatin1String suffix :
             {QLatin1String(".png"), QLatin1String(".svg"), QLatin1String(".xpm")}) {
            if (themeName.endsWith(suffix, Qt::CaseInsensitive)) {
                themeName.chop(suffix.size());
                break;
            }
        }
        icon = QIcon::fromTheme(themeName);
    }
    return renders(icon) ? icon : genericIcon();
}

QIcon AppIconProvider::icon(const std::optional<std::string>& appPath)
{
    if (!appPath || appPath->empty()) {
        return genericIcon();
    }
    const QString key = QString::fromStdString(*appPath);
    if (const auto found = m_icons.constFind(key); found != m_icons.constEnd()) {
        return *found;
    }
    const QIcon result = resolve(*appPath);
    m_icons.insert(key, result);
    return result;
}

QPixmap AppIconProvider::roundedPixmap(const std::optional<std::string>& appPath,
                                       int size,
                                       int cornerRadius,
                                       qreal devicePixelRatio)
{
    const QString key = QStringLiteral("%1|%2|%3|%4")
                            .arg(size)
                            .arg(cornerRadius)
                            .arg(devicePixelRatio)
                            .arg(QString::fromStdString(appPath.value_or(std::string())));
    if (const auto found = m_pixmaps.constFind(key); found != m_pixmaps.constEnd()) {
        return *found;
    }
    const QIcon source = icon(appPath);
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap result(pixels, pixels);
    result.fill(Qt::transparent);
    {
        QPainter painter(&result);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        QPainterPath clip;
        const qreal radius = cornerRadius * devicePixelRatio;
        clip.addRoundedRect(QRectF(0, 0, pixels, pixels), radius, radius);
        painter.setClipPath(clip);
        const QPixmap image = source.pixmap(QSize(pixels, pixels));
        painter.drawPixmap(QRect(0, 0, pixels, pixels), image);
    }
    result.setDevicePixelRatio(devicePixelRatio);
    m_pixmaps.insert(key, result);
    return result;
}

} // namespace exitwise::ui

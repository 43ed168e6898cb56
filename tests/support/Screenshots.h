// SPDX-License-Identifier: MIT
#pragma once

// Saves a widget's picture as PNG when EXITWISE_SCREENSHOT_DIR names a directory (set by
// scripts/screenshots); otherwise does nothing, so ordinary test runs write no files.

#include <QDir>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <cstdlib>

namespace exitwise::test {

inline bool screenshotsWanted()
{
    const char* directory = std::getenv("EXITWISE_SCREENSHOT_DIR");
    return directory != nullptr && *directory != '\0';
}

// Returns whether a file was written.
inline bool saveScreenshot(QWidget& widget, const QString& name)
{
    if (!screenshotsWanted()) {
        return false;
    }
    const QDir directory(QString::fromLocal8Bit(std::getenv("EXITWISE_SCREENSHOT_DIR")));
    QDir().mkpath(directory.path());
    return widget.grab().save(directory.filePath(name + QStringLiteral(".png")), "PNG");
}

} // namespace exitwise::test

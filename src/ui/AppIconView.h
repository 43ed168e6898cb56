// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include <optional>
#include <string>

namespace exitwise::ui {

class AppIconProvider;

// The icon of the application at a bundle path, at a fixed square size with rounded corners.
class AppIconView : public QWidget
{
    Q_OBJECT

public:
    AppIconView(AppIconProvider& icons,
                std::optional<std::string> appPath,
                int size,
                int cornerRadius,
                QWidget* parent = nullptr);

    [[nodiscard]] QPixmap pixmap() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppIconProvider& m_icons;
    std::optional<std::string> m_appPath;
    int m_size;
    int m_cornerRadius;
};

} // namespace exitwise::ui

// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace exitwise::ui {

// Application icons by the bundle path recorded in an event. The lookup names the icon of the
// application at a path (a theme icon name or an absolute image path); when it gives nothing
// usable the generic application icon stands in, so the result is never empty. Results are
// cached per path for the life of the provider. Main thread only.
class AppIconProvider
{
public:
    using Lookup = std::function<std::optional<std::string>(const std::string& appPath)>;

    explicit AppIconProvider(Lookup lookup = {});

    // An absent or empty path gives the generic icon without asking the lookup.
    [[nodiscard]] QIcon icon(const std::optional<std::string>& appPath);

    // The icon stretched to size × size and clipped to corners of `cornerRadius`, for a
    // screen with the given pixel ratio.
    [[nodiscard]] QPixmap roundedPixmap(const std::optional<std::string>& appPath,
                                        int size,
                                        int cornerRadius,
                                        qreal devicePixelRatio);

    // The themed executable icon, or a drawn one when the theme has none.
    [[nodiscard]] QIcon genericIcon();

private:
    [[nodiscard]] QIcon resolve(const std::string& appPath);

    Lookup m_lookup;
    QHash<QString, QIcon> m_icons;
    QHash<QString, QPixmap> m_pixmaps;
    std::optional<QIcon> m_generic;
};

} // namespace exitwise::ui

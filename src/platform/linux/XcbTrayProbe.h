// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

namespace exitwise::platform {

// Asks the X server whether an XEmbed tray manager (tint2, stalonetray, a legacy panel) owns the
// `_NET_SYSTEM_TRAY_S<screen>` selection. It keeps a connection of its own, so asking never
// touches Qt's tray state.
class XcbTrayProbe
{
public:
    // Null when no X display can be reached.
    [[nodiscard]] static std::unique_ptr<XcbTrayProbe> connect();
    ~XcbTrayProbe();

    XcbTrayProbe(const XcbTrayProbe&) = delete;
    XcbTrayProbe& operator=(const XcbTrayProbe&) = delete;

    [[nodiscard]] bool trayPresent();

private:
    struct Connection;
    explicit XcbTrayProbe(std::unique_ptr<Connection> connection);

    std::unique_ptr<Connection> m_connection;
};

} // namespace exitwise::platform

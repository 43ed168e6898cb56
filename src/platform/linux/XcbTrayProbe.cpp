// SPDX-License-Identifier: MIT
#include "platform/linux/XcbTrayProbe.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <xcb/xcb.h>

namespace exitwise::platform {

struct XcbTrayProbe::Connection
{
    xcb_connection_t* connection = nullptr;
    xcb_atom_t selection = XCB_ATOM_NONE;

    ~Connection()
    {
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
    }
};

XcbTrayProbe::XcbTrayProbe(std::unique_ptr<Connection> connection)
    : m_connection(std::move(connection))
{}

XcbTrayProbe::~XcbTrayProbe() = default;

std::unique_ptr<XcbTrayProbe> XcbTrayProbe::connect()
{
    auto state = std::make_unique<Connection>();
    int screen = 0;
    state->connection = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(state->connection) != 0) {
        return nullptr;
    }
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        state->connection,
        xcb_intern_atom(state->connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr);
    if (atom == nullptr) {
        return nullptr;
    }
    state->selection = atom->atom;
    std::free(atom);
    return std::unique_ptr<XcbTrayProbe>(new XcbTrayProbe(std::move(state)));
}

bool XcbTrayProbe::trayPresent()
{
    xcb_connection_t* connection = m_connection->connection;
    if (xcb_connection_has_error(connection) != 0) {
        return false; // the display went away
    }
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, m_connection->selection), nullptr);
    if (reply == nullptr) {
        return false;
    }
    const bool owned = reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

} // namespace exitwise::platform

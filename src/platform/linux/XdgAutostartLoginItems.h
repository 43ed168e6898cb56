// SPDX-License-Identifier: MIT
#pragma once

#include "app/LoginItems.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace exitwise::platform {

// Launch at login through an XDG autostart entry, `exitwise.desktop` in the autostart directory.
// The entry counts as enabled while it exists and the user has not switched it off
// (Hidden=true, or X-GNOME-Autostart-enabled=false as GNOME's settings write it).
class XdgAutostartLoginItems final : public app::LoginItems
{
public:
    // `executable` is what the entry starts; empty when it is unknown, and registering then fails.
    explicit XdgAutostartLoginItems(std::filesystem::path executable = currentExecutable(),
                                    std::filesystem::path autostartDirectory = defaultAutostartDirectory());

    [[nodiscard]] app::LoginItemStatus status() const override;
    // Creates the directory if needed and replaces the entry atomically, which also switches
    // back on an entry the user had disabled.
    [[nodiscard]] std::optional<app::LoginItemError> registerItem() override;
    [[nodiscard]] std::optional<app::LoginItemError> unregisterItem() override;

    [[nodiscard]] const std::filesystem::path& entryPath() const { return m_entryPath; }

    // $XDG_CONFIG_HOME/autostart when XDG_CONFIG_HOME is an absolute path, else ~/.config/autostart.
    [[nodiscard]] static std::filesystem::path defaultAutostartDirectory();
    // The running program, as Qt resolves it; empty without a QCoreApplication.
    [[nodiscard]] static std::filesystem::path currentExecutable();

private:
    std::filesystem::path m_executable;
    std::filesystem::path m_entryPath;
};

namespace detail {
// The entry's text, starting `executable` in the tray (`--background`): a start at login opens no
// window.
[[nodiscard]] std::string autostartEntry(const std::filesystem::path& executable);
// The Exec value for one program path: quoted and escaped as desktop entries require.
[[nodiscard]] std::string execValue(std::string_view program);
// Whether the [Desktop Entry] group switches the entry off.
[[nodiscard]] bool isSwitchedOff(std::string_view entryText);
} // namespace detail

} // namespace exitwise::platform

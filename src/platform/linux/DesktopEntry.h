// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::platform {

// The parts of an application's .desktop file that identify and name it.
struct DesktopEntry
{
    std::string id; // desktop-file ID without ".desktop" ("org.gnome.Evince")
    std::filesystem::path path;
    // Name for the user's locale; may be blank. No NULs, control characters as spaces, at most
    // 1 KiB (cut on a character boundary).
    std::string name;
    std::vector<std::string> exec; // Exec split into words, field codes removed; empty if unusable
    std::string tryExec;
    std::string flatpakId; // X-Flatpak
    std::string icon;      // Icon: a theme icon name or an absolute image path; may be blank
    bool noDisplay = false;
    bool terminal = false;
};

// Key suffixes to try for a messages locale, best first: "de_DE.UTF-8@euro" gives
// de_DE@euro, de_DE, de@euro, de. "C", "POSIX" and "" give none.
[[nodiscard]] std::vector<std::string> localeFallbacks(std::string_view locale);

// Parses the [Desktop Entry] group. Nothing for a file that does not describe a usable
// application: no [Desktop Entry] group, Type other than Application, or Hidden=true.
// A broken Exec leaves `exec` empty rather than rejecting the entry.
[[nodiscard]] std::optional<DesktopEntry> parseDesktopEntry(std::string_view text,
                                                            const std::vector<std::string>& localeFallbacks);

// The Icon value of the application entry in the .desktop file at `desktopFile`. Nothing when
// the file cannot be read, is not a regular file, describes no usable application, or has no
// Icon.
[[nodiscard]] std::optional<std::string> desktopEntryIconName(const std::filesystem::path& desktopFile);

// Exec value (already unescaped as a string) split into words with the field codes removed:
// a word that is only %f/%F/%u/%U/%i/… disappears, codes inside a word are dropped, %% is %.
// Nothing when the quoting is broken.
[[nodiscard]] std::optional<std::vector<std::string>> splitExec(std::string_view exec);

} // namespace exitwise::platform

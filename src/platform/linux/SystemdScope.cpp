// SPDX-License-Identifier: MIT
#include "platform/linux/SystemdScope.h"

#include <optional>

namespace exitwise::platform {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string unescaped(std::string_view text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hexValue(text[i + 2]) >= 0
            && hexValue(text[i + 3]) >= 0) {
            result += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
            i += 3;
        } else {
            result += text[i];
        }
    }
    return result;
}

// "gnome-org.gnome\x2dfoo" gives "org.gnome-foo", then "gnome-org.gnome-foo": the part after an
// optional launcher prefix first, then the whole, then shorter suffixes for launchers that do not
// escape dashes in the ID.
std::vector<std::string> launcherSplits(std::string_view rest)
{
    std::vector<std::string> result;
    std::vector<std::size_t> dashes;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '-') {
            dashes.push_back(i);
        }
    }
    if (!dashes.empty()) {
        result.push_back(unescaped(rest.substr(dashes.front() + 1)));
    }
    result.push_back(unescaped(rest));
    for (std::size_t i = 1; i < dashes.size(); ++i) {
        result.push_back(unescaped(rest.substr(dashes[i] + 1)));
    }
    std::erase(result, std::string());
    return result;
}

std::vector<std::string> idsFromUnit(std::string_view unit)
{
    if (unit.starts_with("app-") && unit.ends_with(".scope")) {
        std::string_view rest = unit.substr(4, unit.size() - 4 - 6);
        const std::size_t lastDash = rest.rfind('-');
        if (lastDash == std::string_view::npos) {
            return {};
        }
        return launcherSplits(rest.substr(0, lastDash));
    }
    if (unit.starts_with("app-") && unit.ends_with(".service")) {
        std::string_view rest = unit.substr(4, unit.size() - 4 - 8);
        rest = rest.substr(0, rest.find('@'));
        return launcherSplits(rest);
    }
    if (unit.starts_with("snap.") && unit.ends_with(".scope")) {
        const std::string_view rest = unit.substr(5, unit.size() - 5 - 6);
        const std::size_t dot = rest.find('.');
        // snap.<snap>.<app>-<uuid>.scope; app names may contain dashes themselves.
        constexpr std::size_t kUuidLength = 36;
        std::size_t dash = std::string_view::npos;
        if (rest.size() > kUuidLength + 1 && rest[rest.size() - kUuidLength - 1] == '-'
            && rest[rest.size() - 28] == '-' && rest[rest.size() - 13] == '-') {
            dash = rest.size() - kUuidLength - 1;
        } else {
            dash = rest.rfind('-');
        }
        if (dot == std::string_view::npos || dash == std::string_view::npos || dash <= dot + 1) {
            return {};
        }
        return {unescaped(rest.substr(0, dot)) + "_" + unescaped(rest.substr(dot + 1, dash - dot - 1))};
    }
    if (unit.starts_with("dbus-") && unit.ends_with(".service")) {
        std::string_view rest = unit.substr(5, unit.size() - 5 - 8);
        rest = rest.substr(0, rest.find('@'));
        const std::size_t dash = rest.find('-'); // after the bus name ":1.2"
        if (dash == std::string_view::npos || dash + 1 == rest.size()) {
            return {};
        }
        return {unescaped(rest.substr(dash + 1))};
    }
    return {};
}

std::optional<std::string_view> unitPath(std::string_view file)
{
    std::optional<std::string_view> unified;
    std::optional<std::string_view> systemd;
    while (!file.empty()) {
        const std::size_t newline = file.find('\n');
        const std::string_view line = file.substr(0, newline);
        file = newline == std::string_view::npos ? std::string_view() : file.substr(newline + 1);
        if (line.starts_with("0::")) {
            unified = line.substr(3);
        }
        // Hybrid hierarchy: the unified tree is unused and systemd's own one carries the units.
        if (const std::size_t at = line.find(":name=systemd:"); at != std::string_view::npos) {
            systemd = line.substr(at + 14);
        }
    }
    if (unified && *unified != "/") {
        return unified;
    }
    return systemd ? systemd : unified;
}

} // namespace

std::vector<std::string> scopeApplicationIds(std::string_view cgroupFile)
{
    const std::optional<std::string_view> path = unitPath(cgroupFile);
    if (!path) {
        return {};
    }
    std::string_view rest = *path;
    // The deepest unit wins: a scope may sit inside an application's slice.
    while (!rest.empty()) {
        const std::size_t slash = rest.rfind('/');
        const std::string_view component = slash == std::string_view::npos ? rest : rest.substr(slash + 1);
        if (std::vector<std::string> ids = idsFromUnit(component); !ids.empty()) {
            return ids;
        }
        if (slash == std::string_view::npos) {
            break;
        }
        rest = rest.substr(0, slash);
    }
    return {};
}

} // namespace exitwise::platform

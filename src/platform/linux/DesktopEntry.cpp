// SPDX-License-Identifier: MIT
#include "platform/linux/DesktopEntry.h"

#include "platform/linux/LaunchTarget.h"

#include <sys/stat.h>

#include <algorithm>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace exitwise::platform {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// String values escape \s \n \t \r \\; any other backslash is kept for the Exec quoting rules.
std::string unescaped(std::string_view value)
{
    std::string result;
    result.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            result += value[i];
            continue;
        }
        switch (value[i + 1]) {
        case 's':
            result += ' ';
            break;
        case 'n':
            result += '\n';
            break;
        case 't':
            result += '\t';
            break;
        case 'r':
            result += '\r';
            break;
        case '\\':
            result += '\\';
            break;
        default:
            result += '\\';
            result += value[i + 1];
            break;
        }
        ++i;
    }
    return result;
}

bool isTrue(const std::map<std::string, std::string, std::less<>>& keys, std::string_view key)
{
    const auto it = keys.find(key);
    return it != keys.end() && (it->second == "true" || it->second == "1");
}

std::string valueOf(const std::map<std::string, std::string, std::less<>>& keys, std::string_view key)
{
    const auto it = keys.find(key);
    return it == keys.end() ? std::string() : it->second;
}

std::string removeFieldCodes(std::string_view word)
{
    std::string result;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] != '%') {
            result += word[i];
        } else if (i + 1 < word.size()) {
            if (word[i + 1] == '%') {
                result += '%';
            }
            ++i;
        }
    }
    return result;
}

constexpr off_t kMaxEntryFileSize = 1 << 20;

// Names go into log predicates, command lines and notifications: a NUL would cut them short and
// a name as long as the file would not fit an argument list.
constexpr std::size_t kMaxNameBytes = 1024;

// NULs dropped, other control characters (line breaks from \n among them) made spaces, and
// at most kMaxNameBytes, never ending inside a UTF-8 sequence.
std::string boundedName(std::string_view value)
{
    std::string name;
    name.reserve(std::min(value.size(), kMaxNameBytes + 4));
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            continue;
        }
        name += byte < 0x20 || byte == 0x7F ? ' ' : c;
        if (name.size() > kMaxNameBytes) {
            break;
        }
    }
    if (name.size() > kMaxNameBytes) {
        std::size_t end = kMaxNameBytes;
        // At most three continuation bytes belong to one character.
        while (end > 0 && kMaxNameBytes - end < 3 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
            --end;
        }
        name.resize(end);
    }
    return name;
}

// Event records name the file, so it may be anything by now: never block on a FIFO or a
// device, and leave oversized files alone.
std::optional<std::string> readEntryFile(const std::filesystem::path& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info
    {
    };
    std::optional<std::string> text;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxEntryFileSize) {
        text.emplace();
        char buffer[8192];
        ssize_t n = 0;
        while ((n = read(fd, buffer, sizeof buffer)) > 0 && text->size() <= std::size_t(kMaxEntryFileSize)) {
            text->append(buffer, static_cast<std::size_t>(n));
        }
        if (n < 0) {
            text.reset();
        }
    }
    close(fd);
    return text;
}

} // namespace

std::vector<std::string> localeFallbacks(std::string_view locale)
{
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C.")) {
        return {};
    }
    std::string_view modifier;
    if (const std::size_t at = locale.find('@'); at != std::string_view::npos) {
        modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    if (const std::size_t dot = locale.find('.'); dot != std::string_view::npos) {
        locale = locale.substr(0, dot);
    }
    std::string_view country;
    std::string_view language = locale;
    if (const std::size_t underscore = locale.find('_'); underscore != std::string_view::npos) {
        country = locale.substr(underscore + 1);
        language = locale.substr(0, underscore);
    }
    if (language.empty()) {
        return {};
    }
    const std::string lang(language);
    std::vector<std::string> result;
    if (!country.empty() && !modifier.empty()) {
        result.push_back(lang + "_" + std::string(country) + "@" + std::string(modifier));
    }
    if (!country.empty()) {
        result.push_back(lang + "_" + std::string(country));
    }
    if (!modifier.empty()) {
        result.push_back(lang + "@" + std::string(modifier));
    }
    result.push_back(lang);
    return result;
}

std::optional<std::vector<std::string>> splitExec(std::string_view exec)
{
    std::optional<std::vector<std::string>> words = splitCommandLine(exec);
    if (!words) {
        return std::nullopt;
    }
    std::vector<std::string> result;
    for (const std::string& word : *words) {
        const bool fieldCodeOnly = word.size() == 2 && word[0] == '%' && word[1] != '%';
        if (!fieldCodeOnly) {
            result.push_back(removeFieldCodes(word));
        }
    }
    return result;
}

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, const std::vector<std::string>& locales)
{
    std::map<std::string, std::string, std::less<>> keys;
    bool inEntryGroup = false;
    bool sawEntryGroup = false;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, newline));
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            // Only the first [Desktop Entry] group counts; actions and vendor groups follow it.
            inEntryGroup = line == "[Desktop Entry]" && !sawEntryGroup;
            sawEntryGroup = sawEntryGroup || inEntryGroup;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inEntryGroup || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimmed(line.substr(0, equals));
        if (!key.empty()) {
            keys.emplace(std::string(key), unescaped(trimmed(line.substr(equals + 1))));
        }
    }
    if (!sawEntryGroup || valueOf(keys, "Type") != "Application" || isTrue(keys, "Hidden")) {
        return std::nullopt;
    }

    DesktopEntry entry;
    entry.name = boundedName(valueOf(keys, "Name"));
    for (const std::string& locale : locales) {
        if (std::string localized = boundedName(valueOf(keys, "Name[" + locale + "]"));
            !trimmed(localized).empty()) {
            entry.name = std::move(localized);
            break;
        }
    }
    if (std::optional<std::vector<std::string>> exec = splitExec(valueOf(keys, "Exec"))) {
        entry.exec = std::move(*exec);
    }
    entry.tryExec = valueOf(keys, "TryExec");
    entry.flatpakId = valueOf(keys, "X-Flatpak");
    entry.icon = valueOf(keys, "Icon");
    entry.noDisplay = isTrue(keys, "NoDisplay");
    entry.terminal = isTrue(keys, "Terminal");
    return entry;
}

std::optional<std::string> desktopEntryIconName(const std::filesystem::path& desktopFile)
{
    const std::optional<std::string> text = readEntryFile(desktopFile);
    if (!text) {
        return std::nullopt;
    }
    const std::optional<DesktopEntry> entry = parseDesktopEntry(*text, {});
    if (!entry || entry->icon.empty()) {
        return std::nullopt;
    }
    return entry->icon;
}

} // namespace exitwise::platform

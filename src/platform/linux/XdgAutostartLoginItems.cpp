// SPDX-License-Identifier: MIT
#include "platform/linux/XdgAutostartLoginItems.h"

#include "app/DataDirectory.h"
#include "app/RecordFiles.h"
#include "sys/FileIo.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <unistd.h>

namespace exitwise::platform {

namespace {

constexpr const char* kEntryName = "exitwise.desktop";
constexpr std::string_view kMainGroup = "[Desktop Entry]";

std::string_view trimmedAscii(std::string_view text)
{
    constexpr std::string_view kSpace = " \t\r";
    const std::size_t start = text.find_first_not_of(kSpace);
    if (start == std::string_view::npos) {
        return {};
    }
    return text.substr(start, text.find_last_not_of(kSpace) - start + 1);
}

// A string value: backslashes and line breaks escaped, a leading space kept.
std::string escapedValue(std::string_view text)
{
    std::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        switch (const char c = text[i]) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case ' ':
            escaped += i == 0 ? "\\s" : " ";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// Desktop-entry booleans as GLib reads them.
bool isFalse(std::string_view value)
{
    return value == "false" || value == "0";
}

bool isTrue(std::string_view value)
{
    return value == "true" || value == "1";
}

} // namespace

namespace detail {

std::string execValue(std::string_view program)
{
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quoted = program.find_first_of(kReserved) != std::string_view::npos;
    std::string argument;
    for (const char c : program) {
        if (c == '%') {
            argument += "%%"; // a lone % would start a field code
        } else if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            argument += '\\';
            argument += c;
        } else {
            argument += c;
        }
    }
    // The Exec rules apply to the value after its string escapes are undone, so escape last.
    return escapedValue(quoted ? "\"" + argument + "\"" : argument);
}

std::string autostartEntry(const std::filesystem::path& executable)
{
    return std::string(kMainGroup) + "\n"
           + "Type=Application\n"
             "Name=Exitwise\n"
             "Comment=Explains why desktop applications closed\n"
             "Exec="
           + execValue(executable.string())
           + " --background\n"
             // A session skips the entry once the program is gone rather than failing to start it.
             "TryExec="
           + escapedValue(executable.string())
           + "\n"
             "Terminal=false\n"
             "X-GNOME-Autostart-enabled=true\n";
}

bool isSwitchedOff(std::string_view entryText)
{
    bool inMainGroup = false;
    bool hidden = false;
    bool gnomeDisabled = false;
    std::size_t start = 0;
    while (start < entryText.size()) {
        std::size_t end = entryText.find('\n', start);
        if (end == std::string_view::npos) {
            end = entryText.size();
        }
        const std::string_view line = trimmedAscii(entryText.substr(start, end - start));
        start = end + 1;

        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inMainGroup = line == kMainGroup;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimmedAscii(line.substr(0, equals));
        const std::string_view value = trimmedAscii(line.substr(equals + 1));
        // Later lines win, as when the file is read into a key map.
        if (key == "Hidden") {
            hidden = isTrue(value);
        } else if (key == "X-GNOME-Autostart-enabled") {
            gnomeDisabled = isFalse(value);
        }
    }
    return hidden || gnomeDisabled;
}

} // namespace detail

XdgAutostartLoginItems::XdgAutostartLoginItems(std::filesystem::path executable,
                                               std::filesystem::path autostartDirectory)
    : m_executable(std::move(executable))
    , m_entryPath(std::move(autostartDirectory) / kEntryName)
{}

std::filesystem::path XdgAutostartLoginItems::defaultAutostartDirectory()
{
    // Relative values are invalid and ignored.
    if (const std::optional<std::string> configHome = sys::environment("XDG_CONFIG_HOME");
        configHome && configHome->front() == '/') {
        return std::filesystem::path(*configHome) / "autostart";
    }
    return app::homeDirectory() / ".config" / "autostart";
}

std::filesystem::path XdgAutostartLoginItems::currentExecutable()
{
    if (QCoreApplication::instance() == nullptr) {
        return {};
    }
    return QCoreApplication::applicationFilePath().toStdString();
}

app::LoginItemStatus XdgAutostartLoginItems::status() const
{
    const app::FileResult<std::string> contents = app::records::readFile(m_entryPath);
    if (!contents || detail::isSwitchedOff(contents.value())) {
        return app::LoginItemStatus::notRegistered;
    }
    return app::LoginItemStatus::enabled;
}

std::optional<app::LoginItemError> XdgAutostartLoginItems::registerItem()
{
    if (m_executable.empty()) {
        return app::LoginItemError{"cannot register for login: the program's location is unknown"};
    }
    std::error_code error;
    std::filesystem::create_directories(m_entryPath.parent_path(), error);
    if (error) {
        return app::LoginItemError{"cannot create " + m_entryPath.parent_path().string() + ": "
                                   + error.message()};
    }
    if (const auto failure = app::records::atomicReplace(m_entryPath, detail::autostartEntry(m_executable),
                                                         app::records::NewFileMode::standard)) {
        return app::LoginItemError{failure->message()};
    }
    return std::nullopt;
}

std::optional<app::LoginItemError> XdgAutostartLoginItems::unregisterItem()
{
    if (::unlink(m_entryPath.c_str()) != 0 && errno != ENOENT) {
        return app::LoginItemError{app::FileError::fromErrno("remove", m_entryPath, errno).message()};
    }
    return std::nullopt;
}

} // namespace exitwise::platform

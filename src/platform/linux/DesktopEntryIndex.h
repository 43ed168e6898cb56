// SPDX-License-Identifier: MIT
#pragma once

#include "platform/linux/DesktopEntry.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace exitwise::platform {

// Where desktop entries come from and how they are read: the applications directories in
// search order, the executable search path for Exec/TryExec programs and the messages locale.
struct DesktopEntryEnvironment
{
    std::vector<std::filesystem::path> applicationDirs;
    std::vector<std::filesystem::path> executableDirs;
    std::string messagesLocale;
    std::string ownDesktopId = "exitwise"; // never indexed: the monitor's own application

    using Lookup = std::function<std::optional<std::string>(const char* name)>;

    // $XDG_DATA_HOME/applications, then each $XDG_DATA_DIRS/applications (XDG defaults for
    // unset, empty or relative values), with the Flatpak and Snap export directories added
    // when they exist; PATH; LC_ALL, else LC_MESSAGES, else LANG.
    [[nodiscard]] static DesktopEntryEnvironment fromEnvironment(const Lookup& lookup);
    [[nodiscard]] static DesktopEntryEnvironment fromEnvironment();
};

// An absolute path with symbolic links, "." and ".." resolved as far as it exists: the form in
// which a program's path is compared with the file a process runs.
[[nodiscard]] std::string canonicalPath(std::string_view path);

// The installed applications by desktop-file ID and by the names of the programs they run.
// The first file for an ID in search order decides: a Hidden or unusable one hides the
// entries of the same ID further down. Entries with NoDisplay=true or Terminal=true are found
// by ID only: their programs are helpers or terminal tools, not windows of their own.
class DesktopEntryIndex
{
public:
    explicit DesktopEntryIndex(DesktopEntryEnvironment environment);

    void reload();
    // Reloads when an applications directory was created, removed or had entries added,
    // removed or renamed since the last load; true when it did. A directory changed just before
    // a load may change again within the same timestamp tick, so it is read once more later.
    bool reloadIfChanged();

    [[nodiscard]] const DesktopEntry* byId(std::string_view id) const;
    [[nodiscard]] const DesktopEntry* byFlatpakId(std::string_view flatpakId) const;
    // Entries whose program (or TryExec, or the file a symbolic link to either resolves to)
    // has this base name, in search order.
    [[nodiscard]] std::vector<const DesktopEntry*> byProgram(std::string_view baseName) const;
    // The entries of byProgram(base name of `path`) that may run the program at this absolute,
    // canonical path: a program given by path (or found through the executable search path) is
    // only the file it names; one that cannot be placed, or a script that may start a program
    // elsewhere, is any file of that name.
    [[nodiscard]] std::vector<const DesktopEntry*> byProgramPath(std::string_view path) const;

    [[nodiscard]] const std::vector<DesktopEntry>& entries() const { return m_entries; }
    [[nodiscard]] const DesktopEntryEnvironment& environment() const { return m_environment; }

private:
    struct DirectoryStamp
    {
        std::filesystem::path path;
        std::int64_t modified = -1; // -1: missing
        std::uint64_t inode = 0;

        friend bool operator==(const DirectoryStamp&, const DirectoryStamp&) = default;
    };

    void scanDirectory(const std::filesystem::path& root,
                       const std::filesystem::path& directory,
                       const std::vector<std::string>& locales,
                       int depth);
    void addEntry(DesktopEntry entry);
    // An entry's program under one name: the canonical paths it may be at; none is any path.
    struct ProgramRef
    {
        std::size_t index = 0;
        std::vector<std::string> paths;
        bool anyPath = false;
    };

    void addProgramKeys(std::size_t index, const std::string& program, bool interpreted);
    void addProgramKey(std::size_t index, std::string_view name, const std::optional<std::string>& path);
    [[nodiscard]] std::optional<std::filesystem::path> findExecutable(const std::string& program) const;
    [[nodiscard]] std::vector<DirectoryStamp> currentStamps() const;

    DesktopEntryEnvironment m_environment;
    std::vector<DesktopEntry> m_entries;
    std::unordered_map<std::string, std::optional<std::size_t>> m_byId; // nullopt: hidden
    std::unordered_map<std::string, std::size_t> m_byFlatpakId;
    std::unordered_map<std::string, std::vector<ProgramRef>> m_byProgram;
    std::vector<std::filesystem::path> m_directories; // every directory read, for change checks
    std::vector<DirectoryStamp> m_stamps;
    bool m_racy = false; // a stamp is too close to the load to trust
    std::int64_t m_loadedAt = 0;
};

} // namespace exitwise::platform

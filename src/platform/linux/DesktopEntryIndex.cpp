// SPDX-License-Identifier: MIT
#include "platform/linux/DesktopEntryIndex.h"

#include "platform/linux/LaunchTarget.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace exitwise::platform {

namespace {

constexpr std::size_t kMaxEntryFileSize = 1 << 20;
constexpr int kMaxDirectoryDepth = 8;
constexpr std::int64_t kRacyWindowNs = 2'000'000'000;

std::int64_t nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::string passwordHome()
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result);
    return result != nullptr && result->pw_dir != nullptr ? std::string(result->pw_dir) : std::string();
}

std::vector<std::filesystem::path> absolutePaths(const std::string& list)
{
    std::vector<std::filesystem::path> result;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t colon = std::min(list.find(':', start), list.size());
        const std::filesystem::path path = list.substr(start, colon - start);
        if (path.is_absolute()) {
            result.push_back(path);
        }
        start = colon + 1;
    }
    return result;
}

bool isDirectory(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

void appendUnique(std::vector<std::filesystem::path>& paths, const std::filesystem::path& path)
{
    const std::filesystem::path normal = path.lexically_normal();
    if (std::find(paths.begin(), paths.end(), normal) == paths.end()) {
        paths.push_back(normal);
    }
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char buffer[8192];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 && text.size() < kMaxEntryFileSize) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    if (n < 0 || text.size() >= kMaxEntryFileSize) {
        return std::nullopt;
    }
    return text;
}

bool isExecutableFile(const std::filesystem::path& path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool isScript(const std::filesystem::path& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char magic[2] = {};
    const bool script = read(fd, magic, sizeof magic) == 2 && magic[0] == '#' && magic[1] == '!';
    close(fd);
    return script;
}

} // namespace

std::string canonicalPath(std::string_view path)
{
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(std::filesystem::path(path), error);
    if (error) {
        resolved = std::filesystem::path(path).lexically_normal();
    }
    return resolved.string();
}

DesktopEntryEnvironment DesktopEntryEnvironment::fromEnvironment(const Lookup& lookup)
{
    auto get = [&](const char* name) {
        std::optional<std::string> value = lookup(name);
        return value ? *value : std::string();
    };
    std::string home = get("HOME");
    if (home.empty()) {
        home = passwordHome();
    }

    std::filesystem::path dataHome = get("XDG_DATA_HOME");
    if (!dataHome.is_absolute()) {
        dataHome = home.empty() ? std::filesystem::path() : std::filesystem::path(home) / ".local/share";
    }
    std::vector<std::filesystem::path> dataDirs = absolutePaths(get("XDG_DATA_DIRS"));
    if (dataDirs.empty()) {
        dataDirs = {"/usr/local/share", "/usr/share"};
    }
    // Flatpak's and snapd's profile scripts add these; a session started without them still has
    // the exported entries on disk.
    for (const std::filesystem::path& exported :
         {std::filesystem::path("/var/lib/flatpak/exports/share"), dataHome / "flatpak/exports/share"}) {
        if (!dataHome.empty() && isDirectory(exported / "applications")
            && std::find(dataDirs.begin(), dataDirs.end(), exported) == dataDirs.end()) {
            dataDirs.insert(dataDirs.begin(), exported);
        }
    }
    if (const std::filesystem::path snap = "/var/lib/snapd/desktop"; isDirectory(snap / "applications")) {
        appendUnique(dataDirs, snap);
    }

    DesktopEntryEnvironment environment;
    if (!dataHome.empty()) {
        appendUnique(environment.applicationDirs, dataHome / "applications");
    }
    for (const std::filesystem::path& dir : dataDirs) {
        appendUnique(environment.applicationDirs, dir / "applications");
    }

    const std::optional<std::string> path = lookup("PATH");
    environment.executableDirs = absolutePaths(path ? *path : std::string("/usr/local/bin:/usr/bin:/bin"));

    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (std::string locale = get(name); !locale.empty()) {
            environment.messagesLocale = std::move(locale);
            break;
        }
    }
    return environment;
}

DesktopEntryEnvironment DesktopEntryEnvironment::fromEnvironment()
{
    return fromEnvironment([](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value == nullptr ? std::nullopt : std::optional<std::string>(value);
    });
}

DesktopEntryIndex::DesktopEntryIndex(DesktopEntryEnvironment environment)
    : m_environment(std::move(environment))
{
    reload();
}

void DesktopEntryIndex::reload()
{
    m_entries.clear();
    m_byId.clear();
    m_byFlatpakId.clear();
    m_byProgram.clear();
    m_directories.clear();
    const std::vector<std::string> locales = localeFallbacks(m_environment.messagesLocale);
    for (const std::filesystem::path& root : m_environment.applicationDirs) {
        scanDirectory(root, root, locales, 0);
    }
    m_stamps = currentStamps();
    m_loadedAt = nowNs();
    m_racy = std::any_of(m_stamps.begin(), m_stamps.end(), [&](const DirectoryStamp& stamp) {
        return stamp.modified >= m_loadedAt - kRacyWindowNs;
    });
}

bool DesktopEntryIndex::reloadIfChanged()
{
    const bool settled = m_racy && nowNs() - m_loadedAt > kRacyWindowNs;
    if (!settled && currentStamps() == m_stamps) {
        return false;
    }
    reload();
    return true;
}

std::vector<DesktopEntryIndex::DirectoryStamp> DesktopEntryIndex::currentStamps() const
{
    std::vector<DirectoryStamp> stamps;
    stamps.reserve(m_directories.size());
    for (const std::filesystem::path& directory : m_directories) {
        DirectoryStamp stamp{directory, -1, 0};
        struct stat info
        {
        };
        if (stat(directory.c_str(), &info) == 0) {
            stamp.modified =
                static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
            stamp.inode = info.st_ino;
        }
        stamps.push_back(std::move(stamp));
    }
    return stamps;
}

void DesktopEntryIndex::scanDirectory(const std::filesystem::path& root,
                                      const std::filesystem::path& directory,
                                      const std::vector<std::string>& locales,
                                      int depth)
{
    m_directories.push_back(directory);
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* item = readdir(dir)) {
        const std::string_view name = item->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        const std::filesystem::path path = directory / name;
        struct stat info
        {
        };
        if (stat(path.c_str(), &info) != 0) {
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            if (depth < kMaxDirectoryDepth) {
                scanDirectory(root, path, locales, depth + 1);
            }
            continue;
        }
        constexpr std::string_view kSuffix = ".desktop";
        if (!S_ISREG(info.st_mode) || name.size() <= kSuffix.size() || !name.ends_with(kSuffix)) {
            continue;
        }
        std::string id = path.lexically_relative(root).string();
        id.resize(id.size() - kSuffix.size());
        std::replace(id.begin(), id.end(), '/', '-');
        if (m_byId.contains(id)) {
            continue;
        }
        std::optional<DesktopEntry> entry;
        if (const std::optional<std::string> text = readSmallFile(path)) {
            entry = parseDesktopEntry(*text, locales);
        }
        const bool usable = entry && id != m_environment.ownDesktopId
                            && (entry->tryExec.empty() || findExecutable(entry->tryExec).has_value());
        if (!usable) {
            m_byId.emplace(id, std::nullopt);
            continue;
        }
        entry->id = std::move(id);
        entry->path = path;
        addEntry(std::move(*entry));
    }
}

void DesktopEntryIndex::addEntry(DesktopEntry entry)
{
    const std::size_t index = m_entries.size();
    m_byId.emplace(entry.id, index);
    if (!entry.flatpakId.empty()) {
        m_byFlatpakId.emplace(entry.flatpakId, index);
    }
    const bool matchesByProgram = !entry.noDisplay && !entry.terminal;
    const std::optional<LaunchTarget> target = resolveLaunchTarget(entry.exec);
    const std::string tryExec = entry.tryExec;
    m_entries.push_back(std::move(entry));
    if (target && !target->flatpakId.empty()) {
        m_byFlatpakId.emplace(target->flatpakId, index);
    }
    if (!matchesByProgram) {
        return;
    }
    if (target && !target->program.empty()) {
        addProgramKeys(index, target->program, target->interpreted);
    }
    if (!tryExec.empty()) {
        addProgramKeys(index, tryExec, false);
    }
}

void DesktopEntryIndex::addProgramKeys(std::size_t index, const std::string& program, bool interpreted)
{
    if (interpreted) {
        // The process is the interpreter; its script path is compared when both are absolute.
        if (!program.starts_with('/')) {
            addProgramKey(index, baseName(program), std::nullopt);
            return;
        }
        const std::string script = canonicalPath(program);
        addProgramKey(index, baseName(program), script);
        addProgramKey(index, baseName(script), script);
        return;
    }
    const std::optional<std::filesystem::path> found = findExecutable(program);
    if (!found) {
        // A path names only itself; a bare name this search path does not know may be on the
        // launcher's, so any file of that name counts.
        addProgramKey(index, baseName(program),
                      program.starts_with('/') ? std::optional(canonicalPath(program)) : std::nullopt);
        return;
    }
    // A process shows the file that actually ran: /usr/bin/foo may link to /opt/foo/foo-bin.
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(*found, error);
    if (error) {
        addProgramKey(index, baseName(program), std::nullopt);
        return;
    }
    // A script or a launcher such as snap may start the real program anywhere.
    const bool startsAnother = isWrapperProgram(baseName(real.native())) || isScript(real);
    const std::optional<std::string> path = startsAnother ? std::nullopt : std::optional(real.string());
    addProgramKey(index, baseName(program), path);
    addProgramKey(index, baseName(real.native()), path);
}

void DesktopEntryIndex::addProgramKey(std::size_t index,
                                      std::string_view name,
                                      const std::optional<std::string>& path)
{
    if (name.empty() || isWrapperProgram(name)) {
        return;
    }
    std::vector<ProgramRef>& refs = m_byProgram[std::string(name)];
    if (refs.empty() || refs.back().index != index) {
        refs.push_back({index, {}, false});
    }
    ProgramRef& ref = refs.back();
    if (!path) {
        ref.anyPath = true;
    } else if (std::find(ref.paths.begin(), ref.paths.end(), *path) == ref.paths.end()) {
        ref.paths.push_back(*path);
    }
}

std::optional<std::filesystem::path> DesktopEntryIndex::findExecutable(const std::string& program) const
{
    if (program.empty()) {
        return std::nullopt;
    }
    if (program.find('/') != std::string::npos) {
        return isExecutableFile(program) ? std::optional<std::filesystem::path>(program) : std::nullopt;
    }
    for (const std::filesystem::path& dir : m_environment.executableDirs) {
        if (std::filesystem::path candidate = dir / program; isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

const DesktopEntry* DesktopEntryIndex::byId(std::string_view id) const
{
    const auto it = m_byId.find(std::string(id));
    return it == m_byId.end() || !it->second ? nullptr : &m_entries[*it->second];
}

const DesktopEntry* DesktopEntryIndex::byFlatpakId(std::string_view flatpakId) const
{
    const auto it = m_byFlatpakId.find(std::string(flatpakId));
    return it == m_byFlatpakId.end() ? nullptr : &m_entries[it->second];
}

std::vector<const DesktopEntry*> DesktopEntryIndex::byProgram(std::string_view name) const
{
    std::vector<const DesktopEntry*> result;
    if (const auto it = m_byProgram.find(std::string(name)); it != m_byProgram.end()) {
        for (const ProgramRef& ref : it->second) {
            result.push_back(&m_entries[ref.index]);
        }
    }
    return result;
}

std::vector<const DesktopEntry*> DesktopEntryIndex::byProgramPath(std::string_view path) const
{
    std::vector<const DesktopEntry*> result;
    if (const auto it = m_byProgram.find(std::string(baseName(path))); it != m_byProgram.end()) {
        for (const ProgramRef& ref : it->second) {
            if (ref.anyPath || std::find(ref.paths.begin(), ref.paths.end(), path) != ref.paths.end()) {
                result.push_back(&m_entries[ref.index]);
            }
        }
    }
    return result;
}

} // namespace exitwise::platform

// SPDX-License-Identifier: MIT
#include "app/DataDirectory.h"

#include "core/Text.h"
#include "sys/FileIo.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace exitwise::app {

namespace {

constexpr const char* kOverrideVariable = "EXITWISE_APP_SUPPORT_DIR";
constexpr const char* kProductDirectory = "Exitwise";

std::string environment(const char* name)
{
    return sys::environment(name).value_or(std::string());
}

std::filesystem::path homeOf(const passwd* entry)
{
    return entry != nullptr && entry->pw_dir != nullptr ? std::filesystem::path(entry->pw_dir)
                                                        : std::filesystem::path();
}

std::filesystem::path passwordEntryHome(const char* name)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (name == nullptr) {
        getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result);
    } else {
        getpwnam_r(name, &entry, buffer.data(), buffer.size(), &result);
    }
    return homeOf(result);
}

std::filesystem::path absoluteNormal(const std::filesystem::path& path)
{
    std::error_code error;
    std::filesystem::path result = std::filesystem::absolute(path, error);
    result = (error ? path : result).lexically_normal();
    // "dir/" would otherwise keep an empty last component.
    if (!result.has_filename() && result.has_relative_path()) {
        result = result.parent_path();
    }
    return result;
}

// mkdir -p with owner-only permissions for every directory it creates; existing
// directories keep theirs.
void createPrivateDirectories(const std::filesystem::path& directory)
{
    std::filesystem::path partial;
    for (const auto& component : directory) {
        partial /= component;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            return;
        }
    }
}

} // namespace

std::filesystem::path homeDirectory()
{
    if (std::string home = environment("HOME"); !home.empty()) {
        return home;
    }
    return passwordEntryHome(nullptr);
}

std::filesystem::path expandTilde(const std::string& path)
{
    if (path.empty() || path.front() != '~') {
        return path;
    }
    const std::size_t slash = path.find('/');
    const std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const std::filesystem::path home = user.empty() ? homeDirectory() : passwordEntryHome(user.c_str());
    if (home.empty()) {
        return path;
    }
    if (slash == std::string::npos) {
        return home;
    }
    std::string rest = path.substr(slash + 1);
    return rest.empty() ? home : home / rest;
}

std::filesystem::path resolveAppSupportDirectory()
{
    if (std::string configured = core::text::trimmed(environment(kOverrideVariable)); !configured.empty()) {
        return absoluteNormal(expandTilde(configured));
    }
    // The XDG base-directory rules ignore relative values.
    if (std::filesystem::path dataHome = environment("XDG_DATA_HOME"); dataHome.is_absolute()) {
        return absoluteNormal(dataHome / kProductDirectory);
    }
    return absoluteNormal(homeDirectory() / ".local" / "share" / kProductDirectory);
}

std::filesystem::path appSupportDirectory()
{
    std::filesystem::path directory = resolveAppSupportDirectory();
    createPrivateDirectories(directory);
    return directory;
}

} // namespace exitwise::app

namespace exitwise::app {

std::optional<std::string> prepareRecorderDirectory(const std::filesystem::path& directory)
{
    createPrivateDirectories(directory);
    const std::string fix =
        std::string("; remove it or set ") + kOverrideVariable + " to a directory of your own";
    // Checked and tightened through one descriptor, so the directory cannot be swapped between.
    const sys::Fd descriptor(sys::openRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY));
    const int fd = descriptor.get();
    if (fd < 0) {
        if (errno == ENOTDIR) {
            return directory.string() + " is not a directory" + fix;
        }
        return "cannot use " + directory.string() + ": " + std::strerror(errno);
    }
    struct stat info = {};
    std::optional<std::string> refusal;
    if (::fstat(fd, &info) != 0) {
        refusal = "cannot use " + directory.string() + ": " + std::strerror(errno);
    } else if (info.st_uid != ::geteuid()) {
        refusal = directory.string() + " is owned by uid " + std::to_string(info.st_uid) + ", not you" + fix;
    } else if ((info.st_mode & 07077) != 0 && ::fchmod(fd, info.st_mode & 0700) != 0) {
        // Looser than owner-only (0777, 1777): only the owner's own bits are kept.
        refusal = "cannot make " + directory.string() + " private: " + std::strerror(errno);
    }
    return refusal;
}

} // namespace exitwise::app

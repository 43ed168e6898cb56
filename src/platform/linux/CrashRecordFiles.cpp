// SPDX-License-Identifier: MIT
#include "platform/linux/CrashRecordFiles.h"

#include "sys/FileIo.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

namespace exitwise::platform::detail {

namespace {

struct DirCloser
{
    void operator()(DIR* dir) const { ::closedir(dir); }
};

core::Date modificationTime(const struct stat& info)
{
    return core::dateFromSecondsSince1970(static_cast<double>(info.st_mtim.tv_sec)
                                          + static_cast<double>(info.st_mtim.tv_nsec) / 1e9);
}

// Any user can leave a file in /var/crash: only records written by the system (root) or by
// our own user are evidence about our applications.
bool trustedOwner(const struct stat& info)
{
    return info.st_uid == 0 || info.st_uid == ::geteuid();
}

} // namespace

FileDescriptor openDirectory(const std::filesystem::path& path)
{
    if (path.empty()) {
        return {};
    }
    return FileDescriptor(sys::openRetrying(path.c_str(), O_RDONLY | O_DIRECTORY));
}

FileDescriptor openDirectoryAt(const FileDescriptor& parent, const std::string& name)
{
    return FileDescriptor(
        sys::openAtRetrying(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
}

std::vector<DirectoryEntry> listDirectory(const FileDescriptor& directory,
                                          const std::function<bool(std::string_view name)>& wanted)
{
    std::vector<DirectoryEntry> entries;
    if (!directory.valid()) {
        return entries;
    }
    // fdopendir takes the descriptor over; list through a copy so the caller's stays open.
    const int copy = ::fcntl(directory.get(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        return entries;
    }
    const std::unique_ptr<DIR, DirCloser> dir(::fdopendir(copy));
    if (!dir) {
        ::close(copy);
        return entries;
    }
    ::rewinddir(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.') {
            continue;
        }
        if (entry->d_type != DT_REG && entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) {
            continue;
        }
        if (!wanted(name)) {
            continue;
        }
        struct stat info
        {
        };
        if (::fstatat(directory.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0
            || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) || !trustedOwner(info)) {
            continue;
        }
        entries.push_back({std::string(name), S_ISDIR(info.st_mode), modificationTime(info)});
    }
    return entries;
}

bool readFileAt(const FileDescriptor& directory,
                const std::string& name,
                std::size_t maxBytes,
                const std::function<bool(std::string_view chunk)>& chunk)
{
    const FileDescriptor file(
        sys::openAtRetrying(directory.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat info
    {
    };
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || !trustedOwner(info)) {
        return false;
    }
    std::array<char, 64 * 1024> buffer{};
    std::size_t total = 0;
    while (total < maxBytes) {
        const ssize_t n =
            sys::readRetrying(file.get(), buffer.data(), std::min(buffer.size(), maxBytes - total));
        if (n < 0) {
            return false;
        }
        if (n == 0 || !chunk(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string>
readSmallFileAt(const FileDescriptor& directory, const std::string& name, std::size_t maxBytes)
{
    std::string contents;
    const bool read = readFileAt(directory, name, maxBytes, [&](std::string_view chunk) {
        contents.append(chunk);
        return true;
    });
    return read ? std::optional(std::move(contents)) : std::nullopt;
}

} // namespace exitwise::platform::detail

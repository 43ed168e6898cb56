// SPDX-License-Identifier: MIT
#include "sys/FileIo.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace exitwise::sys {

Fd::Fd(Fd&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

int Fd::close()
{
    const int fd = std::exchange(m_fd, -1);
    return fd >= 0 ? ::close(fd) : 0;
}

void Fd::reset()
{
    if (m_fd >= 0) {
        ::close(std::exchange(m_fd, -1));
    }
}

int openRetrying(const char* path, int flags, mode_t mode)
{
    return openAtRetrying(AT_FDCWD, path, flags, mode);
}

int openAtRetrying(int directory, const char* name, int flags, mode_t mode)
{
    int fd = -1;
    do {
        fd = ::openat(directory, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

Fd openRegularFile(const std::filesystem::path& path, int extraFlags)
{
    Fd fd(openRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | extraFlags));
    if (!fd.valid()) {
        return fd;
    }
    struct stat info = {};
    if (::fstat(fd.get(), &info) != 0) {
        return Fd();
    }
    if (!S_ISREG(info.st_mode)) {
        fd.reset();
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    return fd;
}

ssize_t readRetrying(int fd, void* into, std::size_t count)
{
    ssize_t n = 0;
    do {
        n = ::read(fd, into, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t preadRetrying(int fd, void* into, std::size_t count, off_t offset)
{
    ssize_t n = 0;
    do {
        n = ::pread(fd, into, count, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool syncRetrying(int fd)
{
    int result = 0;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

Fd openUnnamedFile([[maybe_unused]] const std::filesystem::path& directory, [[maybe_unused]] mode_t mode)
{
#ifdef O_TMPFILE
    Fd fd(openRetrying(directory.c_str(), O_TMPFILE | O_WRONLY, mode));
    // A file system without unnamed files says so in one of these ways.
    if (!fd.valid() && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        errno = EOPNOTSUPP;
    }
    return fd;
#else
    errno = EOPNOTSUPP;
    return Fd();
#endif
}

bool linkUnnamedFile([[maybe_unused]] const Fd& file, [[maybe_unused]] const std::filesystem::path& path)
{
#ifdef __linux__
    // Through the descriptor's /proc entry: linkat with AT_EMPTY_PATH needs a privilege.
    const std::string procPath = "/proc/self/fd/" + std::to_string(file.get());
    return ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
#else
    errno = ENOENT;
    return false;
#endif
}

std::optional<std::string> environment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

} // namespace exitwise::sys

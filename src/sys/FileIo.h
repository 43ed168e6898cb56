// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The one home of the POSIX calls on files and the environment: every layer uses these instead
// of calling the system itself. Interrupted calls are retried; every descriptor is close-on-exec.
namespace exitwise::sys {

// An owning file descriptor, closed when it goes.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept;
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    [[nodiscard]] int get() const { return m_fd; }
    [[nodiscard]] bool valid() const { return m_fd >= 0; }
    // Closes now and returns close's own result: a delayed write error can surface here.
    int close();
    void reset();

private:
    int m_fd = -1;
};

// open(2) and openat(2); -1 with errno on failure.
[[nodiscard]] int openRetrying(const char* path, int flags, mode_t mode = 0);
[[nodiscard]] int openAtRetrying(int directory, const char* name, int flags, mode_t mode = 0);

// A regular file opened for reading without blocking. Anything else in its place is refused
// before a read could block or never end: a directory with EISDIR, a FIFO, socket or device
// with EINVAL. `extraFlags` adds O_NOFOLLOW and the like.
[[nodiscard]] Fd openRegularFile(const std::filesystem::path& path, int extraFlags = 0);

[[nodiscard]] ssize_t readRetrying(int fd, void* into, std::size_t count);
[[nodiscard]] ssize_t preadRetrying(int fd, void* into, std::size_t count, off_t offset);
// Writes every byte, continuing short writes; false with errno on failure.
[[nodiscard]] bool writeAll(int fd, std::string_view bytes);
[[nodiscard]] bool syncRetrying(int fd);

// A file with no name yet in `directory`, for content that must appear whole or not at all;
// invalid where the system has no such files (then a named temporary file is the way).
[[nodiscard]] Fd openUnnamedFile(const std::filesystem::path& directory, mode_t mode);
// Gives such a file the name `path`; false with errno (ENOENT where it cannot be done).
[[nodiscard]] bool linkUnnamedFile(const Fd& file, const std::filesystem::path& path);

// The variable's value; none when it is unset or empty.
[[nodiscard]] std::optional<std::string> environment(const char* name);

} // namespace exitwise::sys

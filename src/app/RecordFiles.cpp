// SPDX-License-Identifier: MIT
#include "app/RecordFiles.h"

#include "app/DateFormats.h"
#include "sys/FileIo.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace exitwise::app::records {

namespace {

using sys::Fd;
using sys::openRetrying;
using sys::syncRetrying;
using sys::writeAll;

// What a symbolic link leads to, one hop at a time: the first path that is not a link (it may
// not exist). Nothing when the chain is too long to be anything but a loop.
std::optional<std::filesystem::path> followLinks(std::filesystem::path path)
{
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info = {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return path;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
            return std::nullopt;
        }
        target.resize(static_cast<std::size_t>(n));
        const std::filesystem::path next(target);
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return std::nullopt;
}

const char* kindOf(mode_t mode)
{
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    return "a special file";
}

// Where a write of `requested` lands: a regular file (links followed to its own name, so that
// a rename replaces the file and not the link), a path still to be created in an existing
// directory, or a character device. A FIFO, a socket, a block device or a link that leads
// nowhere is refused before anything is created.
struct WriteTarget
{
    std::filesystem::path path;
    std::optional<mode_t> existingMode;

    [[nodiscard]] bool isCharacterDevice() const { return existingMode && S_ISCHR(*existingMode); }
};

FileResult<WriteTarget> resolveWriteTarget(const std::filesystem::path& requested)
{
    const auto refuse = [&requested](int code, std::string reason) {
        return FileError{"write", requested, code, std::move(reason)};
    };
    const auto unresolvable = [&refuse] {
        return refuse(ENOENT, "it is a symbolic link that cannot be resolved");
    };

    struct stat followed = {};
    if (::stat(requested.c_str(), &followed) == 0) {
        if (S_ISDIR(followed.st_mode)) {
            return FileError::fromErrno("write", requested, EISDIR);
        }
        if (S_ISCHR(followed.st_mode)) {
            return WriteTarget{requested, followed.st_mode};
        }
        if (!S_ISREG(followed.st_mode)) {
            return refuse(EINVAL, std::string("it is ") + kindOf(followed.st_mode) + ", not a regular file");
        }
        // A link that only the kernel can follow (/proc/self/fd/N to a deleted file) has no
        // name to replace.
        const std::optional<std::filesystem::path> file = followLinks(requested);
        struct stat named = {};
        if (!file || ::lstat(file->c_str(), &named) != 0 || named.st_dev != followed.st_dev
            || named.st_ino != followed.st_ino) {
            return unresolvable();
        }
        return WriteTarget{*file, followed.st_mode};
    }
    if (const int code = errno; code != ENOENT) {
        return FileError::fromErrno("write", requested, code); // a loop, no permission, …
    }
    struct stat own = {};
    if (::lstat(requested.c_str(), &own) != 0 || !S_ISLNK(own.st_mode)) {
        return WriteTarget{requested, std::nullopt};
    }
    // A link to a file not made yet: it is made where the link points, when that directory exists.
    const std::optional<std::filesystem::path> file = followLinks(requested);
    if (!file) {
        return FileError::fromErrno("write", requested, ELOOP);
    }
    struct stat directory = {};
    const std::filesystem::path parent = file->parent_path().empty() ? "." : file->parent_path();
    if (::stat(parent.c_str(), &directory) != 0 || !S_ISDIR(directory.st_mode)) {
        return unresolvable();
    }
    return WriteTarget{*file, std::nullopt};
}

// Writes to a character device the user named (/dev/null, a terminal) where it is: opened
// without creating or truncating, never renamed over.
std::optional<FileError> writeInPlace(const std::filesystem::path& path, std::string_view bytes)
{
    // Non-blocking, so that a FIFO swapped in since the check fails instead of waiting.
    Fd fd(openRetrying(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) {
        return FileError::fromErrno("write", path, errno);
    }
    struct stat info = {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return FileError{"write", path, EINVAL, "it is no longer the device it was"};
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return FileError::fromErrno("write", path, errno);
    }
    if (!writeAll(fd.get(), bytes) || fd.close() != 0) {
        return FileError::fromErrno("write", path, errno);
    }
    return std::nullopt;
}

std::string temporaryName(const std::filesystem::path& target)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string name = ".";
    name += target.filename().string();
    name += ".tmp-";
    name += suffix;
    return name;
}

// Writes the new content to a temporary file and renames it over the target.
struct Replacement
{
    static constexpr int kCannotLinkUnnamed = -1;

    const std::filesystem::path& directory;
    const std::filesystem::path& target;
    const std::function<void(const ContentSink&)>& produce;
    mode_t newMode;
    std::optional<mode_t> keepMode;

    // 0 on success, else an errno value or kCannotLinkUnnamed. With `unnamed` the file has no
    // name until it is complete, so a process killed mid-write leaves nothing behind.
    [[nodiscard]] int run(bool unnamed) const
    {
        Fd fd;
        std::filesystem::path name;
        if (unnamed) {
            fd = sys::openUnnamedFile(directory, newMode);
            if (!fd.valid() && errno != EOPNOTSUPP) {
                return errno;
            }
        }
        if (!fd.valid() && !createNamed(fd, name)) {
            return errno;
        }
        const auto removeAnd = [&name](int code) {
            if (!name.empty()) {
                ::unlink(name.c_str());
            }
            return code;
        };
        if (keepMode && ::fchmod(fd.get(), *keepMode) != 0) {
            return removeAnd(errno);
        }
        int writeError = 0;
        produce([&fd, &writeError](std::string_view piece) {
            if (writeError == 0 && !writeAll(fd.get(), piece)) {
                writeError = errno == 0 ? EIO : errno;
            }
            return writeError == 0;
        });
        if (writeError != 0) {
            return removeAnd(writeError);
        }
        if (!syncRetrying(fd.get())) {
            return removeAnd(errno);
        }
        if (name.empty() && !linkUnnamed(fd, name)) {
            // Without /proc an unnamed file cannot be linked: start over with a named one.
            return errno == ENOENT ? kCannotLinkUnnamed : errno;
        }
        if (fd.close() != 0) {
            return removeAnd(errno);
        }
        if (::rename(name.c_str(), target.c_str()) != 0) {
            return removeAnd(errno);
        }
        return 0;
    }

private:
    [[nodiscard]] std::filesystem::path candidateName() const { return directory / temporaryName(target); }

    bool createNamed(Fd& fd, std::filesystem::path& name) const
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            std::filesystem::path candidate = candidateName();
            fd = Fd(openRetrying(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL, newMode));
            if (fd.valid()) {
                name = std::move(candidate);
                return true;
            }
            if (errno != EEXIST) {
                return false;
            }
        }
        return false;
    }

    bool linkUnnamed(const Fd& fd, std::filesystem::path& name) const
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            std::filesystem::path candidate = candidateName();
            if (sys::linkUnnamedFile(fd, candidate)) {
                name = std::move(candidate);
                return true;
            }
            if (errno != EEXIST) {
                return false;
            }
        }
        return false;
    }
};

bool syncDirectory(const std::filesystem::path& directory)
{
    Fd fd(openRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY));
    if (!fd.valid()) {
        return false;
    }
    // Some file systems cannot sync a directory; the rename is then as durable as it gets.
    return syncRetrying(fd.get()) || errno == EINVAL;
}

// Opens for appending; `lastByte` receives the file's final byte, or '\n' when the file is
// empty or cannot be read back.
int openForAppend(const std::filesystem::path& path, int extraFlags, char& lastByte)
{
    lastByte = '\n';
    // Non-blocking, so that a FIFO in the file's place fails (ENXIO) instead of waiting forever
    // for a reader.
    int fd = openRetrying(path.c_str(), O_RDWR | O_APPEND | O_NONBLOCK | extraFlags, 0600);
    if (fd < 0 && errno == EACCES) {
        return openRetrying(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | extraFlags, 0600);
    }
    if (fd >= 0) {
        struct stat info = {};
        if (::fstat(fd, &info) == 0 && info.st_size > 0) {
            char byte = '\n';
            if (sys::preadRetrying(fd, &byte, 1, info.st_size - 1) == 1) {
                lastByte = byte;
            }
        }
    }
    return fd;
}

std::optional<FileError>
append(const std::filesystem::path& path, std::string_view bytes, bool durable, Links links = Links::follow)
{
    char lastByte = '\n';
    Fd fd(openForAppend(path, (durable ? O_CREAT : 0) | (links == Links::refuse ? O_NOFOLLOW : 0), lastByte));
    if (!fd.valid()) {
        if (!durable && errno == ENOENT) {
            return atomicReplace(path, bytes, NewFileMode::ownerOnly);
        }
        return FileError::fromErrno("append to", path, errno);
    }
    std::string repaired;
    if (lastByte != '\n') {
        repaired.reserve(bytes.size() + 1);
        repaired += '\n';
        repaired += bytes;
        bytes = repaired;
    }
    if (!writeAll(fd.get(), bytes)) {
        return FileError::fromErrno("append to", path, errno);
    }
    if (durable && !syncRetrying(fd.get())) {
        return FileError::fromErrno("append to", path, errno);
    }
    if (fd.close() != 0) {
        return FileError::fromErrno("append to", path, errno);
    }
    return std::nullopt;
}

// The atomic replace itself, once the target is known to be a regular file or a new one.
std::optional<FileError> replaceResolved(const std::filesystem::path& requestedTarget,
                                         const std::filesystem::path& target,
                                         std::optional<mode_t> existingMode,
                                         const std::function<void(const ContentSink&)>& produce,
                                         NewFileMode mode)
{
    std::filesystem::path directory = target.parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    const auto fail = [&requestedTarget](int code) {
        return FileError::fromErrno("write", requestedTarget, code);
    };
    Replacement replacement{directory, target, produce,
                            mode == NewFileMode::ownerOnly ? mode_t(0600) : mode_t(0666),
                            existingMode ? std::optional<mode_t>(*existingMode & 07777) : std::nullopt};
    int code = replacement.run(true);
    if (code == Replacement::kCannotLinkUnnamed) {
        code = replacement.run(false);
    }
    if (code != 0) {
        return fail(code);
    }
    if (!syncDirectory(directory)) {
        return fail(errno);
    }
    return std::nullopt;
}

} // namespace

FileResult<std::string> readFile(const std::filesystem::path& path)
{
    const Fd fd = sys::openRegularFile(path);
    if (!fd.valid()) {
        return FileError::fromErrno("read", path, errno);
    }
    std::string contents;
    struct stat info = {};
    if (::fstat(fd.get(), &info) == 0 && info.st_size > 0) {
        contents.reserve(static_cast<std::size_t>(info.st_size));
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = sys::readRetrying(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            return FileError::fromErrno("read", path, errno);
        }
        if (n == 0) {
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    return contents;
}

std::optional<FileError>
atomicReplace(const std::filesystem::path& target, std::string_view bytes, NewFileMode mode)
{
    return atomicReplace(
        target, [bytes](const ContentSink& sink) { sink(bytes); }, mode);
}

std::optional<FileError> atomicReplace(const std::filesystem::path& requestedTarget,
                                       const std::function<void(const ContentSink&)>& produce,
                                       NewFileMode mode,
                                       Links links)
{
    if (struct stat own = {};
        links == Links::refuse && ::lstat(requestedTarget.c_str(), &own) == 0 && S_ISLNK(own.st_mode)) {
        return FileError{"write", requestedTarget, ELOOP,
                         "it is a symbolic link, which is not followed here"};
    }
    FileResult<WriteTarget> resolved = resolveWriteTarget(requestedTarget);
    if (!resolved) {
        return resolved.error();
    }
    if (resolved.value().isCharacterDevice()) {
        return FileError{"write", requestedTarget, EINVAL, "it is a character device, not a regular file"};
    }
    return replaceResolved(requestedTarget, resolved.value().path, resolved.value().existingMode, produce,
                           mode);
}

std::optional<FileError> writeChosenFile(const std::filesystem::path& target, std::string_view bytes)
{
    FileResult<WriteTarget> resolved = resolveWriteTarget(target);
    if (!resolved) {
        return resolved.error();
    }
    if (resolved.value().isCharacterDevice()) {
        return writeInPlace(target, bytes);
    }
    return replaceResolved(
        target, resolved.value().path, resolved.value().existingMode,
        [bytes](const ContentSink& sink) { sink(bytes); }, NewFileMode::standard);
}

std::optional<FileError> durableAppend(const std::filesystem::path& path, std::string_view bytes, Links links)
{
    return append(path, bytes, true, links);
}

std::optional<FileError> plainAppend(const std::filesystem::path& path, std::string_view bytes)
{
    return append(path, bytes, false);
}

namespace {

FileIdentity identityOf(const struct stat& info)
{
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                        static_cast<std::uint64_t>(info.st_size),
                        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

} // namespace

std::optional<FileIdentity> identify(const std::filesystem::path& path)
{
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return identityOf(info);
}

std::optional<FileError> forEachLineInFileFrom(const std::filesystem::path& path,
                                               std::uint64_t from,
                                               FileIdentity& identity,
                                               const std::function<void(const LineInFile&)>& visit)
{
    const Fd fd = sys::openRegularFile(path);
    struct stat info = {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
        return FileError::fromErrno("read", path, errno);
    }
    identity = identityOf(info);
    if (identity.size < from) {
        return std::nullopt;
    }
    if (from > 0 && ::lseek(fd.get(), static_cast<off_t>(from), SEEK_SET) < 0) {
        return FileError::fromErrno("read", path, errno);
    }
    // A modest buffer reused for the whole file: a long ledger is never held at once.
    std::vector<char> buffer(std::size_t{1} << 20);
    std::string partial;         // a line that continues into the next piece
    std::uint64_t offset = from; // of the buffer's first byte
    for (;;) {
        const ssize_t n = sys::readRetrying(fd.get(), buffer.data(), buffer.size());
        if (n < 0) {
            return FileError::fromErrno("read", path, errno);
        }
        if (n == 0) {
            break;
        }
        const std::string_view piece(buffer.data(), static_cast<std::size_t>(n));
        std::size_t start = 0;
        while (start < piece.size()) {
            const std::size_t feed = piece.find('\n', start);
            if (feed == std::string_view::npos) {
                break;
            }
            const std::uint64_t end = offset + feed + 1;
            if (!partial.empty()) {
                partial.append(piece.substr(start, feed - start));
                visit(LineInFile{partial, end, true});
                partial.clear();
            } else if (feed > start) {
                visit(LineInFile{piece.substr(start, feed - start), end, true});
            }
            start = feed + 1;
        }
        partial.append(piece.substr(start));
        offset += static_cast<std::uint64_t>(n);
    }
    if (!partial.empty()) {
        visit(LineInFile{partial, offset, false});
    }
    return std::nullopt;
}

std::optional<FileError> forEachLineInFile(const std::filesystem::path& path,
                                           const std::function<void(std::string_view)>& visit)
{
    FileIdentity identity;
    return forEachLineInFileFrom(path, 0, identity, [&visit](const LineInFile& line) { visit(line.text); });
}

FileResult<std::filesystem::path> setAside(const std::filesystem::path& path, core::Date now)
{
    const std::string base = path.string() + ".unreadable-" + compactUtcStamp(now);
    for (int counter = 1; counter < 1000; ++counter) {
        std::filesystem::path candidate = counter == 1 ? base : base + "-" + std::to_string(counter);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) {
            return candidate;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return FileError::fromErrno("set aside", path, errno);
        }
        // No RENAME_NOREPLACE on this file system: check, then rename.
        if (::access(candidate.c_str(), F_OK) == 0) {
            continue;
        }
        if (::rename(path.c_str(), candidate.c_str()) == 0) {
            return candidate;
        }
        return FileError::fromErrno("set aside", path, errno);
    }
    return FileError::fromErrno("set aside", path, EEXIST);
}

bool isLastingLoadFailure(const FileError& error)
{
    return error.code == 0 || error.code == EACCES || error.code == EPERM || error.code == EISDIR;
}

std::string jsonLine(const core::json::Json& record)
{
    std::string line = core::json::dumpCompact(record);
    line += '\n';
    return line;
}

} // namespace exitwise::app::records

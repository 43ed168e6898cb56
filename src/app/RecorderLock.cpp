// SPDX-License-Identifier: MIT
#include "app/RecorderLock.h"

#include "app/DataDirectory.h"
#include "sys/FileIo.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace exitwise::app {

namespace {

constexpr const char* kLockFileName = "recorder.lock";
// A holder's description is one short line; anything longer was not written by us.
constexpr std::size_t kHolderLimit = 256;

std::string readHolder(int fd)
{
    char buffer[kHolderLimit];
    const ssize_t n = sys::preadRetrying(fd, buffer, sizeof buffer, 0);
    std::string holder;
    for (ssize_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(buffer[i]);
        if (c == '\n') {
            break;
        }
        // Printed to a terminal: control characters are dropped.
        if (c >= 0x20 && c != 0x7f) {
            holder += static_cast<char>(c);
        }
    }
    return holder;
}

bool writeHolder(int fd, const std::string& holder)
{
    const std::string line = holder.substr(0, kHolderLimit - 1) + '\n';
    if (::ftruncate(fd, 0) != 0) {
        return false;
    }
    return ::pwrite(fd, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
}

} // namespace

std::variant<RecorderLock, RecorderLock::Refusal>
RecorderLock::acquire(const std::filesystem::path& directory, const std::string& holder)
{
    const std::filesystem::path path = directory / kLockFileName;
    const auto error = [&path](int code) {
        Refusal refusal;
        refusal.error = "cannot lock " + path.string() + ": " + std::strerror(code);
        return refusal;
    };
    // Never through a link: a planted one would let the lock file be any file of the user's.
    RecorderLock lock(
        sys::Fd(sys::openRetrying(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0600)));
    const int fd = lock.m_fd.get();
    if (fd < 0) {
        return error(errno);
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        return error(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return error(EINVAL);
    }
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (errno != EWOULDBLOCK) {
            return error(errno);
        }
        Refusal refusal;
        refusal.held = true;
        refusal.holder = readHolder(fd);
        return refusal;
    }
    // Only a description for the message of a second recorder: failing to write it is no reason
    // not to record.
    static_cast<void>(writeHolder(fd, holder));
    return lock;
}

std::variant<RecorderLock, std::string> claimDataDirectory(const std::filesystem::path& directory,
                                                           const std::string& holder)
{
    if (std::optional<std::string> refusal = prepareRecorderDirectory(directory)) {
        return *refusal;
    }
    auto acquired = RecorderLock::acquire(directory, holder);
    if (auto* lock = std::get_if<RecorderLock>(&acquired)) {
        return std::move(*lock);
    }
    const auto& refusal = std::get<RecorderLock::Refusal>(acquired);
    if (!refusal.held) {
        return refusal.error;
    }
    return "another recorder already records into " + directory.string() + " ("
           + (refusal.holder.empty() ? std::string("a process starting up") : refusal.holder)
           + "); stop it first";
}

} // namespace exitwise::app

// SPDX-License-Identifier: MIT
#include "platform/linux/PidfdExit.h"

#include "core/evidence/LinuxSignals.h"

#include <sys/ioctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>

namespace exitwise::platform {

namespace {

// The first published layout of struct pidfd_info (include/uapi/linux/pidfd.h); the kernel takes
// the size from the request number, so this one stays valid as the structure grows.
struct PidfdInfo
{
    std::uint64_t mask = 0;
    std::uint64_t cgroupid = 0;
    std::uint32_t pid = 0;
    std::uint32_t tgid = 0;
    std::uint32_t ppid = 0;
    std::uint32_t ruid = 0;
    std::uint32_t rgid = 0;
    std::uint32_t euid = 0;
    std::uint32_t egid = 0;
    std::uint32_t suid = 0;
    std::uint32_t sgid = 0;
    std::uint32_t fsuid = 0;
    std::uint32_t fsgid = 0;
    std::int32_t exitCode = 0;
};
static_assert(sizeof(PidfdInfo) == 64, "PIDFD_INFO_SIZE_VER0");

constexpr std::uint64_t kPidfdInfoExit = 1U << 3;
constexpr unsigned kPidfsIoctlMagic = 0xFF;
constexpr unsigned long kPidfdGetInfo = _IOWR(kPidfsIoctlMagic, 11, PidfdInfo);

} // namespace

core::ProcessExit exitFromWaitStatus(int status)
{
    if (WIFSIGNALED(status)) {
        return core::ProcessExit::signaled(core::linuxsignals::name(WTERMSIG(status)),
                                           WCOREDUMP(status) != 0);
    }
    if (WIFEXITED(status)) {
        return core::ProcessExit::exited(WEXITSTATUS(status));
    }
    return core::ProcessExit::unknown();
}

PidfdExit readPidfdExit(int pidfd)
{
    PidfdInfo info;
    info.mask = kPidfdInfoExit;
    if (ioctl(pidfd, kPidfdGetInfo, &info) != 0) {
        // Before 6.13 there is no PIDFD_GET_INFO (ENOTTY). 6.13 and 6.14 have it without exit
        // information: they never set the bit, and give ESRCH once the process is reaped.
        const bool unsupported = errno == ENOTTY || errno == EINVAL || errno == EOPNOTSUPP;
        return {unsupported ? PidfdExit::State::unsupported : PidfdExit::State::unavailable, 0};
    }
    if ((info.mask & kPidfdInfoExit) == 0) {
        return {PidfdExit::State::notReaped, 0};
    }
    return {PidfdExit::State::ended, info.exitCode};
}

} // namespace exitwise::platform

// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::platform {

// The fields of /proc/PID/stat the watcher needs.
struct ProcStat
{
    std::string comm;
    char state = '?';
    int ppid = 0;
    std::uint64_t startTime = 0; // clock ticks after boot; with the pid it names one process
    // Field 52: a zombie's wait status (0 while it runs). Absent on kernels before 3.5.
    std::optional<int> exitCode{};

    friend bool operator==(const ProcStat&, const ProcStat&) = default;
};

// Nothing when the text is not a stat line.
[[nodiscard]] std::optional<ProcStat> parseProcStat(std::string_view text);

// The path of the unified hierarchy's line ("0::/user.slice/…") of a /proc/PID/cgroup text;
// empty when there is none.
[[nodiscard]] std::string unifiedCgroupPath(std::string_view text);

// Reads the per-process files of a proc file system. Every read of a process that has gone
// (or never was) gives nothing; none of them throws.
class ProcfsReader
{
public:
    explicit ProcfsReader(std::filesystem::path procRoot = "/proc");
    ~ProcfsReader();
    ProcfsReader(const ProcfsReader&) = delete;
    ProcfsReader& operator=(const ProcfsReader&) = delete;

    struct Listed
    {
        int pid = 0;
        // The directory's inode: a pid that ends and is reused comes back with a new one.
        std::uint64_t inode = 0;
    };
    [[nodiscard]] std::vector<Listed> list() const;

    [[nodiscard]] std::optional<ProcStat> stat(int pid) const;
    // Owner of /proc/PID: the effective user of a dumpable process, root for a non-dumpable one.
    [[nodiscard]] std::optional<unsigned> ownerUid(int pid) const;
    // The real user from /proc/PID/status.
    [[nodiscard]] std::optional<unsigned> realUid(int pid) const;
    // /proc/PID/exe without the " (deleted)" an upgrade leaves behind; nothing when unreadable.
    [[nodiscard]] std::optional<std::string> executable(int pid) const;
    // Arguments; empty for kernel threads, zombies and unreadable processes.
    [[nodiscard]] std::vector<std::string> commandLine(int pid) const;
    [[nodiscard]] std::string cgroup(int pid) const;
    // This boot's id, 32 hexadecimal digits without dashes.
    [[nodiscard]] std::optional<std::string> bootId() const;
    // Time since boot in the clock ticks of ProcStat::startTime.
    [[nodiscard]] std::optional<std::uint64_t> uptimeTicks() const;
    // The pid handed out last (to a process or a thread), from loadavg: while it stays the same,
    // nothing new can have appeared in the listing.
    [[nodiscard]] std::optional<int> lastPid() const;

    [[nodiscard]] const std::filesystem::path& root() const { return m_root; }

private:
    [[nodiscard]] std::optional<std::string> readFile(int pid, const char* name, std::size_t limit) const;

    std::filesystem::path m_root;
    int m_rootFd = -1;
};

} // namespace exitwise::platform

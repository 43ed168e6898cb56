// SPDX-License-Identifier: MIT
#include "platform/linux/ProcfsReader.h"

#include <sys/stat.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace exitwise::platform {

namespace {

template <class T> std::optional<T> number(std::string_view text)
{
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> pidFromName(std::string_view name)
{
    if (name.empty() || name.front() < '1' || name.front() > '9') {
        return std::nullopt;
    }
    return number<int>(name);
}

} // namespace

std::optional<ProcStat> parseProcStat(std::string_view text)
{
    // comm may hold spaces and ')' itself, so it ends at the last ')'.
    const std::size_t open = text.find('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::nullopt;
    }
    ProcStat result;
    result.comm = std::string(text.substr(open + 1, close - open - 1));
    // Fields from 3 (state) on, separated by single spaces; older kernels end earlier.
    constexpr std::size_t kRequired = 20; // up to field 22, starttime
    std::string_view rest = text.substr(close + 1);
    std::array<std::string_view, 50> fields{};
    std::size_t count = 0;
    while (count < fields.size()) {
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        if (rest.empty()) {
            break;
        }
        const std::size_t end = std::min(rest.find_first_of(" \n"), rest.size());
        fields[count++] = rest.substr(0, end);
        rest.remove_prefix(end);
    }
    if (count < kRequired || fields[0].size() != 1) {
        return std::nullopt;
    }
    result.state = fields[0].front();
    const std::optional<int> ppid = number<int>(fields[1]);   // field 4
    const auto startTime = number<std::uint64_t>(fields[19]); // field 22
    if (!ppid || !startTime) {
        return std::nullopt;
    }
    result.ppid = *ppid;
    result.startTime = *startTime;
    if (count == fields.size()) {
        result.exitCode = number<int>(fields[49]); // field 52
    }
    return result;
}

std::string unifiedCgroupPath(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        if (const std::string_view line = text.substr(0, end); line.starts_with("0::")) {
            return std::string(line.substr(3));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return {};
}

ProcfsReader::ProcfsReader(std::filesystem::path procRoot)
    : m_root(std::move(procRoot))
    , m_rootFd(open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{}

ProcfsReader::~ProcfsReader()
{
    if (m_rootFd >= 0) {
        close(m_rootFd);
    }
}

std::vector<ProcfsReader::Listed> ProcfsReader::list() const
{
    std::vector<Listed> result;
    if (m_rootFd < 0) {
        return result;
    }
    // A fresh descriptor: readdir on a shared one would need a rewind and keeps state.
    const int fd = openat(m_rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return result;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return result;
    }
    while (const dirent* item = readdir(dir)) {
        if (item->d_type != DT_DIR && item->d_type != DT_UNKNOWN) {
            continue;
        }
        if (const std::optional<int> pid = pidFromName(item->d_name)) {
            result.push_back({*pid, item->d_ino});
        }
    }
    closedir(dir);
    return result;
}

std::optional<std::string> ProcfsReader::readFile(int pid, const char* name, std::size_t limit) const
{
    char path[64];
    if (pid > 0) {
        std::snprintf(path, sizeof path, "%d/%s", pid, name);
    } else {
        std::snprintf(path, sizeof path, "%s", name);
    }
    const int fd = openat(m_rootFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    std::array<char, 4096> buffer{};
    ssize_t n = 0;
    while (text.size() < limit && (n = read(fd, buffer.data(), buffer.size())) > 0) {
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
    close(fd);
    if (n < 0) {
        return std::nullopt;
    }
    if (text.size() > limit) {
        text.resize(limit);
    }
    return text;
}

std::optional<ProcStat> ProcfsReader::stat(int pid) const
{
    const std::optional<std::string> text = readFile(pid, "stat", 4096);
    return text ? parseProcStat(*text) : std::nullopt;
}

std::optional<unsigned> ProcfsReader::ownerUid(int pid) const
{
    char name[16];
    std::snprintf(name, sizeof name, "%d", pid);
    struct stat info
    {
    };
    if (fstatat(m_rootFd, name, &info, 0) != 0) {
        return std::nullopt;
    }
    return info.st_uid;
}

std::optional<unsigned> ProcfsReader::realUid(int pid) const
{
    const std::optional<std::string> text = readFile(pid, "status", 16384);
    if (!text) {
        return std::nullopt;
    }
    const std::size_t at = text->find("\nUid:");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::size_t start = at + 5;
    while (start < text->size() && ((*text)[start] == '\t' || (*text)[start] == ' ')) {
        ++start;
    }
    std::size_t end = start;
    while (end < text->size() && (*text)[end] >= '0' && (*text)[end] <= '9') {
        ++end;
    }
    return number<unsigned>(std::string_view(*text).substr(start, end - start));
}

std::optional<std::string> ProcfsReader::executable(int pid) const
{
    char path[32];
    std::snprintf(path, sizeof path, "%d/exe", pid);
    std::array<char, 4096> buffer{};
    const ssize_t n = readlinkat(m_rootFd, path, buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
        return std::nullopt;
    }
    std::string target(buffer.data(), static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.ends_with(kDeleted)) {
        target.resize(target.size() - kDeleted.size());
    }
    return target;
}

std::vector<std::string> ProcfsReader::commandLine(int pid) const
{
    std::vector<std::string> arguments;
    const std::optional<std::string> text = readFile(pid, "cmdline", 65536);
    if (!text) {
        return arguments;
    }
    std::size_t start = 0;
    while (start < text->size()) {
        std::size_t end = text->find('\0', start);
        if (end == std::string::npos) {
            end = text->size();
        }
        arguments.push_back(text->substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

std::string ProcfsReader::cgroup(int pid) const
{
    return readFile(pid, "cgroup", 16384).value_or(std::string());
}

std::optional<std::string> ProcfsReader::bootId() const
{
    const std::optional<std::string> text = readFile(0, "sys/kernel/random/boot_id", 64);
    if (!text) {
        return std::nullopt;
    }
    std::string id;
    for (const char c : *text) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) {
            id += c;
        } else if (c != '-' && c != '\n') {
            return std::nullopt;
        }
    }
    return id.size() == 32 ? std::optional(id) : std::nullopt;
}

std::optional<int> ProcfsReader::lastPid() const
{
    // "0.20 0.18 0.12 1/80 11206"
    const std::optional<std::string> text = readFile(0, "loadavg", 256);
    if (!text) {
        return std::nullopt;
    }
    std::string_view last = *text;
    while (!last.empty() && (last.back() == '\n' || last.back() == ' ')) {
        last.remove_suffix(1);
    }
    const std::size_t space = last.rfind(' ');
    return space == std::string_view::npos ? std::nullopt : number<int>(last.substr(space + 1));
}

std::optional<std::uint64_t> ProcfsReader::uptimeTicks() const
{
    const std::optional<std::string> text = readFile(0, "uptime", 256);
    if (!text) {
        return std::nullopt;
    }
    // "12345.67 54321.00": seconds with two decimals.
    const std::string_view seconds = std::string_view(*text).substr(0, text->find(' '));
    const std::size_t dot = seconds.find('.');
    const std::optional<std::uint64_t> whole = number<std::uint64_t>(seconds.substr(0, dot));
    if (!whole) {
        return std::nullopt;
    }
    std::uint64_t hundredths = 0;
    if (dot != std::string_view::npos) {
        hundredths = number<std::uint64_t>(seconds.substr(dot + 1, 2)).value_or(0);
    }
    const auto ticksPerSecond = static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK));
    return *whole * ticksPerSecond + hundredths * ticksPerSecond / 100;
}

} // namespace exitwise::platform

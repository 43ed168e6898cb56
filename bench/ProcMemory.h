// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace exitwise::bench {

// The number after "name:" in a /proc key-value file; -1 when absent.
inline long procField(const std::filesystem::path& file, const std::string& name)
{
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::atol(line.c_str() + name.size() + 1);
        }
    }
    return -1;
}

struct Memory
{
    long rss = -1; // KiB
    long anonymous = -1;
    long files = -1;
    long privateClean = -1; // resident pages no other process maps, unchanged since loaded
    long privateDirty = -1; // resident pages no other process maps, written by this one
};

inline Memory memoryOf(pid_t pid)
{
    const std::filesystem::path proc = "/proc/" + std::to_string(pid);
    return {procField(proc / "status", "VmRSS"), procField(proc / "status", "RssAnon"),
            procField(proc / "status", "RssFile"), procField(proc / "smaps_rollup", "Private_Clean"),
            procField(proc / "smaps_rollup", "Private_Dirty")};
}

} // namespace exitwise::bench

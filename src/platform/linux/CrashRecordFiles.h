// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "sys/FileIo.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reading the directories the system keeps crash records in. Some are writable by every user,
// so nothing here follows a symlink or opens a FIFO or device, and nothing blocks.
namespace exitwise::platform::detail {

using FileDescriptor = sys::Fd;

struct DirectoryEntry
{
    std::string name;
    bool isDirectory = false; // else a regular file
    core::Date modifiedAt;
};

// The directory itself; invalid when it is missing or unreadable.
[[nodiscard]] FileDescriptor openDirectory(const std::filesystem::path& path);

// A directory inside an open one, never through a symlink.
[[nodiscard]] FileDescriptor openDirectoryAt(const FileDescriptor& parent, const std::string& name);

// The regular files and directories whose names pass `wanted`, with their modification times.
// Hidden entries, symlinks, every other kind of file and whatever belongs to a user other than
// root or ours are left out; so is everything when the directory cannot be listed.
[[nodiscard]] std::vector<DirectoryEntry>
listDirectory(const FileDescriptor& directory, const std::function<bool(std::string_view name)>& wanted);

// Streams at most `maxBytes` of the regular file `name` to `chunk` until it returns false.
// False when the file could not be opened (or is no regular file, or belongs to a user other
// than root or ours) or a read failed.
[[nodiscard]] bool readFileAt(const FileDescriptor& directory,
                              const std::string& name,
                              std::size_t maxBytes,
                              const std::function<bool(std::string_view chunk)>& chunk);

// The first `maxBytes` of a small regular file; nothing when it cannot be read.
[[nodiscard]] std::optional<std::string>
readSmallFileAt(const FileDescriptor& directory, const std::string& name, std::size_t maxBytes);

} // namespace exitwise::platform::detail

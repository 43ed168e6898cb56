// SPDX-License-Identifier: MIT
#include "app/FileError.h"

#include <cerrno>
#include <cstring>

namespace exitwise::app {

FileError FileError::fromErrno(std::string action, std::filesystem::path path, int code)
{
    // EIO stands in when a call failed without saying why.
    const int effective = code == 0 ? EIO : code;
    return FileError{std::move(action), std::move(path), effective, std::strerror(effective)};
}

std::string FileError::message() const
{
    return "cannot " + action + " " + path.string() + ": " + reason;
}

} // namespace exitwise::app

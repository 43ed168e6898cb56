// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <variant>

namespace exitwise::app {

// A failed file operation: what was attempted on which file, and why. `code` is the errno
// value for system failures and 0 when the content was at fault (e.g. it does not decode).
struct FileError
{
    std::string action; // "read", "write", "append to", "decode", …
    std::filesystem::path path;
    int code = 0;
    std::string reason; // the system's own text for `code`, or what is wrong with the content

    [[nodiscard]] static FileError fromErrno(std::string action, std::filesystem::path path, int code);

    // "cannot write /home/ann/x.csv: Permission denied"
    [[nodiscard]] std::string message() const;

    friend bool operator==(const FileError&, const FileError&) = default;
};

// A value or the FileError that prevented it.
template <class T> class FileResult
{
public:
    FileResult(T value)
        : m_state(std::move(value))
    {}
    FileResult(FileError error)
        : m_state(std::move(error))
    {}

    [[nodiscard]] bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    [[nodiscard]] const T& value() const& { return std::get<T>(m_state); }
    [[nodiscard]] T&& value() && { return std::get<T>(std::move(m_state)); }
    [[nodiscard]] const FileError& error() const { return std::get<FileError>(m_state); }

private:
    std::variant<T, FileError> m_state;
};

} // namespace exitwise::app

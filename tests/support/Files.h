// SPDX-License-Identifier: MIT
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::test {

// The whole file, byte for byte, or "" when it cannot be read (yet).
inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// `text` cut at each `separator` into at most `count` parts, the last taking the rest.
inline std::vector<std::string>
split(std::string_view text, std::string_view separator, std::size_t count = std::string_view::npos)
{
    std::vector<std::string> parts;
    for (auto end = text.find(separator); end != std::string_view::npos && parts.size() + 1 < count;
         end = text.find(separator)) {
        parts.emplace_back(text.substr(0, end));
        text.remove_prefix(end + separator.size());
    }
    parts.emplace_back(text);
    return parts;
}

// The lines of a test data file that are neither blank nor comments (starting with '#'); throws
// (failing the test) when there is no such file.
inline std::vector<std::string> dataLines(const std::filesystem::path& path)
{
    const std::string text = readFile(path);
    if (text.empty()) {
        throw std::runtime_error("no test data in " + path.string());
    }
    std::vector<std::string> lines;
    for (std::string& line : split(text, "\n")) {
        if (!line.empty() && !line.starts_with('#')) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

// A fresh directory under /tmp named after `prefix`, removed with everything in it at the end.
class TempDir
{
public:
    explicit TempDir(const std::string& prefix)
    {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory for " + prefix);
        }
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace exitwise::test

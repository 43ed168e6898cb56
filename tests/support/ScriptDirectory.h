// SPDX-License-Identifier: MIT
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace exitwise::test {

// A temporary directory of small executable shell scripts standing in for external tools.
class ScriptDirectory
{
public:
    ScriptDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "exitwise-scripts-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~ScriptDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScriptDirectory(const ScriptDirectory&) = delete;
    ScriptDirectory& operator=(const ScriptDirectory&) = delete;

    // Writes `body` after a #!/bin/sh line and returns the script's path.
    std::filesystem::path script(const std::string& name, const std::string& body) const
    {
        const std::filesystem::path file = m_path / name;
        std::ofstream(file, std::ios::binary) << "#!/bin/sh\n" << body << '\n';
        ::chmod(file.c_str(), 0755);
        return file;
    }

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace exitwise::test

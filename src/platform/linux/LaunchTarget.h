// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::platform {

// What a command line really runs once wrappers and interpreters are looked through:
// `env A=1 foo` runs foo, `python3 -u /opt/x/tool.py` runs tool.py, `flatpak run org.x.Y`
// runs the Flatpak application org.x.Y.
struct LaunchTarget
{
    std::string program;      // path or name as written; empty for a Flatpak application
    bool interpreted = false; // a script, jar, module or class handed to an interpreter
    std::string flatpakId;    // set for `flatpak run <id>`

    friend bool operator==(const LaunchTarget&, const LaunchTarget&) = default;
};

// Shell-like word splitting: blanks separate words, '…' is literal, "…" honours \" \` \$ \\,
// a bare backslash escapes the next character. Nothing when a quote is left open.
[[nodiscard]] std::optional<std::vector<std::string>> splitCommandLine(std::string_view line);

// The target of a command line, or nothing when it only starts a wrapper or interpreter
// (a bare `python3`, `sh -c "cd /tmp"`, `bwrap …`).
[[nodiscard]] std::optional<LaunchTarget> resolveLaunchTarget(const std::vector<std::string>& argv);

// Programs that only start something else (env, nice, sh, bash, python3.11, java, flatpak, …):
// their own name never identifies an application.
[[nodiscard]] bool isWrapperProgram(std::string_view baseName);

// The last path component ("/usr/bin/foo" → "foo").
[[nodiscard]] std::string_view baseName(std::string_view path);

} // namespace exitwise::platform

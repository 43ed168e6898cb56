// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>

namespace exitwise::app {

// The per-user data directory, as an absolute path:
// - EXITWISE_APP_SUPPORT_DIR when it is set and not blank (trimmed, a leading "~" expanded,
//   relative paths taken from the working directory), used as is without a subdirectory;
// - otherwise $XDG_DATA_HOME/Exitwise when XDG_DATA_HOME is an absolute path;
// - otherwise ~/.local/share/Exitwise.
// Only resolves; nothing is created. Readers that must not touch the disk use this one.
[[nodiscard]] std::filesystem::path resolveAppSupportDirectory();

// Resolves the data directory and creates it with any missing parents, owner-only (0700):
// it records which applications a person used and when. A directory that cannot be created
// is still returned; writes into it then fail and their callers handle that.
[[nodiscard]] std::filesystem::path appSupportDirectory();

// "~" and "~/…" become the home directory, "~name/…" that user's home; other paths are
// returned unchanged.
[[nodiscard]] std::filesystem::path expandTilde(const std::string& path);

// $HOME, or the password database's entry when HOME is unset or empty.
[[nodiscard]] std::filesystem::path homeDirectory();

} // namespace exitwise::app

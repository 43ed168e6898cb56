// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>

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

// Makes `directory` fit for recording (appSupportDirectory's result): created when missing,
// then accepted only as a directory owned by this user (a symbolic link to one is followed),
// with its mode tightened to 0700 when looser, since it records what a person used and when
// and nobody else may plant or swap files in it. Otherwise the reason, naming the path and
// the fix, as one line without a prefix.
[[nodiscard]] std::optional<std::string> prepareRecorderDirectory(const std::filesystem::path& directory);

// "~" and "~/…" become the home directory, "~name/…" that user's home; other paths are
// returned unchanged.
[[nodiscard]] std::filesystem::path expandTilde(const std::string& path);

// $HOME, or the password database's entry when HOME is unset or empty.
[[nodiscard]] std::filesystem::path homeDirectory();

} // namespace exitwise::app

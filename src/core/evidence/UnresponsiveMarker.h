// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace exitwise::core {

// The empty file KWin writes just before it ends a window's application that stopped
// responding ("Terminate" in its dialog): `<exe>.<boot id>.<pid>.<ms since 1970>.json` in
// `$XDG_CACHE_HOME/drkonqi/application-not-responding/`. `<exe>` is the program's file name up
// to its first dot; the boot id is 32 hexadecimal digits. It then sends SIGABRT, and SIGKILL
// if that did not end the process within four seconds.
struct UnresponsiveMarker
{
    std::string executable;
    std::string bootId;
    std::int32_t pid = 0;
    Date writtenAt;

    // The directory, relative to the user's cache directory.
    static constexpr std::string_view kCacheSubdirectory = "drkonqi/application-not-responding";

    // Nothing for a name of any other shape.
    [[nodiscard]] static std::optional<UnresponsiveMarker> parseFileName(std::string_view fileName);

    friend bool operator==(const UnresponsiveMarker&, const UnresponsiveMarker&) = default;
};

} // namespace exitwise::core

// SPDX-License-Identifier: MIT
// A .desktop file, as any package or the user may install it, and its Exec line.

#include "FuzzSupport.h"
#include "platform/linux/DesktopEntry.h"
#include "platform/linux/LaunchTarget.h"

using namespace exitwise;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = fuzz::asText(data, size);
    static const std::vector<std::string> locales = platform::localeFallbacks("de_DE.UTF-8@euro");
    if (const auto entry = platform::parseDesktopEntry(text, locales)) {
        if (!entry->exec.empty()) {
            static_cast<void>(platform::resolveLaunchTarget(entry->exec));
        }
    }
    if (const auto words = platform::splitExec(text)) {
        static_cast<void>(platform::resolveLaunchTarget(*words));
    }
    static_cast<void>(platform::localeFallbacks(text.substr(0, 64)));
    return 0;
}

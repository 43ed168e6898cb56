// SPDX-License-Identifier: MIT
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace exitwise::test {

// Sets TZ for one scope and restores it afterwards.
struct ScopedTimeZone
{
    std::optional<std::string> old =
        std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;

    explicit ScopedTimeZone(const char* zone)
    {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        old ? ::setenv("TZ", old->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;
};

} // namespace exitwise::test

// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

namespace exitwise::app {

enum class LoginItemStatus
{
    notRegistered, // absent, or present but switched off by the user
    enabled
};

struct LoginItemError
{
    std::string message;

    friend bool operator==(const LoginItemError&, const LoginItemError&) = default;
};

// Whether the application starts when the user logs in. Synchronous and cheap enough for the
// main thread.
class LoginItems
{
public:
    virtual ~LoginItems() = default;

    [[nodiscard]] virtual LoginItemStatus status() const = 0;
    // Both leave the item in the requested state when they succeed; repeating either is harmless.
    [[nodiscard]] virtual std::optional<LoginItemError> registerItem() = 0;
    [[nodiscard]] virtual std::optional<LoginItemError> unregisterItem() = 0;
};

} // namespace exitwise::app

// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::app {

// A fast reader for the one-level JSON objects of the JSON-lines files, used where a file
// holds many thousands of them. It accepts only objects whose values are strings, numbers,
// booleans or null, with unique keys; anything else (nesting, odd escapes, invalid text) is
// left to the general JSON reader by returning no value, so callers fall back to it and
// get its exact verdict.
class FlatJsonObject
{
public:
    enum class Kind
    {
        string,
        number,
        boolean,
        null
    };

    struct Member
    {
        std::string_view key;
        Kind kind = Kind::null;
        // The decoded string, or the number's literal text. Points into the parsed line, or
        // into the object's own storage when escapes had to be decoded.
        std::string_view text;
        bool boolean = false;
    };

    // More members than this are left to the general reader too.
    static constexpr std::size_t kMaxMembers = 24;

    [[nodiscard]] static std::optional<FlatJsonObject> parse(std::string_view line);

    [[nodiscard]] const Member* find(std::string_view key) const;
    [[nodiscard]] std::span<const Member> members() const { return {m_members.data(), m_count}; }

    FlatJsonObject() = default;
    FlatJsonObject(const FlatJsonObject&) = delete;
    FlatJsonObject& operator=(const FlatJsonObject&) = delete;
    FlatJsonObject(FlatJsonObject&&) = default;
    FlatJsonObject& operator=(FlatJsonObject&&) = default;

private:
    // Fixed storage: parsing a common line allocates nothing.
    std::array<Member, kMaxMembers> m_members{};
    std::size_t m_count = 0;
    // Strings whose escapes were decoded; owned one by one so views into them stay valid.
    std::vector<std::unique_ptr<std::string>> m_decoded;
};

} // namespace exitwise::app

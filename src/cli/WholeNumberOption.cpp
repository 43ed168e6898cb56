// SPDX-License-Identifier: MIT
#include "cli/WholeNumberOption.h"

#include <algorithm>
#include <charconv>

namespace exitwise::cli {

std::optional<std::size_t> parseWholeNumber(std::string_view text, std::size_t min, std::size_t max)
{
    // from_chars alone would accept a leading minus sign and stop at trailing junk.
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

CLI::Option* addWholeNumberOption(CLI::App& app,
                                  const std::string& name,
                                  std::size_t& target,
                                  std::size_t min,
                                  std::size_t max,
                                  const std::string& description)
{
    // Taken as text so that CLI11's own conversion and range messages never reach the user.
    auto* option = app.add_option_function<std::string>(
        name,
        [&target, name, min, max](const std::string& text) {
            const std::optional<std::size_t> value = parseWholeNumber(text, min, max);
            if (!value) {
                throw CLI::ValidationError(name + " must be a whole number from " + std::to_string(min)
                                           + " to " + std::to_string(max));
            }
            target = *value;
        },
        description + " (" + std::to_string(min) + " to " + std::to_string(max) + ")");
    option->type_name("N");
    return option;
}

} // namespace exitwise::cli

// SPDX-License-Identifier: MIT
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace exitwise::cli {

// Adds `name N` taking a whole number from `min` to `max` into `target`. Anything else
// (a sign, a fraction, an exponent, spaces, letters, a number out of range) is a usage
// error reading "NAME must be a whole number from MIN to MAX", the same for every option.
CLI::Option* addWholeNumberOption(CLI::App& app,
                                  const std::string& name,
                                  std::size_t& target,
                                  std::size_t min,
                                  std::size_t max,
                                  const std::string& description);

// The value of `text` when it is only decimal digits and within [min, max].
[[nodiscard]] std::optional<std::size_t>
parseWholeNumber(std::string_view text, std::size_t min, std::size_t max);

} // namespace exitwise::cli

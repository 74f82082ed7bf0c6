#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <utility>
#include <vector>

// Checks of option values whose failures read as plain sentences ("--limit: must be 0 or more
// (not -1)") instead of the argument parser's internals.
namespace qix::tool {

/// Accepts a number of 0 or more.
[[nodiscard]] CLI::Validator non_negative_check();
/// Accepts a whole number of 0 or more.
[[nodiscard]] CLI::Validator count_check();
/// Accepts any number.
[[nodiscard]] CLI::Validator number_check();

/// Accepts one of the names (any letter case) and turns it into its value.
[[nodiscard]] CLI::Validator choice_of_values(std::vector<std::pair<std::string, int>> choices);

template <typename Enum>
[[nodiscard]] CLI::Validator choice_of(const std::vector<std::pair<std::string, Enum>>& choices)
{
    std::vector<std::pair<std::string, int>> values;
    for (const auto& [name, value] : choices)
        values.emplace_back(name, static_cast<int>(value));
    return choice_of_values(std::move(values));
}

} // namespace qix::tool

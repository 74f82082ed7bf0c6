#include "Options.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstdint>

namespace qix::tool {

namespace {

bool is_number(const std::string& text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && ptr == end && !std::isnan(value);
}

bool is_whole_number(const std::string& text)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && ptr == end;
}

std::string lowercase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

CLI::Validator non_negative_check()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (!is_number(text))
                return fmt::format("must be a number (not {})", text);
            return std::stod(text) < 0 ? fmt::format("must be 0 or more (not {})", text) : std::string();
        },
        "");
}

CLI::Validator count_check()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (!is_whole_number(text))
                return fmt::format("must be a whole number, 0 or more (not {})", text);
            return text.front() == '-' ? fmt::format("must be 0 or more (not {})", text) : std::string();
        },
        "");
}

CLI::Validator number_check()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return is_number(text) ? std::string() : fmt::format("must be a number (not {})", text);
        },
        "");
}

CLI::Validator choice_of_values(std::vector<std::pair<std::string, int>> choices)
{
    return CLI::Validator(
        [choices = std::move(choices)](std::string& text) -> std::string {
            std::vector<std::string> names;
            for (const auto& [name, value] : choices) {
                if (name == lowercase(text)) {
                    text = std::to_string(value);
                    return {};
                }
                names.push_back(name);
            }
            return fmt::format("{} is not one of {}", text, fmt::join(names, ", "));
        },
        "");
}

} // namespace qix::tool

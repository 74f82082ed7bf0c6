#include "targets.h"

#include "ComponentListFile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qix::fuzz {

namespace {

bool same_double(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b));
}

constexpr double kLargestKeptFinite = 1.797693134862315e308;
constexpr double kSmallestSubnormal = 4.9406564584124654e-324;

bool is_decimal(std::string_view text) { return text.find_first_of("nNiI") == std::string_view::npos; }

} // namespace

void list_number(std::string_view input)
{
    using sql::detail::format_list_number;
    using sql::detail::parse_list_number;

    const auto value = parse_list_number(input);
    if (value && is_decimal(input)) {
        // strtod of the C library rounds correctly too and accepts a superset of the grammar.
        const std::string text(input);
        char* end = nullptr;
        const double reference = std::strtod(text.c_str(), &end);
        require(end == text.c_str() + text.size(), "strtod takes every accepted decimal number whole");
        require(same_double(*value, reference), "the value of a decimal number line is that of strtod");
    }
    if (!value)
        return;
    char written[sql::detail::kListNumberMaxLength];
    const std::string_view text(written, static_cast<std::size_t>(format_list_number(written, *value) - written));
    const auto reread = parse_list_number(text);
    require(reread.has_value(), "every written number line reads back");
    require(std::isnan(*value) == std::isnan(*reread) && std::signbit(*value) == std::signbit(*reread),
            "sign and NaN survive writing");
    if (std::isnan(*value) || std::isinf(*value))
        require(same_double(*value, *reread), "infinities and NaN are written exactly");
    else if (std::isinf(*reread))
        // 16 significant digits round the largest doubles up past the end of the range.
        require(std::fabs(*value) > kLargestKeptFinite, "only the largest doubles read back as infinity");
    else
        require(std::fabs(*reread - *value) <= std::max(std::fabs(*value) * 1e-15, kSmallestSubnormal),
                "a written number reads back within its 16 significant digits");
}

} // namespace qix::fuzz

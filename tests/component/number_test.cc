// Number lines of the component list file: the accepted grammar, the rounding and the
// written form. Every written number reading back is the fuzz target's promise, replayed on
// its seeds.

#include "ComponentListFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <ranges>
#include <string>
#include <vector>

namespace {

using qix::sql::detail::parse_list_number;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Every bit of the value but a NaN's payload, in hexadecimal; "-nan" for a NaN with its sign set.
std::string exactly(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%a", value);
    return text;
}

std::string parsed(const std::string& text)
{
    const auto value = parse_list_number(text);
    return value ? exactly(*value) : "rejected";
}

// Each test's lines are separated by '|'.
std::vector<std::string> lines(std::string_view text)
{
    std::vector<std::string> result;
    for (const auto line : std::views::split(text, '|'))
        result.emplace_back(line.begin(), line.end());
    return result;
}

// An accepted line has the value that C's strtod gives it: correctly rounded beyond 19 digits
// and for halfway cases, infinity or zero beyond the double range, exponents written with many
// zeros. A zero mantissa does not hide an exponent beyond 32 bits.
TEST(ListNumber, AcceptsTheGrammarWithTheValuesOfStrtod)
{
    for (const std::string& text :
         lines("1e3|1E+3|.5|5.|5.e1|-0|0012.50|INF|-Infinity|1e2147483647|-1e400|1e-2147483648|0.000e99999|4.9e-324|"
               "0.1|123456789012345678901234567890|9007199254740993.0000000000000000001|"
               "2.4703282292062327208828439643411068618252990130716238221279284125033775364e-324|1e+0000000002|"
               "1.25e000000001|-2.5e-0000000005|1234567890123|nan|NaN(abc_1)|nan()|-nan"))
        EXPECT_EQ(parsed(text), exactly(std::strtod(text.c_str(), nullptr))) << text;
}

TEST(ListNumber, RejectsEverythingElse)
{
    for (const std::string& text : lines("+1|1e|e5|.|-|1.2.3|0x10|nan(a-b)|nan(||1e+|--1|1e2147483648|1e-2147483649|"
                                         "inf1|infinit|1 | 1|1,5|1e5.0|nan)|0e99999999999|0.0e-2147483649|"
                                         "-0e+00000000002147483648"))
        EXPECT_EQ(parsed(text), "rejected") << '"' << text << '"';
}

TEST(ListNumber, WritesLikePrintfScientific15)
{
    for (const double value :
         {0.0, -0.0, 1234.5, -0.001, 1e300, 4.9e-324, 1.7976931348623157e308, 1.0 / 3.0, kInf, -kInf, kNaN, -kNaN}) {
        char written[qix::sql::detail::kListNumberMaxLength];
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15e", value);
        EXPECT_EQ(std::string(written, qix::sql::detail::format_list_number(written, value)), expected);
    }
}

} // namespace

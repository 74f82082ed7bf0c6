// Number lines of the component list file: the accepted grammar, the rounding and the
// written form.

#include "ComponentListFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace {

using qix::sql::detail::format_list_number;
using qix::sql::detail::parse_list_number;

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ListNumber, AcceptsTheGrammarAndRejectsEverythingElse)
{
    const std::pair<const char*, double> accepted[] = {
        {"1e3", 1000.0}, {"1E+3", 1000.0}, {".5", 0.5}, {"5.", 5.0}, {"5.e1", 50.0}, {"-0", -0.0}, {"0012.50", 12.5},
        {"INF", kInf}, {"-Infinity", -kInf}, {"1e2147483647", kInf}, {"-1e400", -kInf}, {"1e-2147483648", 0.0},
        {"0.000e99999", 0.0}, {"4.9e-324", 4.9e-324}, {"0.1", 0.1}, {"123456789012345678901234567890", 1.2345678901234568e29},
        // Halfway cases beyond 19 digits are rounded correctly.
        {"9007199254740993.0000000000000000001", 9007199254740994.0},
        {"2.4703282292062327208828439643411068618252990130716238221279284125033775364e-324", 4.9e-324},
        // Long exponents of zeros still fit; a zero mantissa does not hide an exponent that does not.
        {"1e+0000000002", 100.0}, {"1.25e000000001", 12.5}, {"-2.5e-0000000005", -2.5e-05},
        {"1234567890123", 1234567890123.0},
    };
    for (const auto& [text, expected] : accepted) {
        const auto value = parse_list_number(text);
        ASSERT_TRUE(value.has_value()) << text;
        EXPECT_EQ(*value, expected) << text;
        EXPECT_EQ(std::signbit(*value), std::signbit(expected)) << text;
    }
    for (const char* text : {"nan", "NaN(abc_1)", "nan()", "-nan"}) {
        const auto value = parse_list_number(text);
        ASSERT_TRUE(value.has_value()) << text;
        EXPECT_TRUE(std::isnan(*value)) << text;
        EXPECT_EQ(std::signbit(*value), text[0] == '-') << text;
    }
    for (const char* text : {"+1", "1e", "e5", ".", "-", "1.2.3", "0x10", "nan(a-b)", "nan(", "", "1e+", "--1",
                             "1e2147483648", "1e-2147483649", "inf1", "infinit", "1 ", " 1", "1,5", "1e5.0", "nan)",
                             "0e99999999999", "0.0e-2147483649", "-0e+00000000002147483648"})
        EXPECT_FALSE(parse_list_number(text).has_value()) << '"' << text << '"';
}

TEST(ListNumber, WritesLikePrintfScientific15)
{
    for (const double value : {0.0, -0.0, 1234.5, -0.001, 1e300, 4.9e-324, 1.7976931348623157e308, 1.0 / 3.0, kInf,
                               -kInf, std::numeric_limits<double>::quiet_NaN(),
                               -std::numeric_limits<double>::quiet_NaN()}) {
        char written[qix::sql::detail::kListNumberMaxLength];
        const std::string text(written, format_list_number(written, value));
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15e", value);
        EXPECT_EQ(text, expected);
        const auto back = parse_list_number(text);
        ASSERT_TRUE(back.has_value()) << text;
        EXPECT_EQ(std::signbit(*back), std::signbit(value)) << text;
        EXPECT_EQ(std::isnan(*back), std::isnan(value)) << text;
    }
}

} // namespace

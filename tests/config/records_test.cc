// Equality and the one-line printed form of the configuration records.
#include <qix/sql/ConfigurationTypes.h>

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

using namespace qix::sql;
using namespace std::string_literals;
using qix::test::at;

template <typename Record>
std::string printed(const Record& record, bool boolalpha = false)
{
    std::ostringstream out;
    out << (boolalpha ? std::boolalpha : std::noboolalpha) << record;
    return out.str();
}

const ConfigurationType kBpm{7, "BPM", "Beam position monitor"s, {}, {}, {}};
const ConfigurationField kGain{7, "BPM", 12, "GAIN", "Gain", 'F', {}, {}, "dB"s, false, true, false, false};
const ConfigurationItem kBpm1{7, "BPM", 3, "BPM.1", {}, "NORTH"s, at(1704067200'000000000), {}};

TEST(ConfigurationRecords, PrintOneLineInDeclarationOrderWithEveryAlternative)
{
    EXPECT_EQ(printed(kBpm), "{7, BPM, Beam position monitor, , , }");
    EXPECT_EQ(printed(kGain), "{7, BPM, 12, GAIN, Gain, F, , , dB, 0, 1, 0, 0}");
    EXPECT_EQ(printed(kGain, true), "{7, BPM, 12, GAIN, Gain, F, , , dB, false, true, false, false}");
    EXPECT_EQ(printed(kBpm1), "{7, BPM, 3, BPM.1, , NORTH, 1704067200000000000, }");
    EXPECT_EQ(printed(ConfigurationData{3, {{"GAIN", 2.5}, {"NAME", "x"s}, {"OFFSET", null_value{}}}}),
              "{3, 2.5, x, }");
    EXPECT_EQ(printed(ConfigurationData{-4, {{"A", -12}, {"B", 1e-07}, {"C", at(-1)}}}), "{-4, -12, 1e-07, -1}");
    EXPECT_EQ(printed(ConfigurationType{}), "{-1, , , , , }");
    EXPECT_EQ(printed(ConfigurationItem{}), "{-1, , -1, , , , , }");
    EXPECT_EQ(printed(ConfigurationData{}), "{-1}");
    EXPECT_EQ(printed(ConfigurationField{}), "{-1, , -1, , , \0, , , , 0, 0, 0, 0}"s);
}

// `a` equals `a` and differs from `b`, by == as by !=.
template <typename Record>
void expect_equal_to_itself_only(const Record& a, const Record& b)
{
    EXPECT_TRUE(a == Record(a) && !(a != Record(a))) << printed(a);
    EXPECT_TRUE(!(a == b) && a != b) << printed(b);
}

TEST(ConfigurationRecords, EqualityLooksAtEveryMemberAndNotEqualIsItsNegation)
{
    auto empty_descr = kBpm, no_descr = kBpm;
    empty_descr.descr_ = "";
    no_descr.descr_.reset();
    EXPECT_EQ(printed(empty_descr), printed(no_descr));
    expect_equal_to_itself_only(empty_descr, no_descr);
    auto nullable = kGain;
    nullable.allow_null_flag_ = true;
    expect_equal_to_itself_only(kGain, nullable);
    auto modified = kBpm1, seen_later = kBpm1;
    modified.last_modified_ = modified.last_seen_;
    seen_later.last_seen_ = *seen_later.last_seen_ + std::chrono::nanoseconds(1);
    expect_equal_to_itself_only(kBpm1, modified);
    expect_equal_to_itself_only(kBpm1, seen_later);

    // Data rows compare by id, names, alternatives and values, in whatever order they were added.
    ConfigurationData in_order{3, {}}, reversed{3, {}};
    in_order.fields_.emplace("A", 1);
    in_order.fields_.emplace("B", "b"s);
    reversed.fields_.emplace("B", "b"s);
    reversed.fields_.emplace("A", 1);
    EXPECT_TRUE(in_order == reversed);
    for (const ConfigurationData& other : {ConfigurationData{3, {{"A", 1}, {"C", "b"s}}},
                                           ConfigurationData{3, {{"A", 1.0}, {"B", "b"s}}},
                                           ConfigurationData{4, {{"A", 1}, {"B", "b"s}}}, ConfigurationData{3, {{"A", 1}}}})
        expect_equal_to_itself_only(in_order, other);
    expect_equal_to_itself_only(ConfigurationData{3, {{"A", null_value{}}}}, ConfigurationData{3, {{"A", 0}}});
    const ConfigurationData nan{3, {{"A", std::nan("")}}};
    EXPECT_FALSE(nan == nan);
    EXPECT_TRUE(nan != nan);
}

} // namespace

// Equality and the one-line printed form of the configuration records.
#include <qix/sql/ConfigurationTypes.h>

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

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

TEST(ConfigurationRecords, EqualityLooksAtEveryMemberAndNotEqualIsItsNegation)
{
    auto empty_descr = kBpm;
    empty_descr.descr_ = "";
    auto no_descr = kBpm;
    no_descr.descr_.reset();
    EXPECT_EQ(printed(empty_descr), printed(no_descr));
    EXPECT_FALSE(empty_descr == no_descr);
    EXPECT_TRUE(empty_descr != no_descr);
    EXPECT_TRUE(kBpm == ConfigurationType(kBpm));
    EXPECT_FALSE(kBpm != ConfigurationType(kBpm));

    auto nullable = kGain;
    nullable.allow_null_flag_ = true;
    EXPECT_FALSE(nullable == kGain);
    EXPECT_TRUE(nullable != kGain);
    EXPECT_TRUE(kGain == ConfigurationField(kGain));

    auto modified = kBpm1;
    modified.last_modified_ = modified.last_seen_;
    EXPECT_FALSE(modified == kBpm1);
    EXPECT_TRUE(modified != kBpm1);
    modified.last_modified_.reset();
    modified.last_seen_ = *modified.last_seen_ + std::chrono::nanoseconds(1);
    EXPECT_TRUE(modified != kBpm1);
    EXPECT_TRUE(kBpm1 == ConfigurationItem(kBpm1));
}

TEST(ConfigurationRecords, DataRowsCompareByIdNamesAlternativesAndValues)
{
    ConfigurationData in_order{3, {}};
    in_order.fields_.emplace("A", 1);
    in_order.fields_.emplace("B", "b"s);
    ConfigurationData reversed{3, {}};
    reversed.fields_.emplace("B", "b"s);
    reversed.fields_.emplace("A", 1);
    EXPECT_TRUE(in_order == reversed);
    EXPECT_FALSE(in_order != reversed);
    for (const ConfigurationData& other : {ConfigurationData{3, {{"A", 1}, {"C", "b"s}}},
                                           ConfigurationData{3, {{"A", 1.0}, {"B", "b"s}}},
                                           ConfigurationData{4, {{"A", 1}, {"B", "b"s}}}, ConfigurationData{3, {{"A", 1}}}})
        EXPECT_TRUE(in_order != other) << printed(other);

    const ConfigurationData nulls{3, {{"A", null_value{}}}};
    EXPECT_TRUE(nulls == nulls);
    const ConfigurationData nan{3, {{"A", std::nan("")}}};
    EXPECT_FALSE(nan == nan);
    EXPECT_TRUE(nan != nan);
}

} // namespace

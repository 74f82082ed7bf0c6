// Equality and the one-line printed form of the configuration records.
#include <qix/sql/ConfigurationTypes.h>

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

using namespace qix::sql;
using namespace std::string_literals;

template <typename Record>
std::string printed(const Record& record)
{
    std::ostringstream out;
    out << record;
    return out.str();
}

ConfigurationType bpm_type()
{
    ConfigurationType type;
    type.id_ = 7;
    type.name_ = "BPM";
    type.descr_ = "Beam position monitor";
    return type;
}

ConfigurationField gain_field()
{
    ConfigurationField field;
    field.type_id_ = 7;
    field.type_name_ = "BPM";
    field.id_ = 12;
    field.name_ = "GAIN";
    field.descr_ = "Gain";
    field.data_type_ = 'F';
    field.unit_name_ = "dB";
    field.name_flag_ = true;
    return field;
}

ConfigurationItem bpm_item()
{
    ConfigurationItem item;
    item.type_id_ = 7;
    item.type_name_ = "BPM";
    item.id_ = 3;
    item.name_ = "BPM.1";
    item.facility_ = "NORTH";
    item.last_seen_ = time_point(std::chrono::seconds(1704067200));
    return item;
}

ConfigurationData data_row()
{
    return {3, {{"GAIN", 2.5}, {"NAME", "x"s}, {"OFFSET", null_value{}}}};
}

TEST(ConfigurationRecords, PrintOneLineInDeclarationOrder)
{
    EXPECT_EQ(printed(bpm_type()), "{7, BPM, Beam position monitor, , , }");
    EXPECT_EQ(printed(gain_field()), "{7, BPM, 12, GAIN, Gain, F, , , dB, 0, 1, 0, 0}");
    EXPECT_EQ(printed(bpm_item()), "{7, BPM, 3, BPM.1, , NORTH, 1704067200000000000, }");
    EXPECT_EQ(printed(data_row()), "{3, 2.5, x, }");

    EXPECT_EQ(printed(ConfigurationType{}), "{-1, , , , , }");
    EXPECT_EQ(printed(ConfigurationItem{}), "{-1, , -1, , , , , }");
    EXPECT_EQ(printed(ConfigurationData{}), "{-1}");
    EXPECT_EQ(printed(ConfigurationField{}), "{-1, , -1, , , \0, , , , 0, 0, 0, 0}"s);
}

TEST(ConfigurationRecords, PrintValuesOfEveryAlternativeAndHonourBoolalpha)
{
    const ConfigurationData row{-4, {{"A", -12}, {"B", 1e-07}, {"C", time_point(std::chrono::nanoseconds(-1))}}};
    EXPECT_EQ(printed(row), "{-4, -12, 1e-07, -1}");

    std::ostringstream out;
    out << std::boolalpha << gain_field();
    EXPECT_EQ(out.str(), "{7, BPM, 12, GAIN, Gain, F, , , dB, false, true, false, false}");
}

TEST(ConfigurationRecords, EqualityLooksAtEveryMemberAndNotEqualIsItsNegation)
{
    auto empty_descr = bpm_type();
    empty_descr.descr_ = "";
    auto no_descr = bpm_type();
    no_descr.descr_.reset();
    EXPECT_EQ(printed(empty_descr), printed(no_descr));
    EXPECT_FALSE(empty_descr == no_descr);
    EXPECT_TRUE(empty_descr != no_descr);
    EXPECT_TRUE(bpm_type() == bpm_type());
    EXPECT_FALSE(bpm_type() != bpm_type());

    auto nullable = gain_field();
    nullable.allow_null_flag_ = true;
    EXPECT_FALSE(nullable == gain_field());
    EXPECT_TRUE(nullable != gain_field());
    EXPECT_TRUE(gain_field() == gain_field());

    auto modified = bpm_item();
    modified.last_modified_ = modified.last_seen_;
    EXPECT_FALSE(modified == bpm_item());
    EXPECT_TRUE(modified != bpm_item());
    modified.last_modified_.reset();
    modified.last_seen_ = *modified.last_seen_ + std::chrono::nanoseconds(1);
    EXPECT_TRUE(modified != bpm_item());
    EXPECT_TRUE(bpm_item() == bpm_item());
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

    const ConfigurationData renamed{3, {{"A", 1}, {"C", "b"s}}};
    EXPECT_TRUE(in_order != renamed);
    const ConfigurationData as_double{3, {{"A", 1.0}, {"B", "b"s}}};
    EXPECT_TRUE(in_order != as_double);
    const ConfigurationData other_id{4, {{"A", 1}, {"B", "b"s}}};
    EXPECT_TRUE(in_order != other_id);
    const ConfigurationData shorter{3, {{"A", 1}}};
    EXPECT_TRUE(in_order != shorter);

    const ConfigurationData nulls{3, {{"A", null_value{}}}};
    EXPECT_TRUE(nulls == nulls);
    const ConfigurationData nan{3, {{"A", std::nan("")}}};
    EXPECT_FALSE(nan == nan);
    EXPECT_TRUE(nan != nan);
}

} // namespace

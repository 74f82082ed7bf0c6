// The parts of the configuration interface that need no database: the records' equality and
// printed form, timestamp text, the name check, item names, and the schema-name checks that
// come before any statement.
#include <qix/sql/ConfigurationInterface.h>
#include <qix/sql/Database.h>
#include <qix/util/exceptions.h>

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

using namespace qix::sql;
using namespace std::string_literals;
using qix::test::at;
using qix::test::message_of;
using CI = ConfigurationInterface;

// The parse failure is a plain std::runtime_error, which a handler for qix::Error misses.
std::string parse_failure_of(const std::string& text)
{
    try {
        static_cast<void>(CI::convert_string_to_time(text));
    } catch (const qix::Error&) {
        return "(qix::Error thrown)";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

std::int64_t ticks_of(const std::string& text) { return CI::convert_string_to_time(text).time_since_epoch().count(); }
std::string text_of(std::int64_t ticks) { return CI::convert_time_to_string(at(ticks)); }

constexpr std::int64_t kNewYear2024 = 1704067200'000000000;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// The cases of timestamp_cases.txt of one kind: nanoseconds and text.
std::vector<std::pair<std::int64_t, std::string>> timestamp_cases(const std::string& kind)
{
    std::istringstream file(qix::test::slurp(QIX_TIMESTAMP_CASES));
    std::vector<std::pair<std::int64_t, std::string>> cases;
    for (std::string line; std::getline(file, line);) {
        const auto tab = line.find('\t'), second_tab = line.find('\t', tab + 1);
        if (line.substr(0, tab) == kind)
            cases.emplace_back(std::stoll(line.substr(tab + 1)), line.substr(second_tab + 1));
    }
    EXPECT_NE(cases.size(), 0u) << "no " << kind << " cases in " QIX_TIMESTAMP_CASES;
    return cases;
}

TEST(TimestampText, FormatsSixFractionDigitsOnBothSidesOfTheEpoch)
{
    for (const auto& [ticks, text] : timestamp_cases("format"))
        EXPECT_EQ(text_of(ticks), text) << ticks;
}

TEST(TimestampText, RoundTripsEveryWholeMicrosecond)
{
    std::uint64_t state = 88172645463325252u;
    for (int i = 0; i < 2000; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const std::int64_t ticks = static_cast<std::int64_t>(state) / 1000 * 1000;
        ASSERT_EQ(ticks_of(text_of(ticks)), ticks) << ticks;
    }
    for (const std::int64_t ticks : {kMin / 1000 * 1000, kMax / 1000 * 1000, std::int64_t{-1000}, kNewYear2024 + 1000})
        EXPECT_EQ(ticks_of(text_of(ticks)), ticks) << ticks;
}

TEST(TimestampText, ReadsTheFractionAsADecimalFractionOfASecond)
{
    for (const auto& [ticks, text] : timestamp_cases("parse"))
        EXPECT_EQ(ticks_of(text), ticks) << text;
}

TEST(TimestampText, RejectsTextThatIsNotATimestampOrDoesNotFit)
{
    for (const auto& [ignored, text] : timestamp_cases("reject"))
        EXPECT_EQ(parse_failure_of(text), "Failed to parse time string") << text;
}

// Zero-padded texts take a short road; texts with unpadded fields take the general parser.
// Both must agree on every calendar day, valid or not.
TEST(TimestampText, PaddedAndUnpaddedFieldsGiveTheSameInstant)
{
    char padded[40], loose[40];
    for (const int year : {1900, 1969, 2023, 2024, 2100})
        for (int month = 0; month <= 13; ++month)
            for (int day = 0; day <= 32; ++day) {
                std::snprintf(padded, sizeof padded, "%04d-%02d-%02d 01:02:60.5", year, month, day);
                std::snprintf(loose, sizeof loose, "%d-%d-%d 1:2:60.5", year, month, day);
                EXPECT_EQ(parse_failure_of(padded), parse_failure_of(loose)) << padded;
                if (month >= 1 && month <= 12 && day >= 1 && day <= 31) {
                    EXPECT_EQ(ticks_of(padded), ticks_of(loose)) << padded;
                }
            }
}

TEST(FieldNames, AcceptCapitalsDigitsAndUnderscoreAfterACapital)
{
    for (const std::string& name : {"BPM_2"s, "A"s, "A1_"s, "Z"s + std::string(127, '_')})
        EXPECT_NO_THROW(detail::validate_field_name(name)) << name;
    for (const std::string& name : {""s, "bpm"s, "2BPM"s, "BPM-2"s, "_A"s, "BPM 2"s, "BPM\n"s, "A\0B"s, "\xc3\x84"s,
                                    "A"s + std::string(128, 'B')})
        EXPECT_EQ(message_of([&] { detail::validate_field_name(name); }), "Invalid field name") << name;
    // Far too long to be a column: refused without working through it.
    EXPECT_EQ(message_of([] { detail::validate_field_name(std::string(1'000'000, 'A')); }), "Invalid field name");
}

// Fields of (type id, field id, name, code, name flag).
ConfigurationFieldMap field_map(std::initializer_list<std::tuple<int, int, std::string, char, bool>> fields)
{
    ConfigurationFieldMap map;
    for (const auto& [type_id, id, name, code, name_flag] : fields)
        map.emplace(name,
                    ConfigurationField{type_id, "", id, name, "", code, {}, {}, {}, false, name_flag, false, false});
    return map;
}

TEST(ItemNames, JoinNameFieldsInIdOrderEachValueByItsAlternative)
{
    const auto fields =
        field_map({{1, 3, "SECTION", 'C', true}, {1, 4, "COMMENT", 'C', false}, {1, 5, "NUMBER", 'I', true}});
    EXPECT_EQ(CI::make_item_name({{"SECTION", "L2"s}, {"COMMENT", "x"s}, {"NUMBER", 7}}, fields), "L2/7");
    EXPECT_EQ(CI::make_item_name({{"SECTION", null_value{}}, {"NUMBER", 7}}, fields), "/7");
    EXPECT_EQ(CI::make_item_name({{"SECTION", "L2"s}, {"NUMBER", null_value{}}}, fields), "L2/");
    EXPECT_EQ(CI::make_item_name({{"NUMBER", -7}, {"OTHER", 1}}, fields), "-7");
    EXPECT_EQ(CI::make_item_name({}, fields), "");
    // Data for which no name field has a value makes no name at all.
    EXPECT_EQ(CI::make_item_name({{"COMMENT", "x"s}, {"OTHER", 1}}, fields), "");

    const auto by_id =
        field_map({{2, 9, "A_PART", 'C', true}, {2, 2, "B_PART", 'C', true}, {2, 5, "MIDDLE", 'C', true}});
    EXPECT_EQ(CI::make_item_name({{"A_PART", "a"s}, {"B_PART", "b"s}}, by_id), "b/a");
    EXPECT_EQ(CI::make_item_name({{"A_PART", null_value{}}, {"B_PART", null_value{}}, {"MIDDLE", "m"s}}, by_id), "/m/");

    const auto typed =
        field_map({{1, 1, "A", 'F', true}, {1, 2, "B", 'B', true}, {1, 3, "C", 'T', true}, {1, 4, "D", 'I', true}});
    EXPECT_EQ(CI::make_item_name({{"A", 0.1}, {"B", "blob"s}, {"C", at(1704067201000002999)}, {"D", 1e-07}}, typed),
              "0.1/2024-01-01 00:00:01.000002/1e-07");
    EXPECT_EQ(CI::make_item_name({{"A", 1234567.0}, {"D", 3.0}}, typed), "1.23457e+06/3");
    EXPECT_EQ(CI::make_item_name({{"A", 2.5}, {"C", "text"s}, {"D", "x"s}}, typed), "2.5/text/x");
    EXPECT_EQ(CI::make_item_name({{"B", "only a blob"s}}, typed), "");
}

TEST(ItemNames, RefuseFieldsOfNoneOrSeveralTypes)
{
    for (const ConfigurationDataValueMap& data : {ConfigurationDataValueMap{{"A", 1}}, ConfigurationDataValueMap{}})
        EXPECT_EQ(message_of([&] { static_cast<void>(CI::make_item_name(data, ConfigurationFieldMap{})); }),
                  "Fields cannot be empty.");
    // Only type 1 has name fields; the field of type 2 still makes the map invalid.
    const auto mixed = field_map({{1, 1, "A", 'C', true}, {2, 2, "B", 'C', false}});
    EXPECT_EQ(message_of([&] {
                  static_cast<void>(CI::make_item_name({{"A", "a"s}}, mixed));
              }),
              "Multiple item types are not allowed.");
    EXPECT_EQ(CI::make_item_name({}, mixed), "");
}

TEST(ConfigurationInterfaceSchema, RefusesBadSchemaNamesBeforeAnyStatement)
{
    // A well-formed name gets as far as the connection attempt.
    Database db("qix_config_no_such_dsn", "", "");
    std::vector<std::string> names = qix::test::kHostileNames;
    names.insert(names.end(), {"1CFG", "CFG.X", "C-FG", "_CFG", "CFG "});
    for (const std::string& name : names) // a message is C text: it ends at a NUL byte of the name
        EXPECT_EQ(message_of([&] { CI ci(db, name); }),
                  name.empty() ? "Schema name cannot be empty." : "Invalid schema name: "s + name.c_str());
    EXPECT_FALSE(db.is_connected());
    EXPECT_NE(message_of([&] { CI ci(db, "Cfg_1$#"); }).find("qix_config_no_such_dsn"), std::string::npos);
}

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

// `a` equals a copy of itself and differs from `b`, by == as by !=.
template <typename Record>
void expect_equal_to_itself_only(const Record& a, const Record& b)
{
    EXPECT_EQ(a, Record(a));
    EXPECT_FALSE(a != Record(a)) << printed(a);
    EXPECT_NE(a, b);
    EXPECT_FALSE(a == b) << printed(b);
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
    // Data rows compare by id, names, alternatives and values; NaN equals nothing.
    const ConfigurationData row{3, {{"A", 1}, {"B", "b"s}}};
    for (const ConfigurationData& other :
         {ConfigurationData{3, {{"A", 1}, {"C", "b"s}}}, ConfigurationData{3, {{"A", 1.0}, {"B", "b"s}}},
          ConfigurationData{4, {{"A", 1}, {"B", "b"s}}}, ConfigurationData{3, {{"A", 1}}}})
        expect_equal_to_itself_only(row, other);
    expect_equal_to_itself_only(ConfigurationData{3, {{"A", null_value{}}}}, ConfigurationData{3, {{"A", 0}}});
    const ConfigurationData nan{3, {{"A", std::nan("")}}};
    EXPECT_FALSE(nan == nan);
    EXPECT_NE(nan, nan);
}

} // namespace

// The configuration interface end to end: library, unixODBC, our SQLite-backed driver, and the
// configuration schema CFG of cfg_schema.sql.
#include <qix/sql/ConfigurationInterface.h>
#include <qix/sql/Database.h>

#include "LiteSource.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace {

using namespace qix::sql;
using namespace std::string_literals;
using qix::test::at;
using qix::test::message_of;

constexpr std::int64_t kFirstMicro2024 = 1704067200'000001000; // 2024-01-01 00:00:00.000001
constexpr std::int64_t kMarchNanos = 1709647629'123456789;     // 2024-03-05 14:07:09.123456789
constexpr std::int64_t kLastMicro1969 = -1000;                 // 1969-12-31 23:59:59.999999
constexpr std::int64_t kReviewed = 1704164645'500000000;       // 2024-01-02 03:04:05.5
constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();

// The statements of cfg_schema.sql, one per paragraph, without its "--" lines.
std::vector<std::string> schema_statements()
{
    std::istringstream file(qix::test::slurp(QIX_CONFIG_SCHEMA));
    std::vector<std::string> statements(1);
    for (std::string line; std::getline(file, line);) {
        if (line.empty() && !statements.back().empty())
            statements.emplace_back();
        else if (!line.empty() && !line.starts_with("--"))
            statements.back() += line + '\n';
    }
    if (statements.back().empty())
        statements.pop_back();
    return statements;
}

const ConfigurationDataValue kNull = null_value{};

// A row of MAGNET with one value per field, the fields in name order.
ConfigurationData magnet_row(int id, const ConfigurationDataValueList& values)
{
    static const char* const kFields[] = {"CALIBRATED", "CURRENT", "INSTALLED", "NOTES",
                                          "NUMBER",     "RANK",    "REVIEWED",  "SECTION"};
    ConfigurationData row{id, {}};
    for (std::size_t i = 0; i < values.size(); ++i)
        row.fields_.emplace(kFields[i], values[i]);
    return row;
}

const std::vector<ConfigurationData>& magnet_rows()
{
    static const std::vector<ConfigurationData> rows = {
        magnet_row(1, {at(kMarchNanos), 2.5, at(kFirstMicro2024), "blob one"s, 7, 3, at(kReviewed), "L2"s}),
        magnet_row(1, {kNull, -1e-07, at(kLastMicro1969), kNull, 8, kNull, kNull, "L2"s}),
        magnet_row(2, {at(kLatest), kNull, kNull, kNull, kNull, 0, kNull, kNull})};
    return rows;
}

// What a failure message says before its driver text.
std::string failure_of(const std::function<void()>& action) { return message_of(action).substr(0, 12); }

class ConfigLite : public ::testing::Test {
protected:
    qix::test::LiteSource source_{{"CFG"}};
    bool ready_ = (source_.execute(schema_statements()), true); // before the Database under test exists
    Database db_{source_.dsn(), "", ""};
    ConfigurationInterface ci_{db_, "CFG"};
};

// The interface sets the session's timestamp format on the connection it is given, so that
// timestamps arrive as text with nine fraction digits.
TEST_F(ConfigLite, SetsTheSessionTimestampFormat)
{
    const auto read_text = [](Database& db) {
        Query query = db.send_query("SELECT LAST_MODIFIED FROM CFG.CM_VIEW_ITEMS WHERE PUBLIC_ID = 2");
        EXPECT_TRUE(query.fetch());
        return query.get_column_as_string(1);
    };
    Database plain(source_.dsn(), "", "");
    const std::string before = read_text(plain);
    EXPECT_NE(before, "2024-03-05 14:07:09.123456789");
    EXPECT_THROW(static_cast<void>(ConfigurationInterface::convert_string_to_time(before)), std::runtime_error);
    const ConfigurationInterface on_plain(plain, "CFG");
    EXPECT_EQ(on_plain.get_schema_name(), "CFG");
    EXPECT_EQ(read_text(plain), "2024-03-05 14:07:09.123456789");
}

TEST_F(ConfigLite, ReadsTypesWithNullAndEmptyTextsAndRefusesDuplicates)
{
    const auto types = ci_.read_types();
    ASSERT_EQ(types.size(), 5u);
    EXPECT_EQ(types.at("MAGNET"), (ConfigurationType{1, "MAGNET", "Magnets"s, "NORTH"s, "HW"s, "OPS"s}));
    EXPECT_EQ(types.at("QUIET"), (ConfigurationType{3, "QUIET", ""s, {}, {}, {}}));
    EXPECT_EQ(types.at("ODD"), (ConfigurationType{2, "ODD", {}, {}, {}, {}}));
    source_.execute({"INSERT INTO CFG.CM_VIEW_TYPES VALUES (6, 'ODD', NULL, NULL, NULL, NULL)"});
    EXPECT_EQ(message_of([&] { static_cast<void>(ci_.read_types()); }), "Duplicate type name found: ODD");
}

TEST_F(ConfigLite, ReadsFieldsWithTheirCodesAndFlagsAndRefusesDuplicates)
{
    const auto fields = ci_.read_fields("MAGNET");
    ASSERT_EQ(fields.size(), 8u);
    // A longer code gives its first character; flags are any non-zero value, NULL is false.
    EXPECT_EQ(fields.at("RANK"),
              (ConfigurationField{1, "MAGNET", 40, "RANK", "Rank", 'R', 2, "ODD"s, {}, true, false, false, false}));
    EXPECT_EQ(fields.at("NUMBER"),
              (ConfigurationField{1, "MAGNET", 20, "NUMBER", "Number", 'I', {}, {}, ""s, false, true, false, false}));
    EXPECT_EQ(fields.at("CURRENT").unit_name_, "A");
    EXPECT_EQ(fields.at("CURRENT").allow_null_flag_, true);
    const auto quiet_fields = ci_.read_fields("QUIET");
    EXPECT_EQ(quiet_fields.at("A").data_type_, '\0');
    EXPECT_EQ(quiet_fields.at("lower").data_type_, '\0');
    EXPECT_EQ(ci_.read_fields("NOSUCH"), ConfigurationFieldMap{});
    EXPECT_EQ(message_of([&] { static_cast<void>(ci_.read_fields("DUP")); }), "Duplicate field name found: F");
}

TEST_F(ConfigLite, MakesItemNamesFromTheTypesNameFields)
{
    EXPECT_EQ(ci_.make_item_name(magnet_rows()[0].fields_, "MAGNET"), "L2/7");
    EXPECT_EQ(ci_.make_item_name(magnet_rows()[2].fields_, "MAGNET"), "/");
    EXPECT_EQ(ci_.make_item_name({{"NOTES", "n"s}}, "MAGNET"), "");
    EXPECT_EQ(ci_.make_item_name({}, ""), "");
    EXPECT_EQ(message_of([&] {
                  static_cast<void>(ci_.make_item_name({{"A", 1}}, "NOSUCH"));
              }),
              "Fields cannot be empty.");
}

TEST_F(ConfigLite, ReadsItemsWithExactTimestamps)
{
    const auto items = ci_.read_items("MAGNET", "");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], (ConfigurationItem{1, "MAGNET", 1, "Q1", {}, "NORTH"s, at(kFirstMicro2024), {}}));
    EXPECT_EQ(items[1], (ConfigurationItem{1, "MAGNET", 2, "Q2", "  spaced "s, "SOUTH"s, {}, at(kMarchNanos)}));
    EXPECT_EQ(items[2].name_, "Q1");
    EXPECT_EQ(items[2].last_seen_, at(kLastMicro1969));
    EXPECT_EQ(ci_.read_items("MAGNET", "NORTH"), (std::vector{items[0], items[2]}));
    EXPECT_EQ(ci_.read_items("MAGNET", " NORTH"), std::vector<ConfigurationItem>{});
    EXPECT_EQ(ci_.read_items("NOSUCH", ""), std::vector<ConfigurationItem>{});
    EXPECT_EQ(ci_.read_item("MAGNET", "Q1"), items[0]);
    EXPECT_EQ(ci_.read_item("MAGNET", "NOPE"), ConfigurationItem{});
    // Quotes in the values of item look-ups select nothing more.
    EXPECT_EQ(ci_.read_item("MAGNET", "Q1' OR '1'='1"), ConfigurationItem{});
    EXPECT_EQ(ci_.read_items("MAGNET", "NORTH' OR '1'='1"), std::vector<ConfigurationItem>{});
    EXPECT_EQ(ci_.read_item("MAGNET", 2), items[1]);
    EXPECT_EQ(ci_.read_item("ODD", 0).name_, "ZERO");
    EXPECT_EQ(ci_.read_item("MAGNET", 7), ConfigurationItem{});
    EXPECT_EQ(ci_.read_item("bad-name", -1), ConfigurationItem{});
    EXPECT_EQ(message_of([&] { (void)ci_.read_item("MAGNET", ""); }), "Item name cannot be empty.");
}

TEST_F(ConfigLite, ReadsDataRowsConvertedAndFilteredByIdVersionOrValues)
{
    const auto all = ci_.read_data("MAGNET", -1, -1);
    EXPECT_EQ(all.first, magnet_rows());
    EXPECT_EQ(all.second, ci_.read_fields("MAGNET"));
    EXPECT_EQ(ci_.read_data("MAGNET", ConfigurationDataValueMap{}).first, magnet_rows());
    // Without a filter the values are not bound at all.
    EXPECT_EQ(ci_.read_data("MAGNET", "", {1, "x"s, at(0)}).first, magnet_rows());
    EXPECT_EQ(ci_.read_data("MAGNET", 1, -1).first, (std::vector{magnet_rows()[0], magnet_rows()[1]}));
    EXPECT_EQ(ci_.read_data("MAGNET", 1, 2).first, std::vector<ConfigurationData>{magnet_rows()[1]});
    EXPECT_EQ(ci_.read_data("MAGNET", -1, 1).first, (std::vector{magnet_rows()[0], magnet_rows()[2]}));
    EXPECT_EQ(ci_.read_data("MAGNET", 5, -1).first, std::vector<ConfigurationData>{});
    const ConfigurationDataValueMap l2_seven{{"SECTION", "L2"s}, {"NUMBER", 7}};
    EXPECT_EQ(ci_.read_data("MAGNET", l2_seven).first, std::vector<ConfigurationData>{magnet_rows()[0]});
    const ConfigurationDataValueMap installed{{"INSTALLED", at(kLastMicro1969)}, {"CURRENT", -1e-07}};
    EXPECT_EQ(ci_.read_data("MAGNET", installed).first, std::vector<ConfigurationData>{magnet_rows()[1]});
    // Every time parameter keeps its own text.
    const auto rows = ci_.read_data("MAGNET", "(INSTALLED = ? OR INSTALLED = ?) AND SECTION = ? AND PUBLIC_ID = ?",
                                    {at(kFirstMicro2024), at(kLastMicro1969), "L2"s, 1});
    EXPECT_EQ(rows.first, (std::vector<ConfigurationData>{magnet_rows()[0], magnet_rows()[1]}));
    EXPECT_EQ(failure_of([&] { static_cast<void>(ci_.read_data("MAGNET", "NO_SUCH_COLUMN = ?", {1})); }),
              "Query failed");
}

// A text far beyond any fetch buffer, with a NUL byte inside, comes whole; a TIMESTAMP(6)
// holding nine fraction digits reads as the six that the column shows.
TEST_F(ConfigLite, ReadsOversizedValuesAsTheColumnsHoldThem)
{
    source_.execute({"INSERT INTO CFG.MAGNET_T VALUES (9, 1, 'L3', 1, 1.0, 1, '2024-03-05 14:07:09.123456789', NULL, "
                     "NULL, replace(hex(zeroblob(5000)), '0', 'x') || char(0) || 'end')"});
    const auto long_row = magnet_row(
        9, {kNull, 1.0, at(kMarchNanos / 1000 * 1000), std::string(10000, 'x') + '\0' + "end", 1, 1, kNull, "L3"s});
    EXPECT_EQ(ci_.read_data("MAGNET", 9, -1).first, std::vector<ConfigurationData>{long_row});
}

// Type names, and field names given or read from the fields view, are checked before any
// statement is built, also for a view without rows; an unknown type code shows when the first
// row is read.
TEST_F(ConfigLite, RefusesBadNamesBeforeAnyStatement)
{
    const ConfigurationDataValueMap values{{"NOTES", "x"s}};
    // Every call with a type name, as it would be called with a real one.
    const std::function<void(const std::string&)> calls[] = {
        [&](const auto& type) { (void)ci_.read_fields(type); },
        [&](const auto& type) { (void)ci_.read_item(type, 1); },
        [&](const auto& type) { (void)ci_.read_items(type, "NORTH"); },
        [&](const auto& type) { (void)ci_.read_item(type, "Q1"); },
        [&](const auto& type) { (void)ci_.read_data(type, "PUBLIC_ID > ?", {0}); },
        [&](const auto& type) { (void)ci_.read_data(type, values); },
        [&](const auto& type) { (void)ci_.read_data(type, 1, -1); },
        [&](const auto& type) { ci_.add_data(type, values); },
        [&](const auto& type) { ci_.update_data(type, 1, values); },
        [&](const auto& type) { ci_.delete_data(type, 1); },
        [&](const auto& type) { (void)ci_.make_item_name(values, type); },
    };
    std::vector<std::string> names = qix::test::kHostileNames;
    // Names that would keep a statement valid while widening what it touches.
    names.insert(names.end(), {"MAGNET WHERE 1 = 1 --", "MAGNET WHERE PUBLIC_ID > ? OR PUBLIC_ID = ?", "magnet",
                               "MAGNET;", "CFG.CM_VIEW_DATA_MAGNET"});
    for (const std::string& name : names) {
        SCOPED_TRACE("name [" + name + "]");
        for (std::size_t i = 0; i < std::size(calls); ++i)
            EXPECT_EQ(message_of([&] { calls[i](name); }),
                      name.empty() ? "Type name cannot be empty." : "Invalid field name")
                << "call " << i;
        EXPECT_EQ(message_of([&] {
                      (void)ci_.read_data("MAGNET", {{name, 1}});
                  }),
                  "Invalid field name")
            << "as a field of the equality filter";
    }
    // QUIET and LOWER list a field "lower": refused however few of their fields a call names.
    EXPECT_EQ(message_of([&] { static_cast<void>(ci_.read_data("QUIET", -1, -1)); }), "Invalid field name");
    EXPECT_EQ(message_of([&] {
                  static_cast<void>(ci_.read_data("LOWER", ConfigurationDataValueMap{{"B", "b"s}}));
              }),
              "Invalid field name");
    EXPECT_EQ(message_of([&] { ci_.add_data("LOWER", {{"B", "b"s}}); }), "Invalid field name");
    EXPECT_EQ(message_of([&] { ci_.update_data("LOWER", 1, {{"B", "b"s}}); }), "Invalid field name");
    EXPECT_EQ(message_of([&] { static_cast<void>(ci_.read_data("ODD", -1, -1)); }), "Data type not implemented");
    // A type without fields would send "SELECT PUBLIC_ID,  FROM ...".
    EXPECT_EQ(message_of([&] { static_cast<void>(ci_.read_data("NOSUCH", -1, -1)); }),
              "Type NOSUCH has no fields in schema CFG");
    EXPECT_EQ(ci_.read_data("MAGNET", -1, -1).first, magnet_rows());
    EXPECT_EQ((db_.execute_query<std::string>("SELECT B FROM CFG.CM_VIEW_DATA_LOWER")),
              (std::vector<std::tuple<std::string>>{{"b"}}));
}

// One stored timestamp that cannot be parsed names its row, field and text; the exception stays
// a std::runtime_error.
TEST_F(ConfigLite, UnparsableStoredTimestampNamesItsRow)
{
    source_.execute({"INSERT INTO CFG.MAGNET_T (PUBLIC_ID, VERSION_ID, REVIEWED) VALUES (9, 1, '2024-13-45 x'), "
                     "(10, 1, '" +
                     std::string(300, '7') + "')"});
    for (const auto& [id, expected] :
         {std::pair{9, "Failed to parse time string \"2024-13-45 x\" of field REVIEWED of type MAGNET, public id 9"s},
          {10, "Failed to parse time string \"" + std::string(200, '7') +
                   "\u2026\" of field REVIEWED of type MAGNET, public id 10"}}) {
        std::string message = "(no exception)";
        try {
            static_cast<void>(ci_.read_data("MAGNET", id, -1));
        } catch (const qix::Error& e) {
            message = "qix::Error " + e.get_message();
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
        EXPECT_EQ(message, expected);
    }
}

// Values travel as parameters, quotes and NUL bytes included.
TEST_F(ConfigLite, WritesRowsThroughTheDataView)
{
    const std::string quoted = "O'Brien'); DELETE FROM CFG.MAGNET_T; --";
    const std::string with_nul = "nul\0inside '\"; DROP TABLE CFG.MAGNET_T; --"s;
    auto expected = magnet_row(3, {at(kFirstMicro2024), 0.25, at(kLastMicro1969), with_nul, 11, kNull, kNull, quoted});
    auto added = expected.fields_;
    added["NOT_A_FIELD"] = 5; // a key that names no field is left out
    ci_.add_data("MAGNET", added);
    EXPECT_EQ(ci_.read_data("MAGNET", {{"SECTION", quoted}}).first, std::vector<ConfigurationData>{expected});
    ci_.update_data("MAGNET", 3,
                    {{"CURRENT", kNull},
                     {"NUMBER", 12},
                     {"REVIEWED", at(kMarchNanos)},
                     {"NOT_A_FIELD", 1},
                     {"NOTES", quoted},
                     {"SECTION", with_nul}});
    expected = magnet_row(3, {at(kFirstMicro2024), kNull, at(kLastMicro1969), quoted, 12, kNull,
                              at(kMarchNanos / 1000 * 1000), with_nul}); // a time point travels with six digits
    EXPECT_EQ(ci_.read_data("MAGNET", "SECTION = ? AND NOTES = ?", {with_nul, quoted}).first,
              std::vector<ConfigurationData>{expected});
    ci_.update_data("MAGNET", 99, {{"NUMBER", 1}});
    ci_.delete_data("MAGNET", 99);
    ci_.delete_data("MAGNET", 3);
    EXPECT_EQ(ci_.read_data("MAGNET", -1, -1).first, magnet_rows());
}

TEST_F(ConfigLite, WritesNothingWithoutValuesOrWithANegativeId)
{
    // NOSUCH has no view: any statement sent would fail.
    EXPECT_NO_THROW(ci_.add_data("NOSUCH", {}));
    EXPECT_NO_THROW(ci_.update_data("NOSUCH", -1, {{"A", 1}}));
    EXPECT_NO_THROW(ci_.update_data("NOSUCH", 5, {}));
    EXPECT_NO_THROW(ci_.delete_data("NOSUCH", -1));
    EXPECT_EQ(failure_of([&] { ci_.delete_data("NOSUCH", 5); }), "Query failed");
    // Keys that name no field leave an empty column list, which the database refuses.
    EXPECT_EQ(failure_of([&] { ci_.add_data("MAGNET", {{"NOT_A_FIELD", 1}}); }), "Query failed");
    EXPECT_EQ(failure_of([&] { ci_.update_data("MAGNET", 1, {{"NOT_A_FIELD", 1}}); }), "Query failed");
    EXPECT_EQ(ci_.read_data("MAGNET", -1, -1).first, magnet_rows());
}

} // namespace

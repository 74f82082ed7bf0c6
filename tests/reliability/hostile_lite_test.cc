// Hostile names and values through our driver: the component list, the dictionary look-up
// and every configuration call that puts a name into a statement. Names are refused or
// neutralised; values, quotes and NUL bytes included, travel as parameters and come back
// unchanged.

#include "hostile_names.h"

#include "LiteSource.h"

#include <qix/sql/ConfigurationInterface.h>

#include <functional>

namespace {

using namespace qix::test::component;
using namespace qix::test::reliability;
using namespace std::string_literals;
using namespace qix::sql;

const std::vector<std::string>& configuration_schema()
{
    static const std::vector<std::string> statements = {
        "CREATE TABLE VEDUV.SENTINEL (ID INTEGER)",
        "INSERT INTO VEDUV.SENTINEL VALUES (1), (2), (3)",
        "CREATE TABLE CFG.TYPES_T (TYPE_ID INTEGER, TYPE_NAME TEXT, TYPE_DESCR TEXT, TYPE_FACILITY TEXT, "
        "TYPE_CATEGORY TEXT, KELVA_GROUP TEXT)",
        "CREATE VIEW CFG.CM_VIEW_TYPES AS SELECT * FROM TYPES_T",
        "INSERT INTO CFG.TYPES_T VALUES (1, 'MAGNET', NULL, NULL, NULL, NULL)",
        "CREATE TABLE CFG.FIELDS_T (TYPE_ID INTEGER, TYPE_NAME TEXT, FIELD_ID INTEGER, FIELD_NAME TEXT, "
        "FIELD_DESCR TEXT, DATA_TYPE TEXT, REF_TYPE_ID INTEGER, REF_TYPE_NAME TEXT, UNIT_NAME TEXT, "
        "HIDDEN_FLAG INTEGER, NAME_FLAG INTEGER, FACILITY_FLAG INTEGER, ALLOW_NULL_FLAG INTEGER)",
        "CREATE VIEW CFG.CM_MVIEW_FIELDS AS SELECT * FROM FIELDS_T",
        "INSERT INTO CFG.FIELDS_T VALUES (1, 'MAGNET', 1, 'NAME', '', 'C', NULL, NULL, NULL, 0, 1, 0, 0), "
        "(1, 'MAGNET', 2, 'NOTES', '', 'C', NULL, NULL, NULL, 0, 0, 0, 1), "
        "(1, 'MAGNET', 3, 'NUMBER', '', 'I', NULL, NULL, NULL, 0, 0, 0, 1)",
        "CREATE TABLE CFG.ITEMS_T (TYPE_ID INTEGER, TYPE_NAME TEXT, PUBLIC_ID INTEGER, ITEM_NAME TEXT, "
        "ITEM_DESCR TEXT, ITEM_FACILITY TEXT, LAST_SEEN TIMESTAMP(6), LAST_MODIFIED TIMESTAMP(6))",
        "CREATE VIEW CFG.CM_VIEW_ITEMS AS SELECT * FROM ITEMS_T",
        "INSERT INTO CFG.ITEMS_T VALUES (1, 'MAGNET', 1, 'Q1', NULL, 'NORTH', NULL, NULL)",
        "CREATE TABLE CFG.MAGNET_T (PUBLIC_ID INTEGER PRIMARY KEY, VERSION_ID INTEGER NOT NULL DEFAULT 1, "
        "NAME TEXT, NOTES TEXT, NUMBER INTEGER)",
        "CREATE VIEW CFG.CM_VIEW_DATA_MAGNET AS SELECT PUBLIC_ID, VERSION_ID, NAME, NOTES, NUMBER FROM MAGNET_T",
        "CREATE TRIGGER CFG.MAGNET_INSERT INSTEAD OF INSERT ON CM_VIEW_DATA_MAGNET BEGIN INSERT INTO MAGNET_T "
        "(NAME, NOTES, NUMBER) VALUES (NEW.NAME, NEW.NOTES, NEW.NUMBER); END",
        "CREATE TRIGGER CFG.MAGNET_UPDATE INSTEAD OF UPDATE ON CM_VIEW_DATA_MAGNET BEGIN UPDATE MAGNET_T SET "
        "NAME = NEW.NAME, NOTES = NEW.NOTES, NUMBER = NEW.NUMBER WHERE PUBLIC_ID = OLD.PUBLIC_ID; END",
        "CREATE TRIGGER CFG.MAGNET_DELETE INSTEAD OF DELETE ON CM_VIEW_DATA_MAGNET BEGIN DELETE FROM MAGNET_T "
        "WHERE PUBLIC_ID = OLD.PUBLIC_ID; END",
        "INSERT INTO CFG.MAGNET_T VALUES (1, 1, 'Q1', 'first', 7), (2, 1, 'Q2', NULL, 8)",
    };
    return statements;
}

class HostileNamesLite : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute(facility_fixture());
        source_.execute(configuration_schema());
    }

    qix::test::LiteSource source_{{"VEDUV", "CFG"}};
    Database db_{source_.dsn(), "", ""};
};

TEST_F(HostileNamesLite, FacilityTableAndOwnerNamesRunNoOtherStatement)
{
    check_hostile_component_names(db_, 3);
}

// Every configuration call with a type name, as it would be called with a real one.
using TypeCall = std::function<void(ConfigurationInterface&, const std::string&)>;

const std::vector<std::pair<const char*, TypeCall>>& type_calls()
{
    static const ConfigurationDataValueMap values{{"NOTES", "x"s}};
    static const std::vector<std::pair<const char*, TypeCall>> calls = {
        {"read_fields", [](auto& ci, const auto& type) { (void)ci.read_fields(type); }},
        {"read_items", [](auto& ci, const auto& type) { (void)ci.read_items(type, "NORTH"); }},
        {"read_item by name", [](auto& ci, const auto& type) { (void)ci.read_item(type, "Q1"); }},
        {"read_item by id", [](auto& ci, const auto& type) { (void)ci.read_item(type, 1); }},
        {"read_data with a filter", [](auto& ci, const auto& type) { (void)ci.read_data(type, "PUBLIC_ID > ?", {0}); }},
        {"read_data with values", [](auto& ci, const auto& type) { (void)ci.read_data(type, values); }},
        {"read_data by ids", [](auto& ci, const auto& type) { (void)ci.read_data(type, 1, -1); }},
        {"add_data", [](auto& ci, const auto& type) { ci.add_data(type, values); }},
        {"update_data", [](auto& ci, const auto& type) { ci.update_data(type, 1, values); }},
        {"delete_data", [](auto& ci, const auto& type) { ci.delete_data(type, 1); }},
        {"make_item_name", [](auto& ci, const auto& type) { (void)ci.make_item_name(values, type); }},
    };
    return calls;
}

TEST_F(HostileNamesLite, ConfigurationNamesAreRefusedBeforeAnyStatement)
{
    ConfigurationInterface ci(db_, "CFG");
    const auto rows_before = ci.read_data("MAGNET", ConfigurationDataValueMap{}).first;
    std::vector<std::string> names = hostile_names();
    // Names that would keep a statement valid while widening what it touches.
    names.insert(names.end(), {"MAGNET WHERE 1 = 1 --", "MAGNET WHERE PUBLIC_ID > ? OR PUBLIC_ID = ?", "magnet",
                               "MAGNET;", "CFG.CM_VIEW_DATA_MAGNET"});
    for (const std::string& name : names) {
        SCOPED_TRACE("name [" + name + "]");
        for (const auto& [call, run] : type_calls())
            EXPECT_EQ(message_of([&, &run = run] { run(ci, name); }),
                      name.empty() ? "Type name cannot be empty." : "Invalid field name")
                << call;
        EXPECT_EQ(message_of([&] { (void)ci.read_data("MAGNET", {{name, 1}}); }), "Invalid field name")
            << "as a field of the equality filter";
    }
    for (const std::string& name : hostile_names()) {
        // A message is C text: it ends at a NUL byte of the name.
        const std::string refusal = ("Invalid schema name: " + name).c_str();
        EXPECT_EQ(message_of([&] { ConfigurationInterface(db_, name); }),
                  name.empty() ? "Schema name cannot be empty." : refusal)
            << "schema [" << name << "]";
    }
    EXPECT_EQ(sentinel_rows(db_), 3);
    EXPECT_EQ(ci.read_data("MAGNET", ConfigurationDataValueMap{}).first, rows_before);
}

TEST_F(HostileNamesLite, ValuesTravelAsParametersWithQuotesAndNulBytes)
{
    ConfigurationInterface ci(db_, "CFG");
    const std::string quoted = "O'Brien'); DELETE FROM MAGNET_T; --";
    const std::string with_nul = "nul\0inside '\"; DROP TABLE VEDUV.SENTINEL; --"s;
    ci.add_data("MAGNET", {{"NAME", quoted}, {"NOTES", with_nul}, {"NUMBER", 9}});
    auto rows = ci.read_data("MAGNET", {{"NAME", quoted}}).first;
    ASSERT_EQ(rows.size(), 1u);
    const int id = rows[0].id_;
    EXPECT_EQ(rows[0].fields_, (ConfigurationDataValueMap{{"NAME", quoted}, {"NOTES", with_nul}, {"NUMBER", 9}}));

    ci.update_data("MAGNET", id, {{"NAME", with_nul}, {"NOTES", quoted}});
    rows = ci.read_data("MAGNET", "NAME = ? AND NOTES = ?", {with_nul, quoted}).first;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id_, id);

    // Quotes in the values of item look-ups select nothing more.
    EXPECT_EQ(ci.read_item("MAGNET", "Q1' OR '1'='1").id_, -1);
    EXPECT_TRUE(ci.read_items("MAGNET", "NORTH' OR '1'='1").empty());
    EXPECT_EQ(ci.read_items("MAGNET", "NORTH").size(), 1u);

    ci.delete_data("MAGNET", id);
    EXPECT_EQ(ci.read_data("MAGNET", -1, -1).first.size(), 2u);
    EXPECT_EQ(sentinel_rows(db_), 3);
}

} // namespace

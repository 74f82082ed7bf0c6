#pragma once

// The component tests' helpers, and the database loads of the component list that every
// driver must pass: the fixtures are plain SQL that SQLite and PostgreSQL both accept, given a
// schema VEDUV and a dictionary view ALL_TAB_COLUMNS listing columns in their declared order.

#include <qix/sql/ComponentFields.h>
#include <qix/sql/ComponentList.h>
#include <qix/sql/Database.h>
#include <qix/sql/Query.h>

#include "ComponentView.h"
#include "DataSource.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <regex>

namespace qix::test::component {

using namespace qix::test; // message_of, slurp, spit, in_child, WorkingDirectory

/// A component of up to nine texts (name to link name, as listings show them), four positions
/// (x, y, z, s) and flags.
inline sql::Component make_component(std::vector<std::string> texts, std::vector<double> positions,
                                     std::vector<bool> flags)
{
    namespace fields = sql::component_fields;
    texts.resize(fields::kLeadingTexts.size() + 1);
    positions.resize(fields::kPositions.size());
    sql::Component component;
    for (std::size_t i = 0; i < fields::kLeadingTexts.size(); ++i)
        component.*fields::kLeadingTexts[i].member = texts[i];
    component.*fields::kLinkName.member = texts.back();
    for (std::size_t i = 0; i < fields::kPositions.size(); ++i)
        component.*fields::kPositions[i].member = positions[i];
    component.flags_ = std::move(flags);
    return component;
}

inline const std::string kLongText(300, 'x');     // beyond the 255 bytes of a small buffer
inline const std::string kMaximalText(4000, 'y'); // what Oracle's VARCHAR2 holds

inline sql::ComponentList list_of(std::vector<std::string> flag_names, std::vector<sql::Component> components)
{
    sql::ComponentList list;
    list.flag_names_ = std::move(flag_names);
    list.components_ = std::move(components);
    return list;
}

inline sql::ComponentList expected_lumen()
{
    return list_of({"MAGNET", "QUAD", "SPARE"},
                   {make_component({"QF1", "QF1R", "N2", "S1", "G1", "QUAD", "T1", "Quad 1", "L1"},
                                   {0.5, 0.0, 12.5, 12.75}, {true, true, false}),
                    make_component({}, {}, {false, false, true}),
                    make_component({"B1", "", "", "", "", "", "", kLongText, kMaximalText}, {-1.5, 2.5, 1e300, -0.25},
                                   {true, false, false})});
}

/// A backup file in a folder of its own, holding the canonical text of expected_lumen().
struct BackupFile {
    TempDir dir;
    std::string path = (dir / "backup.txt").string();
    std::string text = (expected_lumen().write_to_file(path), slurp(path));
};

/// Rows of SPAN: one more than a block of the load, so that the last row, all NULL, lands where
/// the first, without NULLs, was delivered.
constexpr int kSpanRows = 65;

/// Row `pos` of SPAN: texts "" but the name, flag on; the last row reads as all defaults.
inline sql::Component span_component(int pos)
{
    return pos < kSpanRows ? make_component({"P" + std::to_string(pos)}, {1.5, 2.5, 3.5, 4.5}, {true})
                           : make_component({}, {}, {false});
}

/// LUMEN: expected_lumen() stored out of order, flags flag_Magnet, FLAG_QUAD and FLAG_SPARE,
/// NULLs everywhere, a flag value 2 and long texts; LUMEN_SIM: no rows; CORAL4: no flag columns;
/// TANDEM: a text too long to hold; BLANK: a flag column FLAG_, whose flag would have an empty
/// name; SPAN: kSpanRows rows; and a table VEDUV.SENTINEL of three rows.
inline std::vector<std::string> facility_fixture()
{
    const auto lumen = expected_lumen().components_;
    std::vector<std::string> fixture{
        component_table("LUMEN_DATA", ", flag_Magnet SMALLINT, FLAG_QUAD SMALLINT, FLAG_SPARE SMALLINT"),
        component_view("LUMEN", "LUMEN_DATA", ", flag_Magnet, FLAG_QUAD, FLAG_SPARE"),
        component_row("LUMEN_DATA", 3, lumen[2], Nulls::for_defaults),
        component_row("LUMEN_DATA", 1, lumen[0], Nulls::for_defaults, {"1", "2", "NULL"}),
        component_row("LUMEN_DATA", 2, lumen[1], Nulls::for_defaults, {"NULL", "NULL", "1"}),
        component_table("SIM_DATA", ", FLAG_A SMALLINT"),
        component_view("LUMEN_SIM", "SIM_DATA", ", FLAG_A"),
        component_table("CORAL4_DATA", ""),
        component_view("CORAL4", "CORAL4_DATA", ""),
        component_row("CORAL4_DATA", 1, make_component({"C1"}, {1, 2, 3, 4}, {})),
        component_table("TANDEM_DATA", ""),
        component_view("TANDEM", "TANDEM_DATA", ""),
        component_row("TANDEM_DATA", 1, make_component({"T1"}, {}, {})),
        component_row("TANDEM_DATA", 2,
                      make_component({"T2", "", "", "", "", "", "", "", std::string(4001, 'z')}, {}, {})),
        component_table("BLANK_DATA", ", FLAG_ SMALLINT"),
        component_view("BLANK", "BLANK_DATA", ", FLAG_"),
        component_row("BLANK_DATA", 1, make_component({"B1"}, {}, {true})),
        component_table("SPAN_DATA", ", FLAG_ON SMALLINT"),
        component_view("SPAN", "SPAN_DATA", ", FLAG_ON"),
        "CREATE TABLE VEDUV.SENTINEL (ID INTEGER)",
        "INSERT INTO VEDUV.SENTINEL VALUES (1), (2), (3)",
    };
    for (int pos = 1; pos <= kSpanRows; ++pos)
        fixture.push_back(
            component_row("SPAN_DATA", pos, span_component(pos), pos < kSpanRows ? Nulls::none : Nulls::for_defaults,
                          pos < kSpanRows ? std::vector<std::string>{} : std::vector<std::string>{"NULL"}));
    return fixture;
}

/// Schema veduv and an Oracle-like dictionary view over PostgreSQL's information_schema, then `more`.
inline std::vector<std::string> with_dictionary(std::vector<std::string> more)
{
    more.insert(more.begin(), {"CREATE SCHEMA veduv",
                               "CREATE VIEW all_tab_columns AS SELECT table_schema AS owner, "
                               "table_name, column_name FROM information_schema.columns ORDER BY table_schema, "
                               "table_name, ordinal_position"});
    return more;
}

/// Every facility of facility_fixture(), loaded one after the other into one list.
inline void check_facility_loads(sql::Database& db)
{
    sql::ComponentList list;
    list.read_from_db(db, " lumen ");
    EXPECT_EQ(list, expected_lumen());

    list.read_from_db(db, "vlumen");
    EXPECT_EQ(list, list_of({"A"}, {}));

    list = expected_lumen();
    list.read_from_db(db, "Coral4.test");
    EXPECT_EQ(list, list_of({}, {make_component({"C1"}, {1, 2, 3, 4}, {})}));

    // The rows before the one too long to hold stay loaded.
    EXPECT_EQ(message_of([&] { list.read_from_db(db, "tandem"); }),
              "Value of column LINK_NAME of component T2 is longer than 4000 bytes");
    EXPECT_EQ(list, list_of({}, {make_component({"T1"}, {}, {})}));

    EXPECT_TRUE(message_of([&] { list.read_from_db(db, "missing"); }).starts_with("Query failed: "));

    // A list file cannot hold an empty flag name, so the column FLAG_ is refused like any other
    // invalid flag column, and a load with a backup takes the file instead.
    const std::string blank = "Invalid flag column name: FLAG_";
    EXPECT_EQ(message_of([&] { list.read_from_db(db, "blank"); }), blank);
    const BackupFile backup;
    EXPECT_EQ(list.read_from_db_with_backup(db, "blank", backup.path), blank);
    EXPECT_EQ(list, expected_lumen());

    // Every row of every block is read, and a NULL reads as "", 0.0 and false also where an
    // earlier block delivered values.
    sql::ComponentList span = list_of({"ON"}, {});
    for (int pos = 1; pos <= kSpanRows; ++pos)
        span.components_.push_back(span_component(pos));
    list.read_from_db(db, "span");
    EXPECT_EQ(list, span);
}

/// Rows in VEDUV.SENTINEL, read through the library. Throws when the table is gone.
inline int sentinel_rows(sql::Database& db)
{
    sql::Query query = db.send_query("SELECT COUNT(*) FROM VEDUV.SENTINEL");
    return query.fetch() ? query.get_column_as_int32_t(1) : -1;
}

/// Every hostile name as facility (explicit and default backup file name) and as table and
/// owner of read_column_names. VEDUV.SENTINEL holds 3 rows; facility_fixture() is loaded.
inline void check_hostile_component_names(sql::Database& db)
{
    TempDir dir;
    const WorkingDirectory cwd(dir.path());
    std::vector<std::string> facilities = kHostileNames;
    // Cut at the full stop or taken for an alias: the rest never reaches a statement.
    facilities.insert(facilities.end(), {"X.'; DROP TABLE VEDUV.SENTINEL; --", "ORB'; DROP TABLE VEDUV.SENTINEL; --",
                                         "../../LUMEN", "LUMEN/../../X"});
    for (const std::string& name : facilities) {
        SCOPED_TRACE("facility [" + name + "]");
        for (const std::string backup : {"explicit.txt", ""}) {
            sql::ComponentList list;
            std::string outcome;
            try {
                outcome = list.read_from_db_with_backup(db, name, backup);
            } catch (const Error& e) {
                outcome = e.get_message();
            }
            // Refused; taken for an alias of LUMEN; or cut to a name whose view does not exist.
            EXPECT_TRUE(outcome.starts_with("Invalid facility name: ") || outcome.starts_with("Query failed: ") ||
                        (outcome.empty() && list == expected_lumen()))
                << outcome;
        }
        EXPECT_EQ(sentinel_rows(db), 3);
    }
    // Backups land in the working folder, under canonical names only.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_TRUE(std::regex_match(entry.path().filename().string(),
                                     std::regex("explicit\\.txt|db_component_list_[A-Z0-9_]+\\.txt")))
            << entry.path();
    for (const std::string& name : kHostileNames) {
        SCOPED_TRACE("dictionary name [" + name + "]");
        for (const auto& [table, owner] : {std::pair{name, std::string("VEDUV")}, {"LUMEN_VIEW_COMPONENTS", name}}) {
            // Either nothing matches or the driver rejects the text (a NUL ends it early).
            const std::string message = message_of(
                [&, &table = table, &owner = owner] { EXPECT_TRUE(db.read_column_names(table, owner).empty()); });
            EXPECT_TRUE(message == "(no qix::Error thrown)" || message.starts_with("Query failed: ")) << message;
        }
        EXPECT_EQ(sentinel_rows(db), 3);
    }
    sql::ComponentList list;
    list.read_from_db(db, "LUMEN");
    EXPECT_EQ(list, expected_lumen()) << "the fixtures are intact";
}

} // namespace qix::test::component

#pragma once

// The component tests' helpers, and the database loads of the component list that every
// driver must pass: the fixtures are plain SQL that SQLite and PostgreSQL both accept, given a
// schema VEDUV and a dictionary view ALL_TAB_COLUMNS listing columns in their declared order.

#include <qix/sql/ComponentList.h>
#include <qix/sql/Database.h>

#include "DataSource.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace qix::test::component {

using namespace qix::test; // message_of, slurp, spit, in_child, WorkingDirectory

/// A component of up to nine texts (name to link name), four positions (x, y, z, s) and flags.
inline sql::Component make_component(std::vector<std::string> texts, std::vector<double> positions,
                                     std::vector<bool> flags)
{
    texts.resize(9);
    positions.resize(4);
    return sql::Component{texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7], texts[8],
                          positions[0], positions[1], positions[2], positions[3], std::move(flags)};
}

inline const std::string kLongText(300, 'x');     // beyond the 255 bytes of a small buffer
inline const std::string kMaximalText(4000, 'y'); // what Oracle's VARCHAR2 holds

inline std::string data_table(const std::string& name, const std::string& flag_columns)
{
    return "CREATE TABLE VEDUV." + name +
           " (POS INTEGER, NAME TEXT, REAL_NAME TEXT, NAME2 TEXT, SECTION TEXT, GROUP_ TEXT, CLASS TEXT, TYPE_ TEXT, "
           "FRIENDLY_NAME TEXT, X DOUBLE PRECISION, Y DOUBLE PRECISION, Z DOUBLE PRECISION, S DOUBLE PRECISION, "
           "LINK_NAME TEXT" +
           flag_columns + ")";
}

inline std::string component_view(const std::string& facility, const std::string& table,
                                  const std::string& flag_columns)
{
    return "CREATE VIEW VEDUV." + facility + "_VIEW_COMPONENTS AS SELECT NAME, REAL_NAME, NAME2, SECTION, GROUP_, "
           "CLASS, TYPE_, FRIENDLY_NAME, X, Y, Z, S, LINK_NAME" + flag_columns + " FROM VEDUV." + table +
           " ORDER BY POS";
}

/// Rows of SPAN: one more than a block of the load, so that the last row, all NULL, lands where
/// the first, without NULLs, was delivered.
constexpr int kSpanRows = 65;

/// LUMEN: flags flag_Magnet, FLAG_QUAD and FLAG_SPARE with NULLs everywhere, a flag value 2
/// and long texts; LUMEN_SIM: no rows; CORAL4: no flag columns; TANDEM: a text too long to
/// hold; BLANK: a flag column FLAG_, whose flag would have an empty name; SPAN: kSpanRows rows.
inline std::vector<std::string> facility_fixture()
{
    std::vector<std::string> span{data_table("SPAN_DATA", ", FLAG_ON SMALLINT"),
                                  component_view("SPAN", "SPAN_DATA", ", FLAG_ON")};
    for (int pos = 1; pos < kSpanRows; ++pos)
        span.push_back("INSERT INTO VEDUV.SPAN_DATA VALUES (" + std::to_string(pos) + ", 'P" + std::to_string(pos) +
                       "', '', '', '', '', '', '', '', 1.5, 2.5, 3.5, 4.5, '', 1)");
    span.push_back("INSERT INTO VEDUV.SPAN_DATA VALUES (" + std::to_string(kSpanRows) +
                   ", NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
    std::vector<std::string> fixture{
        data_table("LUMEN_DATA", ", flag_Magnet SMALLINT, FLAG_QUAD SMALLINT, FLAG_SPARE SMALLINT"),
        component_view("LUMEN", "LUMEN_DATA", ", flag_Magnet, FLAG_QUAD, FLAG_SPARE"),
        "INSERT INTO VEDUV.LUMEN_DATA VALUES (3, 'B1', NULL, NULL, NULL, NULL, NULL, NULL, '" + kLongText +
            "', -1.5, 2.5, 1e300, -0.25, '" + kMaximalText + "', 1, 0, 0)",
        "INSERT INTO VEDUV.LUMEN_DATA VALUES (1, 'QF1', 'QF1R', 'N2', 'S1', 'G1', 'QUAD', 'T1', 'Quad 1', 0.5, NULL, "
        "12.5, 12.75, 'L1', 1, 2, NULL)",
        "INSERT INTO VEDUV.LUMEN_DATA VALUES (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
        "NULL, NULL, NULL, NULL, 1)",
        data_table("SIM_DATA", ", FLAG_A SMALLINT"),
        component_view("LUMEN_SIM", "SIM_DATA", ", FLAG_A"),
        data_table("CORAL4_DATA", ""),
        component_view("CORAL4", "CORAL4_DATA", ""),
        "INSERT INTO VEDUV.CORAL4_DATA VALUES (1, 'C1', '', '', '', '', '', '', '', 1, 2, 3, 4, '')",
        data_table("TANDEM_DATA", ""),
        component_view("TANDEM", "TANDEM_DATA", ""),
        "INSERT INTO VEDUV.TANDEM_DATA VALUES (1, 'T1', '', '', '', '', '', '', '', 0, 0, 0, 0, '')",
        "INSERT INTO VEDUV.TANDEM_DATA VALUES (2, 'T2', '', '', '', '', '', '', '', 0, 0, 0, 0, '" +
            std::string(4001, 'z') + "')",
        data_table("BLANK_DATA", ", FLAG_ SMALLINT"),
        component_view("BLANK", "BLANK_DATA", ", FLAG_"),
        "INSERT INTO VEDUV.BLANK_DATA VALUES (1, 'B1', '', '', '', '', '', '', '', 0, 0, 0, 0, '', 1)",
    };
    fixture.insert(fixture.end(), span.begin(), span.end());
    return fixture;
}

inline sql::ComponentList expected_lumen()
{
    sql::ComponentList list;
    list.flag_names_ = {"MAGNET", "QUAD", "SPARE"};
    list.components_ = {
        make_component({"QF1", "QF1R", "N2", "S1", "G1", "QUAD", "T1", "Quad 1", "L1"}, {0.5, 0.0, 12.5, 12.75},
                       {true, true, false}),
        make_component({}, {}, {false, false, true}),
        make_component({"B1", "", "", "", "", "", "", kLongText, kMaximalText}, {-1.5, 2.5, 1e300, -0.25},
                       {true, false, false}),
    };
    return list;
}

/// Schema veduv and an Oracle-like dictionary view over PostgreSQL's information_schema, then `more`.
inline std::vector<std::string> with_dictionary(std::vector<std::string> more)
{
    more.insert(more.begin(), {"CREATE SCHEMA veduv", "CREATE VIEW all_tab_columns AS SELECT table_schema AS owner, "
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
    EXPECT_TRUE(list.components_.empty());
    EXPECT_EQ(list.flag_names_, std::vector<std::string>{"A"});

    list = expected_lumen();
    list.read_from_db(db, "Coral4.test");
    sql::ComponentList coral;
    coral.components_ = {make_component({"C1"}, {1, 2, 3, 4}, {})};
    EXPECT_EQ(list, coral);

    EXPECT_EQ(message_of([&] { list.read_from_db(db, "tandem"); }),
              "Value of column LINK_NAME of component T2 is longer than 4000 bytes");
    ASSERT_EQ(list.components_.size(), 1u);
    EXPECT_EQ(list.components_[0].name_, "T1");

    EXPECT_TRUE(message_of([&] { list.read_from_db(db, "missing"); }).starts_with("Query failed: "));

    // A list file cannot hold an empty flag name, so the column FLAG_ is refused like any other
    // invalid flag column, and a load with a backup takes the file instead.
    const std::string blank = "Invalid flag column name: FLAG_";
    EXPECT_EQ(message_of([&] { list.read_from_db(db, "blank"); }), blank);
    TempDir dir;
    const std::string backup = (dir / "backup.txt").string();
    expected_lumen().write_to_file(backup);
    EXPECT_EQ(list.read_from_db_with_backup(db, "blank", backup), blank);
    EXPECT_EQ(list, expected_lumen());

    // Every row of every block is read, and a NULL reads as "", 0.0 and false also where an
    // earlier block delivered values.
    list.read_from_db(db, "span");
    ASSERT_EQ(list.components_.size(), static_cast<std::size_t>(kSpanRows));
    list.components_.erase(list.components_.begin(), list.components_.end() - 2);
    sql::ComponentList tail;
    tail.flag_names_ = {"ON"};
    tail.components_ = {make_component({"P" + std::to_string(kSpanRows - 1)}, {1.5, 2.5, 3.5, 4.5}, {true}),
                        make_component({}, {}, {false})};
    EXPECT_EQ(list, tail);
}

} // namespace qix::test::component

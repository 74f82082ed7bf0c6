#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

namespace qix::test {
namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE VEDUV.lumen_components (name TEXT NOT NULL, x DOUBLE, flag_quad INTEGER)",
                         "CREATE VIEW VEDUV.LUMEN_VIEW_COMPONENTS AS SELECT name AS NAME, x AS X, "
                         "flag_quad AS FLAG_QUAD FROM lumen_components",
                         "CREATE TABLE CFG.CM_DATA (PUBLIC_ID INTEGER PRIMARY KEY, LAST_SEEN TIMESTAMP, "
                         "SHOT TIMESTAMP(9), LABEL VARCHAR2(30))",
                         "CREATE TABLE LOCAL_ONLY (A INTEGER)"});
    }
    LiteSource source_{{"VEDUV", "CFG"}};
};

TEST_F(Catalogue, ListsTheColumnsOfAViewInOrder)
{
    RawConnection connection(source_.dsn());
    // The statement the library sends to find a view's columns.
    EXPECT_EQ(connection.rows("SELECT COLUMN_NAME FROM ALL_TAB_COLUMNS WHERE UPPER(OWNER) = 'VEDUV' AND "
                              "UPPER(TABLE_NAME) = 'LUMEN_VIEW_COMPONENTS'"),
              (Rows{{"NAME"}, {"X"}, {"FLAG_QUAD"}}));
}

TEST_F(Catalogue, ShowsTableNamesColumnNamesAndOwnersInUpperCase)
{
    RawConnection connection(source_.dsn());
    EXPECT_EQ(connection.rows("SELECT OWNER, TABLE_NAME, COLUMN_NAME, COLUMN_ID, DATA_TYPE, NULLABLE FROM "
                              "ALL_TAB_COLUMNS WHERE TABLE_NAME = 'LUMEN_COMPONENTS'"),
              (Rows{{"VEDUV", "LUMEN_COMPONENTS", "NAME", "1", "TEXT", "N"},
                    {"VEDUV", "LUMEN_COMPONENTS", "X", "2", "DOUBLE", "Y"},
                    {"VEDUV", "LUMEN_COMPONENTS", "FLAG_QUAD", "3", "INTEGER", "Y"}}));
}

TEST_F(Catalogue, ShowsTimestampsWithTheirPrecisionAndOtherTypesWithoutLength)
{
    RawConnection connection(source_.dsn());
    EXPECT_EQ(connection.rows("SELECT COLUMN_NAME, DATA_TYPE FROM ALL_TAB_COLUMNS WHERE OWNER = 'CFG' AND "
                              "TABLE_NAME = 'CM_DATA' ORDER BY COLUMN_ID"),
              (Rows{{"PUBLIC_ID", "INTEGER"}, {"LAST_SEEN", "TIMESTAMP(6)"}, {"SHOT", "TIMESTAMP(9)"},
                    {"LABEL", "VARCHAR2"}}));
}

TEST_F(Catalogue, CoversTheMainFileAndObjectsCreatedAfterConnecting)
{
    RawConnection connection(source_.dsn());
    EXPECT_EQ(connection.rows("SELECT OWNER, COLUMN_NAME FROM ALL_TAB_COLUMNS WHERE TABLE_NAME = 'LOCAL_ONLY'"),
              (Rows{{"MAIN", "A"}}));
    connection.execute("CREATE TABLE CFG.LATER (B TEXT)");
    EXPECT_EQ(connection.rows("SELECT OWNER, COLUMN_NAME FROM ALL_TAB_COLUMNS WHERE TABLE_NAME = 'LATER'"),
              (Rows{{"CFG", "B"}}));
}

TEST_F(Catalogue, AnUnknownViewHasNoColumns)
{
    RawConnection connection(source_.dsn());
    EXPECT_TRUE(connection.rows("SELECT COLUMN_NAME FROM ALL_TAB_COLUMNS WHERE UPPER(OWNER) = 'VEDUV' AND "
                                "UPPER(TABLE_NAME) = 'NOWHERE_VIEW_COMPONENTS'")
                    .empty());
}

} // namespace
} // namespace qix::test

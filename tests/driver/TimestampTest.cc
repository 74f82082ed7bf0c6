// The session timestamp format of our driver: TIMESTAMP(6) and TIMESTAMP(9) columns read and
// written in it, or in the Oracle-like default without it.
#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

namespace qix::test {
namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;

constexpr const char* kLibraryFormat = "ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH24:MI:SS.FF'";

class Timestamps : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE CFG.ITEMS (ID INTEGER, LAST_SEEN TIMESTAMP, SHOT TIMESTAMP(9), "
                         "DAY TIMESTAMP(0), NOTE TEXT)",
                         "INSERT INTO CFG.ITEMS VALUES (1, '2024-03-05 14:07:09.123456', "
                         "'2024-03-05 00:07:09.123456789', '1999-12-31 23:59:59', '2024-03-05 14:07:09')",
                         "INSERT INTO CFG.ITEMS VALUES (2, '2024-01-01 00:00:00.5', NULL, NULL, NULL)"});
    }
    Rows items(const RawConnection& connection) const
    {
        return connection.rows("SELECT LAST_SEEN, SHOT, DAY, NOTE FROM CFG.ITEMS ORDER BY ID");
    }
    Rows items() const { return items(connection_); }

    LiteSource source_{{"CFG"}};
    RawConnection connection_{source_.dsn()};
};

TEST_F(Timestamps, TheSessionFormatOfOneConnectionRendersEveryTimestampColumn)
{
    const Rows oracle_default = {{"05-MAR-24 02.07.09.123456 PM", "05-MAR-24 12.07.09.123456789 AM",
                                  "31-DEC-99 11.59.59. PM", "2024-03-05 14:07:09"},
                                 {"01-JAN-24 12.00.00.500000 AM", std::nullopt, std::nullopt, std::nullopt}};
    EXPECT_EQ(items(), oracle_default);
    // A prepared ALTER SESSION takes effect when it is executed, and has no result columns.
    RawStatement statement(connection_);
    ASSERT_EQ(statement.prepare(kLibraryFormat), SQL_SUCCESS);
    EXPECT_EQ(items(), oracle_default);
    ASSERT_EQ(SQLExecute(statement.handle()), SQL_SUCCESS);
    SQLSMALLINT columns = -1;
    EXPECT_EQ(SQLNumResultCols(statement.handle(), &columns), SQL_SUCCESS);
    EXPECT_EQ(columns, 0);
    EXPECT_EQ(items(), (Rows{{"2024-03-05 14:07:09.123456", "2024-03-05 00:07:09.123456789", "1999-12-31 23:59:59.",
                              "2024-03-05 14:07:09"},
                             {"2024-01-01 00:00:00.500000", std::nullopt, std::nullopt, std::nullopt}}));
    EXPECT_EQ(items(RawConnection(source_.dsn())), oracle_default) << "another connection keeps the default";
    connection_.execute("alter session set nls_timestamp_format = 'DD/MM/YYYY HH24.MI FF3'");
    EXPECT_EQ(items()[0][1], "05/03/2024 00.07 123");
}

TEST_F(Timestamps, RejectsFormatsItCannotHonour)
{
    RawStatement statement(connection_);
    EXPECT_EQ(statement.exec("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH:MI:SS'"), SQL_ERROR);
    EXPECT_EQ(statement.state(), "HY024");
    EXPECT_NE(statement.diagnostic_text().find("at 'HH:MI:SS'"), std::string::npos) << statement.diagnostic_text();
    EXPECT_EQ(statement.exec("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'DD-MON-YYYY'"), SQL_ERROR);
    EXPECT_EQ(statement.exec("ALTER SESSION SET NLS_DATE_FORMAT = 'YYYY'"), SQL_ERROR);
    EXPECT_EQ(statement.state(), "42000");
    EXPECT_NE(statement.diagnostic_text().find("NLS_DATE_FORMAT"), std::string::npos);
    EXPECT_EQ(statement.exec("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = YYYY"), SQL_ERROR);
    EXPECT_EQ(statement.state(), "42000");
    // A rejected format leaves the session as it was.
    EXPECT_EQ(connection_.rows("SELECT LAST_SEEN FROM CFG.ITEMS WHERE ID = 2"),
              (Rows{{"01-JAN-24 12.00.00.500000 AM"}}));
}

TEST_F(Timestamps, ReadAsStructuresButANonCanonicalStoredTextFailsTheFetch)
{
    RawStatement statement(connection_);
    ASSERT_EQ(statement.exec("SELECT SHOT FROM CFG.ITEMS WHERE ID = 1"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS);
    SQL_TIMESTAMP_STRUCT time{};
    ASSERT_EQ(SQLGetData(statement.handle(), 1, SQL_C_TYPE_TIMESTAMP, &time, sizeof time, nullptr), SQL_SUCCESS);
    EXPECT_EQ(time.year, 2024);
    EXPECT_EQ(time.month, 3);
    EXPECT_EQ(time.minute, 7);
    EXPECT_EQ(time.fraction, 123456789u);

    connection_.execute("UPDATE CFG.ITEMS SET LAST_SEEN = '5.3.2024' WHERE ID = 2");
    SQLFreeStmt(statement.handle(), SQL_CLOSE);
    ASSERT_EQ(statement.exec("SELECT LAST_SEEN FROM CFG.ITEMS WHERE ID = 2"), SQL_SUCCESS);
    char text[64];
    SQLLEN indicator = 0;
    SQLBindCol(statement.handle(), 1, SQL_C_CHAR, text, sizeof text, &indicator);
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_ERROR);
    EXPECT_EQ(statement.state(), "22007");
    EXPECT_NE(statement.diagnostic_text().find("'5.3.2024'"), std::string::npos);
}

TEST_F(Timestamps, ParametersInTheSessionFormatAreStoredCanonically)
{
    connection_.execute(kLibraryFormat);
    // The library sends timestamps as character parameters in the session format.
    RawStatement statement(connection_);
    std::string text = "2024-03-05 14:07:09.000001";
    SQLLEN length = static_cast<SQLLEN>(text.size());
    ASSERT_EQ(statement.prepare("UPDATE CFG.ITEMS SET LAST_SEEN = ? WHERE ID = 2"), SQL_SUCCESS);
    SQLBindParameter(statement.handle(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, text.data(), length,
                     &length);
    ASSERT_EQ(SQLExecute(statement.handle()), SQL_SUCCESS) << statement.diagnostic_text();
    // Bound as a timestamp, a text is read in the session format, whatever it is.
    connection_.execute("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'DD.MM.YYYY HH24:MI:SS'");
    RawStatement typed(connection_);
    std::string local = "06.03.2024 01:02:03";
    SQLLEN local_length = SQL_NTS;
    ASSERT_EQ(typed.prepare("UPDATE CFG.ITEMS SET SHOT = ? WHERE ID = 2"), SQL_SUCCESS);
    SQLBindParameter(typed.handle(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 0, 0, local.data(), 0,
                     &local_length);
    ASSERT_EQ(SQLExecute(typed.handle()), SQL_SUCCESS) << typed.diagnostic_text();
    local = "2024-03-06 01:02:03";
    EXPECT_EQ(SQLExecute(typed.handle()), SQL_ERROR);
    EXPECT_EQ(typed.state(), "22007");
    EXPECT_EQ(connection_.rows("SELECT CAST(LAST_SEEN AS TEXT), CAST(SHOT AS TEXT) FROM CFG.ITEMS WHERE ID = 2"),
              (Rows{{"2024-03-05 14:07:09.000001", "2024-03-06 01:02:03.000000"}}));
}

TEST_F(Timestamps, DisplaySizeFollowsTheSessionFormat)
{
    auto display_size = [&] {
        RawStatement statement(connection_);
        EXPECT_EQ(statement.prepare("SELECT LAST_SEEN, SHOT FROM CFG.ITEMS"), SQL_SUCCESS);
        std::vector<SQLLEN> sizes;
        for (SQLUSMALLINT column = 1; column <= 2; ++column) {
            SQLLEN size = 0;
            SQLColAttribute(statement.handle(), column, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &size);
            sizes.push_back(size);
        }
        return sizes;
    };
    EXPECT_EQ(display_size(), (std::vector<SQLLEN>{28, 31}));
    connection_.execute(kLibraryFormat);
    EXPECT_EQ(display_size(), (std::vector<SQLLEN>{26, 29}));
}

} // namespace
} // namespace qix::test

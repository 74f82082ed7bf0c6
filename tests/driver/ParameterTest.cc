// Input parameters of our driver: every buffer type, lengths, NULLs, and what it refuses.
#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

namespace qix::test {
namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;

class Parameters : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE CFG.P (TXT TEXT, NUM INTEGER, REAL_VALUE DOUBLE, BIN BLOB)"});
    }
    SQLRETURN bind(SQLUSMALLINT number, SQLSMALLINT c_type, SQLSMALLINT sql_type, void* buffer, SQLLEN length,
                   SQLLEN* indicator)
    {
        return SQLBindParameter(statement_.handle(), number, SQL_PARAM_INPUT, c_type, sql_type, 0, 0, buffer, length,
                                indicator);
    }

    LiteSource source_{{"CFG"}};
    RawConnection connection_{source_.dsn()};
    RawStatement statement_{connection_};
};

TEST_F(Parameters, EveryTypeLengthAndNullReadFromTheBuffersAtEachExecution)
{
    char text[] = "abcdef";
    SQLLEN text_length = 3;
    SQLINTEGER slong = -70000;
    SQLSMALLINT sshort = -12;
    SQLBIGINT big = 6000000000;
    SQLDOUBLE real = 2.25;
    unsigned char bytes[] = {0x00, 0x01, 0xfe};
    SQLLEN bytes_length = sizeof bytes;
    ASSERT_EQ(statement_.prepare("INSERT INTO CFG.P (TXT, NUM, REAL_VALUE, BIN) VALUES (?, ?, ?, ?)"), SQL_SUCCESS);
    ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, text, 0, &text_length), SQL_SUCCESS);
    ASSERT_EQ(bind(2, SQL_C_SLONG, SQL_INTEGER, &slong, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(bind(3, SQL_C_DOUBLE, SQL_DOUBLE, &real, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(bind(4, SQL_C_BINARY, SQL_VARBINARY, bytes, sizeof bytes, &bytes_length), SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS) << statement_.diagnostic_text();
    text_length = SQL_NTS;
    bind(2, SQL_C_SSHORT, SQL_SMALLINT, &sshort, 0, nullptr);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS);
    text_length = SQL_NULL_DATA;
    real = -0.5;
    bind(2, SQL_C_SBIGINT, SQL_BIGINT, &big, 0, nullptr);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS);
    // No buffer is NULL, with the library's SQL_NULL_DATA indicator or without it.
    for (SQLLEN indicator : {SQLLEN{SQL_NULL_DATA}, SQLLEN{0}}) {
        ASSERT_EQ(bind(2, SQL_C_SLONG, SQL_INTEGER, nullptr, 0, &indicator), SQL_SUCCESS);
        ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS) << statement_.diagnostic_text();
    }
    EXPECT_EQ(connection_.rows("SELECT TXT, NUM, REAL_VALUE, hex(BIN) FROM CFG.P ORDER BY rowid"),
              (Rows{{"abc", "-70000", "2.25", "0001FE"},
                    {"abcdef", "-12", "2.25", "0001FE"},
                    {std::nullopt, "6000000000", "-0.5", "0001FE"},
                    {std::nullopt, std::nullopt, "-0.5", "0001FE"},
                    {std::nullopt, std::nullopt, "-0.5", "0001FE"}}));
}

TEST_F(Parameters, SelectsKeepTheValuesTheyWereExecutedWith)
{
    connection_.execute("INSERT INTO CFG.P (TXT, NUM) VALUES ('MAGNET', 7), ('MAGNET', 8), ('BPM', 7)");
    std::string type = "MAGNET";
    SQLLEN type_length = static_cast<SQLLEN>(type.size());
    SQLINTEGER id = 7;
    ASSERT_EQ(statement_.exec("SELECT count(*) FROM CFG.P WHERE TXT = ? AND NUM = ?"), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "07002") << "parameters not bound";
    bind(1, SQL_C_CHAR, SQL_VARCHAR, type.data(), type_length, &type_length);
    bind(2, SQL_C_SLONG, SQL_INTEGER, &id, 0, nullptr);
    ASSERT_EQ(statement_.exec("SELECT TXT, NUM FROM CFG.P WHERE TXT = ? AND NUM >= ?"), SQL_SUCCESS);
    type = "XXXXXX";
    id = 100;
    int rows = 0;
    while (SQLFetch(statement_.handle()) == SQL_SUCCESS)
        ++rows;
    EXPECT_EQ(rows, 2);
}

TEST_F(Parameters, RejectsWhatTheDriverCannotSend)
{
    SQLINTEGER value = 0;
    SQLLEN indicator = 0;
    ASSERT_EQ(statement_.prepare("SELECT ?"), SQL_SUCCESS);
    EXPECT_EQ(SQLBindParameter(statement_.handle(), 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &value, 0,
                               &indicator),
              SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYC00");
    EXPECT_EQ(bind(1, SQL_C_WCHAR, SQL_VARCHAR, &value, 0, &indicator), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HY003");
    EXPECT_EQ(bind(1, SQL_C_SLONG, 1234, &value, 0, &indicator), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HY004");
    indicator = SQL_DATA_AT_EXEC;
    ASSERT_EQ(bind(1, SQL_C_SLONG, SQL_INTEGER, &value, 0, &indicator), SQL_SUCCESS);
    EXPECT_EQ(SQLExecute(statement_.handle()), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYC00");
}

} // namespace
} // namespace qix::test

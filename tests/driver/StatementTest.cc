#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace qix::test {
namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;

class Statements : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE VEDUV.LUMEN_COMPONENTS (NAME TEXT, REAL_NAME TEXT, X DOUBLE, S DOUBLE, "
                         "FLAG_QUAD INTEGER)",
                         "INSERT INTO VEDUV.LUMEN_COMPONENTS VALUES ('QF1', 'Q.F.1', 1.5, 10.25, 1), "
                         "('BPM1', NULL, NULL, 12.0, 0)",
                         "CREATE VIEW VEDUV.LUMEN_VIEW_COMPONENTS AS SELECT * FROM LUMEN_COMPONENTS"});
    }
    LiteSource source_{{"VEDUV", "CFG"}};
    RawConnection connection_{source_.dsn()};
};

TEST_F(Statements, ReadsSchemaQualifiedViews)
{
    EXPECT_EQ(connection_.rows("SELECT NAME, REAL_NAME, X, S, FLAG_QUAD FROM VEDUV.LUMEN_VIEW_COMPONENTS"),
              (Rows{{"QF1", "Q.F.1", "1.5", "10.25", "1"}, {"BPM1", std::nullopt, std::nullopt, "12", "0"}}));
}

TEST_F(Statements, DescribesResultColumns)
{
    RawStatement statement(connection_);
    ASSERT_EQ(statement.prepare("SELECT NAME, X, FLAG_QUAD, count(*) AS N FROM VEDUV.LUMEN_COMPONENTS"), SQL_SUCCESS);
    SQLSMALLINT count = 0;
    ASSERT_EQ(SQLNumResultCols(statement.handle(), &count), SQL_SUCCESS);
    EXPECT_EQ(count, 4);
    SQLCHAR name[64];
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQLDescribeCol(statement.handle(), 2, name, sizeof name, &name_length, &type, &size, &digits, &nullable),
              SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "X");
    EXPECT_EQ(type, SQL_DOUBLE);
    ASSERT_EQ(SQLDescribeCol(statement.handle(), 3, name, sizeof name, &name_length, &type, &size, &digits, &nullable),
              SQL_SUCCESS);
    EXPECT_EQ(type, SQL_INTEGER);
    EXPECT_EQ(SQLDescribeCol(statement.handle(), 5, name, sizeof name, &name_length, &type, &size, &digits, &nullable),
              SQL_ERROR);
    EXPECT_EQ(statement.state(), "07009");
    // An undeclared column takes its type from the first row once the statement has run.
    ASSERT_EQ(SQLExecute(statement.handle()), SQL_SUCCESS);
    ASSERT_EQ(SQLDescribeCol(statement.handle(), 4, name, 1, &name_length, &type, &size, &digits, &nullable),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "");
    EXPECT_EQ(name_length, 1);
    EXPECT_EQ(type, SQL_BIGINT);
}

TEST_F(Statements, UpdateAndDeleteWithoutRowsAnswerNoData)
{
    RawStatement statement(connection_);
    EXPECT_EQ(statement.exec("UPDATE VEDUV.LUMEN_COMPONENTS SET X = 2 WHERE NAME = 'NONE'"), SQL_NO_DATA);
    EXPECT_EQ(statement.exec("DELETE FROM VEDUV.LUMEN_COMPONENTS WHERE NAME = 'NONE'"), SQL_NO_DATA);
    EXPECT_EQ(statement.exec("UPDATE VEDUV.LUMEN_COMPONENTS SET X = 2"), SQL_SUCCESS);
    SQLLEN rows = 0;
    ASSERT_EQ(SQLRowCount(statement.handle(), &rows), SQL_SUCCESS);
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(statement.exec("INSERT INTO VEDUV.LUMEN_COMPONENTS (NAME) SELECT NAME FROM VEDUV.LUMEN_COMPONENTS "
                             "WHERE 0"),
              SQL_SUCCESS)
        << "only searched updates and deletes answer SQL_NO_DATA";
}

TEST_F(Statements, PreparedStatementsRunAgain)
{
    RawStatement statement(connection_);
    ASSERT_EQ(statement.prepare("INSERT INTO VEDUV.LUMEN_COMPONENTS (NAME) VALUES ('N')"), SQL_SUCCESS);
    EXPECT_EQ(SQLExecute(statement.handle()), SQL_SUCCESS);
    EXPECT_EQ(SQLExecute(statement.handle()), SQL_SUCCESS);
    EXPECT_EQ(connection_.rows("SELECT count(*) FROM VEDUV.LUMEN_COMPONENTS WHERE NAME = 'N'"), (Rows{{"2"}}));
}

TEST_F(Statements, RejectsASecondStatementInOneText)
{
    RawStatement statement(connection_);
    EXPECT_EQ(statement.exec("DELETE FROM VEDUV.LUMEN_COMPONENTS; DELETE FROM VEDUV.LUMEN_COMPONENTS"), SQL_ERROR);
    EXPECT_EQ(statement.state(), "42000");
    EXPECT_EQ(connection_.rows("SELECT count(*) FROM VEDUV.LUMEN_COMPONENTS"), (Rows{{"2"}})) << "nothing ran";
    EXPECT_EQ(statement.exec("DELETE FROM VEDUV.LUMEN_COMPONENTS WHERE NAME = 'QF1'; -- done\n"), SQL_SUCCESS);
}

TEST_F(Statements, FetchWithoutResultSetIsAnInvalidCursorState)
{
    RawStatement statement(connection_);
    ASSERT_EQ(statement.exec("CREATE TABLE T (A)"), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_ERROR);
    EXPECT_EQ(statement.state(), "24000");
}

TEST_F(Statements, ReportsSyntaxErrorsAndUnknownObjects)
{
    RawStatement statement(connection_);
    EXPECT_EQ(statement.exec("SELEC 1"), SQL_ERROR);
    EXPECT_EQ(statement.state(), "42000");
    EXPECT_EQ(statement.exec("SELECT NOPE FROM VEDUV.LUMEN_COMPONENTS"), SQL_ERROR);
    EXPECT_EQ(statement.state(), "42S22");
    EXPECT_EQ(statement.exec("SELECT * FROM VEDUV.NOWHERE"), SQL_ERROR);
    EXPECT_EQ(statement.state(), "42S02");
}

TEST_F(Statements, DiagnosticRecordsStayUntilTheNextCallOnTheHandle)
{
    RawStatement statement(connection_);
    EXPECT_EQ(statement.exec("SELECT * FROM VEDUV.NOWHERE"), SQL_ERROR);
    for (int reading = 0; reading < 2; ++reading) {
        SQLCHAR state[6];
        SQLINTEGER native = 0;
        SQLCHAR message[64];
        SQLSMALLINT length = 0;
        EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, statement.handle(), 1, state, &native, message, sizeof message,
                                &length),
                  SQL_SUCCESS);
        EXPECT_STREQ(reinterpret_cast<char*>(state), "42S02");
        EXPECT_EQ(native, 1) << "SQLite's result code";
        EXPECT_STREQ(reinterpret_cast<char*>(message), "[qix-lite] no such table: VEDUV.NOWHERE");
        SQLCHAR field[16];
        SQLSMALLINT field_length = 0;
        EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, statement.handle(), 1, SQL_DIAG_SQLSTATE, field, sizeof field,
                                  &field_length),
                  SQL_SUCCESS);
        EXPECT_STREQ(reinterpret_cast<char*>(field), "42S02");
    }
    EXPECT_EQ(statement.exec("SELECT 1"), SQL_SUCCESS);
    EXPECT_TRUE(statement.diagnostics().empty());
}

TEST_F(Statements, ReportsOneRecordPerTruncatedColumn)
{
    RawStatement statement(connection_);
    ASSERT_EQ(statement.exec("SELECT NAME, REAL_NAME FROM VEDUV.LUMEN_COMPONENTS WHERE NAME = 'QF1'"), SQL_SUCCESS);
    char name[2], real_name[3];
    SQLLEN name_length = 0, real_name_length = 0;
    SQLBindCol(statement.handle(), 1, SQL_C_CHAR, name, sizeof name, &name_length);
    SQLBindCol(statement.handle(), 2, SQL_C_CHAR, real_name, sizeof real_name, &real_name_length);
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS_WITH_INFO);
    const auto records = statement.diagnostics();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].state, "01004");
    EXPECT_EQ(records[1].state, "01004");
    SQLINTEGER column = 0;
    SQLGetDiagField(SQL_HANDLE_STMT, statement.handle(), 2, SQL_DIAG_COLUMN_NUMBER, &column, 0, nullptr);
    EXPECT_EQ(column, 2);
    SQLINTEGER count = 0;
    SQLGetDiagField(SQL_HANDLE_STMT, statement.handle(), 0, SQL_DIAG_NUMBER, &count, 0, nullptr);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(name, "Q");
    EXPECT_STREQ(real_name, "Q.");
    EXPECT_EQ(real_name_length, 5);
}

TEST_F(Statements, QueryTimeOutInterruptsALongStatement)
{
    RawStatement statement(connection_);
    ASSERT_EQ(SQLSetStmtAttr(statement.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0),
              SQL_SUCCESS);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(statement.exec("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c"),
              SQL_ERROR);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(statement.state(), "HYT00");
    // Generous bound: the point is that the statement was stopped at all, near its limit.
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    EXPECT_EQ(statement.exec("SELECT 1"), SQL_SUCCESS) << "the connection stays usable";
}

TEST_F(Statements, QueryTimeOutAlsoLimitsEachFetch)
{
    RawStatement statement(connection_);
    SQLSetStmtAttr(statement.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0);
    // The first row comes at once; the second needs the whole endless sort.
    ASSERT_EQ(statement.exec("SELECT 1 UNION ALL SELECT * FROM (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                             "SELECT x + 1 FROM c) SELECT count(*) FROM c)"),
              SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_ERROR);
    EXPECT_EQ(statement.state(), "HYT00");
}

TEST_F(Statements, CancelClosesTheCursor)
{
    RawStatement statement(connection_);
    ASSERT_EQ(statement.exec("SELECT NAME FROM VEDUV.LUMEN_COMPONENTS"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS);
    EXPECT_EQ(SQLCancel(statement.handle()), SQL_SUCCESS);
    // With the cursor closed the statement can run again at once.
    EXPECT_EQ(statement.exec("SELECT NAME FROM VEDUV.LUMEN_COMPONENTS"), SQL_SUCCESS);
    EXPECT_EQ(SQLCloseCursor(statement.handle()), SQL_SUCCESS);
    EXPECT_EQ(SQLCloseCursor(statement.handle()), SQL_ERROR);
    EXPECT_EQ(statement.state(), "24000");
}

TEST_F(Statements, CancelFromAnotherThreadInterruptsARunningStatement)
{
    RawStatement statement(connection_);
    // A time-out as a backstop, far beyond the cancel.
    SQLSetStmtAttr(statement.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(20), 0);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SQLCancel(statement.handle());
    });
    const SQLRETURN rc =
        statement.exec("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c");
    canceller.join();
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(statement.state(), "HY008");
}

TEST_F(Statements, DisconnectFinalizesOpenStatements)
{
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    ASSERT_EQ(SQLConnect(dbc, (SQLCHAR*)source_.dsn().c_str(), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    SQLHSTMT reading = SQL_NULL_HSTMT, prepared = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &reading);
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &prepared);
    ASSERT_EQ(SQLExecDirect(reading, (SQLCHAR*)"SELECT NAME FROM VEDUV.LUMEN_COMPONENTS", SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(reading), SQL_SUCCESS);
    ASSERT_EQ(SQLPrepare(prepared, (SQLCHAR*)"SELECT 1", SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS) << diagnostic_text(SQL_HANDLE_DBC, dbc);
    // The database file is closed: it can be replaced, and a new connect sees the new content.
    std::filesystem::remove(source_.database_file());
    ASSERT_EQ(SQLConnect(dbc, (SQLCHAR*)source_.dsn().c_str(), SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
}

TEST_F(Statements, ManualCommitModeKeepsChangesUntilCommitOrRollback)
{
    ASSERT_EQ(SQLSetConnectAttr(connection_.handle(), SQL_ATTR_AUTOCOMMIT,
                                reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_SUCCESS);
    connection_.execute("DELETE FROM VEDUV.LUMEN_COMPONENTS");
    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, connection_.handle(), SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_EQ(connection_.rows("SELECT count(*) FROM VEDUV.LUMEN_COMPONENTS"), (Rows{{"2"}}));
    connection_.execute("DELETE FROM VEDUV.LUMEN_COMPONENTS WHERE NAME = 'QF1'");
    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, connection_.handle(), SQL_COMMIT), SQL_SUCCESS);
    RawConnection other(source_.dsn());
    EXPECT_EQ(other.rows("SELECT NAME FROM VEDUV.LUMEN_COMPONENTS"), (Rows{{"BPM1"}}));
    ASSERT_EQ(SQLSetConnectAttr(connection_.handle(), SQL_ATTR_AUTOCOMMIT,
                                reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
              SQL_SUCCESS);
}

} // namespace
} // namespace qix::test

// Statements on our driver through the driver manager: the dictionary view, result columns,
// errors and their diagnostic records, writes through views, time-outs, cancel, disconnect and
// transactions.
#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace qix::test {
namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;

constexpr const char* kEndless = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c";

class Statements : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute({
            "CREATE TABLE VEDUV.lumen_components (name TEXT NOT NULL, REAL_NAME TEXT, X DOUBLE, FLAG_QUAD INTEGER)",
            "INSERT INTO VEDUV.LUMEN_COMPONENTS VALUES ('QF1', 'Q.F.1', 1.5, 1), ('BPM1', NULL, NULL, 0)",
            "CREATE VIEW VEDUV.LUMEN_VIEW_COMPONENTS AS SELECT NAME, FLAG_QUAD FROM lumen_components",
            "CREATE TABLE LOCAL_ONLY (A INTEGER)",
            // A configuration data view made writable with INSTEAD OF triggers (docs/lite-driver.md).
            "CREATE TABLE CFG.CM_DATA_MAGNET (PUBLIC_ID INTEGER PRIMARY KEY, CURRENT DOUBLE, NAME VARCHAR2(30), "
            "LAST_SEEN TIMESTAMP, SHOT TIMESTAMP(9))",
            "CREATE VIEW CFG.CM_VIEW_DATA_MAGNET AS SELECT PUBLIC_ID, CURRENT, NAME FROM CM_DATA_MAGNET",
            "CREATE TRIGGER CFG.MAGNET_INSERT INSTEAD OF INSERT ON CM_VIEW_DATA_MAGNET BEGIN "
            "INSERT INTO CM_DATA_MAGNET (CURRENT, NAME) VALUES (NEW.CURRENT, NEW.NAME); END",
            "CREATE TRIGGER CFG.MAGNET_UPDATE INSTEAD OF UPDATE ON CM_VIEW_DATA_MAGNET BEGIN UPDATE CM_DATA_MAGNET "
            "SET CURRENT = NEW.CURRENT, NAME = NEW.NAME WHERE PUBLIC_ID = OLD.PUBLIC_ID; END",
            "CREATE TRIGGER CFG.MAGNET_DELETE INSTEAD OF DELETE ON CM_VIEW_DATA_MAGNET BEGIN "
            "DELETE FROM CM_DATA_MAGNET WHERE PUBLIC_ID = OLD.PUBLIC_ID; END",
        });
    }
    static SQLLEN row_count(const RawStatement& statement)
    {
        SQLLEN rows = -2;
        SQLRowCount(statement.handle(), &rows);
        return rows;
    }

    LiteSource source_{{"VEDUV", "CFG"}};
    RawConnection connection_{source_.dsn()};
};

TEST_F(Statements, DictionaryViewListsTablesAndViewsOfEveryFileInUpperCase)
{
    const std::string sql = "SELECT OWNER, TABLE_NAME, COLUMN_NAME, COLUMN_ID, DATA_TYPE, NULLABLE FROM ALL_TAB_COLUMNS "
                            "WHERE TABLE_NAME <> 'CM_VIEW_DATA_MAGNET' ORDER BY OWNER, TABLE_NAME, COLUMN_ID";
    Rows expected = {{"CFG", "CM_DATA_MAGNET", "PUBLIC_ID", "1", "INTEGER", "Y"},
                     {"CFG", "CM_DATA_MAGNET", "CURRENT", "2", "DOUBLE", "Y"},
                     {"CFG", "CM_DATA_MAGNET", "NAME", "3", "VARCHAR2", "Y"},
                     {"CFG", "CM_DATA_MAGNET", "LAST_SEEN", "4", "TIMESTAMP(6)", "Y"},
                     {"CFG", "CM_DATA_MAGNET", "SHOT", "5", "TIMESTAMP(9)", "Y"},
                     {"MAIN", "LOCAL_ONLY", "A", "1", "INTEGER", "Y"},
                     {"VEDUV", "LUMEN_COMPONENTS", "NAME", "1", "TEXT", "N"},
                     {"VEDUV", "LUMEN_COMPONENTS", "REAL_NAME", "2", "TEXT", "Y"},
                     {"VEDUV", "LUMEN_COMPONENTS", "X", "3", "DOUBLE", "Y"},
                     {"VEDUV", "LUMEN_COMPONENTS", "FLAG_QUAD", "4", "INTEGER", "Y"},
                     {"VEDUV", "LUMEN_VIEW_COMPONENTS", "NAME", "1", "TEXT", "Y"},
                     {"VEDUV", "LUMEN_VIEW_COMPONENTS", "FLAG_QUAD", "2", "INTEGER", "Y"}};
    EXPECT_EQ(connection_.rows(sql), expected);
    connection_.execute("CREATE TABLE CFG.LATER (B TEXT)");
    expected.insert(expected.begin() + 5, {"CFG", "LATER", "B", "1", "TEXT", "Y"});
    EXPECT_EQ(connection_.rows(sql), expected) << "objects made after connecting show at once";
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
    const auto describe = [&](SQLUSMALLINT column, SQLSMALLINT buffer_length) {
        return SQLDescribeCol(statement.handle(), column, name, buffer_length, &name_length, &type, &size, &digits,
                              &nullable);
    };
    ASSERT_EQ(describe(2, sizeof name), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "X");
    EXPECT_EQ(type, SQL_DOUBLE);
    ASSERT_EQ(describe(3, sizeof name), SQL_SUCCESS);
    EXPECT_EQ(type, SQL_INTEGER);
    EXPECT_EQ(describe(5, sizeof name), SQL_ERROR);
    EXPECT_EQ(statement.state(), "07009");
    // An undeclared column takes its type from the first row once the statement has run.
    ASSERT_EQ(SQLExecute(statement.handle()), SQL_SUCCESS);
    ASSERT_EQ(describe(4, 1), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "");
    EXPECT_EQ(name_length, 1);
    EXPECT_EQ(type, SQL_BIGINT);
}

TEST_F(Statements, ErrorsCarryTheirStateAndStayUntilTheNextCall)
{
    RawStatement statement(connection_);
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"SELEC 1", "42000", ""},
        {"SELECT NOPE FROM VEDUV.LUMEN_COMPONENTS", "42S22", ""},
        {"DELETE FROM VEDUV.LUMEN_COMPONENTS; DELETE FROM VEDUV.LUMEN_COMPONENTS", "42000", ""},
        {"INSERT INTO VEDUV.LUMEN_VIEW_COMPONENTS (NAME) VALUES ('x')", "42000",
         "cannot modify LUMEN_VIEW_COMPONENTS because it is a view"},
        {"SELECT * FROM VEDUV.NOWHERE", "42S02", ""},
    };
    for (const auto& [sql, state, message] : cases) {
        EXPECT_EQ(statement.exec(sql), SQL_ERROR) << sql;
        EXPECT_EQ(statement.state(), state) << sql;
        EXPECT_NE(statement.diagnostic_text().find(message), std::string::npos) << statement.diagnostic_text();
    }
    // The records stay until the next call on the handle, however often they are read.
    for (int reading = 0; reading < 2; ++reading) {
        const auto records = statement.diagnostics();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].native, 1) << "SQLite's result code";
        EXPECT_EQ(records[0].message, "[qix-lite] no such table: VEDUV.NOWHERE");
    }
    SQLCHAR field[16];
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, statement.handle(), 1, SQL_DIAG_SQLSTATE, field, sizeof field, &length),
              SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(field), "42S02");
    EXPECT_EQ(connection_.rows("SELECT count(*) FROM VEDUV.LUMEN_COMPONENTS"), (Rows{{"2"}})) << "nothing ran";
    EXPECT_EQ(statement.exec("DELETE FROM VEDUV.LUMEN_COMPONENTS WHERE NAME = 'QF1'; -- done\n"), SQL_SUCCESS);
    EXPECT_TRUE(statement.diagnostics().empty());
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_ERROR);
    EXPECT_EQ(statement.state(), "24000") << "no result set";
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

TEST_F(Statements, SearchedChangesWithoutRowsAnswerNoDataAlsoThroughTriggers)
{
    RawStatement statement(connection_);
    EXPECT_EQ(statement.exec("UPDATE VEDUV.LUMEN_COMPONENTS SET X = 2 WHERE NAME = 'NONE'"), SQL_NO_DATA);
    EXPECT_EQ(statement.exec("DELETE FROM VEDUV.LUMEN_COMPONENTS WHERE NAME = 'NONE'"), SQL_NO_DATA);
    EXPECT_EQ(statement.exec("UPDATE VEDUV.LUMEN_COMPONENTS SET X = 2"), SQL_SUCCESS);
    EXPECT_EQ(row_count(statement), 2);
    EXPECT_EQ(statement.exec("INSERT INTO VEDUV.LUMEN_COMPONENTS SELECT * FROM VEDUV.LUMEN_COMPONENTS WHERE 0"),
              SQL_SUCCESS)
        << "only searched updates and deletes answer SQL_NO_DATA";

    // Through a view the rows changed by its triggers count.
    EXPECT_EQ(statement.exec("INSERT INTO CFG.CM_VIEW_DATA_MAGNET (CURRENT, NAME) VALUES (12.5, 'QF1')"), SQL_SUCCESS);
    EXPECT_EQ(row_count(statement), 1);
    EXPECT_EQ(statement.exec("UPDATE CFG.CM_VIEW_DATA_MAGNET SET CURRENT = NULL WHERE PUBLIC_ID = 1"), SQL_SUCCESS);
    EXPECT_EQ(row_count(statement), 1);
    EXPECT_EQ(connection_.rows("SELECT * FROM CFG.CM_VIEW_DATA_MAGNET"), (Rows{{"1", std::nullopt, "QF1"}}));
    EXPECT_EQ(statement.exec("UPDATE CFG.CM_VIEW_DATA_MAGNET SET CURRENT = 1 WHERE PUBLIC_ID = 99"), SQL_NO_DATA);
    EXPECT_EQ(row_count(statement), 0);
    EXPECT_EQ(statement.exec("DELETE FROM CFG.CM_VIEW_DATA_MAGNET WHERE PUBLIC_ID = 99"), SQL_NO_DATA);
    EXPECT_EQ(statement.exec("DELETE FROM CFG.CM_VIEW_DATA_MAGNET WHERE PUBLIC_ID = 1"), SQL_SUCCESS);
    EXPECT_TRUE(connection_.rows("SELECT * FROM CFG.CM_VIEW_DATA_MAGNET").empty());
}

TEST_F(Statements, QueryTimeOutInterruptsAStatementAndEachFetch)
{
    RawStatement statement(connection_);
    ASSERT_EQ(SQLSetStmtAttr(statement.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0),
              SQL_SUCCESS);
    EXPECT_EQ(statement.exec(kEndless), SQL_ERROR);
    EXPECT_EQ(statement.state(), "HYT00");
    // The first row comes at once; the second needs the whole endless count.
    ASSERT_EQ(statement.exec(std::string("SELECT 1 UNION ALL SELECT * FROM (") + kEndless + ")"), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_ERROR);
    EXPECT_EQ(statement.state(), "HYT00");
}

TEST_F(Statements, CancelClosesTheCursorOrStopsAStatementRunningInAnotherThread)
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

    // A time-out as a backstop, far beyond the cancel.
    SQLSetStmtAttr(statement.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(20), 0);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SQLCancel(statement.handle());
    });
    const SQLRETURN rc = statement.exec(kEndless);
    canceller.join();
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(statement.state(), "HY008");
}

TEST_F(Statements, ManualCommitKeepsChangesUntilCommitOrRollback)
{
    const auto autocommit = [&](SQLULEN mode) {
        return SQLSetConnectAttr(connection_.handle(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(mode), 0);
    };
    ASSERT_EQ(autocommit(SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    connection_.execute("DELETE FROM VEDUV.LUMEN_COMPONENTS");
    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, connection_.handle(), SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_EQ(connection_.rows("SELECT count(*) FROM VEDUV.LUMEN_COMPONENTS"), (Rows{{"2"}}));
    connection_.execute("DELETE FROM VEDUV.LUMEN_COMPONENTS WHERE NAME = 'QF1'");
    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, connection_.handle(), SQL_COMMIT), SQL_SUCCESS);
    EXPECT_EQ(RawConnection(source_.dsn()).rows("SELECT NAME FROM VEDUV.LUMEN_COMPONENTS"), (Rows{{"BPM1"}}));
    ASSERT_EQ(autocommit(SQL_AUTOCOMMIT_ON), SQL_SUCCESS);
}

TEST_F(Statements, DisconnectFinalizesOpenStatements)
{
    RawStatement reading(connection_);
    RawStatement prepared(connection_);
    ASSERT_EQ(reading.exec("SELECT NAME FROM VEDUV.LUMEN_COMPONENTS"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(reading.handle()), SQL_SUCCESS);
    ASSERT_EQ(prepared.prepare("SELECT 1"), SQL_SUCCESS);
    EXPECT_EQ(SQLDisconnect(connection_.handle()), SQL_SUCCESS) << diagnostic_text(SQL_HANDLE_DBC, connection_.handle());
    reading.release(); // the driver manager freed both with the connection
    prepared.release();
    // The database file is closed: a new connect on the same handle sees it gone.
    std::filesystem::remove(source_.database_file());
    EXPECT_EQ(SQLConnect(connection_.handle(), (SQLCHAR*)source_.dsn().c_str(), SQL_NTS, nullptr, 0, nullptr, 0),
              SQL_ERROR);
}

} // namespace
} // namespace qix::test

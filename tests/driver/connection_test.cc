// Our driver through the driver manager: the test data source itself, connecting and its
// failures, the dictionary view, errors and their diagnostic records, row counts, time-outs,
// cancel and disconnect, the catalogue functions, and connections sharing one file.
#include "DriverCases.h"
#include "LiteSource.h"
#include "RawOdbc.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace qix::test {
namespace {

// An ODBC 3 connection handle before its connect; disconnected and freed on destruction.
struct Unconnected {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    Unconnected()
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    }
    ~Unconnected()
    {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    // Connects as the library does: a login time-out, a user and a password.
    SQLRETURN connect(const std::string& dsn)
    {
        EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(5), 0), SQL_SUCCESS);
        return SQLConnect(dbc, (SQLCHAR*)dsn.c_str(), SQL_NTS, (SQLCHAR*)"scott", SQL_NTS, (SQLCHAR*)"tiger", SQL_NTS);
    }
    [[nodiscard]] std::vector<DiagRecord> records() const { return diagnostics_of(SQL_HANDLE_DBC, dbc); }
};

TEST(LiteSource, ReadsEverySchemaThenLeavesNothingBehind)
{
    std::filesystem::path folder;
    std::string dsn;
    {
        LiteSource source({"VEDUV", "CFG"});
        EXPECT_NE(source.dsn(), LiteSource().dsn());
        folder = source.dir().path();
        dsn = source.dsn();
        EXPECT_NE(slurp(odbc_config_dir() / "odbc.ini").find("[" + dsn + "]"), std::string::npos);
        source.execute({"CREATE TABLE T (A INTEGER, B TEXT)", "INSERT INTO T VALUES (1, 'main')",
                        "CREATE TABLE VEDUV.T (A INTEGER, B TEXT, C DOUBLE)", "CREATE TABLE CFG.T (A INTEGER)",
                        "INSERT INTO VEDUV.T VALUES (2, NULL, 12.0)"});
        RawConnection connection(source.dsn());
        EXPECT_EQ(connection.rows("SELECT A, B FROM T"), (Rows{{"1", "main"}}));
        EXPECT_EQ(connection.rows("select a, b, c from veduv.t"), (Rows{{"2", std::nullopt, "12"}}));
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(slurp(odbc_config_dir() / "odbc.ini").find("[" + dsn + "]"), std::string::npos);
}

TEST(Connect, AcceptsAnyLoginWithoutAWord)
{
    LiteSource source({"CFG"});
    Unconnected handles;
    EXPECT_EQ(handles.connect(source.dsn()), SQL_SUCCESS);
    EXPECT_EQ(handles.records().size(), 0u);
}

TEST(Connect, FailsNamingEveryMissingFileWithoutCreatingIt)
{
    LiteSource source({"VEDUV", "CFG"}, LiteSource::MainFile::missing);
    std::filesystem::remove(source.schema_file("CFG"));
    Unconnected handles;
    EXPECT_EQ(handles.connect(source.dsn()), SQL_ERROR);
    auto records = handles.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].state, "08001");
    // The driver manager puts its own prefix before the driver's messages of a failed connect.
    const std::string expected = "[qix-lite] Database file '" + source.database_file().string() + "' does not exist";
    EXPECT_TRUE(records[0].message.ends_with(expected)) << records[0].message;
    EXPECT_TRUE(
        records[1].message.ends_with("File '" + source.schema_file("CFG").string() + "' of schema CFG does not exist"))
        << records[1].message;
    EXPECT_FALSE(std::filesystem::exists(source.database_file()));

    const std::string without_database = register_dsn("QixLite", {});
    Unconnected other;
    EXPECT_EQ(other.connect(without_database), SQL_ERROR);
    unregister_dsn(without_database);
    records = other.records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].state, "08001");
    EXPECT_NE(records[0].message.find("names no database file (attribute Database)"), std::string::npos);
}

TEST(Connect, CreatesMissingFilesWhenTheDataSourceOrTheConnectionStringSaysCreate)
{
    TempDir dir;
    const std::string dsn =
        register_dsn("QixLite", {{"Database", (dir / "new.db").string()}, {"Schemas", "cfg"}, {"Create", "yes"}});
    RawConnection(dsn).execute("CREATE TABLE CFG.T (A INTEGER)");
    unregister_dsn(dsn);
    EXPECT_TRUE(std::filesystem::exists(dir / "new.db"));
    EXPECT_TRUE(std::filesystem::exists(dir / "CFG.db")) << "schema names are upper-cased";

    const Unconnected handles;
    const std::string in = "DRIVER=QixLite;Database={" + (dir / "x.db").string() + "};Schemas=VEDUV;Create=yes";
    SQLCHAR out[512];
    SQLSMALLINT out_length = 0;
    EXPECT_EQ(SQLDriverConnect(handles.dbc, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS, out, sizeof out, &out_length,
                               SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS)
        << diagnostic_text(SQL_HANDLE_DBC, handles.dbc);
    EXPECT_NE(std::string(reinterpret_cast<char*>(out)).find("Schemas=VEDUV"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "VEDUV.db"));
}

constexpr const char* kEndless =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c";

// The tables of StatementsTables in driver_cases.txt: two schema files with a table, a view of
// it, a table of the main file, and a configuration data view made writable with INSTEAD OF
// triggers (docs/lite-driver.md).
class Statements : public ::testing::Test {
protected:
    void SetUp() override { source_.execute(statements("StatementsTables")); }
    LiteSource source_{{"VEDUV", "CFG"}};
    RawConnection connection_{source_.dsn()};
    RawStatement statement_{connection_};
};

TEST_F(Statements, AnswersInformationRequests)
{
    char text[64];
    SQLSMALLINT length = 0;
    ASSERT_EQ(SQLGetInfo(connection_.handle(), SQL_DBMS_NAME, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_STREQ(text, "SQLite");
    SQLUINTEGER getdata = 0;
    ASSERT_EQ(SQLGetInfo(connection_.handle(), SQL_GETDATA_EXTENSIONS, &getdata, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(getdata & SQL_GD_ANY_ORDER, SQLUINTEGER{SQL_GD_ANY_ORDER});
    EXPECT_EQ(SQLGetInfo(connection_.handle(), 9999, text, sizeof text, &length), SQL_ERROR);
    EXPECT_EQ(diagnostics_of(SQL_HANDLE_DBC, connection_.handle()).at(0).state, "HY096");
}

TEST_F(Statements, DictionaryViewListsTablesAndViewsOfEveryFileInUpperCase)
{
    const std::string sql =
        "SELECT OWNER, TABLE_NAME, COLUMN_NAME, COLUMN_ID, DATA_TYPE, NULLABLE FROM ALL_TAB_COLUMNS "
        "WHERE TABLE_NAME <> 'CM_VIEW_DATA_MAGNET' ORDER BY OWNER, TABLE_NAME, COLUMN_ID";
    Rows expected = result_rows(cases("Dictionary"));
    EXPECT_EQ(connection_.rows(sql), expected);
    // SQLite lets NULL into a primary key other than the INTEGER one that names the row id.
    connection_.execute("CREATE TABLE CFG.LATER (B TEXT PRIMARY KEY)");
    connection_.execute("INSERT INTO CFG.LATER VALUES (NULL)");
    expected.insert(expected.begin() + 5, {"CFG", "LATER", "B", "1", "TEXT", "Y"});
    EXPECT_EQ(connection_.rows(sql), expected) << "objects made after connecting show at once";
}

TEST_F(Statements, ErrorsCarryTheirStateAndStayUntilTheNextCall)
{
    for (const Words& c : cases("Errors")) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(statement_.exec(c[0]), SQL_ERROR);
        EXPECT_EQ(statement_.state(), c[1]);
        EXPECT_NE(statement_.diagnostic_text().find(word(c, 2)), std::string::npos) << statement_.diagnostic_text();
    }
    // The records stay until the next call on the handle, however often they are read.
    for (int reading = 0; reading < 2; ++reading) {
        const auto records = statement_.diagnostics();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].native, 1) << "SQLite's result code";
        EXPECT_EQ(records[0].message, "[qix-lite] no such table: VEDUV.NOWHERE");
    }
    SQLCHAR field[16];
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, statement_.handle(), 1, SQL_DIAG_SQLSTATE, field, sizeof field, nullptr),
              SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(field), "42S02");
    EXPECT_EQ(connection_.rows("SELECT count(*) FROM VEDUV.LUMEN_COMPONENTS"), (Rows{{"2"}})) << "nothing ran";
    EXPECT_EQ(statement_.exec("DELETE FROM VEDUV.LUMEN_COMPONENTS WHERE NAME = 'QF1'; -- done\n"), SQL_SUCCESS);
    EXPECT_EQ(statement_.diagnostics().size(), 0u);
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "24000") << "no result set";
}

TEST_F(Statements, SearchedChangesWithoutRowsAnswerNoDataAlsoThroughTriggers)
{
    for (const Words& c : cases("Changes")) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(statement_.exec(c[0]), number(c, 1));
        SQLLEN counted = -2;
        SQLRowCount(statement_.handle(), &counted);
        EXPECT_EQ(counted, number(c, 2));
    }
    EXPECT_EQ(connection_.rows("SELECT * FROM CFG.CM_VIEW_DATA_MAGNET"), (Rows{{"1", std::nullopt, "QF1"}}));
    EXPECT_EQ(statement_.exec("DELETE FROM CFG.CM_VIEW_DATA_MAGNET WHERE PUBLIC_ID = 1"), SQL_SUCCESS);
    EXPECT_EQ(connection_.rows("SELECT * FROM CFG.CM_VIEW_DATA_MAGNET"), Rows{});
}

TEST_F(Statements, QueryTimeOutInterruptsAStatementAndEachFetch)
{
    ASSERT_EQ(SQLSetStmtAttr(statement_.handle(), SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)1, 0), SQL_SUCCESS);
    EXPECT_EQ(statement_.exec(kEndless), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYT00");
    // The first row comes at once; the second needs the whole endless count.
    ASSERT_EQ(statement_.exec(std::string("SELECT 1 UNION ALL SELECT * FROM (") + kEndless + ")"), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYT00");
}

TEST_F(Statements, CancelClosesTheCursorOrStopsAStatementRunningInAnotherThread)
{
    ASSERT_EQ(statement_.exec("SELECT NAME FROM VEDUV.LUMEN_COMPONENTS"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(SQLCancel(statement_.handle()), SQL_SUCCESS);
    // With the cursor closed the statement can run again at once.
    EXPECT_EQ(statement_.exec("SELECT NAME FROM VEDUV.LUMEN_COMPONENTS"), SQL_SUCCESS);
    EXPECT_EQ(SQLCloseCursor(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(SQLCloseCursor(statement_.handle()), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "24000");

    // A time-out as a backstop, far beyond the cancel.
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(20), 0);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SQLCancel(statement_.handle());
    });
    const SQLRETURN rc = statement_.exec(kEndless);
    canceller.join();
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HY008");
}

TEST_F(Statements, DisconnectFinalizesOpenStatements)
{
    RawStatement reading(connection_);
    RawStatement prepared(connection_);
    ASSERT_EQ(reading.exec("SELECT NAME FROM VEDUV.LUMEN_COMPONENTS"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(reading.handle()), SQL_SUCCESS);
    ASSERT_EQ(prepared.prepare("SELECT 1"), SQL_SUCCESS);
    EXPECT_EQ(SQLDisconnect(connection_.handle()), SQL_SUCCESS)
        << diagnostic_text(SQL_HANDLE_DBC, connection_.handle());
    reading.release(); // the driver manager freed them with the connection
    prepared.release();
    statement_.release();
    // The database file is closed: a new connect on the same handle sees it gone.
    std::filesystem::remove(source_.database_file());
    EXPECT_EQ(SQLConnect(connection_.handle(), (SQLCHAR*)source_.dsn().c_str(), SQL_NTS, nullptr, 0, nullptr, 0),
              SQL_ERROR);
}

// Catalogue arguments as the application passes them: nullptr for "any", text otherwise.
SQLCHAR* arg(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

// Calls the catalogue function of a "$" row of driver_cases.txt with its arguments.
SQLRETURN call_catalogue(SQLHSTMT s, const Words& call)
{
    const Words args(call.begin() + 2, call.end());
    const auto t = [&](std::size_t i) { return args[i] == "-" ? nullptr : arg(args[i].c_str()); };
    const auto n = [&](std::size_t i) { return static_cast<SQLUSMALLINT>(number(args, i)); };
    const std::string& name = call[1];
    if (name == "SQLTables")
        return SQLTables(s, t(0), SQL_NTS, t(1), SQL_NTS, t(2), SQL_NTS, t(3), SQL_NTS);
    if (name == "SQLColumns")
        return SQLColumns(s, t(0), SQL_NTS, t(1), SQL_NTS, t(2), SQL_NTS, t(3), SQL_NTS);
    if (name == "SQLPrimaryKeys")
        return SQLPrimaryKeys(s, t(0), SQL_NTS, t(1), SQL_NTS, t(2), SQL_NTS);
    if (name == "SQLStatistics")
        return SQLStatistics(s, t(0), SQL_NTS, t(1), SQL_NTS, t(2), SQL_NTS, n(3), n(4));
    if (name == "SQLForeignKeys")
        return SQLForeignKeys(s, t(0), SQL_NTS, t(1), SQL_NTS, t(2), SQL_NTS, t(3), SQL_NTS, t(4), SQL_NTS, t(5),
                              SQL_NTS);
    return SQLSpecialColumns(s, n(0), t(1), SQL_NTS, t(2), SQL_NTS, t(3), SQL_NTS, n(4), n(5));
}

TEST_F(Statements, CatalogueFunctionsAnswerWithResultSetsOfEveryFile)
{
    source_.execute({"CREATE UNIQUE INDEX CFG.MAGNET_NAME ON CM_DATA_MAGNET (NAME)",
                     "CREATE INDEX CFG.MAGNET_CURRENT ON CM_DATA_MAGNET (CURRENT DESC)",
                     "CREATE TABLE CFG.CM_MAGNET_NOTE (MAGNET INTEGER REFERENCES CM_DATA_MAGNET ON DELETE CASCADE, "
                     "NOTE TEXT)"});
    const auto& rows = cases("Catalogue");
    for (auto call = rows.begin(); call != rows.end();) {
        const auto end = std::find_if(call + 1, rows.end(), [](const Words& row) { return row[0] == "$"; });
        SCOPED_TRACE(::testing::PrintToString(*call));
        RawStatement statement(connection_);
        ASSERT_EQ(call_catalogue(statement.handle(), *call), SQL_SUCCESS) << statement.diagnostic_text();
        EXPECT_EQ(statement.fetch_all(), result_rows({call + 1, end}));
        call = end;
    }
}

TEST_F(Statements, CatalogueResultSetsAreDescribedAndBoundLikeAnyOther)
{
    ASSERT_EQ(SQLPrimaryKeys(statement_.handle(), nullptr, 0, nullptr, 0, arg("CM_DATA_MAGNET"), SQL_NTS), SQL_SUCCESS);
    SQLSMALLINT count = 0;
    ASSERT_EQ(SQLNumResultCols(statement_.handle(), &count), SQL_SUCCESS);
    EXPECT_EQ(count, 6);
    std::vector<std::pair<std::string, SQLSMALLINT>> described;
    for (const SQLUSMALLINT column : {3, 4, 5}) {
        SQLCHAR name[64] = {};
        SQLSMALLINT type = 0;
        SQLDescribeCol(statement_.handle(), column, name, sizeof name, nullptr, &type, nullptr, nullptr, nullptr);
        described.emplace_back(reinterpret_cast<char*>(name), type);
    }
    EXPECT_EQ(described, (std::vector<std::pair<std::string, SQLSMALLINT>>{
                             {"TABLE_NAME", SQL_VARCHAR}, {"COLUMN_NAME", SQL_VARCHAR}, {"KEY_SEQ", SQL_SMALLINT}}));
    char column_name[32];
    SQLLEN name_length = 0;
    SQLSMALLINT key_seq = 0;
    ASSERT_EQ(SQLBindCol(statement_.handle(), 4, SQL_C_CHAR, column_name, sizeof column_name, &name_length),
              SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(statement_.handle(), 5, SQL_C_DEFAULT, &key_seq, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    EXPECT_STREQ(column_name, "PUBLIC_ID");
    EXPECT_EQ(key_seq, 1);
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_NO_DATA);
    ASSERT_EQ(SQLFreeStmt(statement_.handle(), SQL_CLOSE), SQL_SUCCESS);

    // A catalogue call while a cursor is open fails like any execute.
    RawStatement other(connection_);
    ASSERT_EQ(other.exec("SELECT 1"), SQL_SUCCESS);
    EXPECT_EQ(SQLTables(other.handle(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(other.state(), "24000");
    EXPECT_EQ(SQLPrimaryKeys(statement_.handle(), nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HY009") << "a table name is required";
}

TEST_F(Statements, TypeListNamesEveryTypeAColumnCanHaveLargestTimestampFirst)
{
    ASSERT_EQ(SQLGetTypeInfo(statement_.handle(), SQL_TYPE_TIMESTAMP), SQL_SUCCESS);
    const Rows timestamps = statement_.fetch_all();
    ASSERT_FALSE(timestamps.empty());
    // Clients read the first row's size and MAXIMUM_SCALE to decide how many fraction digits they send.
    EXPECT_EQ((std::vector{timestamps[0][0], timestamps[0][2], timestamps[0][14]}),
              (std::vector<std::optional<std::string>>{"TIMESTAMP", "29", "9"}));

    ASSERT_EQ(SQLGetTypeInfo(statement_.handle(), SQL_ALL_TYPES), SQL_SUCCESS);
    const Rows types = statement_.fetch_all();
    ASSERT_GE(types.size(), 10u);
    std::string create = "CREATE TABLE EVERY_TYPE (";
    for (std::size_t i = 0; i < types.size(); ++i) {
        create += (i == 0 ? "C" : ", C") + std::to_string(i) + " " + *types[i][0];
        if (i > 0) {
            EXPECT_LE(std::stoi(*types[i - 1][1]), std::stoi(*types[i][1])) << "rows ordered by DATA_TYPE";
        }
    }
    connection_.execute(create + ")");
    ASSERT_EQ(SQLColumns(statement_.handle(), nullptr, 0, nullptr, 0, arg("EVERY_TYPE"), SQL_NTS, nullptr, 0),
              SQL_SUCCESS);
    const Rows columns = statement_.fetch_all();
    ASSERT_EQ(columns.size(), types.size());
    for (std::size_t i = 0; i < types.size(); ++i) {
        SCOPED_TRACE(*types[i][0]);
        const int listed = std::stoi(*types[i][1]);
        const bool wide = listed == SQL_WCHAR || listed == SQL_WVARCHAR || listed == SQL_WLONGVARCHAR;
        // The wide type names hold the same text as the narrow ones and are described as such;
        // DATE, listed for SQL dates too, is described as the timestamp it is.
        const int described = wide ? SQL_VARCHAR : listed == SQL_TYPE_DATE ? SQL_TYPE_TIMESTAMP : listed;
        EXPECT_EQ(*columns[i][4], std::to_string(described));
    }
}

TEST(Concurrency, ReadersNeverWaitWhileWritersWaitForEachOtherAndAreToldWhyNot)
{
    LiteSource source({"CFG"});
    source.execute({"CREATE TABLE CFG.T (A INTEGER)", "INSERT INTO CFG.T VALUES (1)"});
    RawConnection writer(source.dsn());
    ASSERT_EQ(
        SQLSetConnectAttr(writer.handle(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
        SQL_SUCCESS);
    writer.execute("INSERT INTO CFG.T VALUES (2)");

    // Connecting and reading need no lock the writer holds; the reader sees the last commit.
    RawConnection reader(source.dsn());
    EXPECT_EQ(reader.rows("SELECT count(*) FROM CFG.T"), (Rows{{"1"}}));
    EXPECT_EQ(reader.rows("PRAGMA main.journal_mode"), (Rows{{"wal"}}));
    EXPECT_EQ(reader.rows("PRAGMA CFG.journal_mode"), (Rows{{"wal"}}));

    RawStatement second_writer(reader);
    ASSERT_EQ(SQLSetStmtAttr(second_writer.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0),
              SQL_SUCCESS);
    EXPECT_EQ(second_writer.exec("INSERT INTO CFG.T VALUES (3)"), SQL_ERROR);
    EXPECT_NE(second_writer.diagnostic_text().find(
                  "database is locked: another connection held a write transaction open for longer than "
                  "the 1 s this statement may wait for it (the query time-out)"),
              std::string::npos)
        << second_writer.diagnostic_text();

    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, writer.handle(), SQL_COMMIT), SQL_SUCCESS);
    EXPECT_EQ(second_writer.exec("INSERT INTO CFG.T VALUES (3)"), SQL_SUCCESS) << second_writer.diagnostic_text();
    EXPECT_EQ(reader.rows("SELECT group_concat(A) FROM (SELECT A FROM CFG.T ORDER BY A)"), (Rows{{"1,2,3"}}));

    // A transaction that read before another connection committed cannot write any more.
    EXPECT_EQ(writer.rows("SELECT count(*) FROM CFG.T"), (Rows{{"3"}}));
    reader.execute("INSERT INTO CFG.T VALUES (4)");
    RawStatement stale(writer);
    EXPECT_EQ(stale.exec("INSERT INTO CFG.T VALUES (5)"), SQL_ERROR);
    EXPECT_NE(stale.diagnostic_text().find("database is locked: another connection committed after this "
                                           "transaction read; roll it back and run it again"),
              std::string::npos)
        << stale.diagnostic_text();
    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, writer.handle(), SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_EQ(stale.exec("INSERT INTO CFG.T VALUES (5)"), SQL_SUCCESS) << stale.diagnostic_text();
    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, writer.handle(), SQL_COMMIT), SQL_SUCCESS);
    EXPECT_EQ(reader.rows("SELECT count(*) FROM CFG.T"), (Rows{{"5"}}));
}

} // namespace
} // namespace qix::test

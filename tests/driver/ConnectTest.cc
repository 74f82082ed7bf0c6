// Our driver's connections through the driver manager: the test data source itself, connect and
// its failures, information requests and SQLDriverConnect.
#include "LiteSource.h"
#include "RawOdbc.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace qix::test {
namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;

// Connects as the library does (a login time-out, a user and a password) and returns the return
// code, leaving the diagnostics in `records`.
SQLRETURN try_connect(const std::string& dsn, std::vector<DiagRecord>& records)
{
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(5), 0), SQL_SUCCESS);
    const SQLRETURN rc =
        SQLConnect(dbc, (SQLCHAR*)dsn.c_str(), SQL_NTS, (SQLCHAR*)"scott", SQL_NTS, (SQLCHAR*)"tiger", SQL_NTS);
    records = diagnostics_of(SQL_HANDLE_DBC, dbc);
    if (SQL_SUCCEEDED(rc))
        SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return rc;
}

TEST(LiteSource, ReadsEverySchemaAndRemovesEverythingAgain)
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

TEST(Connect, AcceptsAnyUserAndAnswersInformationRequests)
{
    LiteSource source({"CFG"});
    std::vector<DiagRecord> records;
    EXPECT_EQ(try_connect(source.dsn(), records), SQL_SUCCESS);
    EXPECT_TRUE(records.empty());

    RawConnection connection(source.dsn());
    char text[64];
    SQLSMALLINT length = 0;
    for (const auto& [info, expected] : {std::pair<SQLUSMALLINT, std::string>{SQL_DBMS_NAME, "SQLite"},
                                         {SQL_DRIVER_ODBC_VER, "03.00"}}) {
        ASSERT_EQ(SQLGetInfo(connection.handle(), info, text, sizeof text, &length), SQL_SUCCESS);
        EXPECT_EQ(text, expected);
    }
    SQLUINTEGER getdata = 0;
    ASSERT_EQ(SQLGetInfo(connection.handle(), SQL_GETDATA_EXTENSIONS, &getdata, 0, nullptr), SQL_SUCCESS);
    EXPECT_NE(getdata & SQL_GD_ANY_ORDER, 0u);
    EXPECT_EQ(SQLGetInfo(connection.handle(), 9999, text, sizeof text, &length), SQL_ERROR);
    EXPECT_EQ(diagnostics_of(SQL_HANDLE_DBC, connection.handle()).at(0).state, "HY096");
}

TEST(Connect, FailsNamingEveryMissingFileWithoutCreatingIt)
{
    LiteSource source({"VEDUV", "CFG"}, LiteSource::MainFile::missing);
    std::filesystem::remove(source.schema_file("CFG"));
    std::vector<DiagRecord> records;
    EXPECT_EQ(try_connect(source.dsn(), records), SQL_ERROR);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].state, "08001");
    // The driver manager puts its own prefix before the driver's messages of a failed connect.
    const std::string expected = "[qix-lite] Database file '" + source.database_file().string() + "' does not exist";
    EXPECT_TRUE(records[0].message.ends_with(expected)) << records[0].message;
    EXPECT_NE(records[1].message.find(source.schema_file("CFG").string()), std::string::npos);
    EXPECT_NE(records[1].message.find("schema CFG"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(source.database_file()));

    const std::string without_database = register_dsn("QixLite", {});
    EXPECT_EQ(try_connect(without_database, records), SQL_ERROR);
    unregister_dsn(without_database);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].state, "08001");
    EXPECT_NE(records[0].message.find("Database"), std::string::npos);
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

    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    const std::string in = "DRIVER=QixLite;Database={" + (dir / "x.db").string() + "};Schemas=VEDUV;Create=yes";
    SQLCHAR out[512];
    SQLSMALLINT out_length = 0;
    EXPECT_EQ(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS, out, sizeof out, &out_length,
                               SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS)
        << diagnostic_text(SQL_HANDLE_DBC, dbc);
    EXPECT_NE(std::string(reinterpret_cast<char*>(out)).find("Schemas=VEDUV"), std::string::npos);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    EXPECT_TRUE(std::filesystem::exists(dir / "VEDUV.db"));
}

} // namespace
} // namespace qix::test

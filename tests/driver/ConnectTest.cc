#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace qix::test {
namespace {

std::string odbc_ini_text()
{
    std::ifstream in(odbc_config_dir() / "odbc.ini");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Connects with the raw API and returns the return code, leaving the diagnostics in `records`.
SQLRETURN try_connect(const std::string& dsn, std::vector<DiagRecord>& records)
{
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    // The library sets a login time-out on every connection; it must not get in the way.
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

TEST(LiteSource, CreatesFilesAndRemovesEverythingAgain)
{
    std::filesystem::path folder;
    std::string dsn;
    {
        LiteSource source({"VEDUV", "CFG"});
        folder = source.dir().path();
        dsn = source.dsn();
        EXPECT_TRUE(std::filesystem::exists(source.database_file()));
        EXPECT_TRUE(std::filesystem::exists(source.schema_file("VEDUV")));
        EXPECT_TRUE(std::filesystem::exists(source.schema_file("CFG")));
        EXPECT_NE(odbc_ini_text().find("[" + dsn + "]"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(odbc_ini_text().find("[" + dsn + "]"), std::string::npos);
}

TEST(LiteSource, EachSourceHasItsOwnName)
{
    LiteSource first;
    LiteSource second;
    EXPECT_NE(first.dsn(), second.dsn());
}

TEST(LiteSource, ExecuteRunsSetUpStatementsInEverySchema)
{
    LiteSource source({"VEDUV", "CFG"});
    source.execute({"CREATE TABLE T (A INTEGER, B TEXT)", "INSERT INTO T VALUES (1, 'main')",
                    "CREATE TABLE VEDUV.T (A INTEGER, B TEXT)", "INSERT INTO VEDUV.T VALUES (2, 'veduv')",
                    "CREATE TABLE CFG.T (A INTEGER, B TEXT)", "INSERT INTO CFG.T VALUES (3, 'cfg')"});
    RawConnection connection(source.dsn());
    using Rows = std::vector<std::vector<std::optional<std::string>>>;
    EXPECT_EQ(connection.rows("SELECT A, B FROM T"), (Rows{{"1", "main"}}));
    EXPECT_EQ(connection.rows("SELECT A, B FROM VEDUV.T"), (Rows{{"2", "veduv"}}));
    EXPECT_EQ(connection.rows("select a, b from cfg.t"), (Rows{{"3", "cfg"}}));
}

TEST(LiteSource, ExecuteReportsTheDriversDiagnostics)
{
    LiteSource source;
    try {
        source.execute({"SELECT * FROM NOWHERE"});
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("42S02 [qix-lite] no such table: NOWHERE"), std::string::npos) << e.what();
    }
}

TEST(Connect, AcceptsAnyUserAndPassword)
{
    LiteSource source({"CFG"});
    std::vector<DiagRecord> records;
    EXPECT_EQ(try_connect(source.dsn(), records), SQL_SUCCESS);
    EXPECT_TRUE(records.empty());
}

TEST(Connect, AnswersInformationRequests)
{
    LiteSource source;
    RawConnection connection(source.dsn());
    char text[64];
    SQLSMALLINT length = 0;
    ASSERT_EQ(SQLGetInfo(connection.handle(), SQL_DBMS_NAME, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_STREQ(text, "SQLite");
    ASSERT_EQ(SQLGetInfo(connection.handle(), SQL_DRIVER_ODBC_VER, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_STREQ(text, "03.00");
    SQLUINTEGER getdata = 0;
    ASSERT_EQ(SQLGetInfo(connection.handle(), SQL_GETDATA_EXTENSIONS, &getdata, 0, nullptr), SQL_SUCCESS);
    EXPECT_NE(getdata & SQL_GD_ANY_ORDER, 0u);
    EXPECT_EQ(SQLGetInfo(connection.handle(), 9999, text, sizeof text, &length), SQL_ERROR);
    EXPECT_EQ(diagnostics_of(SQL_HANDLE_DBC, connection.handle()).at(0).state, "HY096");
}

TEST(Connect, FailsWithTheNameOfAMissingMainFile)
{
    LiteSource source({}, LiteSource::MainFile::missing);
    std::vector<DiagRecord> records;
    EXPECT_EQ(try_connect(source.dsn(), records), SQL_ERROR);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].state, "08001");
    // The driver manager puts its own prefix before the driver's messages of a failed connect.
    const std::string expected = "[qix-lite] Database file '" + source.database_file().string() + "' does not exist";
    EXPECT_TRUE(records[0].message.ends_with(expected)) << records[0].message;
    EXPECT_FALSE(std::filesystem::exists(source.database_file())) << "a failed connect must not create the file";
}

TEST(Connect, NamesEveryMissingFile)
{
    LiteSource source({"VEDUV", "CFG"}, LiteSource::MainFile::missing);
    std::filesystem::remove(source.schema_file("CFG"));
    std::vector<DiagRecord> records;
    EXPECT_EQ(try_connect(source.dsn(), records), SQL_ERROR);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].message.find(source.database_file().string()), std::string::npos);
    EXPECT_NE(records[1].message.find(source.schema_file("CFG").string()), std::string::npos);
    EXPECT_NE(records[1].message.find("schema CFG"), std::string::npos);
}

TEST(Connect, CreatesMissingFilesWhenTheDataSourceSaysCreate)
{
    TempDir dir;
    const std::string dsn =
        register_dsn("QixLite", {{"Database", (dir / "new.db").string()}, {"Schemas", "cfg"}, {"Create", "yes"}});
    {
        RawConnection connection(dsn);
        connection.execute("CREATE TABLE CFG.T (A INTEGER)");
    }
    unregister_dsn(dsn);
    EXPECT_TRUE(std::filesystem::exists(dir / "new.db"));
    EXPECT_TRUE(std::filesystem::exists(dir / "CFG.db")) << "schema names are upper-cased";
}

TEST(Connect, RejectsADataSourceWithoutDatabase)
{
    const std::string dsn = register_dsn("QixLite", {});
    std::vector<DiagRecord> records;
    EXPECT_EQ(try_connect(dsn, records), SQL_ERROR);
    unregister_dsn(dsn);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].state, "08001");
    EXPECT_NE(records[0].message.find("Database"), std::string::npos);
}

TEST(Connect, DriverConnectTakesItsSettingsFromTheConnectionString)
{
    (void)odbc_config_dir();  // points the driver manager at odbcinst.ini, where QixLite is
    TempDir dir;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    const std::string in = "DRIVER=QixLite;Database={" + (dir / "x.db").string() + "};Schemas=VEDUV;Create=yes";
    SQLCHAR out[512];
    SQLSMALLINT out_length = 0;
    const SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS, out, sizeof out, &out_length,
                                          SQL_DRIVER_NOPROMPT);
    EXPECT_EQ(rc, SQL_SUCCESS) << diagnostic_text(SQL_HANDLE_DBC, dbc);
    EXPECT_NE(std::string(reinterpret_cast<char*>(out)).find("Schemas=VEDUV"), std::string::npos);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    EXPECT_TRUE(std::filesystem::exists(dir / "VEDUV.db"));
}

} // namespace
} // namespace qix::test

// The ODBC access layer against PostgreSQL through psqlODBC, a driver we did not write.
#include <qix/sql/Database.h>

#include "DataSource.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using qix::sql::CDataType;
using qix::sql::Database;
using qix::sql::ParameterOption;
using qix::sql::ParameterType;
using qix::sql::Query;
using qix::sql::SqlDataType;

using qix::test::message_of;

class Postgres : public ::testing::Test {
protected:
    qix::test::PostgresSource source_;
    Database db_{source_.dsn(), source_.user(), ""};

    void exec(const std::string& sql) { (void)db_.execute_query<>(sql); }
};

TEST_F(Postgres, NullParametersOfQueriesAndProceduresAreStoredAsNull)
{
    exec("CREATE TABLE t (id integer, v integer, s text)");
    Query insert = db_.get_query("INSERT INTO t VALUES (?, ?, ?)");
    const int id = 1;
    insert.bind_parameter<int>(1, &id, 1, ParameterOption::none);
    insert.bind_parameter(2, nullptr);
    insert.bind_parameter(3, nullptr);
    insert.send();
    auto procedure = db_.get_procedure("INSERT INTO t VALUES (2, ?, 'x')");
    procedure.bind_input_parameter(1, nullptr);
    procedure.exec();
    EXPECT_TRUE(procedure.is_null(1));
    EXPECT_EQ(procedure.get_bytes_read(1), 0U);
    using Row = std::tuple<int, std::optional<int>, std::optional<std::string>>;
    EXPECT_EQ((db_.execute_query<int, std::optional<int>, std::optional<std::string>>("SELECT * FROM t ORDER BY id")),
              (std::vector<Row>{{1, std::nullopt, std::nullopt}, {2, std::nullopt, "x"}}));
}

TEST_F(Postgres, ProcedureOutputParametersIncludingNullAndMovedCells)
{
    exec("CREATE FUNCTION twice(IN a integer, OUT b integer) AS $$ SELECT CASE WHEN a < 0 THEN NULL ELSE 2 * a END $$ "
         "LANGUAGE sql");
    auto procedure = db_.get_procedure("{call twice(?, ?)}");
    int input = 21;
    int output = -1;
    procedure.bind_parameter(1, ParameterType::in, CDataType::c_slong, SqlDataType::s_integer, 10, 0, &input,
                             sizeof input, ParameterOption::none);
    procedure.bind_parameter(2, ParameterType::out, CDataType::c_slong, SqlDataType::s_integer, 10, 0, &output,
                             sizeof output, ParameterOption::none);
    procedure.exec();
    EXPECT_EQ(output, 42);
    EXPECT_FALSE(procedure.is_null(2));
    EXPECT_EQ(procedure.get_bytes_read(2), sizeof output);
    // The call runs again with the new input; bindings stay.
    input = -5;
    procedure.exec();
    EXPECT_TRUE(procedure.is_null(2));
    EXPECT_EQ(procedure.get_bytes_read(2), 0U);
    EXPECT_THROW((void)procedure.is_null(3), std::out_of_range);

    exec("CREATE PROCEDURE greet(IN who text, INOUT greeting text) AS $$ BEGIN greeting := 'hello ' || who; END $$ "
         "LANGUAGE plpgsql");
    auto original = db_.get_procedure("CALL greet(?, ?)");
    const std::string who = "world";
    char greeting[64] = "";
    original.bind_parameter(1, ParameterType::in, CDataType::c_char, SqlDataType::s_varchar, 0, 0,
                            const_cast<char*>(who.data()), static_cast<SQLLEN>(who.size()), ParameterOption::none);
    original.bind_parameter(2, ParameterType::in_out, CDataType::c_char, SqlDataType::s_varchar, 63, 0, greeting,
                            sizeof greeting, ParameterOption::nts);
    auto moved = std::move(original);
    moved.exec();
    EXPECT_STREQ(greeting, "hello world");
    EXPECT_EQ(moved.get_bytes_read(2), 11U);

    auto broken = db_.get_procedure("CALL no_such_procedure()");
    const std::string message = message_of([&] { broken.exec(); });
    EXPECT_TRUE(message.starts_with("Error executing 'CALL no_such_procedure()': ")) << message;
    EXPECT_NE(message.find("does not exist"), std::string::npos) << message;
}

TEST_F(Postgres, LongTextAndBinaryValues)
{
    for (const int length : {511, 512, 5000}) {
        Query query = db_.send_query("SELECT repeat('ab', " + std::to_string(length) + ")");
        ASSERT_TRUE(query.fetch());
        const std::string text = query.get_column_as_string(1);
        ASSERT_EQ(text.size(), 2U * length);
        EXPECT_EQ(text.substr(2 * length - 4), "abab");
    }
    Query odd = db_.send_query("SELECT repeat('x', 2500)");
    ASSERT_TRUE(odd.fetch());
    EXPECT_EQ(odd.get_column_as_string(1), std::string(2500, 'x'));

    for (const int length : {4096, 4097, 10000}) {
        Query query = db_.send_query("SELECT decode(repeat('00ff', " + std::to_string(length / 2) + ") || " +
                                     (length % 2 ? "'7f'" : "''") + ", 'hex')");
        ASSERT_TRUE(query.fetch());
        bool was_null = true;
        const auto bytes = query.get_column_as_binary(1, &was_null);
        ASSERT_EQ(bytes.size(), static_cast<std::size_t>(length));
        EXPECT_FALSE(was_null);
        EXPECT_EQ(bytes[4095], 0xff);
        EXPECT_EQ(bytes.back(), length % 2 ? 0x7f : 0xff);
    }
}

TEST_F(Postgres, ColumnNamesFromTheDictionaryView)
{
    exec("CREATE SCHEMA veduv");
    exec("CREATE TABLE veduv.lumen_things (name text, flag_quad integer, x double precision)");
    exec("CREATE VIEW all_tab_columns AS SELECT table_schema AS owner, table_name, column_name, ordinal_position "
         "FROM information_schema.columns");
    auto names = db_.read_column_names("Lumen_Things", "VedUV");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"flag_quad", "name", "x"}));
    EXPECT_TRUE(db_.read_column_names("missing", "veduv").empty());

    // Quotes inside the names cannot end the string literal they are placed in.
    EXPECT_TRUE(db_.read_column_names("lumen_things' OR '1' = '1", "veduv").empty());
    EXPECT_TRUE(db_.read_column_names("x", "veduv'; DROP TABLE veduv.lumen_things; --").empty());
    EXPECT_EQ(db_.read_column_names("lumen_things", "veduv").size(), 3U);
}

// ODBC lengths are 16-bit: 65536 bytes more would wrap around to the text in front of them, and
// connect to this data source as this user. Such arguments never reach the driver manager.
TEST_F(Postgres, ConnectArgumentsBeyondTheOdbcLengthAreRefused)
{
    const std::string wrap(65536, 'x');
    const std::string& dsn = source_.dsn();
    const std::string& user = source_.user();
    struct Case {
        std::string dsn, user, password;
        std::string diagnostic; // empty: connects
    };
    const auto too_long = [](const std::string& what, std::size_t size) {
        return "The " + what + " is " + std::to_string(size) + " bytes long; ODBC takes at most 32767";
    };
    const Case cases[] = {
        {dsn + wrap, user, "", too_long("data source name", dsn.size() + wrap.size())},
        {dsn, user + wrap, "", too_long("user", user.size() + wrap.size())},
        {dsn, user, "pw" + wrap, too_long("password", 2 + wrap.size())},
        {dsn, std::string(40000, 'u'), "", too_long("user", 40000)}, // a negative length once cast
        {dsn, user, std::string(32767, 'p'), ""},                    // the longest that fits; trust ignores it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.diagnostic);
        Database db(c.dsn, c.user, c.password);
        std::string message = "(connected)";
        std::vector<std::string> diagnostics;
        try {
            db.connect();
        } catch (const qix::sql::ConnectError& e) {
            message = e.get_message();
            diagnostics = e.diagnostics();
        }
        const std::string expected =
            c.diagnostic.empty()
                ? "(connected)"
                : "Could not connect to data source " + c.dsn +
                      ".\nMake sure that the data source is a valid DSN specified in your odbc.ini file, check that "
                      "username and password are correct, and verify your LD_LIBRARY_PATH setting.";
        // Compared whole but shown cut: the texts run to 65 kB.
        EXPECT_TRUE(message == expected) << message.substr(0, 200);
        EXPECT_EQ(diagnostics, c.diagnostic.empty() ? std::vector<std::string>{} : std::vector{c.diagnostic});
        EXPECT_EQ(db.is_connected(), c.diagnostic.empty());
    }
}

TEST(PostgresErrors, FailedQueriesAndFetchesCarryTheDriverText)
{
    // Fetching in blocks of two rows makes the server's error arrive with the third row.
    qix::test::PostgresSource source({{"UseDeclareFetch", "1"}, {"Fetch", "2"}});
    Database db(source.dsn(), source.user(), "");
    const std::string failed = message_of([&] { (void)db.execute_query<>("SELECT * FROM missing_table"); });
    EXPECT_TRUE(failed.starts_with("Query failed: ")) << failed;
    EXPECT_NE(failed.find("relation \"missing_table\" does not exist"), std::string::npos) << failed;
    EXPECT_TRUE(failed.ends_with(" (SELECT * FROM missing_table)")) << failed;

    Query query = db.send_query("SELECT 10 / (3 - v) FROM generate_series(1, 5) AS v");
    int rows = 0;
    const std::string message = message_of([&] {
        while (query.fetch())
            ++rows;
    });
    EXPECT_EQ(rows, 2);
    EXPECT_TRUE(message.starts_with("Unable to fetch row: ")) << message;
    EXPECT_NE(message.find("division by zero"), std::string::npos) << message;
}

} // namespace

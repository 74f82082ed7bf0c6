// What only PostgreSQL through psqlODBC shows of the ODBC access layer: procedure output
// parameters, the dictionary view and errors that arrive with a later block of rows.
#include <qix/sql/Database.h>

#include "DataSource.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

using namespace qix::sql;
using qix::test::message_of;

class Postgres : public ::testing::Test {
protected:
    qix::test::PostgresSource source_;
    Database db_{source_.dsn(), source_.user(), ""};

    void exec(const std::string& sql) { (void)db_.send_query(sql); }
};

TEST_F(Postgres, ProcedureOutputParametersIncludingNullAndMovedCalls)
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
}

TEST_F(Postgres, FailedProcedureCarriesTheDriverText)
{
    auto broken = db_.get_procedure("CALL no_such_procedure()");
    const std::string message = message_of([&] { broken.exec(); });
    EXPECT_TRUE(message.starts_with("Error executing 'CALL no_such_procedure()': ")) << message;
    EXPECT_NE(message.find("does not exist"), std::string::npos) << message;
}

TEST_F(Postgres, ColumnNamesFromTheDictionaryViewWithQuotesKeptInTheLiteral)
{
    exec("CREATE SCHEMA veduv");
    exec("CREATE TABLE veduv.lumen_things (name text, flag_quad integer, x double precision)");
    exec("CREATE VIEW all_tab_columns AS SELECT table_schema AS owner, table_name, column_name, ordinal_position "
         "FROM information_schema.columns");
    auto names = db_.read_column_names("Lumen_Things", "VedUV");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"flag_quad", "name", "x"}));
    EXPECT_EQ(db_.read_column_names("missing", "veduv"), std::vector<std::string>{});
    // Quotes inside the names cannot end the string literal they are placed in.
    EXPECT_EQ(db_.read_column_names("lumen_things' OR '1' = '1", "veduv"), std::vector<std::string>{});
    EXPECT_EQ(db_.read_column_names("x", "veduv'; DROP TABLE veduv.lumen_things; --"), std::vector<std::string>{});
    EXPECT_EQ(db_.read_column_names("lumen_things", "veduv").size(), 3U);
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

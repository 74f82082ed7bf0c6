// The ODBC access layer against the SQLite ODBC driver (a driver we did not write), through
// the unixODBC driver manager.
#include <qix/sql/Database.h>

#include "DataSource.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

namespace {

using namespace qix::sql;
using qix::test::message_of;

class SqliteOdbc : public ::testing::Test {
protected:
    qix::test::SqliteOdbcSource source_;
    Database db_{source_.dsn(), "", ""};

    void exec(const std::string& sql) { (void)db_.send_query(sql); }

    void make_table()
    {
        exec("CREATE TABLE t (id INTEGER, name TEXT, value REAL)");
        exec("INSERT INTO t VALUES (1, 'one', 1.5), (2, NULL, NULL), (3, 'three', -2.25)");
    }
};

TEST_F(SqliteOdbc, ConnectsLazilyOnceAndAgainAfterDisconnect)
{
    EXPECT_FALSE(db_.is_connected());
    db_.disconnect(); // never connected: nothing happens
    make_table();
    EXPECT_TRUE(db_.is_connected());
    EXPECT_EQ(message_of([&] { db_.connect(); }), "SQL connection is already open");
    db_.disconnect();
    EXPECT_FALSE(db_.is_connected());
    db_.connect();
    EXPECT_EQ(db_.execute_query<>("SELECT * FROM t").size(), 3U);
}

TEST(Connection, WrongDataSourceMessageIsExact)
{
    qix::test::odbc_config_dir();
    Database db("no_such_dsn", "user", "secret");
    const std::string expected =
        "Could not connect to data source no_such_dsn.\nMake sure that the data source is a valid DSN specified in "
        "your odbc.ini file, check that username and password are correct, and verify your LD_LIBRARY_PATH setting.";
    EXPECT_EQ(message_of([&] { db.connect(); }), expected);
    // Lazy connection reports the same, and a failed connect leaves the object usable.
    EXPECT_EQ(message_of([&] { (void)db.get_query("SELECT 1"); }), expected);
    EXPECT_FALSE(db.is_connected());
    // The driver manager's own words travel with the error.
    try {
        db.connect();
        ADD_FAILURE() << "connected to no_such_dsn";
    } catch (const qix::sql::ConnectError& e) {
        EXPECT_EQ(e.diagnostics(), std::vector<std::string>{"[IM002] [unixODBC][Driver Manager]Data source name not "
                                                            "found and no default driver specified"});
    }
}

TEST_F(SqliteOdbc, BoundColumnsReceiveEveryRow)
{
    make_table();
    Query query = db_.send_query("SELECT id, name, value FROM t ORDER BY id");
    double value = -1;
    char name[16];
    unsigned short id = 0;
    query.bind_column<unsigned short>(1, &id, 1);
    query.bind_column<char>(2, name, sizeof name);
    query.bind_column<double>(3, &value, 1);

    ASSERT_TRUE(query.fetch());
    EXPECT_EQ(id, 1);
    EXPECT_STREQ(name, "one");
    EXPECT_EQ(query.get_bytes_read(2), 3U);
    EXPECT_FALSE(query.is_null(2));
    EXPECT_EQ(value, 1.5);

    ASSERT_TRUE(query.fetch());
    EXPECT_EQ(id, 2);
    EXPECT_TRUE(query.is_null(2));
    EXPECT_EQ(query.get_bytes_read(2), 0U);
    EXPECT_TRUE(query.is_null(3));

    ASSERT_TRUE(query.fetch());
    EXPECT_EQ(value, -2.25);
    EXPECT_FALSE(query.fetch());
    EXPECT_THROW((void)query.is_null(7), std::out_of_range);
    EXPECT_THROW((void)query.get_bytes_read(7), std::out_of_range);
}

TEST_F(SqliteOdbc, LongTextAndBinaryValuesOfAnyLength)
{
    for (const std::size_t length : {0U, 1U, 1022U, 1023U, 1024U, 2046U, 2500U, 4095U, 4096U, 4097U, 10000U}) {
        const std::string n = std::to_string(length);
        Query query = db_.send_query("SELECT substr(replace(hex(zeroblob(" + n + ")), '00', 'xy'), 1, " + n +
                                     "), zeroblob(" + n + ")");
        ASSERT_TRUE(query.fetch());
        std::string expected;
        for (std::size_t i = 0; i < length; ++i)
            expected += "xy"[i % 2];
        bool was_null = true;
        EXPECT_EQ(query.get_column_as_string(1, &was_null), expected);
        EXPECT_FALSE(was_null);
        was_null = true;
        EXPECT_EQ(query.get_column_as_binary(2, &was_null), std::vector<unsigned char>(length));
        EXPECT_FALSE(was_null);
    }
    Query query = db_.send_query("SELECT NULL");
    ASSERT_TRUE(query.fetch());
    bool was_null = false;
    EXPECT_TRUE(query.get_column_as_binary(1, &was_null).empty());
    EXPECT_TRUE(was_null);
}

TEST_F(SqliteOdbc, ParametersOfEveryKind)
{
    exec("CREATE TABLE p (i INTEGER, d REAL, s TEXT, n INTEGER)");
    Query insert = db_.get_query("INSERT INTO p VALUES (?, ?, ?, ?)");
    const int i = -7;
    const int rebound = 8;
    const double d = 0.125;
    const std::string s = "it's \"quoted\"";
    insert.bind_parameter<int>(1, &i, 1, ParameterOption::none);
    insert.bind_parameter<double>(2, &d, 1, ParameterOption::none);
    insert.bind_parameter<char>(3, s.data(), s.size(), ParameterOption::none);
    insert.bind_parameter(4, nullptr);
    insert.send();
    // A parameter bound again reads the new buffer; sending again executes again.
    insert.bind_parameter<int>(1, &rebound, 1, ParameterOption::none);
    insert.send();

    // A NUL-terminated text, and an explicit NULL indicator.
    Query second = db_.get_query("INSERT INTO p (s, n) VALUES (?, ?)");
    const char nts[] = "terminated\0ignored";
    const int unused = 5;
    second.bind_parameter<char>(1, nts, sizeof nts, ParameterOption::nts);
    second.bind_parameter<int>(2, &unused, 1, ParameterOption::null_data);
    second.send();

    using Row = std::tuple<std::optional<int>, std::optional<double>, std::string, std::optional<int>>;
    EXPECT_EQ((db_.execute_query<std::optional<int>, std::optional<double>, std::string, std::optional<int>>(
                  "SELECT i, d, s, n FROM p ORDER BY rowid")),
              (std::vector<Row>{{-7, 0.125, s, std::nullopt},
                                {8, 0.125, s, std::nullopt},
                                {std::nullopt, std::nullopt, "terminated", std::nullopt}}));
}

TEST_F(SqliteOdbc, MovedQueriesKeepTheirBindings)
{
    make_table();
    Query original = db_.get_query("SELECT name FROM t WHERE id = ?");
    const int id = 3;
    char name[16] = {};
    original.bind_parameter<int>(1, &id, 1, ParameterOption::none);
    Query moved(std::move(original));
    moved.send();
    moved.bind_column<char>(1, name, sizeof name);
    Query assigned = db_.get_query("SELECT 1");
    assigned = std::move(moved);
    ASSERT_TRUE(assigned.fetch());
    EXPECT_STREQ(name, "three");
    EXPECT_EQ(assigned.get_bytes_read(1), 5U);
    EXPECT_FALSE(assigned.fetch());
    EXPECT_FALSE(original.statement().is_allocated());
}

TEST_F(SqliteOdbc, ErrorsCarryTheStatementAndTheDriverDiagnostics)
{
    make_table();
    Query query = db_.get_query("SELECT id FROM t");
    EXPECT_EQ(message_of([&] { (void)query.fetch(); }), "Must send query before fecthing data!");
    query.send();
    EXPECT_TRUE(query.fetch());
    int value = 0;
    // An unknown buffer type makes the driver refuse; the column number is printed as given.
    const std::string bind = message_of([&] { query.bind_column(-1, static_cast<CDataType>(12345), &value, 4); });
    EXPECT_TRUE(bind.starts_with("Unable to bind to column -1: ")) << bind;

    const std::string message = message_of([&] { exec("SELEKT 1"); });
    EXPECT_TRUE(message.starts_with("Query failed: ")) << message;
    EXPECT_NE(message.find("syntax error"), std::string::npos) << message;
    EXPECT_TRUE(message.ends_with(" (SELEKT 1)")) << message;
}

TEST_F(SqliteOdbc, ExecuteQueryReadsTypedValuesAndThrowsOrReportsThroughTheCallback)
{
    make_table();
    EXPECT_EQ(db_.execute_query<>("SELECT * FROM t").size(), 3U);
    EXPECT_TRUE(db_.execute_query<>("UPDATE t SET value = 0 WHERE id = 99").empty());
    // The typed getters tell NULL from an empty text.
    using Row = std::tuple<int, std::optional<std::string>, std::optional<double>, std::optional<std::string>>;
    const auto rows = db_.execute_query<int, std::optional<std::string>, std::optional<double>,
                                        std::optional<std::string>>("SELECT id, name, value, '' FROM t ORDER BY id");
    EXPECT_EQ(rows, (std::vector<Row>{{1, "one", 1.5, ""}, {2, std::nullopt, std::nullopt, ""}, {3, "three", -2.25, ""}}));

    const std::string null_message = "NULL value in column 2 cannot be read into a non-optional result element";
    EXPECT_TRUE(message_of([&] { (void)db_.execute_query<>("SELECT * FROM missing"); }).starts_with("Query failed: "));
    EXPECT_EQ(message_of([&] { (void)db_.execute_query<int, std::string>("SELECT id, name FROM t ORDER BY id"); }),
              null_message);
    EXPECT_EQ(message_of([&] { (void)db_.execute_query<int, int, int>("SELECT id, id FROM t"); }),
              "Result has no column 3: the statement returns 2 columns but 3 were requested");

    // With a callback the failure is reported once and the rows read before it are returned.
    std::vector<std::string> reported;
    const auto report = [&](const char* text) { reported.emplace_back(text); };
    EXPECT_TRUE(db_.execute_query<>("SELECT * FROM missing", report).empty());
    EXPECT_EQ((db_.execute_query<int, std::string>("SELECT id, name FROM t ORDER BY id", report).size()), 1U);
    ASSERT_EQ(reported.size(), 2U);
    EXPECT_TRUE(reported[0].starts_with("Query failed: "));
    EXPECT_EQ(reported[1], null_message);
}

TEST_F(SqliteOdbc, HandleOwnersRefuseDoubleAllocationAndMoveCleanly)
{
    EnvironmentHandle env;
    env.alloc();
    EXPECT_EQ(message_of([&] { env.alloc(); }), "Refusing to allocate an already allocated SQL environment handle");
    ConnectionHandle conn;
    EXPECT_EQ(message_of([&] { conn.alloc(EnvironmentHandle{}); }), "SQL environment handle is not allocated");
    conn.alloc(env);
    EXPECT_EQ(message_of([&] { conn.alloc(env); }), "Refusing to allocate an already allocated SQL connection handle");
    StatementHandle stmt;
    EXPECT_EQ(message_of([&] { stmt.alloc(ConnectionHandle{}); }), "SQL connection handle is not allocated");
    EXPECT_EQ(message_of([&] { stmt.send_query("SELECT 1"); }),
              "Need to allocate a statement handle before a query can be executed");
    EXPECT_EQ(message_of([&] { (void)stmt.fetch(); }), "Cannot fetch from an unallocated SQL handle");
    EXPECT_EQ(message_of([&] { stmt.cancel(); }), "Cannot cancel an unallocated SQL handle");
    EXPECT_EQ(message_of([&] { stmt.execute("x"); }), "Unallocated SQL statement");
    EXPECT_EQ(message_of([&] { (void)stmt.get_data_as_string(1, nullptr); }), "Unallocated SQL statement");

    ConnectionHandle moved(std::move(conn));
    EXPECT_FALSE(conn.is_allocated());
    EXPECT_TRUE(moved.is_allocated());
    moved.free();
    moved.free();
    EXPECT_FALSE(moved.is_allocated());
}

} // namespace

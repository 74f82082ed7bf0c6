// The ODBC access layer through the unixODBC driver manager on one driver: every test program
// of this folder runs these checks on the data source class that QIX_ODBC_SOURCE names (our
// driver, the SQLite ODBC driver or psqlODBC) and adds the checks only its driver can show.
#include <qix/sql/Database.h>

#include "DataSource.h"
#include "LiteSource.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <type_traits>

namespace {

using namespace qix::sql;
using qix::test::message_of;
using Source = qix::test::QIX_ODBC_SOURCE;

constexpr bool kPostgres = std::is_same_v<Source, qix::test::PostgresSource>;

std::string connect_message(const std::string& dsn)
{
    return "Could not connect to data source " + dsn +
           ".\nMake sure that the data source is a valid DSN specified in your odbc.ini file, check that username "
           "and password are correct, and verify your LD_LIBRARY_PATH setting.";
}

// The user to connect as: only the PostgreSQL server knows users.
template <typename DataSource>
std::string user_of(const DataSource& source)
{
    if constexpr (requires { source.user(); })
        return source.user();
    else
        return "";
}

// The suite is named after the driver (QIX_ODBC_SUITE), so that the cases of the three
// programs have names of their own in ctest.
class QIX_ODBC_SUITE : public ::testing::Test {
protected:
    Source source_;
    Database db_{source_.dsn(), user_of(source_), ""};
    void exec(const std::string& sql) { (void)db_.send_query(sql); }
    void make_table()
    {
        exec("CREATE TABLE t (id INTEGER, name TEXT, value REAL)");
        exec("INSERT INTO t VALUES (1, 'one', 1.5), (2, NULL, NULL), (3, 'three', -2.25)");
    }
};

TEST_F(QIX_ODBC_SUITE, ConnectsLazilyOnceAndAgainAfterDisconnect)
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

TEST_F(QIX_ODBC_SUITE, WrongDataSourceIsRefusedWithTheDriverManagersWords)
{
    Database db("no_such_dsn", "user", "secret");
    EXPECT_EQ(message_of([&] { db.connect(); }), connect_message("no_such_dsn"));
    // Lazy connection reports the same, and a failed connect leaves the object usable.
    EXPECT_EQ(message_of([&] { (void)db.get_query("SELECT 1"); }), connect_message("no_such_dsn"));
    EXPECT_FALSE(db.is_connected());
    try {
        db.connect();
        ADD_FAILURE() << "connected to no_such_dsn";
    } catch (const ConnectError& e) {
        EXPECT_EQ(e.diagnostics(), std::vector<std::string>{"[IM002] [unixODBC][Driver Manager]Data source name not "
                                                            "found and no default driver specified"});
    }
}

// ODBC lengths are 16-bit: 65536 bytes more would wrap around to the text in front of them, and
// connect to this data source as this user. Such arguments never reach the driver manager.
TEST_F(QIX_ODBC_SUITE, ConnectArgumentsBeyondTheOdbcLengthAreRefused)
{
    const std::string wrap(65536, 'x');
    const std::string& dsn = source_.dsn();
    const std::string user = user_of(source_);
    const auto too_long = [](const std::string& what, std::size_t size) {
        return "The " + what + " is " + std::to_string(size) + " bytes long; ODBC takes at most 32767";
    };
    const struct {
        std::string dsn, user, password;
        std::string diagnostic; // empty: connects
    } cases[] = {
        {dsn + wrap, user, "", too_long("data source name", dsn.size() + wrap.size())},
        {dsn, user + wrap, "", too_long("user", user.size() + wrap.size())},
        {dsn, user, "pw" + wrap, too_long("password", 2 + wrap.size())},
        {dsn, std::string(40000, 'u'), "", too_long("user", 40000)}, // a negative length once cast
        {dsn, user, std::string(32767, 'p'), ""},                    // the longest that fits; ignored
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.diagnostic);
        Database db(c.dsn, c.user, c.password);
        std::string message = "(connected)";
        std::vector<std::string> diagnostics;
        try {
            db.connect();
        } catch (const ConnectError& e) {
            message = e.get_message();
            diagnostics = e.diagnostics();
        }
        const std::string expected = c.diagnostic.empty() ? "(connected)" : connect_message(c.dsn);
        // Compared whole but shown cut: the texts run to 65 kB.
        EXPECT_TRUE(message == expected) << message.substr(0, 200);
        EXPECT_EQ(diagnostics, c.diagnostic.empty() ? std::vector<std::string>{} : std::vector{c.diagnostic});
        EXPECT_EQ(db.is_connected(), c.diagnostic.empty());
    }
}

// Parameters bound before a move and columns bound after it stay with the query.
TEST_F(QIX_ODBC_SUITE, BoundColumnsOfAMovedQueryReceiveEveryRowAndTellNull)
{
    make_table();
    Query original = db_.get_query("SELECT id, name, value FROM t WHERE id <> ? ORDER BY id");
    const int skipped = 4;
    original.bind_parameter<int>(1, &skipped, 1, ParameterOption::none);
    Query moved(std::move(original));
    moved.send();
    double value = -1;
    char name[16];
    unsigned short id = 0;
    moved.bind_column<unsigned short>(1, &id, 1);
    moved.bind_column<char>(2, name, sizeof name);
    moved.bind_column<double>(3, &value, 1);
    Query query = db_.get_query("SELECT 1");
    query = std::move(moved);
    EXPECT_FALSE(original.statement().is_allocated());
    // Per row: id, name, bytes read and NULL of name, NULL of value, value.
    using Row = std::tuple<unsigned short, std::string, unsigned long, bool, bool, double>;
    std::vector<Row> rows;
    while (query.fetch())
        rows.emplace_back(id, query.is_null(2) ? "" : name, query.get_bytes_read(2), query.is_null(2), query.is_null(3),
                          query.is_null(3) ? 0.0 : value);
    EXPECT_EQ(rows, (std::vector<Row>{{1, "one", 3, false, false, 1.5},
                                      {2, "", 0, true, true, 0.0},
                                      {3, "three", 5, false, false, -2.25}}));
    EXPECT_THROW((void)query.is_null(7), std::out_of_range);
    EXPECT_THROW((void)query.get_bytes_read(7), std::out_of_range);
}

// Values around the chunk sizes in which the library reads them (1023 text bytes, 4096
// binary bytes), written as parameters and read back whole. Our driver also keeps NUL bytes
// inside a text, also at the chunk boundaries (PostgreSQL text cannot hold them).
TEST_F(QIX_ODBC_SUITE, LongTextAndBinaryValuesOfAnyLength)
{
    exec(std::string("CREATE TABLE v (n INTEGER, s TEXT, b ") + (kPostgres ? "bytea" : "BLOB") + ")");
    const std::size_t lengths[] = {0, 1, 1022, 1023, 1024, 2046, 2047, 2500, 4095, 4096, 4097, 10000};
    std::vector<std::pair<std::string, std::vector<unsigned char>>> values;
    Query insert = db_.get_query("INSERT INTO v VALUES (?, ?, ?)");
    for (const std::size_t length : lengths) {
        std::string text(length, 'x');
        std::vector<unsigned char> bytes(length);
        bytes.reserve(1); // a buffer also for no bytes: psqlODBC takes a null pointer for NULL
        for (std::size_t i = 0; i < length; ++i) {
            text[i] = "xy"[i % 2];
            bytes[i] = static_cast<unsigned char>(i * 7);
        }
        if (std::is_same_v<Source, qix::test::LiteSource>)
            for (const std::size_t at : {std::size_t{0}, std::size_t{1022}, std::size_t{2046}, length - 1})
                if (at < length)
                    text[at] = '\0';
        const int n = static_cast<int>(length);
        insert.bind_parameter<int>(1, &n, 1, ParameterOption::none);
        insert.bind_parameter<char>(2, text.data(), text.size(), ParameterOption::none);
        insert.bind_parameter(3, ParameterType::in, CDataType::c_binary, SqlDataType::s_longvarbinary, length, 0,
                              bytes.data(), static_cast<SQLLEN>(length), ParameterOption::none);
        insert.send();
        values.emplace_back(std::move(text), std::move(bytes));
    }
    // The SQLite ODBC driver stores an empty binary parameter as NULL.
    exec(std::string("UPDATE v SET b = ") + (kPostgres ? "'\\x'::bytea" : "X''") + " WHERE n = 0");
    Query query = db_.send_query("SELECT s, b FROM v ORDER BY n");
    for (const auto& [text, bytes] : values) {
        SCOPED_TRACE(text.size());
        ASSERT_TRUE(query.fetch());
        bool was_null = true;
        EXPECT_EQ(query.get_column_as_string(1, &was_null), text);
        EXPECT_FALSE(was_null);
        // The value was consumed completely: asking for it again is an error naming the column.
        char buffer[8];
        const std::string again = message_of([&] { query.get_column(1, buffer, sizeof buffer, SQL_C_CHAR); });
        EXPECT_TRUE(again.starts_with("Unable to get data from column 1: ")) << again;
        was_null = true;
        EXPECT_EQ(query.get_column_as_binary(2, &was_null), bytes);
        EXPECT_FALSE(was_null);
    }
    query = db_.send_query("SELECT NULL");
    ASSERT_TRUE(query.fetch());
    bool was_null = false;
    EXPECT_TRUE(query.get_column_as_binary(1, &was_null).empty());
    EXPECT_TRUE(was_null);
}

TEST_F(QIX_ODBC_SUITE, ParametersOfEveryKindIncludingNull)
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
    // A procedure's NULL input: a missing buffer alone is not NULL to every driver.
    auto procedure = db_.get_procedure("INSERT INTO p VALUES (?, 1, 'procedure', 2)");
    procedure.bind_input_parameter(1, nullptr);
    procedure.exec();
    EXPECT_TRUE(procedure.is_null(1));
    EXPECT_EQ(procedure.get_bytes_read(1), 0U);

    using Row = std::tuple<std::optional<int>, std::optional<double>, std::string, std::optional<int>>;
    EXPECT_EQ((db_.execute_query<std::optional<int>, std::optional<double>, std::string, std::optional<int>>(
                  "SELECT i, d, s, n FROM p ORDER BY s, i")),
              (std::vector<Row>{{-7, 0.125, s, std::nullopt},
                                {8, 0.125, s, std::nullopt},
                                {std::nullopt, 1.0, "procedure", 2},
                                {std::nullopt, std::nullopt, "terminated", std::nullopt}}));
}

TEST_F(QIX_ODBC_SUITE, ErrorsCarryTheStatementAndTheDriverDiagnostics)
{
    make_table();
    Query query = db_.get_query("SELECT id FROM t");
    EXPECT_EQ(message_of([&] { (void)query.fetch(); }), "Must send query before fecthing data!");
    query.send();
    EXPECT_TRUE(query.fetch());
    int value = 0;
    // An unknown buffer type is refused; the column number is printed as given.
    const std::string bind = message_of([&] { query.bind_column(-1, static_cast<CDataType>(12345), &value, 4); });
    EXPECT_TRUE(bind.starts_with("Unable to bind to column -1: ")) << bind;
    const std::string message = message_of([&] { exec("SELEKT 1"); });
    EXPECT_TRUE(message.starts_with("Query failed: ")) << message;
    EXPECT_NE(message.find("syntax error"), std::string::npos) << message;
    EXPECT_TRUE(message.ends_with(" (SELEKT 1)")) << message;
}

TEST_F(QIX_ODBC_SUITE, ExecuteQueryReadsTypedValues)
{
    make_table();
    EXPECT_TRUE(db_.execute_query<>("UPDATE t SET value = 0 WHERE id = 99").empty());
    // The typed getters tell NULL from an empty text.
    using Row = std::tuple<int, std::optional<std::string>, std::optional<double>, std::optional<std::string>>;
    EXPECT_EQ((db_.execute_query<int, std::optional<std::string>, std::optional<double>, std::optional<std::string>>(
                  "SELECT id, name, value, '' FROM t ORDER BY id")),
              (std::vector<Row>{{1, "one", 1.5, ""}, {2, std::nullopt, std::nullopt, ""}, {3, "three", -2.25, ""}}));
}

TEST_F(QIX_ODBC_SUITE, ExecuteQueryThrowsOrReportsThroughTheCallback)
{
    make_table();
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
    EXPECT_TRUE(reported[0].starts_with("Query failed: ")) << reported[0];
    EXPECT_EQ(reported[1], null_message);
}

} // namespace

// The component list load against PostgreSQL through psqlODBC, a driver we did not write, and
// the database failing under it: its backend terminated while rows are fetched, its server
// stopped, a port where nothing listens, and a listener that never answers. Every such load
// falls back to the backup file, which stays byte for byte as it was.

#include "load_scenarios.h"

#include <qix/sql/Query.h>

#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;
using qix::sql::Database;

std::string connect_message(const std::string& dsn)
{
    return "Could not connect to data source " + dsn +
           ".\nMake sure that the data source is a valid DSN specified in your odbc.ini file, check that username "
           "and password are correct, and verify your LD_LIBRARY_PATH setting.";
}

TEST(ComponentListPostgres, LoadsEveryFacilityView)
{
    qix::test::PostgresSource source;
    qix::test::run_raw_statements(source.dsn(), source.user(), with_dictionary(facility_fixture()));
    Database db(source.dsn(), source.user(), "");
    check_facility_loads(db);
}

TEST(PostgresFaults, BackendTerminatedWhileRowsAreFetched)
{
    // Six rows, two per fetch. Row 3 waits for an advisory lock that the test holds, so the
    // reading backend is inside a fetch, rows already delivered, when the test terminates it.
    qix::test::PostgresSource source({{"UseDeclareFetch", "1"}, {"Fetch", "2"}});
    std::vector<std::string> statements =
        with_dictionary({component_table("GATED", ""),
                         "CREATE FUNCTION veduv.gate(pos integer) RETURNS integer LANGUAGE plpgsql AS $$ BEGIN "
                         "IF pos = 3 THEN PERFORM pg_advisory_lock(4242); END IF; RETURN pos % 2; END $$",
                         component_view("LUMEN", "GATED", ", VEDUV.GATE(POS) AS FLAG_ODD", RowOrder::as_stored)});
    for (int pos = 1; pos <= 6; ++pos)
        statements.push_back(
            component_row("GATED", pos, make_component({"C" + std::to_string(pos)}, {0, 0, 0, 1.0 * pos}, {})));
    qix::test::run_raw_statements(source.dsn(), source.user(), statements);
    const BackupFile backup;
    Database admin(source.dsn(), source.user(), "");
    static_cast<void>(admin.send_query("SELECT pg_advisory_lock(4242)"));
    std::atomic<int> terminated{0};
    std::thread killer([&] {
        static_cast<void>(message_of([&] { // a failing query only ends the attempts
            for (int attempt = 0; attempt < 1000 && terminated == 0; ++attempt) {
                qix::sql::Query query = admin.send_query(
                    "SELECT count(pg_terminate_backend(pid))::integer FROM pg_stat_activity WHERE datname = "
                    "current_database() AND wait_event_type = 'Lock' AND pid <> pg_backend_pid()");
                terminated = query.fetch() ? query.get_column_as_int32_t(1) : 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }));
        static_cast<void>(admin.send_query("SELECT pg_advisory_unlock_all()")); // never leave the reader waiting
    });
    Database db(source.dsn(), source.user(), "");
    ComponentList list;
    const std::string message = list.read_from_db_with_backup(db, "lumen", backup.path);
    killer.join();
    EXPECT_EQ(terminated, 1);
    EXPECT_TRUE(message.starts_with("Unable to fetch row: ")) << message;
    EXPECT_EQ(list, expected_lumen());
    EXPECT_EQ(slurp(backup.path), backup.text);
}

// A PostgreSQL server of its own, started through scripts/with-postgres; stop() ends it at once.
struct OwnServer {
    qix::test::TempDir dir;
    pid_t pid = 0;
    std::string port;
    OwnServer()
    {
        const std::string script = "echo \"$QIX_TEST_PG_PORT\" > \"$0/port.tmp\" && mv \"$0/port.tmp\" \"$0/port\" "
                                   "&& while [ ! -e \"$0/stop\" ]; do sleep 0.1; done";
        const std::string wrapper = QIX_SOURCE_DIR "/scripts/with-postgres", path = dir.path().string();
        const char* argv[] = {wrapper.c_str(), "/bin/sh", "-c", script.c_str(), path.c_str(), nullptr};
        if (::posix_spawn(&pid, wrapper.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            throw std::runtime_error("Unable to run " + wrapper);
        for (int i = 0; i < 600 && !fs::exists(dir / "port") && ::waitpid(pid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!(std::ifstream(dir / "port") >> port))
            throw std::runtime_error("The own PostgreSQL server did not start");
    }
    ~OwnServer() { stop(); }
    void stop()
    {
        if (pid > 0 && std::ofstream(dir / "stop").flush())
            ::waitpid(pid, nullptr, 0);
        pid = 0;
    }
};

std::string postgres_dsn(const std::string& port)
{
    return qix::test::register_dsn("PostgreSQL", {{"Servername", "127.0.0.1"},
                                                  {"Port", port},
                                                  {"Database", "postgres"},
                                                  {"Username", qix::test::PostgresServer::from_environment().user}});
}

TEST(PostgresFaults, ServerStoppedOrUnreachableFallsBackWithoutHanging)
{
    OwnServer server;
    const std::string dsn = postgres_dsn(server.port);
    const std::string user = qix::test::PostgresServer::from_environment().user;
    qix::test::run_raw_statements(dsn, user, with_dictionary(facility_fixture()));
    const BackupFile backup;
    Database db(dsn, user, "");
    ComponentList list;
    EXPECT_EQ(list.read_from_db_with_backup(db, "lumen", backup.path), "");
    EXPECT_EQ(slurp(backup.path), backup.text) << "the database holds the backup's list";

    server.stop();
    // The open connection is gone: the next statement fails and the file takes over.
    list.clear();
    const std::string lost = list.read_from_db_with_backup(db, "lumen", backup.path);
    EXPECT_TRUE(lost.starts_with("Query failed: ")) << lost;
    EXPECT_EQ(list, expected_lumen());

    // Sockets bound to free loopback ports: one not listening refuses connections, one
    // listening but never read from holds the client until the login time-out.
    std::vector<std::pair<std::string, int>> unreachable = {{dsn, -1}};
    for (const bool listening : {false, true}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_TRUE(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                    (!listening || ::listen(fd, 8) == 0));
        unreachable.emplace_back(postgres_dsn(std::to_string(ntohs(address.sin_port))), fd);
    }
    for (const auto& [target, fd] : unreachable) {
        SCOPED_TRACE(target);
        // In a child that SIGALRM kills after 25 s, five times the library's login time-out:
        // enough for any refusal, short of a hang.
        EXPECT_TRUE(in_child(false, [&, &target = target] {
            ::alarm(25);
            Database fresh(target, user, "");
            ComponentList loaded;
            return message_of([&] { fresh.connect(); }) == connect_message(target) &&
                   loaded.read_from_db_with_backup(fresh, "lumen", backup.path) == connect_message(target) &&
                   loaded == expected_lumen();
        }));
        EXPECT_EQ(slurp(backup.path), backup.text);
        qix::test::unregister_dsn(target);
        if (fd >= 0)
            ::close(fd);
    }
}

// PostgreSQL runs every statement of a text it is sent: an injected second statement would
// run here, and the sentinel table would be gone.
TEST(HostileNamesPostgres, NamesInComponentStatementsRunNoOtherStatement)
{
    // A flag column whose quoted name would end the component query and start another one
    // (within PostgreSQL's 63 bytes for a name), and a table named with a quote, a semicolon
    // and a comment marker, which is still found.
    qix::test::PostgresSource source;
    auto statements = with_dictionary(facility_fixture());
    statements.insert(
        statements.end(),
        {"CREATE TABLE veduv.\"it's; --\" (a integer, b integer)", component_table("V", ", FLAG_Q SMALLINT"),
         component_row("V", 1, make_component({"C1"}, {}, {true})),
         component_view("TRAP", "V", ", FLAG_Q, FLAG_Q AS \"flag_q FROM veduv.v; DROP TABLE veduv.sentinel; --\"")});
    qix::test::run_raw_statements(source.dsn(), source.user(), statements);
    qix::sql::Database db(source.dsn(), source.user(), "");

    // The proof that a second statement would run here.
    static_cast<void>(db.send_query("SELECT 1; CREATE TABLE veduv.proof (id integer)"));
    EXPECT_EQ(db.read_column_names("PROOF", "VEDUV"), std::vector<std::string>{"id"});

    check_hostile_component_names(db);
    EXPECT_EQ(db.read_column_names("it's; --", "veduv"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(message_of([&] { ComponentList().read_from_db(db, "TRAP"); }),
              "Invalid flag column name: FLAG_Q FROM VEDUV.V; DROP TABLE VEDUV.SENTINEL; --");
    EXPECT_EQ(sentinel_rows(db), 3);
}

} // namespace

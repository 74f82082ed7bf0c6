// A PostgreSQL database failing under a component list load: its backend terminated while
// rows are fetched, its server stopped, nothing listening on the port, and a server that
// accepts the connection but never answers. Every load falls back to the backup file, which
// stays byte for byte as it was.

#include "fault_util.h"
#include "load_scenarios.h"
#include "postgres_dictionary.h"

#include <qix/sql/Query.h>

#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>

#include <atomic>
#include <fstream>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;
using qix::sql::Database;
using qix::sql::Query;
using qix::test::reliability::finishes_within;
using qix::test::reliability::with_dictionary;

// Five times the library's login time-out: enough for any refusal, short of a hang.
constexpr std::chrono::seconds kHangBound{25};

std::string connect_message(const std::string& dsn)
{
    return "Could not connect to data source " + dsn +
           ".\nMake sure that the data source is a valid DSN specified in your odbc.ini file, check that username "
           "and password are correct, and verify your LD_LIBRARY_PATH setting.";
}

// A backup file holding the canonical text of expected_lumen(), and that text.
struct Backup {
    qix::test::TempDir dir;
    std::string path = (dir / "backup.txt").string();
    std::string text;
    Backup()
    {
        expected_lumen().write_to_file(path);
        text = slurp(path);
    }
};

// ---- the backend terminated while rows are fetched ----------------------------------------

// Six rows, delivered two per fetch. Computing row 3 waits for an advisory lock that the
// test holds, so the reading backend is inside a fetch, with rows already delivered, when
// the test terminates it from its own connection.
std::vector<std::string> gated_facility()
{
    return with_dictionary({
        "CREATE TABLE veduv.gated (pos integer)",
        "INSERT INTO veduv.gated SELECT generate_series(1, 6)",
        "CREATE FUNCTION veduv.gate(pos integer) RETURNS integer LANGUAGE plpgsql AS $$ BEGIN "
        "IF pos = 3 THEN PERFORM pg_advisory_lock(4242); END IF; RETURN pos % 2; END $$",
        "CREATE VIEW veduv.lumen_view_components AS SELECT 'C' || pos AS name, '' AS real_name, '' AS name2, "
        "'' AS section, '' AS group_, '' AS class, '' AS type_, '' AS friendly_name, 0.0 AS x, 0.0 AS y, "
        "0.0 AS z, pos * 1.0 AS s, '' AS link_name, veduv.gate(pos) AS flag_odd FROM veduv.gated",
    });
}

// Runs `read` while a second connection, holding the gate's lock, waits for a backend to
// block on it and terminates that backend. Returns the number of backends terminated.
int terminate_reader_during(Database& admin, const std::function<void()>& read)
{
    std::atomic<int> terminated{0};
    std::thread killer([&] {
        try {
            for (int attempt = 0; attempt < 1000 && terminated == 0; ++attempt) {
                Query query = admin.send_query(
                    "SELECT count(pg_terminate_backend(pid))::integer FROM pg_stat_activity WHERE datname = "
                    "current_database() AND wait_event_type = 'Lock' AND pid <> pg_backend_pid()");
                if (query.fetch())
                    terminated = query.get_column_as_int32_t(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        } catch (const qix::Error&) {
        }
        // Never leave the reader waiting for ever, whatever happened above.
        static_cast<void>(admin.send_query("SELECT pg_advisory_unlock_all()"));
    });
    read();
    killer.join();
    return terminated;
}

TEST(PostgresFaults, BackendTerminatedWhileRowsAreFetched)
{
    qix::test::PostgresSource source({{"UseDeclareFetch", "1"}, {"Fetch", "2"}});
    qix::test::run_raw_statements(source.dsn(), source.user(), gated_facility());
    const Backup backup;

    for (const bool with_backup : {false, true}) {
        SCOPED_TRACE(with_backup ? "read_from_db_with_backup" : "read_from_db");
        Database admin(source.dsn(), source.user(), "");
        static_cast<void>(admin.send_query("SELECT pg_advisory_lock(4242)"));
        Database db(source.dsn(), source.user(), "");
        ComponentList list;
        std::string message;
        const int terminated = terminate_reader_during(admin, [&] {
            if (with_backup)
                message = list.read_from_db_with_backup(db, "lumen", backup.path);
            else
                message = message_of([&] { list.read_from_db(db, "lumen"); });
        });
        EXPECT_EQ(terminated, 1);
        EXPECT_TRUE(message.starts_with("Unable to fetch row: ")) << message;
        if (with_backup) {
            EXPECT_EQ(list, expected_lumen());
        }
        EXPECT_EQ(slurp(backup.path), backup.text);
    }
}

// ---- the server stopped -------------------------------------------------------------------

// A PostgreSQL server of its own, started through scripts/with-postgres and stopped at will.
class OwnServer {
public:
    OwnServer()
    {
        const std::string script = "echo \"$QIX_TEST_PG_PORT\" > \"$0/port.tmp\" && mv \"$0/port.tmp\" \"$0/port\" "
                                   "&& while [ ! -e \"$0/stop\" ]; do sleep 0.1; done";
        const std::string wrapper = QIX_SOURCE_DIR "/scripts/with-postgres";
        const std::string dir = dir_.path().string();
        const char* argv[] = {wrapper.c_str(), "/bin/sh", "-c", script.c_str(), dir.c_str(), nullptr};
        if (::posix_spawn(&pid_, wrapper.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            throw std::runtime_error("Unable to run " + wrapper);
        for (int attempt = 0; attempt < 600 && !fs::exists(dir_ / "port") && running(); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ifstream(dir_ / "port") >> port_;
        if (port_.empty())
            throw std::runtime_error("The own PostgreSQL server did not start");
    }
    OwnServer(const OwnServer&) = delete;
    OwnServer& operator=(const OwnServer&) = delete;
    ~OwnServer() { stop(); }

    [[nodiscard]] const std::string& port() const noexcept { return port_; }

    /// Stops the server (immediately, as a crash would) and removes its files.
    void stop()
    {
        if (pid_ <= 0)
            return;
        std::ofstream(dir_ / "stop").flush();
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
    }

private:
    bool running() { return ::waitpid(pid_, nullptr, WNOHANG) == 0; }

    qix::test::TempDir dir_;
    pid_t pid_ = 0;
    std::string port_;
};

std::string postgres_dsn(const std::string& port)
{
    const auto server = qix::test::PostgresServer::from_environment();
    return qix::test::register_dsn("PostgreSQL", {{"Servername", "127.0.0.1"},
                                                  {"Port", port},
                                                  {"Database", "postgres"},
                                                  {"Username", server.user}});
}

TEST(PostgresFaults, ServerStoppedUnderAnOpenConnectionAndBeforeAConnect)
{
    OwnServer server;
    const std::string dsn = postgres_dsn(server.port());
    const std::string user = qix::test::PostgresServer::from_environment().user;
    qix::test::run_raw_statements(dsn, user, with_dictionary(facility_fixture()));
    Backup backup;

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
    EXPECT_EQ(slurp(backup.path), backup.text);

    // A new connection is refused at once, with the connect message.
    EXPECT_TRUE(finishes_within(kHangBound, [&] {
        Database fresh(dsn, user, "");
        ComponentList loaded;
        return message_of([&] { fresh.connect(); }) == connect_message(dsn) &&
               loaded.read_from_db_with_backup(fresh, "lumen", backup.path) == connect_message(dsn) &&
               loaded == expected_lumen();
    }));
    EXPECT_EQ(slurp(backup.path), backup.text);
    qix::test::unregister_dsn(dsn);
}

// ---- nothing listening, or a listener that never answers ---------------------------------

// A socket bound to a free port of the loopback address, listening or not.
class LoopbackSocket {
public:
    explicit LoopbackSocket(bool listening) : fd_(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            (listening && ::listen(fd_, 8) != 0))
            throw std::runtime_error("Unable to set up a loopback socket");
        port_ = std::to_string(ntohs(address.sin_port));
    }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;
    ~LoopbackSocket() { ::close(fd_); }
    [[nodiscard]] const std::string& port() const noexcept { return port_; }

private:
    int fd_;
    std::string port_;
};

TEST(PostgresFaults, UnreachableAtConnectFallsBackWithoutHanging)
{
    const Backup backup;
    // A bound socket that does not listen refuses connections; one that listens but is never
    // read from holds the client until the login time-out ends its wait.
    for (const bool listening : {false, true}) {
        SCOPED_TRACE(listening ? "silent listener" : "nothing listening");
        const LoopbackSocket socket(listening);
        const std::string dsn = postgres_dsn(socket.port());
        EXPECT_TRUE(finishes_within(kHangBound, [&] {
            Database db(dsn, "", "");
            ComponentList list;
            return list.read_from_db_with_backup(db, "lumen", backup.path) == connect_message(dsn) &&
                   list == expected_lumen();
        }));
        EXPECT_EQ(slurp(backup.path), backup.text);
        qix::test::unregister_dsn(dsn);
    }
}

} // namespace

#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Temporary folders and temporary ODBC data sources for the tests. Every data source gets a
// fresh DSN name in a process-wide configuration folder (the driver manager reads ODBCSYSINI
// only once per process and caches DSN values), and is removed again by its destructor.
namespace qix::test {

/// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

/// The process-wide folder holding odbcinst.ini (drivers "QixLite", "SQLite3", "PostgreSQL")
/// and odbc.ini. Created, and ODBCSYSINI/ODBCINI pointed at it, on first use; removed at exit.
const std::filesystem::path& odbc_config_dir();

/// Adds a data source with a fresh name for `driver` and the given attributes to odbc.ini
/// and returns its name.
std::string register_dsn(const std::string& driver, const std::map<std::string, std::string>& attributes);

/// Removes a data source added by register_dsn (best effort).
void unregister_dsn(const std::string& dsn);

/// A data source of the SQLite ODBC driver (Debian libsqliteodbc) on a new, empty file.
class SqliteOdbcSource {
public:
    SqliteOdbcSource();
    ~SqliteOdbcSource();
    SqliteOdbcSource(const SqliteOdbcSource&) = delete;
    SqliteOdbcSource& operator=(const SqliteOdbcSource&) = delete;
    [[nodiscard]] const std::string& dsn() const noexcept { return dsn_; }

private:
    TempDir dir_;
    std::string dsn_;
};

/// Connection facts of the PostgreSQL server that the test script started, from the
/// environment (QIX_TEST_PG_HOST, QIX_TEST_PG_PORT, QIX_TEST_PG_USER). Throws when they are
/// missing: a test that needs the server fails rather than skips.
struct PostgresServer {
    std::string host;
    std::string port;
    std::string user;
    static PostgresServer from_environment();
};

/// A new PostgreSQL database on the test server with a psqlODBC data source for it; the
/// database is dropped again by the destructor. `extra_attributes` go into odbc.ini as they
/// are (for example UseDeclareFetch=1, Fetch=2 to make psqlODBC fetch in small blocks).
class PostgresSource {
public:
    explicit PostgresSource(const std::map<std::string, std::string>& extra_attributes = {});
    ~PostgresSource();
    PostgresSource(const PostgresSource&) = delete;
    PostgresSource& operator=(const PostgresSource&) = delete;
    [[nodiscard]] const std::string& dsn() const noexcept { return dsn_; }
    [[nodiscard]] const std::string& user() const noexcept { return server_.user; }

private:
    PostgresServer server_;
    std::string database_;
    std::string admin_dsn_;
    std::string dsn_;
};

/// Runs statements through raw ODBC on a data source, outside the library under test, to
/// set up fixtures. Throws std::runtime_error with the driver's diagnostics on failure.
void run_raw_statements(const std::string& dsn, const std::string& user, const std::vector<std::string>& statements);

} // namespace qix::test

#include "DataSource.h"
#include "RawOdbc.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace qix::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSqliteOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
constexpr const char* kPsqlOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so";

std::string unique_suffix()
{
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    std::ostringstream out;
    out << ::getpid() << '_' << std::hex << salt << '_' << std::dec << counter++;
    return out.str();
}

fs::path make_temp_dir()
{
    std::string pattern = (fs::temp_directory_path() / "qix_test_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("Unable to create a temporary folder from " + pattern);
    return pattern;
}

// Owns the configuration folder for the life of the process.
struct ConfigDir {
    fs::path path = make_temp_dir();

    ConfigDir()
    {
        std::ofstream inst(path / "odbcinst.ini");
        inst << "[QixLite]\nDriver = " << QIX_LITE_DRIVER_PATH << "\n\n";
        inst << "[SQLite3]\nDriver = " << kSqliteOdbcDriver << "\n\n";
        inst << "[PostgreSQL]\nDriver = " << kPsqlOdbcDriver << "\n";
        std::ofstream(path / "odbc.ini").flush();
        ::setenv("ODBCSYSINI", path.c_str(), 1);
        ::setenv("ODBCINI", (path / "odbc.ini").c_str(), 1);
    }
    ~ConfigDir()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

std::map<std::string, std::string> pg_attributes(const PostgresServer& server, const std::string& database)
{
    return {{"Servername", server.host}, {"Port", server.port}, {"Database", database}, {"Username", server.user}};
}

} // namespace

TempDir::TempDir() : path_(make_temp_dir()) {}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

const fs::path& odbc_config_dir()
{
    static ConfigDir dir;
    return dir.path;
}

std::string register_dsn(const std::string& driver, const std::map<std::string, std::string>& attributes)
{
    const std::string dsn = "qixtest_" + unique_suffix();
    std::ofstream ini(odbc_config_dir() / "odbc.ini", std::ios::app);
    ini << '[' << dsn << "]\nDriver = " << driver << '\n';
    for (const auto& [key, value] : attributes)
        ini << key << " = " << value << '\n';
    ini << '\n';
    if (!ini)
        throw std::runtime_error("Unable to write odbc.ini for " + dsn);
    return dsn;
}

void unregister_dsn(const std::string& dsn)
{
    const fs::path file = odbc_config_dir() / "odbc.ini";
    std::ifstream in(file);
    std::ostringstream kept;
    std::string line;
    bool skipping = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.front() == '[')
            skipping = (line == '[' + dsn + ']');
        if (!skipping)
            kept << line << '\n';
    }
    in.close();
    std::ofstream(file, std::ios::trunc) << kept.str();
}

SqliteOdbcSource::SqliteOdbcSource() : dsn_(register_dsn("SQLite3", {{"Database", (dir_ / "test.db").string()}})) {}

SqliteOdbcSource::~SqliteOdbcSource() { unregister_dsn(dsn_); }

PostgresServer PostgresServer::from_environment()
{
    auto get = [](const char* name) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0')
            throw std::runtime_error(std::string("PostgreSQL test server not configured: ") + name +
                                     " is not set (run the tests through scripts/test)");
        return std::string(value);
    };
    return {get("QIX_TEST_PG_HOST"), get("QIX_TEST_PG_PORT"), get("QIX_TEST_PG_USER")};
}

PostgresSource::PostgresSource(const std::map<std::string, std::string>& extra_attributes)
    : server_(PostgresServer::from_environment()), database_("qt_" + unique_suffix())
{
    admin_dsn_ = register_dsn("PostgreSQL", pg_attributes(server_, "postgres"));
    run_raw_statements(admin_dsn_, server_.user, {"CREATE DATABASE " + database_});
    auto attributes = pg_attributes(server_, database_);
    for (const auto& [key, value] : extra_attributes)
        attributes[key] = value;
    dsn_ = register_dsn("PostgreSQL", attributes);
}

PostgresSource::~PostgresSource()
{
    try {
        run_raw_statements(admin_dsn_, server_.user, {"DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)"});
    } catch (...) {
        // The server may already be gone; nothing else to clean up here.
    }
    unregister_dsn(dsn_);
    unregister_dsn(admin_dsn_);
}

void run_raw_statements(const std::string& dsn, const std::string& user, const std::vector<std::string>& statements)
{
    const RawConnection connection(dsn, user);
    for (const auto& statement : statements)
        connection.execute(statement);
}

} // namespace qix::test

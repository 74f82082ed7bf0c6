#include "Connection.h"

#include "Catalogue.h"
#include "Statement.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <thread>

namespace qix::lite {

namespace {

// Checked between SQLite VM instructions; small enough that a time-out is noticed within
// milliseconds, large enough to cost nothing measurable.
constexpr int kProgressInterval = 1000;
// How long a statement without a query time-out waits for another connection's write lock.
constexpr std::chrono::seconds kDefaultLockWait{5};
// A waiting writer polls the lock this often: short enough that a lock released between two of
// another writer's single-row commits is taken at once, long enough not to spin a core.
constexpr std::chrono::microseconds kFirstLockPoll{200};
constexpr std::chrono::milliseconds kLockPoll{2};

bool is_identifier(const std::string& name)
{
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front())))
        return false;
    return std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

std::string state_for(int rc, std::string_view message)
{
    switch (rc & 0xff) {
    case SQLITE_CONSTRAINT: return "23000";
    case SQLITE_MISMATCH: return "22018";
    case SQLITE_TOOBIG: return "22001";
    case SQLITE_RANGE: return "07009";
    case SQLITE_NOMEM: return "HY001";
    case SQLITE_ERROR:
        if (message.starts_with("no such table"))
            return "42S02";
        if (message.starts_with("no such column"))
            return "42S22";
        if (message.find("already exists") != std::string_view::npos)
            return "42S01";
        return "42000";
    default: return "HY000";
    }
}

SQLUINTEGER integer_attribute(SQLPOINTER value) { return static_cast<SQLUINTEGER>(reinterpret_cast<SQLULEN>(value)); }

} // namespace

Connection::Connection(Environment& environment) : Handle(kKind), environment_(environment)
{
    ++environment_.connection_count;
}

Connection::~Connection()
{
    disconnect();
    --environment_.connection_count;
}

void Connection::connect(const Settings& settings)
{
    if (db_ != nullptr)
        throw DriverError("08002", "Connection name in use: the connection is already open");
    if (settings.database.empty())
        throw DriverError("08001", "Data source '" + settings.dsn + "' names no database file (attribute Database)");
    for (const std::string& schema : settings.schemas)
        if (!is_identifier(schema) || schema == "MAIN" || schema == "TEMP")
            throw DriverError("08001", "Invalid schema name '" + schema + "' in attribute Schemas of data source '" +
                                           settings.dsn + "'");
    if (!settings.create) {
        // Name every missing file, one record each; the last one is the error thrown.
        std::vector<std::string> missing;
        if (!std::filesystem::is_regular_file(settings.database))
            missing.push_back("Database file '" + settings.database + "' does not exist");
        for (const std::string& schema : settings.schemas)
            if (!std::filesystem::is_regular_file(settings.schema_file(schema)))
                missing.push_back("File '" + settings.schema_file(schema) + "' of schema " + schema +
                                  " does not exist");
        for (std::size_t i = 0; i + 1 < missing.size(); ++i)
            diagnostics().add("08001", missing[i]);
        if (!missing.empty())
            throw DriverError("08001", missing.back());
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (settings.create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(settings.database.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = "Unable to open database file '" + settings.database +
                              "': " + (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw DriverError("08001", message, rc);
    }
    settings_ = settings;
    try {
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_handler(db_, &Connection::on_busy, this);
        attach_schemas();
        use_write_ahead_log();
        register_catalogue_functions(db_);
        create_dictionary_views(db_, settings_.schemas);
        sqlite3_progress_handler(db_, kProgressInterval, &Connection::on_progress, this);
    } catch (...) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        settings_ = {};
        throw;
    }
}

void Connection::attach_schemas()
{
    for (const std::string& schema : settings_.schemas) {
        const std::string file = settings_.schema_file(schema);
        sqlite3_stmt* attach = nullptr;
        int rc = sqlite3_prepare_v2(db_, "ATTACH DATABASE ?1 AS ?2", -1, &attach, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_bind_text(attach, 1, file.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(attach, 2, schema.c_str(), -1, SQLITE_TRANSIENT);
            rc = sqlite3_step(attach);
            rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
        }
        const std::string message = rc == SQLITE_OK ? "" : sqlite3_errmsg(db_);
        sqlite3_finalize(attach);
        if (rc != SQLITE_OK)
            throw DriverError("08001", "Unable to attach file '" + file + "' as schema " + schema + ": " + message, rc);
    }
}

void Connection::use_write_ahead_log()
{
    // With a write-ahead log, readers keep reading the last committed state while a writer
    // commits, instead of waiting for it. The mode is kept in the file, so only the first
    // connection to a file changes it (which needs the file to itself for a moment).
    std::vector<std::string> files{"main"};
    files.insert(files.end(), settings_.schemas.begin(), settings_.schemas.end());
    for (const std::string& schema : files) {
        // An in-memory database (":memory:") has no file to share and keeps its journal in memory.
        // A file SQLite could open for reading only has no writers to make way for.
        const std::string pragma = "PRAGMA \"" + schema + "\".journal_mode";
        const std::string current = query_text(pragma);
        if (current == "wal" || current == "memory" || sqlite3_db_readonly(db_, schema.c_str()) == 1)
            continue;
        const std::string mode = query_text(pragma + " = WAL");
        if (mode != "wal")
            throw DriverError("08001", "Unable to use a write-ahead log for schema " + schema +
                                           " (journal mode stays '" + mode + "')");
    }
}

std::string Connection::query_text(const std::string& sql)
{
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
    std::string result;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            result = text != nullptr ? text : "";
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_OK && rc != SQLITE_DONE)
        raise(rc);
    return result;
}

void Connection::disconnect() noexcept
{
    statements_.clear();
    if (db_ != nullptr) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    session_format_.reset();
    settings_ = {};
}

sqlite3* Connection::db() const
{
    if (db_ == nullptr)
        throw DriverError("08003", "Connection not open");
    return db_;
}

Statement& Connection::allocate_statement()
{
    (void)db();
    statements_.push_back(std::make_unique<Statement>(*this));
    return *statements_.back();
}

void Connection::free_statement(Statement& statement) noexcept
{
    auto found = std::find_if(statements_.begin(), statements_.end(),
                              [&](const std::unique_ptr<Statement>& s) { return s.get() == &statement; });
    if (found != statements_.end())
        statements_.erase(found);
}

void Connection::set_session_format(std::string_view format) { session_format_ = TimestampFormat::parse(format); }

const TimestampFormat& Connection::session_format() const noexcept
{
    return session_format_ ? *session_format_ : TimestampFormat::oracle_default();
}

Connection::Watch::Watch(Connection& connection, SQLULEN timeout_seconds, const std::atomic<bool>& cancel) noexcept
    : connection_(connection)
{
    connection_.cancel_ = &cancel;
    connection_.timed_out_ = false;
    connection_.lock_timed_out_ = false;
    connection_.has_deadline_ = timeout_seconds > 0;
    if (connection_.has_deadline_)
        connection_.deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
}

Connection::Watch::~Watch()
{
    connection_.cancel_ = nullptr;
    connection_.has_deadline_ = false;
}

int Connection::on_busy(void* self, int attempt) noexcept
{
    // SQLite's own busy time-out sleeps in steps of up to 100 ms, and of a whole second where it
    // was built without usleep; another writer's single-row commit takes well under a
    // millisecond, so poll in short sleeps instead, up to the statement's query time-out.
    auto* connection = static_cast<Connection*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (attempt == 0) {
        connection->lock_timed_out_ = false;
        connection->lock_wait_limit_ = connection->has_deadline_ ? connection->deadline_ : now + kDefaultLockWait;
        connection->lock_wait_seconds_ =
            connection->has_deadline_ ? std::chrono::ceil<std::chrono::seconds>(connection->deadline_ - now).count()
                                      : kDefaultLockWait.count();
    }
    if (now >= connection->lock_wait_limit_ ||
        (connection->cancel_ != nullptr && connection->cancel_->load(std::memory_order_relaxed))) {
        connection->lock_timed_out_ = true;
        return 0;
    }
    if (attempt < 10)
        std::this_thread::sleep_for(kFirstLockPoll);
    else
        std::this_thread::sleep_for(kLockPoll);
    return 1;
}

int Connection::on_progress(void* self) noexcept
{
    auto* connection = static_cast<Connection*>(self);
    if (connection->cancel_ != nullptr && connection->cancel_->load(std::memory_order_relaxed))
        return 1;
    if (connection->has_deadline_ && std::chrono::steady_clock::now() >= connection->deadline_) {
        connection->timed_out_ = true;
        return 1;
    }
    return 0;
}

void Connection::raise(int rc) const
{
    if ((rc & 0xff) == SQLITE_INTERRUPT) {
        if (timed_out_)
            throw DriverError("HYT00", "Timeout expired: the statement ran past its query time-out", rc);
        throw DriverError("HY008", "Operation canceled", rc);
    }
    std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    if (rc == SQLITE_BUSY_SNAPSHOT)
        message += ": another connection committed after this transaction read; roll it back and run it again";
    else if ((rc & 0xff) == SQLITE_BUSY && lock_timed_out_)
        message += ": another connection held a write transaction open for longer than the " +
                   std::to_string(lock_wait_seconds_) + " s this statement may wait for it (the query time-out)";
    throw DriverError(state_for(rc, message), message, rc);
}

void Connection::execute(const char* sql)
{
    const int rc = sqlite3_exec(db(), sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        raise(rc);
}

void Connection::begin_if_manual_commit()
{
    if (autocommit_ == SQL_AUTOCOMMIT_OFF && sqlite3_get_autocommit(db()) != 0)
        execute("BEGIN");
}

void Connection::end_transaction(SQLSMALLINT completion)
{
    if (completion != SQL_COMMIT && completion != SQL_ROLLBACK)
        throw DriverError("HY012", "Invalid transaction operation code");
    if (sqlite3_get_autocommit(db()) == 0)
        execute(completion == SQL_COMMIT ? "COMMIT" : "ROLLBACK");
}

SQLRETURN Connection::set_attribute(SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER)
{
    const SQLUINTEGER number = integer_attribute(value);
    switch (attribute) {
    case SQL_ATTR_LOGIN_TIMEOUT:
        login_timeout_ = number; // opening a local file does not wait for anything
        return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_TIMEOUT:
    case SQL_ATTR_QUIET_MODE: return SQL_SUCCESS;
    case SQL_ATTR_AUTOCOMMIT:
        if (number != SQL_AUTOCOMMIT_ON && number != SQL_AUTOCOMMIT_OFF)
            throw DriverError("HY024", "Invalid attribute value for SQL_ATTR_AUTOCOMMIT");
        if (number == SQL_AUTOCOMMIT_ON && db_ != nullptr && sqlite3_get_autocommit(db_) == 0)
            execute("COMMIT");
        autocommit_ = number;
        return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE:
        if (number != SQL_MODE_READ_WRITE)
            throw DriverError("HYC00", "Optional feature not implemented: read-only connections");
        return SQL_SUCCESS;
    case SQL_ATTR_TXN_ISOLATION:
        if (number != SQL_TXN_SERIALIZABLE)
            throw DriverError("HYC00", "Optional feature not implemented: only serializable transactions");
        return SQL_SUCCESS;
    default: throw DriverError("HY092", "Invalid attribute identifier " + std::to_string(attribute));
    }
}

SQLRETURN Connection::get_attribute(SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER*) const
{
    switch (attribute) {
    case SQL_ATTR_LOGIN_TIMEOUT: return put_value<SQLUINTEGER>(value, login_timeout_);
    case SQL_ATTR_CONNECTION_TIMEOUT: return put_value<SQLUINTEGER>(value, 0);
    case SQL_ATTR_AUTOCOMMIT: return put_value<SQLUINTEGER>(value, autocommit_);
    case SQL_ATTR_ACCESS_MODE: return put_value<SQLUINTEGER>(value, SQL_MODE_READ_WRITE);
    case SQL_ATTR_TXN_ISOLATION: return put_value<SQLUINTEGER>(value, SQL_TXN_SERIALIZABLE);
    case SQL_ATTR_CONNECTION_DEAD: return put_value<SQLUINTEGER>(value, db_ != nullptr ? SQL_CD_FALSE : SQL_CD_TRUE);
    default: throw DriverError("HY092", "Invalid attribute identifier " + std::to_string(attribute));
    }
}

} // namespace qix::lite

#pragma once

#include "Handles.h"
#include "Settings.h"
#include "TimestampFormat.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qix::lite {

class Statement;

/// An environment handle: the ODBC version the application asked for and its connections.
class Environment : public Handle {
public:
    static constexpr HandleKind kKind = HandleKind::environment;
    Environment() : Handle(kKind) {}

    SQLINTEGER odbc_version = SQL_OV_ODBC3;
    int connection_count = 0;
};

/// A connection handle: one SQLite database with the schemas of its data source attached, the
/// Oracle session setting, and the statements allocated on it.
class Connection : public Handle {
public:
    static constexpr HandleKind kKind = HandleKind::connection;

    explicit Connection(Environment& environment);
    ~Connection() override;

    /// Opens the main file of `settings`, attaches its schemas and creates the data dictionary.
    /// Throws DriverError (08001 naming every missing file, 08002 when already connected); on
    /// failure nothing stays open.
    void connect(const Settings& settings);
    /// Frees every statement still allocated, then closes the database. Never throws.
    void disconnect() noexcept;
    [[nodiscard]] bool is_connected() const noexcept { return db_ != nullptr; }
    /// The open database; throws DriverError 08003 when not connected.
    [[nodiscard]] sqlite3* db() const;
    [[nodiscard]] const Settings& settings() const noexcept { return settings_; }
    [[nodiscard]] Environment& environment() noexcept { return environment_; }

    /// A new statement owned by this connection; throws 08003 when not connected.
    [[nodiscard]] Statement& allocate_statement();
    /// Frees a statement of this connection.
    void free_statement(Statement& statement) noexcept;

    /// ALTER SESSION SET NLS_TIMESTAMP_FORMAT; throws DriverError (HY024) for an unsupported format.
    void set_session_format(std::string_view format);
    /// The session's timestamp format, or Oracle's default rendering when none was set.
    [[nodiscard]] const TimestampFormat& session_format() const noexcept;

    /// Runs SQLite work under a query time-out and a cancel flag: while it lives, SQLite's
    /// progress handler interrupts the work once `timeout_seconds` (0: none) have passed or
    /// `cancel` becomes true.
    class Watch {
    public:
        Watch(Connection& connection, SQLULEN timeout_seconds, const std::atomic<bool>& cancel) noexcept;
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        ~Watch();

    private:
        Connection& connection_;
    };

    /// Throws the DriverError for a failed SQLite call: HYT00 after a time-out, HY008 after a
    /// cancel, otherwise a state chosen from the result code, with SQLite's message.
    [[noreturn]] void raise(int rc) const;

    /// Starts a transaction when auto-commit is off and none is open (before every statement).
    void begin_if_manual_commit();
    /// Runs a statement of the driver's own, such as transaction control; throws DriverError.
    void execute(const char* sql);
    /// SQLEndTran: commits or rolls back an open transaction.
    void end_transaction(SQLSMALLINT completion);

    SQLRETURN set_attribute(SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
    SQLRETURN get_attribute(SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER buffer_length, SQLINTEGER* length) const;

private:
    static int on_progress(void* self) noexcept;
    static int on_busy(void* self, int attempt) noexcept;
    void attach_schemas();
    void use_write_ahead_log();
    std::string query_text(const std::string& sql);

    Environment& environment_;
    sqlite3* db_ = nullptr;
    Settings settings_;
    std::vector<std::unique_ptr<Statement>> statements_;
    std::optional<TimestampFormat> session_format_;
    SQLUINTEGER login_timeout_ = 0;
    SQLUINTEGER autocommit_ = SQL_AUTOCOMMIT_ON;

    // State of the running Watch, read by the progress handler.
    std::chrono::steady_clock::time_point deadline_{};
    bool has_deadline_ = false;
    const std::atomic<bool>* cancel_ = nullptr;
    bool timed_out_ = false;

    // State of a wait for another connection's lock, kept by the busy handler.
    std::chrono::steady_clock::time_point lock_wait_limit_{};
    long long lock_wait_seconds_ = 0;
    bool lock_timed_out_ = false;
};

} // namespace qix::lite

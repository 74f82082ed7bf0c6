#pragma once

#include <qix/sql/types.h>
#include <qix/util/export.h>

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

namespace qix::sql {

/// Record of one bound column or parameter: the caller's buffer (not owned) and the
/// length/indicator cell handed to the driver. The driver keeps the cell's address, so
/// records live in map nodes, which never move.
struct BoundRecord {
    CDataType datatype;
    SQLPOINTER buf;
    SQLLEN buf_len;
    SQLLEN bytes_read;
};

/// Owner of an ODBC environment handle. Movable, not copyable; a moved-from or
/// default-constructed owner owns nothing and makes no ODBC call.
class QIX_SQL_API EnvironmentHandle {
public:
    EnvironmentHandle() = default;
    EnvironmentHandle(const EnvironmentHandle&) = delete;
    EnvironmentHandle& operator=(const EnvironmentHandle&) = delete;
    EnvironmentHandle(EnvironmentHandle&& ori) noexcept;
    EnvironmentHandle& operator=(EnvironmentHandle&& ori) noexcept;
    ~EnvironmentHandle();

    /// Allocates the environment and asks for ODBC 3 behaviour. Throws qix::Error if the
    /// handle is already allocated or the driver manager refuses either step.
    void alloc();
    /// Releases the handle if one is owned; never throws.
    void free() noexcept;

    SQLHENV operator()() const noexcept { return handle_; }
    [[nodiscard]] bool is_allocated() const noexcept { return is_allocated_; }

private:
    SQLHENV handle_ = SQL_NULL_HENV;
    bool is_allocated_ = false;
};

/// Owner of an ODBC connection handle; same ownership rules as EnvironmentHandle.
class QIX_SQL_API ConnectionHandle {
public:
    ConnectionHandle() = default;
    ConnectionHandle(const ConnectionHandle&) = delete;
    ConnectionHandle& operator=(const ConnectionHandle&) = delete;
    ConnectionHandle(ConnectionHandle&& ori) noexcept;
    ConnectionHandle& operator=(ConnectionHandle&& ori) noexcept;
    ~ConnectionHandle();

    /// Allocates a connection on `env_handle` with a 5-second login time-out. Throws
    /// qix::Error if already allocated, if the environment is not, or if allocation fails.
    void alloc(const EnvironmentHandle& env_handle);
    void free() noexcept;

    SQLHDBC operator()() const noexcept { return handle_; }
    [[nodiscard]] bool is_allocated() const noexcept { return is_allocated_; }

private:
    SQLHDBC handle_ = SQL_NULL_HDBC;
    bool is_allocated_ = false;
};

/// Owner of an ODBC statement handle. Every statement-level ODBC call of the library goes
/// through it, and every failure becomes a qix::Error carrying the driver's diagnostics.
class QIX_SQL_API StatementHandle {
public:
    StatementHandle() = default;
    StatementHandle(const StatementHandle&) = delete;
    StatementHandle& operator=(const StatementHandle&) = delete;
    StatementHandle(StatementHandle&& ori) noexcept;
    StatementHandle& operator=(StatementHandle&& ori) noexcept;
    ~StatementHandle();

    /// Allocates a statement on `conn_handle` with a 10-second query time-out (a driver that
    /// refuses the time-out is tolerated). Throws qix::Error on the conditions of alloc().
    void alloc(const ConnectionHandle& conn_handle);
    void free() noexcept;

    SQLHSTMT operator()() const noexcept { return handle_; }
    [[nodiscard]] bool is_allocated() const noexcept { return is_allocated_; }

    /// Executes a procedure call; SQL_NEED_DATA and SQL_NO_DATA count as success.
    /// Throws "Error executing '<statement>': <diagnostics>".
    void execute(const std::string& statement);
    /// Executes a query; SQL_NO_DATA counts as success.
    /// Throws "Query failed: <diagnostics> (<query>)".
    void send_query(const std::string& query);
    /// Fetches the next row: true for a row, false at the end of the rows. Any other
    /// outcome is a driver error and throws "Unable to fetch row: <diagnostics>", so that a
    /// broken read can never pass for a complete one.
    [[nodiscard]] bool fetch();
    /// Cancels the statement (closing an open cursor); the driver's answer is ignored.
    void cancel();
    /// Closes an open cursor, if any, keeping every binding (SQLFreeStmt with SQL_CLOSE);
    /// the driver's answer is ignored.
    void close_cursor();
    void bind_column(int column, CDataType datatype, SQLPOINTER buf, SQLLEN buf_len, SQLLEN* ret_len);
    void bind_parameter(SQLUSMALLINT param_idx, ParameterType param_type, CDataType c_data_type,
                        SqlDataType sql_data_type, SQLULEN sql_data_type_length_or_precision,
                        SQLSMALLINT decimal_digits, SQLPOINTER buf, SQLLEN buf_len, SQLLEN* ret_len);
    void get_data(int column, SQLSMALLINT datatype, SQLPOINTER buf, SQLLEN buf_len, SQLLEN* ret_len);
    void set_attribute(AttributeType attr_type, SQLPOINTER value_ptr, SQLINTEGER str_len);
    /// Number of result columns (SQLNumResultCols); throws "Unable to count result columns: ...".
    [[nodiscard]] int get_column_count();
    /// What the driver says of a result column: its SQL type, decimal digits and type name.
    /// A driver that cannot tell answers SQL_UNKNOWN_TYPE, 0 and "".
    struct ColumnDescription {
        SQLSMALLINT sql_type = SQL_UNKNOWN_TYPE;
        SQLSMALLINT digits = 0;
        std::string type_name;
    };
    [[nodiscard]] ColumnDescription describe_column(int column) const;

    /// The whole text of a column of the current row, read in 1023-byte chunks; embedded
    /// NUL bytes are kept. Sets *was_null (if given) when the value is NULL.
    [[nodiscard]] std::string get_data_as_string(int column, bool* was_null);
    /// The whole binary value of a column of the current row, read in 4096-byte chunks.
    [[nodiscard]] std::vector<unsigned char> get_data_as_binary(int column, bool* was_null);

    /// The message texts of the statement's diagnostic records, concatenated (at most 64
    /// records are read). Call it right after the failing call.
    [[nodiscard]] std::string get_error_message() const;

private:
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
    bool is_allocated_ = false;
};

} // namespace qix::sql

#pragma once

#include "Connection.h"
#include "Conversion.h"
#include "Handles.h"
#include "OracleStatements.h"
#include "SqlText.h"

#include <sqlite3.h>

#include <atomic>
#include <string>
#include <vector>

namespace qix::lite {

/// A statement handle: one SQLite statement (or one Oracle statement the driver carries out
/// itself), its bound columns and parameters, its cursor and its attributes. All methods throw
/// DriverError for failures that end a call with SQL_ERROR; warnings go to the diagnostic area
/// with SQL_SUCCESS_WITH_INFO. The cursor and fetch live in Cursor.cc, the attributes in
/// StatementAttributes.cc.
class Statement : public Handle {
public:
    static constexpr HandleKind kKind = HandleKind::statement;

    explicit Statement(Connection& connection);
    ~Statement() override;

    [[nodiscard]] Connection& connection() noexcept { return connection_; }

    /// SQLPrepare: compiles one statement; more than one statement in the text is an error.
    void prepare(const SQLCHAR* text, SQLINTEGER length);
    /// SQLExecute: binds the parameters' current values and runs the statement up to its first
    /// row. A searched UPDATE or DELETE that changes no row returns SQL_NO_DATA.
    SQLRETURN execute();
    /// Runs a catalogue function's query like an SQLExecDirect whose result columns are
    /// described with `types`.
    SQLRETURN execute_catalogue(const std::string& sql, const std::vector<ColumnType>& types);
    /// SQLFetch: the next row, or the next rowset when SQL_ATTR_ROW_ARRAY_SIZE is above 1.
    SQLRETURN fetch();
    /// SQLGetData on the current row; continues where the last call on the same column stopped.
    SQLRETURN get_data(SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER buffer, SQLLEN buffer_length,
                       SQLLEN* indicator);
    void bind_column(SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER buffer, SQLLEN buffer_length,
                     SQLLEN* indicator);
    void bind_parameter(SQLUSMALLINT number, SQLSMALLINT io_type, SQLSMALLINT c_type, SQLSMALLINT sql_type,
                        SQLULEN column_size, SQLSMALLINT digits, SQLPOINTER buffer, SQLLEN buffer_length,
                        SQLLEN* indicator);

    [[nodiscard]] SQLSMALLINT result_column_count() const;
    [[nodiscard]] SQLSMALLINT parameter_count() const;
    SQLRETURN describe_column(SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT buffer_length, SQLSMALLINT* name_length,
                              SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) const;
    SQLRETURN column_attribute(SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text, SQLSMALLINT buffer_length,
                               SQLSMALLINT* length, SQLLEN* number) const;
    [[nodiscard]] SQLLEN row_count() const;

    /// Closes the cursor; with `must_be_open` a missing cursor is error 24000.
    void close_cursor(bool must_be_open);
    /// SQLCancel from another thread: when the statement is running, asks SQLite to interrupt it
    /// and returns true; otherwise returns false and changes nothing.
    bool interrupt() noexcept;
    void unbind_columns() noexcept
    {
        bindings_.clear();
        plan_ready_ = false;
    }
    void reset_parameters() noexcept { parameters_.clear(); }

    SQLRETURN set_attribute(SQLINTEGER attribute, SQLPOINTER value);
    SQLRETURN get_attribute(SQLINTEGER attribute, SQLPOINTER value) const;

private:
    enum class State { allocated, prepared, executed, cursor_open };
    struct Column {
        std::string name;
        std::string declared_type;
        ColumnType type;
        bool constraints_read = false; // nullability is looked up when first asked for
    };
    struct ColumnBinding {
        SQLSMALLINT c_type = 0; // 0: not bound
        SQLPOINTER buffer = nullptr;
        SQLLEN buffer_length = 0;
        SQLLEN* indicator = nullptr;
    };
    // How a fetch delivers one bound column, worked out once per execute and binding: where its
    // elements lie and, for the common pairs of stored value and C type, a direct conversion.
    // Every other value takes the general one (deliver), which knows every pair and error.
    enum class Route : unsigned char { text, real, unsigned16, signed32, signed64, general };
    struct ColumnPlan {
        int index = 0;
        SQLSMALLINT c_type = 0;
        Route route = Route::general;
        char* buffer = nullptr;
        SQLLEN buffer_length = 0;
        SQLLEN stride = 0; // from one row's element to the next
        char* indicator = nullptr;
        SQLLEN indicator_stride = 0;
        SQLLEN size = 0; // of a fixed-size element
    };

    // Marks a statement as running for the whole of an execute or fetch, so that SQLCancel from
    // another thread interrupts it instead of touching its cursor.
    class Running {
    public:
        explicit Running(std::atomic<bool>& flag) noexcept : flag_(flag) { flag_.store(true); }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
        ~Running() { flag_.store(false); }

    private:
        std::atomic<bool>& flag_;
    };

    static std::string column_text(SQLUSMALLINT column);

    void finalize() noexcept;
    void read_columns();
    void bind_parameters(SQLULEN row = 0);
    SQLRETURN execute_once();
    SQLRETURN execute_parameter_array();
    [[nodiscard]] SQLSMALLINT nullability(SQLUSMALLINT column) const;
    [[noreturn]] void fail(int rc);
    bool advance();
    [[nodiscard]] Cell cell(int index) const;
    Outcome deliver(int index, SQLSMALLINT c_type, void* buffer, SQLLEN buffer_length, SQLLEN* indicator,
                    std::size_t& offset, std::string& scratch, std::string& wide);
    SQLUSMALLINT deliver_row(SQLULEN row);
    void make_plan();
    bool deliver_directly(const ColumnPlan& plan, char* target, SQLLEN* indicator, Outcome& outcome);
    [[nodiscard]] const Column& column_at(SQLUSMALLINT column) const;
    void require_result() const;

    Connection& connection_;
    sqlite3_stmt* stmt_ = nullptr;
    std::string sql_;
    StatementKind kind_ = StatementKind::other;
    OracleAction oracle_action_; // set for a statement the driver carries out itself
    State state_ = State::allocated;
    mutable std::vector<Column> columns_;
    std::vector<ColumnBinding> bindings_;
    std::vector<ColumnPlan> plan_;
    bool plan_ready_ = false;
    std::vector<ParameterBinding> parameters_;
    SQLLEN row_count_ = -1;

    // Cursor: execution steps onto the first row before the first fetch delivers it.
    bool row_pending_ = false;
    bool at_end_ = false;
    bool on_row_ = false;
    SQLULEN rows_delivered_ = 0;
    std::atomic<bool> cancel_requested_{false};
    std::atomic<bool> running_{false};

    // SQLGetData's progress in the current row, and scratch text for bound columns.
    SQLUSMALLINT data_column_ = 0;
    std::size_t data_offset_ = 0;
    bool data_done_ = false;
    std::string data_text_;
    std::string data_wide_; // UTF-16 of the column SQLGetData is reading as wide characters
    std::string scratch_;
    std::string wide_scratch_;

    // Statement attributes.
    SQLULEN query_timeout_ = 0;
    SQLULEN max_rows_ = 0;
    SQLULEN row_array_size_ = 1;
    SQLULEN row_bind_type_ = SQL_BIND_BY_COLUMN;
    SQLULEN* rows_fetched_ = nullptr;
    SQLUSMALLINT* row_status_ = nullptr;
    SQLLEN* row_bind_offset_ = nullptr;
    SQLULEN paramset_size_ = 1;
    SQLULEN param_bind_type_ = SQL_PARAM_BIND_BY_COLUMN;
    SQLLEN* param_bind_offset_ = nullptr;
    SQLULEN* params_processed_ = nullptr;
    SQLUSMALLINT* param_status_ = nullptr;
};

} // namespace qix::lite

#include "Statement.h"

#include "Utf16.h"

#include <cstring>
#include <utility>

namespace qix::lite {

namespace {

bool is_valid_sql_type(SQLSMALLINT type)
{
    return (type >= SQL_GUID && type <= SQL_LONGVARCHAR) || (type >= SQL_CHAR && type <= SQL_VARCHAR) ||
           (type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP) ||
           (type >= SQL_INTERVAL_YEAR && type <= SQL_INTERVAL_MINUTE_TO_SECOND);
}

std::string column_text(SQLUSMALLINT column) { return "column " + std::to_string(column); }

SQLLEN display_size(const ColumnType& type)
{
    switch (type.sql_type) {
    case SQL_BIGINT: return 20;
    case SQL_INTEGER: return 11;
    case SQL_SMALLINT: return 6;
    case SQL_TINYINT: return 4;
    case SQL_DOUBLE: return 24;
    case SQL_BIT: return 1;
    case SQL_NUMERIC: return static_cast<SQLLEN>(type.size) + 2;
    case SQL_VARBINARY: return static_cast<SQLLEN>(type.size) * 2;
    default: return static_cast<SQLLEN>(type.size);
    }
}

bool is_numeric(SQLSMALLINT sql_type)
{
    switch (sql_type) {
    case SQL_BIGINT: case SQL_INTEGER: case SQL_SMALLINT: case SQL_TINYINT: case SQL_DOUBLE: case SQL_NUMERIC:
    case SQL_BIT:
        return true;
    default:
        return false;
    }
}

SQLULEN ulen(SQLPOINTER value) { return reinterpret_cast<SQLULEN>(value); }

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

} // namespace

Statement::Statement(Connection& connection) : Handle(kKind), connection_(connection) {}

Statement::~Statement() { finalize(); }

void Statement::finalize() noexcept
{
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    columns_.clear();
    plan_ready_ = false;
    state_ = State::allocated;
    row_pending_ = at_end_ = on_row_ = false;
}

void Statement::prepare(const SQLCHAR* text, SQLINTEGER length)
{
    if (state_ == State::cursor_open)
        throw DriverError("24000", "Invalid cursor state: close the cursor before preparing another statement");
    std::string sql = string_in(text, length);
    finalize();
    row_count_ = -1;
    kind_ = classify_statement(sql);
    if (kind_ == StatementKind::alter_session) {
        (void)parse_alter_session(sql);  // report a malformed statement at once
        sql_ = std::move(sql);
        state_ = State::prepared;
        return;
    }
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v3(connection_.db(), sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &stmt_, &tail);
    if (rc != SQLITE_OK)
        connection_.raise(rc);
    if (stmt_ == nullptr)
        throw DriverError("42000", "Syntax error: the statement text holds no statement");
    const std::string_view rest(tail, static_cast<std::size_t>(sql.data() + sql.size() - tail));
    if (!is_empty_statement_tail(rest)) {
        finalize();
        throw DriverError("42000", "Only one statement per call is supported; more text follows the first: '" +
                                       std::string(rest) + "'");
    }
    sql_ = std::move(sql);
    read_columns();
    state_ = State::prepared;
}

void Statement::read_columns()
{
    const int count = sqlite3_column_count(stmt_);
    columns_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const char* declared = sqlite3_column_decltype(stmt_, i);
        Column& column = columns_[static_cast<std::size_t>(i)];
        column.name = sqlite3_column_name(stmt_, i);
        column.declared_type = declared != nullptr ? declared : "";
        column.type = column_type_from_declaration(declared);
    }
}

void Statement::bind_parameters(SQLULEN row)
{
    const SQLLEN offset = param_bind_offset_ != nullptr ? *param_bind_offset_ : 0;
    const int count = sqlite3_bind_parameter_count(stmt_);
    for (int i = 1; i <= count; ++i) {
        const auto index = static_cast<std::size_t>(i - 1);
        if (index >= parameters_.size() || !parameters_[index].bound)
            throw DriverError("07002", "COUNT field incorrect: the statement has " + std::to_string(count) +
                                           " parameters, parameter " + std::to_string(i) + " is not bound");
        bind_parameter_value(stmt_, i, parameters_[index], connection_.session_format(), row, param_bind_type_,
                             offset);
    }
}

void Statement::fail(int rc)
{
    try {
        connection_.raise(rc);
    } catch (...) {
        sqlite3_reset(stmt_);
        throw;
    }
}

SQLRETURN Statement::execute()
{
    if (state_ == State::allocated)
        throw DriverError("HY010", "Function sequence error: no statement is prepared");
    if (state_ == State::cursor_open)
        throw DriverError("24000", "Invalid cursor state: a cursor is open");
    row_pending_ = at_end_ = on_row_ = false;
    rows_delivered_ = 0;
    data_column_ = 0;
    row_count_ = -1;
    plan_ready_ = false;  // column types may come from the first row
    state_ = State::prepared;
    if (kind_ == StatementKind::alter_session) {
        connection_.set_session_format(parse_alter_session(sql_));
        row_count_ = 0;
        state_ = State::executed;
        return SQL_SUCCESS;
    }
    if (paramset_size_ > 1)
        return execute_parameter_array();
    if (params_processed_ != nullptr)
        *params_processed_ = 1;
    if (param_status_ == nullptr)
        return execute_once();
    *param_status_ = SQL_PARAM_ERROR;  // until the execution succeeds
    const SQLRETURN rc = execute_once();
    *param_status_ = SQL_PARAM_SUCCESS;
    return rc;
}

SQLRETURN Statement::execute_once()
{
    sqlite3* db = connection_.db();
    sqlite3_reset(stmt_);
    bind_parameters();
    connection_.begin_if_manual_commit();
    const sqlite3_int64 changes_before = sqlite3_total_changes64(db);
    cancel_requested_ = false;
    int rc = SQLITE_OK;
    {
        const Running running(running_);
        const Connection::Watch watch(connection_, query_timeout_, cancel_requested_);
        rc = sqlite3_step(stmt_);
    }
    if (rc == SQLITE_ROW) {
        // Columns without a declared type take the type of the first row's value.
        for (std::size_t i = 0; i < columns_.size(); ++i)
            if (columns_[i].declared_type.empty())
                columns_[i].type = column_type_from_value(sqlite3_column_type(stmt_, static_cast<int>(i)));
        state_ = State::cursor_open;
        row_pending_ = true;
        return SQL_SUCCESS;
    }
    if (rc != SQLITE_DONE)
        fail(rc);
    if (!columns_.empty()) {
        state_ = State::cursor_open;
        at_end_ = true;
        return SQL_SUCCESS;
    }
    // Rows changed by INSTEAD OF triggers of a view count only in the total.
    const sqlite3_int64 direct = sqlite3_changes64(db);
    const sqlite3_int64 total = sqlite3_total_changes64(db) - changes_before;
    row_count_ = static_cast<SQLLEN>(kind_ != StatementKind::other && direct > 0 ? direct : total);
    diagnostics().set_row_count(row_count_);
    sqlite3_reset(stmt_);
    state_ = State::executed;
    if ((kind_ == StatementKind::update || kind_ == StatementKind::remove) && row_count_ == 0)
        return SQL_NO_DATA;
    return SQL_SUCCESS;
}

SQLRETURN Statement::execute_catalogue(const std::string& sql, const std::vector<ColumnType>& types)
{
    prepare(reinterpret_cast<const SQLCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()));
    for (std::size_t i = 0; i < columns_.size() && i < types.size(); ++i) {
        columns_[i].type = types[i];
        columns_[i].declared_type = types[i].sql_type == SQL_VARCHAR ? "VARCHAR"
                                    : types[i].sql_type == SQL_SMALLINT ? "SMALLINT" : "INTEGER";
    }
    return execute();
}

SQLRETURN Statement::execute_parameter_array()
{
    if (!columns_.empty())
        throw DriverError("HYC00", "Optional feature not implemented: parameter arrays with a statement that "
                                   "returns rows");
    sqlite3* db = connection_.db();
    connection_.begin_if_manual_commit();
    // In auto-commit mode the whole array is one transaction: one commit instead of one per row.
    const bool own_transaction = sqlite3_get_autocommit(db) != 0 && !sqlite3_stmt_readonly(stmt_);
    if (own_transaction)
        connection_.execute("SAVEPOINT qix_parameter_array");
    cancel_requested_ = false;
    const Running running(running_);
    const Connection::Watch watch(connection_, query_timeout_, cancel_requested_);
    // Without a status array the application cannot tell which rows failed, so the first failure
    // ends the array; with one, every row is tried and marked.
    const bool stop_at_error = param_status_ == nullptr;
    SQLULEN processed = 0;
    SQLULEN failed = 0;
    SQLLEN changed = 0;
    for (SQLULEN row = 0; row < paramset_size_; ++row) {
        ++processed;
        SQLUSMALLINT status = SQL_PARAM_SUCCESS;
        try {
            sqlite3_reset(stmt_);
            bind_parameters(row);
            const sqlite3_int64 total_before = sqlite3_total_changes64(db);
            const int rc = sqlite3_step(stmt_);
            if (rc != SQLITE_DONE && rc != SQLITE_ROW)
                fail(rc);
            const sqlite3_int64 direct = sqlite3_changes64(db);
            const sqlite3_int64 total = sqlite3_total_changes64(db) - total_before;
            changed += static_cast<SQLLEN>(kind_ != StatementKind::other && direct > 0 ? direct : total);
        } catch (const DriverError& e) {
            diagnostics().add(e, static_cast<SQLLEN>(row + 1));
            status = SQL_PARAM_ERROR;
            ++failed;
        }
        if (param_status_ != nullptr)
            param_status_[row] = status;
        if (status == SQL_PARAM_ERROR && stop_at_error)
            break;
    }
    sqlite3_reset(stmt_);
    if (params_processed_ != nullptr)
        *params_processed_ = processed;
    if (param_status_ != nullptr)
        for (SQLULEN row = processed; row < paramset_size_; ++row)
            param_status_[row] = SQL_PARAM_UNUSED;
    if (own_transaction)
        connection_.execute("RELEASE qix_parameter_array");
    row_count_ = changed;
    diagnostics().set_row_count(row_count_);
    state_ = State::executed;
    if (failed == processed || (failed > 0 && stop_at_error))
        return SQL_ERROR;
    if (failed > 0)
        return SQL_SUCCESS_WITH_INFO;
    if ((kind_ == StatementKind::update || kind_ == StatementKind::remove) && row_count_ == 0)
        return SQL_NO_DATA;
    return SQL_SUCCESS;
}

void Statement::require_result() const
{
    if (state_ == State::cursor_open)
        return;
    if (state_ == State::executed)
        throw DriverError("24000", "Invalid cursor state: the statement has no result set");
    throw DriverError("HY010", "Function sequence error: the statement has not been executed");
}

bool Statement::advance()
{
    if (max_rows_ > 0 && rows_delivered_ >= max_rows_)
        at_end_ = true;
    if (at_end_)
        return false;
    if (row_pending_) {
        row_pending_ = false;
        return true;
    }
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    at_end_ = true;
    if (rc != SQLITE_DONE)
        fail(rc);
    return false;
}

SQLRETURN Statement::fetch()
{
    require_result();
    data_column_ = 0;
    on_row_ = false;
    cancel_requested_ = false;
    const Running running(running_);
    const Connection::Watch watch(connection_, query_timeout_, cancel_requested_);
    const SQLULEN size = row_array_size_;
    SQLULEN fetched = 0;
    bool warning = false;
    bool error = false;
    for (; fetched < size; ++fetched) {
        try {
            if (!advance())
                break;
        } catch (const DriverError& e) {
            if (fetched == 0)
                throw;
            // The rows before the failing one are delivered; the failure is reported with them.
            diagnostics().add(e, static_cast<SQLLEN>(fetched + 1));
            if (row_status_ != nullptr)
                row_status_[fetched] = SQL_ROW_ERROR;
            error = true;
            ++fetched;
            break;
        }
        ++rows_delivered_;
        const SQLUSMALLINT status = deliver_row(fetched);
        warning = warning || status == SQL_ROW_SUCCESS_WITH_INFO;
        error = error || status == SQL_ROW_ERROR;
        if (row_status_ != nullptr)
            row_status_[fetched] = status;
    }
    if (row_status_ != nullptr)
        for (SQLULEN row = fetched; row < size; ++row)
            row_status_[row] = SQL_ROW_NOROW;
    if (rows_fetched_ != nullptr)
        *rows_fetched_ = fetched;
    if (fetched == 0)
        return SQL_NO_DATA;
    on_row_ = true;
    if (error && size == 1)
        return SQL_ERROR;
    return error || warning ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

void Statement::make_plan()
{
    plan_.clear();
    // Column-wise binding steps by the element size, row-wise binding by the row size.
    const bool by_column = row_bind_type_ == SQL_BIND_BY_COLUMN;
    const auto row_size = static_cast<SQLLEN>(row_bind_type_);
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
        const ColumnBinding& b = bindings_[i];
        if (b.c_type == 0)
            continue;
        ColumnPlan plan;
        plan.index = static_cast<int>(i);
        plan.buffer = static_cast<char*>(b.buffer);
        plan.buffer_length = b.buffer_length;
        plan.indicator = reinterpret_cast<char*>(b.indicator);
        plan.indicator_stride = by_column ? SQLLEN{sizeof(SQLLEN)} : row_size;
        // A column bound beyond the result is reported by the general route, row by row.
        plan.c_type = b.c_type;
        if (i < columns_.size()) {
            const ColumnType& type = columns_[i].type;
            if (b.c_type == SQL_C_DEFAULT)
                plan.c_type = default_c_type(type.sql_type);
            plan.size = is_variable_length(plan.c_type) ? 0 : fixed_size(plan.c_type);
            // Texts of a timestamp column are rendered in the session format: the general route.
            if (type.timestamp_precision < 0) {
                switch (plan.c_type) {
                case SQL_C_CHAR: plan.route = Route::text; break;
                case SQL_C_DOUBLE: plan.route = Route::real; break;
                case SQL_C_USHORT: plan.route = Route::unsigned16; break;
                case SQL_C_SLONG: case SQL_C_LONG: plan.route = Route::signed32; break;
                case SQL_C_SBIGINT: plan.route = Route::signed64; break;
                default: break;
                }
            }
        }
        const SQLLEN element = is_variable_length(plan.c_type) ? b.buffer_length : plan.size;
        plan.stride = by_column ? element : row_size;
        plan_.push_back(plan);
    }
    plan_ready_ = true;
}

namespace {

template <typename T>
bool put_integer(sqlite3_value* value, char* target) noexcept
{
    const sqlite3_int64 integer = sqlite3_value_int64(value);
    if (!std::in_range<T>(integer))
        return false;
    const auto narrow = static_cast<T>(integer);
    std::memcpy(target, &narrow, sizeof narrow);
    return true;
}

} // namespace

// The common pairs without building a cell: text into a character buffer, integers and reals
// into numbers that hold them. False leaves the value to the general route.
bool Statement::deliver_directly(const ColumnPlan& plan, char* target, SQLLEN* indicator, Outcome& outcome)
{
    if (plan.route == Route::general)
        return false;
    sqlite3_value* value = sqlite3_column_value(stmt_, plan.index);
    const int type = sqlite3_value_type(value);
    if (type == SQLITE_NULL) {
        if (indicator == nullptr)
            return false;  // error 22002
        *indicator = SQL_NULL_DATA;
        outcome = Outcome::ok;
        return true;
    }
    bool delivered = false;
    switch (plan.route) {
    case Route::text:
        if (type != SQLITE_TEXT)
            return false;
        {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
            const auto length = static_cast<std::size_t>(sqlite3_value_bytes(value));
            std::size_t offset = 0;
            outcome = write_chunk({text, length}, offset, 1, target, plan.buffer_length, indicator);
        }
        return true;
    case Route::real:
        if (type == SQLITE_FLOAT) {
            const double real = sqlite3_value_double(value);
            std::memcpy(target, &real, sizeof real);
        } else if (type == SQLITE_INTEGER) {
            const auto real = static_cast<double>(sqlite3_value_int64(value));
            std::memcpy(target, &real, sizeof real);
        } else {
            return false;
        }
        delivered = true;
        break;
    case Route::unsigned16: delivered = type == SQLITE_INTEGER && put_integer<unsigned short>(value, target); break;
    case Route::signed32: delivered = type == SQLITE_INTEGER && put_integer<std::int32_t>(value, target); break;
    case Route::signed64: delivered = type == SQLITE_INTEGER && put_integer<std::int64_t>(value, target); break;
    case Route::general: return false;
    }
    if (!delivered)
        return false;
    if (indicator != nullptr)
        *indicator = plan.size;
    outcome = Outcome::ok;
    return true;
}

SQLUSMALLINT Statement::deliver_row(SQLULEN row)
{
    if (!plan_ready_)
        make_plan();
    const SQLLEN offset = row_bind_offset_ != nullptr ? *row_bind_offset_ : 0;
    const auto index = static_cast<SQLLEN>(row);
    const auto row_number = index + 1;
    SQLUSMALLINT status = SQL_ROW_SUCCESS;
    for (const ColumnPlan& plan : plan_) {
        const auto column = static_cast<SQLUSMALLINT>(plan.index + 1);
        try {
            char* target = plan.buffer + offset + index * plan.stride;
            auto* indicator = plan.indicator == nullptr
                                  ? nullptr
                                  : reinterpret_cast<SQLLEN*>(plan.indicator + offset + index * plan.indicator_stride);
            Outcome outcome = Outcome::ok;
            if (!deliver_directly(plan, target, indicator, outcome)) {
                if (static_cast<std::size_t>(plan.index) >= columns_.size())
                    throw DriverError("07009", "Invalid descriptor index: " + column_text(column) +
                                                   " is bound but the result has " + std::to_string(columns_.size()));
                std::size_t consumed = 0;
                outcome = deliver(plan.index, plan.c_type, target, plan.buffer_length, indicator, consumed, scratch_,
                                  wide_scratch_);
            }
            if (outcome == Outcome::ok)
                continue;
            if (outcome == Outcome::truncated)
                diagnostics().add("01004", "String data, right truncated in " + column_text(column), 0, row_number,
                                  column);
            else if (outcome == Outcome::fraction_truncated)
                diagnostics().add("01S07", "Fractional truncation in " + column_text(column), 0, row_number, column);
            if (status == SQL_ROW_SUCCESS)
                status = SQL_ROW_SUCCESS_WITH_INFO;
        } catch (const DriverError& e) {
            diagnostics().add(e, row_number, column);
            status = SQL_ROW_ERROR;
        }
    }
    return status;
}

Cell Statement::cell(int index) const
{
    // One look-up of the value instead of one per sqlite3_column_* call: the fetch path reads every
    // bound column of every row through here. The connection is used by one thread at a time, which
    // is what reading an unprotected value needs.
    sqlite3_value* value = sqlite3_column_value(stmt_, index);
    Cell cell;
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        cell.kind = Cell::Kind::integer;
        cell.integer = sqlite3_value_int64(value);
        break;
    case SQLITE_FLOAT:
        cell.kind = Cell::Kind::real;
        cell.real = sqlite3_value_double(value);
        break;
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        cell.kind = Cell::Kind::text;
        cell.bytes = std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
        const int precision = columns_[static_cast<std::size_t>(index)].type.timestamp_precision;
        if (precision >= 0) {
            const auto time = parse_stored_timestamp(cell.bytes);
            if (!time)
                throw DriverError("22007", "Invalid datetime format: " +
                                               column_text(static_cast<SQLUSMALLINT>(index + 1)) + " holds '" +
                                               std::string(cell.bytes) + "', not a timestamp 'YYYY-MM-DD HH:MM:SS' "
                                                                         "with up to nine fraction digits");
            cell.kind = Cell::Kind::timestamp;
            cell.time = *time;
            cell.precision = precision;
        }
        break;
    }
    case SQLITE_BLOB: {
        const void* blob = sqlite3_value_blob(value);
        cell.kind = Cell::Kind::blob;
        cell.bytes =
            std::string_view(static_cast<const char*>(blob), static_cast<std::size_t>(sqlite3_value_bytes(value)));
        break;
    }
    default:
        break;
    }
    return cell;
}

Outcome Statement::deliver(int index, SQLSMALLINT c_type, void* buffer, SQLLEN buffer_length, SQLLEN* indicator,
                           std::size_t& offset, std::string& scratch, std::string& wide)
{
    const Cell value = cell(index);
    if (value.kind == Cell::Kind::null) {
        if (indicator == nullptr)
            throw DriverError("22002", "Indicator variable required but not supplied for the NULL in " +
                                           column_text(static_cast<SQLUSMALLINT>(index + 1)));
        *indicator = SQL_NULL_DATA;
        return Outcome::ok;
    }
    if (is_variable_length(c_type)) {
        std::string_view bytes;
        if (c_type == SQL_C_WCHAR && offset > 0) {
            bytes = wide;  // converted by the call that delivered the first piece
        } else {
            bytes = cell_bytes(value, c_type == SQL_C_BINARY, connection_.session_format(), scratch);
            if (c_type == SQL_C_WCHAR) {
                wide.clear();
                append_utf16(bytes, wide);
                bytes = wide;
            }
        }
        return write_chunk(bytes, offset, terminator_size(c_type), buffer, buffer_length, indicator);
    }
    const Outcome outcome =
        write_fixed(value, c_type, buffer, columns_[static_cast<std::size_t>(index)].type.numeric_scale);
    if (indicator != nullptr)
        *indicator = fixed_size(c_type);
    return outcome;
}

SQLRETURN Statement::get_data(SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER buffer, SQLLEN buffer_length,
                              SQLLEN* indicator)
{
    require_result();
    if (!on_row_)
        throw DriverError("24000", "Invalid cursor state: there is no current row");
    if (row_array_size_ > 1)
        throw DriverError("HYC00", "Optional feature not implemented: SQLGetData with a rowset size above 1");
    const Column& info = column_at(column);
    if (!is_supported_c_type(c_type))
        throw DriverError("HY003", "Invalid application buffer type " + std::to_string(c_type));
    const SQLSMALLINT type = c_type == SQL_C_DEFAULT ? default_c_type(info.type.sql_type) : c_type;
    if (is_variable_length(type) && buffer_length < 0)
        throw DriverError("HY090", "Invalid string or buffer length");
    if (buffer == nullptr && !(is_variable_length(type) && buffer_length == 0))
        throw DriverError("HY009", "Invalid use of null pointer: no buffer for " + column_text(column));
    if (column != data_column_) {
        data_column_ = column;
        data_offset_ = 0;
        data_done_ = false;
    }
    if (data_done_)
        return SQL_NO_DATA;
    const Outcome outcome =
        deliver(column - 1, type, buffer, buffer_length, indicator, data_offset_, data_text_, data_wide_);
    if (outcome == Outcome::truncated) {
        diagnostics().add("01004", "String data, right truncated in " + column_text(column), 0, 1, column);
        return SQL_SUCCESS_WITH_INFO;
    }
    data_done_ = true;
    if (outcome == Outcome::fraction_truncated) {
        diagnostics().add("01S07", "Fractional truncation in " + column_text(column), 0, 1, column);
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

const Statement::Column& Statement::column_at(SQLUSMALLINT column) const
{
    if (state_ == State::allocated)
        throw DriverError("HY010", "Function sequence error: no statement is prepared");
    if (column == 0 || column > columns_.size())
        throw DriverError("07009", "Invalid descriptor index: " + column_text(column) + ", the result has " +
                                       std::to_string(columns_.size()) + " columns");
    return columns_[column - 1u];
}

void Statement::bind_column(SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER buffer, SQLLEN buffer_length,
                            SQLLEN* indicator)
{
    if (column == 0)
        throw DriverError("07009", "Invalid descriptor index: bookmark columns are not supported");
    if (state_ == State::cursor_open && column > columns_.size())
        throw DriverError("07009", "Invalid descriptor index: " + column_text(column) + ", the result has " +
                                       std::to_string(columns_.size()) + " columns");
    if (!is_supported_c_type(c_type))
        throw DriverError("HY003", "Invalid application buffer type " + std::to_string(c_type));
    if (buffer_length < 0)
        throw DriverError("HY090", "Invalid string or buffer length");
    if (buffer == nullptr) {  // a null buffer unbinds the column
        if (column <= bindings_.size())
            bindings_[column - 1u] = {};
        plan_ready_ = false;
        return;
    }
    if (column > bindings_.size())
        bindings_.resize(column);
    bindings_[column - 1u] = {c_type, buffer, buffer_length, indicator};
    plan_ready_ = false;
}

void Statement::bind_parameter(SQLUSMALLINT number, SQLSMALLINT io_type, SQLSMALLINT c_type, SQLSMALLINT sql_type,
                               SQLULEN column_size, SQLSMALLINT digits, SQLPOINTER buffer, SQLLEN buffer_length,
                               SQLLEN* indicator)
{
    if (number == 0)
        throw DriverError("07009", "Invalid descriptor index: parameters are numbered from 1");
    switch (io_type) {
    case SQL_PARAM_INPUT:
        break;
    case SQL_PARAM_OUTPUT: case SQL_PARAM_INPUT_OUTPUT: case SQL_PARAM_OUTPUT_STREAM:
    case SQL_PARAM_INPUT_OUTPUT_STREAM:
        throw DriverError("HYC00", "Optional feature not implemented: output parameters (SQLite has no procedures)");
    default:
        throw DriverError("HY105", "Invalid parameter type " + std::to_string(io_type));
    }
    if (!is_supported_c_type(c_type))
        throw DriverError("HY003", "Invalid application buffer type " + std::to_string(c_type));
    if (!is_valid_sql_type(sql_type))
        throw DriverError("HY004", "Invalid SQL data type " + std::to_string(sql_type));
    if (buffer_length < 0)
        throw DriverError("HY090", "Invalid string or buffer length");
    if (number > parameters_.size())
        parameters_.resize(number);
    parameters_[number - 1u] = {true, c_type, sql_type, column_size, digits, buffer, buffer_length, indicator};
}

SQLSMALLINT Statement::result_column_count() const
{
    if (state_ == State::allocated)
        throw DriverError("HY010", "Function sequence error: no statement is prepared");
    return static_cast<SQLSMALLINT>(columns_.size());
}

SQLSMALLINT Statement::parameter_count() const
{
    if (state_ == State::allocated)
        throw DriverError("HY010", "Function sequence error: no statement is prepared");
    return stmt_ != nullptr ? static_cast<SQLSMALLINT>(sqlite3_bind_parameter_count(stmt_)) : 0;
}

SQLRETURN Statement::describe_column(SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT buffer_length,
                                     SQLSMALLINT* name_length, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
                                     SQLSMALLINT* nullable) const
{
    const Column& info = column_at(column);
    if (buffer_length < 0)
        throw DriverError("HY090", "Invalid string or buffer length");
    if (type != nullptr)
        *type = info.type.sql_type;
    if (size != nullptr)
        *size = info.type.size;
    if (digits != nullptr)
        *digits = info.type.digits;
    if (nullable != nullptr)
        *nullable = nullability(column);
    return copy_string_out(info.name, name, buffer_length, name_length) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLSMALLINT Statement::nullability(SQLUSMALLINT column) const
{
    Column& info = columns_[column - 1u];
    if (!info.constraints_read && stmt_ != nullptr) {
        info.constraints_read = true;
        const int index = column - 1;
        const char* schema = sqlite3_column_database_name(stmt_, index);
        const char* table = sqlite3_column_table_name(stmt_, index);
        const char* origin = sqlite3_column_origin_name(stmt_, index);
        ColumnConstraints constraints;
        int not_null = 0;
        int primary_key = 0;
        // Only a column read straight from a table has constraints; an expression's are unknown.
        if (origin != nullptr &&
            sqlite3_table_column_metadata(connection_.db(), schema, table, origin, nullptr, nullptr, &not_null,
                                          &primary_key, nullptr) == SQLITE_OK) {
            constraints = {not_null != 0, primary_key != 0};
            info.type.nullable = column_type_from_declaration(info.declared_type.c_str(), &constraints).nullable;
        }
    }
    return info.type.nullable;
}

SQLRETURN Statement::column_attribute(SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                                      SQLSMALLINT buffer_length, SQLSMALLINT* length, SQLLEN* number) const
{
    if (field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT)
        return put_value<SQLLEN>(number, result_column_count());
    const Column& info = column_at(column);
    auto string = [&](std::string_view value) {
        return copy_string_out(value, text, buffer_length, length) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    };
    const ColumnType& t = info.type;
    const bool character = !is_numeric(t.sql_type) && t.sql_type != SQL_TYPE_TIMESTAMP;
    switch (field) {
    case SQL_DESC_NAME: case SQL_DESC_LABEL: case SQL_COLUMN_NAME: case SQL_DESC_BASE_COLUMN_NAME:
        return string(info.name);
    case SQL_DESC_TYPE_NAME: return string(info.declared_type);
    case SQL_DESC_TABLE_NAME: case SQL_DESC_BASE_TABLE_NAME: case SQL_DESC_SCHEMA_NAME: case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_LOCAL_TYPE_NAME:
        return string("");
    case SQL_DESC_LITERAL_PREFIX: case SQL_DESC_LITERAL_SUFFIX: return string(character ? "'" : "");
    case SQL_DESC_CONCISE_TYPE: return put_value<SQLLEN>(number, t.sql_type);
    case SQL_DESC_TYPE: return put_value<SQLLEN>(number, t.sql_type == SQL_TYPE_TIMESTAMP ? SQL_DATETIME : t.sql_type);
    case SQL_DESC_LENGTH: case SQL_DESC_PRECISION: case SQL_COLUMN_LENGTH: case SQL_COLUMN_PRECISION:
    case SQL_DESC_OCTET_LENGTH:
        return put_value<SQLLEN>(number, static_cast<SQLLEN>(t.size));
    case SQL_DESC_SCALE: case SQL_COLUMN_SCALE: return put_value<SQLLEN>(number, t.digits);
    case SQL_DESC_DISPLAY_SIZE:
        // A timestamp is shown in the session's format, whose width the format decides.
        if (t.timestamp_precision >= 0)
            return put_value<SQLLEN>(number, static_cast<SQLLEN>(
                                           connection_.session_format().rendered_length(t.timestamp_precision)));
        return put_value<SQLLEN>(number, display_size(t));
    case SQL_DESC_NULLABLE: case SQL_COLUMN_NULLABLE: return put_value<SQLLEN>(number, nullability(column));
    case SQL_DESC_UNSIGNED: return put_value<SQLLEN>(number, is_numeric(t.sql_type) ? SQL_FALSE : SQL_TRUE);
    case SQL_DESC_SEARCHABLE: return put_value<SQLLEN>(number, SQL_PRED_SEARCHABLE);
    case SQL_DESC_UPDATABLE: return put_value<SQLLEN>(number, SQL_ATTR_READWRITE_UNKNOWN);
    case SQL_DESC_AUTO_UNIQUE_VALUE: case SQL_DESC_FIXED_PREC_SCALE: return put_value<SQLLEN>(number, SQL_FALSE);
    case SQL_DESC_CASE_SENSITIVE: return put_value<SQLLEN>(number, character ? SQL_TRUE : SQL_FALSE);
    case SQL_DESC_NUM_PREC_RADIX: return put_value<SQLLEN>(number, is_numeric(t.sql_type) ? 10 : 0);
    case SQL_DESC_UNNAMED: return put_value<SQLLEN>(number, SQL_NAMED);
    default: throw DriverError("HY091", "Invalid descriptor field identifier " + std::to_string(field));
    }
}

SQLLEN Statement::row_count() const
{
    if (state_ != State::executed && state_ != State::cursor_open)
        throw DriverError("HY010", "Function sequence error: the statement has not been executed");
    return row_count_;
}

void Statement::close_cursor(bool must_be_open)
{
    if (state_ != State::cursor_open) {
        if (must_be_open)
            throw DriverError("24000", "Invalid cursor state: no cursor is open");
        return;
    }
    sqlite3_reset(stmt_);
    state_ = State::prepared;
    row_pending_ = at_end_ = on_row_ = false;
    data_column_ = 0;
}

bool Statement::interrupt() noexcept
{
    if (!running_.load())
        return false;
    cancel_requested_ = true;  // seen by the progress handler of the running statement
    return true;
}

SQLRETURN Statement::set_attribute(SQLINTEGER attribute, SQLPOINTER value)
{
    const SQLULEN number = ulen(value);
    auto changed = [&](const char* what) {
        diagnostics().add("01S02", std::string("Option value changed: ") + what);
        return SQL_SUCCESS_WITH_INFO;
    };
    auto set_size = [&](SQLULEN& size, const char* what) {
        if (number == 0)
            throw DriverError("HY024", std::string("Invalid attribute value: the ") + what + " must be at least 1");
        size = number;
        return SQL_SUCCESS;
    };
    switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT: query_timeout_ = number; return SQL_SUCCESS;
    case SQL_ATTR_MAX_ROWS: max_rows_ = number; return SQL_SUCCESS;
    case SQL_ATTR_ROW_ARRAY_SIZE: return set_size(row_array_size_, "row array size");
    case SQL_ATTR_ROW_BIND_TYPE:
        row_bind_type_ = number;
        plan_ready_ = false;
        return SQL_SUCCESS;
    case SQL_ATTR_ROWS_FETCHED_PTR: rows_fetched_ = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_ROW_STATUS_PTR: row_status_ = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR: row_bind_offset_ = static_cast<SQLLEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_NOSCAN: case SQL_ATTR_SIMULATE_CURSOR: case SQL_ATTR_METADATA_ID:
        return SQL_SUCCESS;
    case SQL_ATTR_MAX_LENGTH: return number == 0 ? SQL_SUCCESS : changed("SQL_ATTR_MAX_LENGTH stays 0");
    case SQL_ATTR_CURSOR_TYPE:
        return number == SQL_CURSOR_FORWARD_ONLY ? SQL_SUCCESS : changed("the cursor stays forward-only");
    case SQL_ATTR_CONCURRENCY:
        return number == SQL_CONCUR_READ_ONLY ? SQL_SUCCESS : changed("the cursor stays read-only");
    case SQL_ATTR_CURSOR_SCROLLABLE:
        return number == SQL_NONSCROLLABLE ? SQL_SUCCESS : changed("the cursor stays non-scrollable");
    case SQL_ATTR_CURSOR_SENSITIVITY:
        return number == SQL_UNSPECIFIED || number == SQL_INSENSITIVE ? SQL_SUCCESS
                                                                       : changed("the cursor stays insensitive");
    case SQL_ATTR_ASYNC_ENABLE: case SQL_ATTR_USE_BOOKMARKS: case SQL_ATTR_ENABLE_AUTO_IPD:
        if (number == 0)
            return SQL_SUCCESS;
        break;
    case SQL_ATTR_RETRIEVE_DATA:
        if (number == SQL_RD_ON)
            return SQL_SUCCESS;
        break;
    case SQL_ATTR_PARAMSET_SIZE: return set_size(paramset_size_, "parameter set size");
    case SQL_ATTR_PARAM_BIND_TYPE: param_bind_type_ = number; return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR: param_bind_offset_ = static_cast<SQLLEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: params_processed_ = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_PARAM_STATUS_PTR: param_status_ = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
    default:
        throw DriverError("HY092", "Invalid attribute identifier " + std::to_string(attribute));
    }
    throw DriverError("HYC00", "Optional feature not implemented: value " + std::to_string(number) +
                                   " of statement attribute " + std::to_string(attribute));
}

SQLRETURN Statement::get_attribute(SQLINTEGER attribute, SQLPOINTER value) const
{
    switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT: return put_value<SQLULEN>(value, query_timeout_);
    case SQL_ATTR_MAX_ROWS: return put_value<SQLULEN>(value, max_rows_);
    case SQL_ATTR_ROW_ARRAY_SIZE: return put_value<SQLULEN>(value, row_array_size_);
    case SQL_ATTR_ROW_BIND_TYPE: return put_value<SQLULEN>(value, row_bind_type_);
    case SQL_ATTR_ROWS_FETCHED_PTR: return put_value<SQLPOINTER>(value, rows_fetched_);
    case SQL_ATTR_ROW_STATUS_PTR: return put_value<SQLPOINTER>(value, row_status_);
    case SQL_ATTR_ROW_BIND_OFFSET_PTR: return put_value<SQLPOINTER>(value, row_bind_offset_);
    case SQL_ATTR_ROW_NUMBER: return put_value<SQLULEN>(value, on_row_ ? rows_delivered_ : 0);
    case SQL_ATTR_CURSOR_TYPE: return put_value<SQLULEN>(value, SQL_CURSOR_FORWARD_ONLY);
    case SQL_ATTR_CONCURRENCY: return put_value<SQLULEN>(value, SQL_CONCUR_READ_ONLY);
    case SQL_ATTR_CURSOR_SCROLLABLE: return put_value<SQLULEN>(value, SQL_NONSCROLLABLE);
    case SQL_ATTR_CURSOR_SENSITIVITY: return put_value<SQLULEN>(value, SQL_INSENSITIVE);
    case SQL_ATTR_RETRIEVE_DATA: return put_value<SQLULEN>(value, SQL_RD_ON);
    case SQL_ATTR_PARAMSET_SIZE: return put_value<SQLULEN>(value, paramset_size_);
    case SQL_ATTR_PARAM_BIND_TYPE: return put_value<SQLULEN>(value, param_bind_type_);
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR: return put_value<SQLPOINTER>(value, param_bind_offset_);
    case SQL_ATTR_PARAMS_PROCESSED_PTR: return put_value<SQLPOINTER>(value, params_processed_);
    case SQL_ATTR_PARAM_STATUS_PTR: return put_value<SQLPOINTER>(value, param_status_);
    case SQL_ATTR_NOSCAN: case SQL_ATTR_MAX_LENGTH: case SQL_ATTR_ASYNC_ENABLE: case SQL_ATTR_USE_BOOKMARKS:
    case SQL_ATTR_ENABLE_AUTO_IPD: case SQL_ATTR_SIMULATE_CURSOR: case SQL_ATTR_METADATA_ID:
        return put_value<SQLULEN>(value, 0);
    default:
        throw DriverError("HY092", "Invalid attribute identifier " + std::to_string(attribute));
    }
}

} // namespace qix::lite

#include "Statement.h"

#include <utility>

namespace qix::lite {

namespace {

bool is_valid_sql_type(SQLSMALLINT type)
{
    return (type >= SQL_GUID && type <= SQL_LONGVARCHAR) || (type >= SQL_CHAR && type <= SQL_VARCHAR) ||
           (type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP) ||
           (type >= SQL_INTERVAL_YEAR && type <= SQL_INTERVAL_MINUTE_TO_SECOND);
}

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
    case SQL_BIGINT:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_BIT: return true;
    default: return false;
    }
}

} // namespace

std::string Statement::column_text(SQLUSMALLINT column) { return "column " + std::to_string(column); }

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
    oracle_action_ = nullptr;
    oracle_action_ = prepare_oracle_statement(sql); // reports a malformed statement at once
    if (oracle_action_) {
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
        bind_parameter_value(stmt_, i, parameters_[index], connection_.session_format(), row, param_bind_type_, offset);
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
    plan_ready_ = false; // column types may come from the first row
    state_ = State::prepared;
    if (oracle_action_) {
        oracle_action_(connection_);
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
    *param_status_ = SQL_PARAM_ERROR; // until the execution succeeds
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
        columns_[i].declared_type = types[i].sql_type == SQL_VARCHAR    ? "VARCHAR"
                                    : types[i].sql_type == SQL_SMALLINT ? "SMALLINT"
                                                                        : "INTEGER";
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

const Statement::Column& Statement::column_at(SQLUSMALLINT column) const
{
    if (state_ == State::allocated)
        throw DriverError("HY010", "Function sequence error: no statement is prepared");
    if (column == 0 || column > columns_.size())
        throw DriverError("07009", "Invalid descriptor index: " + column_text(column) + ", the result has " +
                                       std::to_string(columns_.size()) + " columns");
    return columns_[column - 1u];
}

void Statement::bind_parameter(SQLUSMALLINT number, SQLSMALLINT io_type, SQLSMALLINT c_type, SQLSMALLINT sql_type,
                               SQLULEN column_size, SQLSMALLINT digits, SQLPOINTER buffer, SQLLEN buffer_length,
                               SQLLEN* indicator)
{
    if (number == 0)
        throw DriverError("07009", "Invalid descriptor index: parameters are numbered from 1");
    switch (io_type) {
    case SQL_PARAM_INPUT: break;
    case SQL_PARAM_OUTPUT:
    case SQL_PARAM_INPUT_OUTPUT:
    case SQL_PARAM_OUTPUT_STREAM:
    case SQL_PARAM_INPUT_OUTPUT_STREAM:
        throw DriverError("HYC00", "Optional feature not implemented: output parameters (SQLite has no procedures)");
    default: throw DriverError("HY105", "Invalid parameter type " + std::to_string(io_type));
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
    case SQL_DESC_NAME:
    case SQL_DESC_LABEL:
    case SQL_COLUMN_NAME:
    case SQL_DESC_BASE_COLUMN_NAME: return string(info.name);
    case SQL_DESC_TYPE_NAME: return string(info.declared_type);
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_LOCAL_TYPE_NAME: return string("");
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX: return string(character ? "'" : "");
    case SQL_DESC_CONCISE_TYPE: return put_value<SQLLEN>(number, t.sql_type);
    case SQL_DESC_TYPE: return put_value<SQLLEN>(number, t.sql_type == SQL_TYPE_TIMESTAMP ? SQL_DATETIME : t.sql_type);
    case SQL_DESC_LENGTH:
    case SQL_DESC_PRECISION:
    case SQL_COLUMN_LENGTH:
    case SQL_COLUMN_PRECISION:
    case SQL_DESC_OCTET_LENGTH: return put_value<SQLLEN>(number, static_cast<SQLLEN>(t.size));
    case SQL_DESC_SCALE:
    case SQL_COLUMN_SCALE: return put_value<SQLLEN>(number, t.digits);
    case SQL_DESC_DISPLAY_SIZE:
        // A timestamp is shown in the session's format, whose width the format decides.
        if (t.timestamp_precision >= 0)
            return put_value<SQLLEN>(
                number, static_cast<SQLLEN>(connection_.session_format().rendered_length(t.timestamp_precision)));
        return put_value<SQLLEN>(number, display_size(t));
    case SQL_DESC_NULLABLE:
    case SQL_COLUMN_NULLABLE: return put_value<SQLLEN>(number, nullability(column));
    case SQL_DESC_UNSIGNED: return put_value<SQLLEN>(number, is_numeric(t.sql_type) ? SQL_FALSE : SQL_TRUE);
    case SQL_DESC_SEARCHABLE: return put_value<SQLLEN>(number, SQL_PRED_SEARCHABLE);
    case SQL_DESC_UPDATABLE: return put_value<SQLLEN>(number, SQL_ATTR_READWRITE_UNKNOWN);
    case SQL_DESC_AUTO_UNIQUE_VALUE:
    case SQL_DESC_FIXED_PREC_SCALE: return put_value<SQLLEN>(number, SQL_FALSE);
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

bool Statement::interrupt() noexcept
{
    if (!running_.load())
        return false;
    cancel_requested_ = true; // seen by the progress handler of the running statement
    return true;
}

} // namespace qix::lite

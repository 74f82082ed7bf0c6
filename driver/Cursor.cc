// A statement's cursor: stepping through the result, delivering rows into bound buffers
// (one row or a rowset) and SQLGetData.

#include "Statement.h"

#include "Utf16.h"

#include <cstring>
#include <utility>

namespace qix::lite {

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
                case SQL_C_SLONG:
                case SQL_C_LONG: plan.route = Route::signed32; break;
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
            return false; // error 22002
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
                throw DriverError("22007",
                                  "Invalid datetime format: " + column_text(static_cast<SQLUSMALLINT>(index + 1)) +
                                      " holds '" + std::string(cell.bytes) +
                                      "', not a timestamp 'YYYY-MM-DD HH:MM:SS' "
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
    default: break;
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
            bytes = wide; // converted by the call that delivered the first piece
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
    if (buffer == nullptr) { // a null buffer unbinds the column
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

} // namespace qix::lite

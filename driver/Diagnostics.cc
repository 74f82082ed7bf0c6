#include "Diagnostics.h"

namespace qix::lite {

namespace {

// States of ODBC's own classes come from "ODBC 3.0", the others from the SQL standard.
bool is_odbc_state(std::string_view state, bool subclass)
{
    if (state.starts_with("IM") || state.starts_with("HY"))
        return true;
    if (!subclass)
        return false;
    static constexpr std::string_view kOdbcSubclasses[] = {"01S00", "01S01", "01S02", "01S06", "01S07", "07S01",
                                                           "08S01", "21S01", "21S02", "25S01", "25S02", "25S03",
                                                           "42S01", "42S02", "42S11", "42S12", "42S21", "42S22"};
    return std::find(std::begin(kOdbcSubclasses), std::end(kOdbcSubclasses), state) != std::end(kOdbcSubclasses);
}

SQLRETURN put_text(std::string_view text, SQLPOINTER info, SQLSMALLINT buffer_length, SQLSMALLINT* string_length)
{
    if (buffer_length < 0)
        return SQL_ERROR;
    return copy_string_out(text, info, buffer_length, string_length) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

} // namespace

DriverError::DriverError(std::string sqlstate, std::string message, SQLINTEGER native)
    : sqlstate_(std::move(sqlstate)), message_(std::move(message)), native_(native)
{
}

void Diagnostics::add(std::string_view sqlstate, std::string_view message, SQLINTEGER native, SQLLEN row,
                      SQLINTEGER column)
{
    DiagRecord record;
    record.sqlstate = sqlstate;
    record.message.reserve(kMessagePrefix.size() + message.size());
    record.message.append(kMessagePrefix).append(message);
    record.native = native;
    record.row = row;
    record.column = column;
    records_.push_back(std::move(record));
}

SQLRETURN Diagnostics::get_record(SQLSMALLINT number, SQLCHAR* sqlstate, SQLINTEGER* native, SQLCHAR* text,
                                  SQLSMALLINT buffer_length, SQLSMALLINT* text_length) const
{
    if (number <= 0 || buffer_length < 0)
        return SQL_ERROR;
    if (static_cast<std::size_t>(number) > records_.size())
        return SQL_NO_DATA;
    const DiagRecord& record = records_[static_cast<std::size_t>(number) - 1];
    if (sqlstate != nullptr)
        copy_string_out(record.sqlstate.substr(0, 5), sqlstate, 6, static_cast<SQLSMALLINT*>(nullptr));
    if (native != nullptr)
        *native = record.native;
    return copy_string_out(record.message, text, buffer_length, text_length) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN Diagnostics::get_field(bool statement, SQLSMALLINT number, SQLSMALLINT identifier, SQLPOINTER info,
                                 SQLSMALLINT buffer_length, SQLSMALLINT* string_length) const
{
    switch (identifier) { // header fields ignore the record number
    case SQL_DIAG_NUMBER: return put_value<SQLINTEGER>(info, static_cast<SQLINTEGER>(records_.size()));
    case SQL_DIAG_RETURNCODE: return put_value<SQLRETURN>(info, return_code_);
    case SQL_DIAG_ROW_COUNT: return statement ? put_value<SQLLEN>(info, row_count_) : SQL_ERROR;
    case SQL_DIAG_CURSOR_ROW_COUNT: return statement ? put_value<SQLLEN>(info, 0) : SQL_ERROR;
    case SQL_DIAG_DYNAMIC_FUNCTION: return statement ? put_text("", info, buffer_length, string_length) : SQL_ERROR;
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
        return statement ? put_value<SQLINTEGER>(info, SQL_DIAG_UNKNOWN_STATEMENT) : SQL_ERROR;
    default: break;
    }
    if (number <= 0)
        return SQL_ERROR;
    if (static_cast<std::size_t>(number) > records_.size())
        return SQL_NO_DATA;
    const DiagRecord& record = records_[static_cast<std::size_t>(number) - 1];
    switch (identifier) {
    case SQL_DIAG_SQLSTATE: return put_text(record.sqlstate, info, buffer_length, string_length);
    case SQL_DIAG_NATIVE: return put_value<SQLINTEGER>(info, record.native);
    case SQL_DIAG_MESSAGE_TEXT: return put_text(record.message, info, buffer_length, string_length);
    case SQL_DIAG_CLASS_ORIGIN:
        return put_text(is_odbc_state(record.sqlstate, false) ? "ODBC 3.0" : "ISO 9075", info, buffer_length,
                        string_length);
    case SQL_DIAG_SUBCLASS_ORIGIN:
        return put_text(is_odbc_state(record.sqlstate, true) ? "ODBC 3.0" : "ISO 9075", info, buffer_length,
                        string_length);
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME: return put_text("", info, buffer_length, string_length);
    case SQL_DIAG_COLUMN_NUMBER: return statement ? put_value<SQLINTEGER>(info, record.column) : SQL_ERROR;
    case SQL_DIAG_ROW_NUMBER: return statement ? put_value<SQLLEN>(info, record.row) : SQL_ERROR;
    default: return SQL_ERROR;
    }
}

std::string string_in(const SQLCHAR* text, SQLINTEGER length)
{
    if (text == nullptr)
        return {};
    const char* chars = reinterpret_cast<const char*>(text);
    if (length == SQL_NTS)
        return std::string(chars);
    if (length < 0)
        throw DriverError("HY090", "Invalid string or buffer length");
    return std::string(chars, static_cast<std::size_t>(length));
}

} // namespace qix::lite

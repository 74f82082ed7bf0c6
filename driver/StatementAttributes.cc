// SQLSetStmtAttr and SQLGetStmtAttr: the attributes a statement keeps or refuses.

#include "Statement.h"

namespace qix::lite {

namespace {

SQLULEN ulen(SQLPOINTER value) { return reinterpret_cast<SQLULEN>(value); }

} // namespace

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
    case SQL_ATTR_NOSCAN:
    case SQL_ATTR_SIMULATE_CURSOR:
    case SQL_ATTR_METADATA_ID: return SQL_SUCCESS;
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
    case SQL_ATTR_ASYNC_ENABLE:
    case SQL_ATTR_USE_BOOKMARKS:
    case SQL_ATTR_ENABLE_AUTO_IPD:
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
    default: throw DriverError("HY092", "Invalid attribute identifier " + std::to_string(attribute));
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
    case SQL_ATTR_NOSCAN:
    case SQL_ATTR_MAX_LENGTH:
    case SQL_ATTR_ASYNC_ENABLE:
    case SQL_ATTR_USE_BOOKMARKS:
    case SQL_ATTR_ENABLE_AUTO_IPD:
    case SQL_ATTR_SIMULATE_CURSOR:
    case SQL_ATTR_METADATA_ID: return put_value<SQLULEN>(value, 0);
    default: throw DriverError("HY092", "Invalid attribute identifier " + std::to_string(attribute));
    }
}

} // namespace qix::lite

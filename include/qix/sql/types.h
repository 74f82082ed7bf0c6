#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

// Typed names for the ODBC constants; the values are the ODBC values themselves.
namespace qix::sql {

/// Direction of a bound parameter (InputOutputType of SQLBindParameter).
enum class ParameterType : std::int16_t {
    in = SQL_PARAM_INPUT,
    out = SQL_PARAM_OUTPUT,
    in_out = SQL_PARAM_INPUT_OUTPUT,
    out_stream = 16,
    in_out_stream = 8,
};

/// Special length/indicator values of a bound parameter.
enum class ParameterOption : SQLLEN {
    none = 0,
    nts = SQL_NTS,
    null_data = SQL_NULL_DATA,
    default_param = SQL_DEFAULT_PARAM,
};

/// Buffer (C) data types.
enum class CDataType : std::int16_t {
    c_char = SQL_C_CHAR,
    c_wchar = SQL_C_WCHAR,
    c_sshort = SQL_C_SSHORT,
    c_ushort = SQL_C_USHORT,
    c_slong = SQL_C_SLONG,
    c_ulong = SQL_C_ULONG,
    c_float = SQL_C_FLOAT,
    c_double = SQL_C_DOUBLE,
    c_bit = SQL_C_BIT,
    c_stinyint = SQL_C_STINYINT,
    c_utinyint = SQL_C_UTINYINT,
    c_sbigint = SQL_C_SBIGINT,
    c_ubigint = SQL_C_UBIGINT,
    c_binary = SQL_C_BINARY,
    c_type_timestamp = SQL_C_TYPE_TIMESTAMP,
    c_bookmark = -27,
    c_varbookmark = -2,
};

/// SQL data types.
enum class SqlDataType : std::int16_t {
    s_char = SQL_CHAR,
    s_varchar = SQL_VARCHAR,
    s_longvarchar = SQL_LONGVARCHAR,
    s_wchar = SQL_WCHAR,
    s_wvarchar = SQL_WVARCHAR,
    s_wlongvarchar = SQL_WLONGVARCHAR,
    s_decimal = SQL_DECIMAL,
    s_numeric = SQL_NUMERIC,
    s_smallint = SQL_SMALLINT,
    s_integer = SQL_INTEGER,
    s_real = SQL_REAL,
    s_float = SQL_FLOAT,
    s_double = SQL_DOUBLE,
    s_bit = SQL_BIT,
    s_tinyint = SQL_TINYINT,
    s_bigint = SQL_BIGINT,
    s_binary = SQL_BINARY,
    s_varbinary = SQL_VARBINARY,
    s_longvarbinary = SQL_LONGVARBINARY,
    s_type_date = SQL_TYPE_DATE,
    s_type_time = SQL_TYPE_TIME,
    s_type_timestamp = SQL_TYPE_TIMESTAMP,
    s_interval_month = SQL_INTERVAL_MONTH,
    s_interval_year = SQL_INTERVAL_YEAR,
    s_interval_year_to_month = SQL_INTERVAL_YEAR_TO_MONTH,
    s_interval_day = SQL_INTERVAL_DAY,
    s_interval_hour = SQL_INTERVAL_HOUR,
    s_interval_minute = SQL_INTERVAL_MINUTE,
    s_interval_second = SQL_INTERVAL_SECOND,
    s_interval_day_to_hour = SQL_INTERVAL_DAY_TO_HOUR,
    s_interval_day_to_minute = SQL_INTERVAL_DAY_TO_MINUTE,
    s_interval_day_to_second = SQL_INTERVAL_DAY_TO_SECOND,
    s_interval_hour_to_minute = SQL_INTERVAL_HOUR_TO_MINUTE,
    s_interval_hour_to_second = SQL_INTERVAL_HOUR_TO_SECOND,
    s_interval_minute_to_second = SQL_INTERVAL_MINUTE_TO_SECOND,
    s_guid = SQL_GUID,
};

/// Statement attributes (SQL_ATTR_*).
enum class AttributeType : std::int32_t {
    async_enable = SQL_ATTR_ASYNC_ENABLE,
    concurrency = SQL_ATTR_CONCURRENCY,
    cursor_type = SQL_ATTR_CURSOR_TYPE,
    enable_auto_ipd = SQL_ATTR_ENABLE_AUTO_IPD,
    fetch_bookmark_ptr = SQL_ATTR_FETCH_BOOKMARK_PTR,
    keyset_size = SQL_ATTR_KEYSET_SIZE,
    max_length = SQL_ATTR_MAX_LENGTH,
    max_rows = SQL_ATTR_MAX_ROWS,
    noscan = SQL_ATTR_NOSCAN,
    param_bind_offset_ptr = SQL_ATTR_PARAM_BIND_OFFSET_PTR,
    param_bind_type = SQL_ATTR_PARAM_BIND_TYPE,
    param_operation_ptr = SQL_ATTR_PARAM_OPERATION_PTR,
    param_status_ptr = SQL_ATTR_PARAM_STATUS_PTR,
    params_processed_ptr = SQL_ATTR_PARAMS_PROCESSED_PTR,
    paramset_size = SQL_ATTR_PARAMSET_SIZE,
    query_timeout = SQL_ATTR_QUERY_TIMEOUT,
    retrieve_data = SQL_ATTR_RETRIEVE_DATA,
    row_array_size = SQL_ATTR_ROW_ARRAY_SIZE,
    row_bind_offset_ptr = SQL_ATTR_ROW_BIND_OFFSET_PTR,
    row_bind_type = SQL_ATTR_ROW_BIND_TYPE,
    row_number = SQL_ATTR_ROW_NUMBER,
    row_operation_ptr = SQL_ATTR_ROW_OPERATION_PTR,
    row_status_ptr = SQL_ATTR_ROW_STATUS_PTR,
    rows_fetched_ptr = SQL_ATTR_ROWS_FETCHED_PTR,
    simulate_cursor = SQL_ATTR_SIMULATE_CURSOR,
    use_bookmarks = SQL_ATTR_USE_BOOKMARKS,
};

} // namespace qix::sql

#pragma once

#include "TimestampFormat.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qix::lite {

/// One value of the current row as the conversions see it: SQLite's storage class, except that a
/// column declared TIMESTAMP delivers its canonical text as a parsed time.
struct Cell {
    enum class Kind { null, integer, real, text, blob, timestamp };
    Kind kind = Kind::null;
    std::int64_t integer = 0;
    double real = 0.0;
    std::string_view bytes; // text or blob, owned by SQLite until the next step
    Timestamp time;
    int precision = kDefaultTimestampPrecision;
};

/// How a conversion went when it did not fail.
enum class Outcome {
    ok,
    truncated,          // 01004: character or binary data cut
    fraction_truncated, // 01S07: fractional part of a number cut
};

/// The SQL type, size, digits and nullability SQLDescribeCol reports, the precision of a DATE or
/// TIMESTAMP column (-1 for every other column), and the scale SQL_C_NUMERIC results get.
struct ColumnType {
    SQLSMALLINT sql_type = SQL_VARCHAR;
    SQLULEN size = 255;
    SQLSMALLINT digits = 0;
    int timestamp_precision = -1;
    int numeric_scale = -1; // -1: each value keeps its own scale
    SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
};

/// The constraints of a table column that decide whether it may hold NULL.
struct ColumnConstraints {
    bool not_null = false;
    bool primary_key = false;
};

/// The column type for a declared type as SQLite reports it (null or empty when undeclared).
/// Without `constraints` (an expression, or a column of a view) the nullability is unknown.
[[nodiscard]] ColumnType column_type_from_declaration(const char* declared,
                                                      const ColumnConstraints* constraints = nullptr);
/// The column type of an undeclared column from the storage class of a value.
[[nodiscard]] ColumnType column_type_from_value(int sqlite_type);

/// True for the C types this driver converts to and from (SQL_C_DEFAULT included).
[[nodiscard]] bool is_supported_c_type(SQLSMALLINT c_type);
/// The C type that SQL_C_DEFAULT stands for with a column or parameter of `sql_type`.
[[nodiscard]] SQLSMALLINT default_c_type(SQLSMALLINT sql_type);
/// True for SQL_C_CHAR, SQL_C_WCHAR and SQL_C_BINARY, whose data may come in pieces.
[[nodiscard]] inline bool is_variable_length(SQLSMALLINT c_type)
{
    return c_type == SQL_C_CHAR || c_type == SQL_C_WCHAR || c_type == SQL_C_BINARY;
}
/// Bytes of the terminating NUL a buffer of `c_type` gets: 1 for SQL_C_CHAR, 2 for SQL_C_WCHAR.
[[nodiscard]] inline std::size_t terminator_size(SQLSMALLINT c_type)
{
    return c_type == SQL_C_CHAR ? 1 : c_type == SQL_C_WCHAR ? 2 : 0;
}
/// Bytes a value of a fixed-size C type occupies.
[[nodiscard]] SQLLEN fixed_size(SQLSMALLINT c_type);

/// The bytes an SQL_C_CHAR (`binary` false) or SQL_C_BINARY target receives for a non-NULL cell.
/// Text and blob cells are returned without copying; numbers, times and blobs shown as hex are
/// rendered into `scratch`.
[[nodiscard]] std::string_view cell_bytes(const Cell& cell, bool binary, const TimestampFormat& format,
                                          std::string& scratch);

/// Delivers the part of `data` after `offset` into a character, wide-character or binary buffer
/// (`terminator` NUL bytes: 1, 2 or 0), sets the indicator to the bytes still to come and moves
/// `offset` past what was written. Wide text is cut between code units, never inside a
/// surrogate pair.
Outcome write_chunk(std::string_view data, std::size_t& offset, std::size_t terminator, void* buffer,
                    SQLLEN buffer_length, SQLLEN* indicator) noexcept;

/// Writes a non-NULL cell into a buffer of a fixed-size C type; `numeric_scale` is the scale an
/// SQL_C_NUMERIC target gets (-1: the value's own). Throws DriverError: 22003 for a number out of
/// range, 22018 for text that is no number, 07006 for an impossible conversion.
Outcome write_fixed(const Cell& cell, SQLSMALLINT c_type, void* buffer, int numeric_scale = -1);

/// An application's parameter binding, read when the statement executes.
struct ParameterBinding {
    bool bound = false;
    SQLSMALLINT c_type = 0;
    SQLSMALLINT sql_type = 0;
    SQLULEN column_size = 0;
    SQLSMALLINT digits = 0;
    SQLPOINTER buffer = nullptr;
    SQLLEN buffer_length = 0;
    SQLLEN* indicator = nullptr;
};

/// Binds what the application's buffers hold now to SQLite parameter `index`. Text sent for a
/// TIMESTAMP parameter is read in the session format and stored canonically. A null buffer binds
/// NULL. `row` (from 0) selects the element of a parameter array: `row_size` bytes apart when
/// bound row-wise, one buffer length (or one value) apart when `row_size` is 0; `offset` is added
/// to every address. Throws DriverError for values that cannot be sent.
void bind_parameter_value(sqlite3_stmt* statement, int index, const ParameterBinding& parameter,
                          const TimestampFormat& session_format, SQLULEN row = 0, SQLULEN row_size = 0,
                          SQLLEN offset = 0);

} // namespace qix::lite

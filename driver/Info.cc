#include "Info.h"

#include <cstring>

namespace qix::lite {

namespace {

constexpr const char* kDriverName = "libqix_lite_odbc.so";
constexpr const char* kDriverVersion = "01.00.0000";

} // namespace

SQLRETURN get_info(const Connection& connection, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT buffer_length,
                   SQLSMALLINT* length)
{
    auto text = [&](std::string_view answer) {
        if (buffer_length < 0)
            throw DriverError("HY090", "Invalid string or buffer length");
        return copy_string_out(answer, value, buffer_length, length) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    };
    switch (type) {
    case SQL_DRIVER_NAME: return text(kDriverName);
    case SQL_DRIVER_VER: return text(kDriverVersion);
    case SQL_DRIVER_ODBC_VER: return text("03.00");
    case SQL_ODBC_VER: return text("03.00");
    case SQL_DBMS_NAME: return text("SQLite");
    case SQL_DBMS_VER: return text(sqlite3_libversion());
    case SQL_DATA_SOURCE_NAME: return text(connection.settings().dsn);
    case SQL_SERVER_NAME:
    case SQL_DATABASE_NAME: return text(connection.settings().database);
    case SQL_USER_NAME: return text("");
    case SQL_DATA_SOURCE_READ_ONLY: return text("N");
    case SQL_IDENTIFIER_QUOTE_CHAR: return text("\"");
    case SQL_SEARCH_PATTERN_ESCAPE: return text("\\");
    case SQL_CATALOG_NAME_SEPARATOR: return text(".");
    case SQL_CATALOG_TERM:
    case SQL_PROCEDURE_TERM: return text("");
    case SQL_SCHEMA_TERM: return text("schema");
    case SQL_TABLE_TERM: return text("table");
    case SQL_CATALOG_NAME:
    case SQL_PROCEDURES:
    case SQL_ACCESSIBLE_PROCEDURES:
    case SQL_ACCESSIBLE_TABLES:
    case SQL_MULT_RESULT_SETS:
    case SQL_NEED_LONG_DATA_LEN:
    case SQL_ORDER_BY_COLUMNS_IN_SELECT:
    case SQL_ROW_UPDATES:
    case SQL_MAX_ROW_SIZE_INCLUDES_LONG: return text("N");
    case SQL_MULTIPLE_ACTIVE_TXN:
    case SQL_COLUMN_ALIAS:
    case SQL_LIKE_ESCAPE_CLAUSE:
    case SQL_INTEGRITY:
    case SQL_OUTER_JOINS:
    case SQL_EXPRESSIONS_IN_ORDERBY: return text("Y");
    case SQL_SPECIAL_CHARACTERS: return text("");
    case SQL_KEYWORDS: return text("");
    case SQL_MAX_DRIVER_CONNECTIONS:
    case SQL_MAX_CONCURRENT_ACTIVITIES: return put_value<SQLUSMALLINT>(value, 0);
    case SQL_MAX_COLUMN_NAME_LEN:
    case SQL_MAX_TABLE_NAME_LEN:
    case SQL_MAX_SCHEMA_NAME_LEN:
    case SQL_MAX_CURSOR_NAME_LEN:
    case SQL_MAX_CATALOG_NAME_LEN:
    case SQL_MAX_IDENTIFIER_LEN: return put_value<SQLUSMALLINT>(value, 255);
    case SQL_MAX_COLUMNS_IN_SELECT:
    case SQL_MAX_COLUMNS_IN_TABLE: return put_value<SQLUSMALLINT>(value, 2000);
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR: return put_value<SQLUSMALLINT>(value, SQL_CB_PRESERVE);
    case SQL_TXN_CAPABLE: return put_value<SQLUSMALLINT>(value, SQL_TC_ALL);
    case SQL_DEFAULT_TXN_ISOLATION:
    case SQL_TXN_ISOLATION_OPTION: return put_value<SQLUINTEGER>(value, SQL_TXN_SERIALIZABLE);
    case SQL_IDENTIFIER_CASE:
    case SQL_QUOTED_IDENTIFIER_CASE: return put_value<SQLUSMALLINT>(value, SQL_IC_MIXED);
    case SQL_NULL_COLLATION: return put_value<SQLUSMALLINT>(value, SQL_NC_LOW);
    case SQL_CONCAT_NULL_BEHAVIOR: return put_value<SQLUSMALLINT>(value, SQL_CB_NULL);
    case SQL_NON_NULLABLE_COLUMNS: return put_value<SQLUSMALLINT>(value, SQL_NNC_NON_NULL);
    case SQL_CORRELATION_NAME: return put_value<SQLUSMALLINT>(value, SQL_CN_ANY);
    case SQL_GROUP_BY: return put_value<SQLUSMALLINT>(value, SQL_GB_GROUP_BY_CONTAINS_SELECT);
    case SQL_FILE_USAGE: return put_value<SQLUSMALLINT>(value, SQL_FILE_NOT_SUPPORTED);
    case SQL_GETDATA_EXTENSIONS:
        return put_value<SQLUINTEGER>(value, SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND);
    case SQL_SCROLL_OPTIONS: return put_value<SQLUINTEGER>(value, SQL_SO_FORWARD_ONLY);
    case SQL_CURSOR_SENSITIVITY: return put_value<SQLUINTEGER>(value, SQL_INSENSITIVE);
    case SQL_SCROLL_CONCURRENCY: return put_value<SQLUINTEGER>(value, SQL_SCCO_READ_ONLY);
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1: return put_value<SQLUINTEGER>(value, SQL_CA1_NEXT);
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2:
        return put_value<SQLUINTEGER>(value, SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT);
    case SQL_STATIC_CURSOR_ATTRIBUTES1:
    case SQL_STATIC_CURSOR_ATTRIBUTES2:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES1:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES2:
    case SQL_KEYSET_CURSOR_ATTRIBUTES1:
    case SQL_KEYSET_CURSOR_ATTRIBUTES2:
    case SQL_BOOKMARK_PERSISTENCE:
    case SQL_POS_OPERATIONS:
    case SQL_POSITIONED_STATEMENTS:
    case SQL_LOCK_TYPES:
    case SQL_STATIC_SENSITIVITY:
    case SQL_ASYNC_MODE:
    case SQL_MAX_ASYNC_CONCURRENT_STATEMENTS:
    case SQL_BATCH_SUPPORT:
    case SQL_BATCH_ROW_COUNT:
    case SQL_PARAM_ARRAY_ROW_COUNTS:
    case SQL_PARAM_ARRAY_SELECTS:
    case SQL_DATETIME_LITERALS:
    case SQL_TIMEDATE_FUNCTIONS:
    case SQL_SYSTEM_FUNCTIONS:
    case SQL_CONVERT_FUNCTIONS:
    case SQL_NUMERIC_FUNCTIONS:
    case SQL_STRING_FUNCTIONS:
    case SQL_OJ_CAPABILITIES:
    case SQL_SCHEMA_USAGE:
    case SQL_CATALOG_USAGE:
    case SQL_SUBQUERIES:
    case SQL_UNION:
    case SQL_ALTER_TABLE: return put_value<SQLUINTEGER>(value, 0);
    case SQL_ODBC_INTERFACE_CONFORMANCE: return put_value<SQLUINTEGER>(value, SQL_OIC_CORE);
    case SQL_SQL_CONFORMANCE: return put_value<SQLUINTEGER>(value, SQL_SC_SQL92_ENTRY);
    case SQL_MAX_STATEMENT_LEN:
    case SQL_MAX_ROW_SIZE:
    case SQL_MAX_CHAR_LITERAL_LEN:
    case SQL_MAX_BINARY_LITERAL_LEN: return put_value<SQLUINTEGER>(value, 0);
    default: break;
    }
    throw DriverError("HY096", "Information type " + std::to_string(type) + " is not answered by this driver");
}

} // namespace qix::lite

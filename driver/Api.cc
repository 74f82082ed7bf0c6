// The ODBC entry points the driver manager looks up by name. Each one checks its handle against
// the registry, clears the handle's diagnostics (except the diagnostic functions themselves),
// and turns exceptions into diagnostic records, so that no call sequence can crash the process.
#include "Catalogue.h"
#include "Connection.h"
#include "Info.h"
#include "Statement.h"

#include <sql.h>
#include <sqlext.h>

#include <new>

using namespace qix::lite;

namespace {

void record(Diagnostics& diagnostics, std::string_view state, std::string_view message) noexcept
{
    try {
        diagnostics.add(state, message);
    } catch (...) {
        // Out of memory while reporting: the return code still tells the failure.
    }
}

template <typename T, typename Call>
SQLRETURN guarded(SQLHANDLE handle, Call&& call) noexcept
{
    T* object = find_handle<T>(handle);
    if (object == nullptr)
        return SQL_INVALID_HANDLE;
    Diagnostics& diagnostics = object->diagnostics();
    diagnostics.clear();
    SQLRETURN rc = SQL_ERROR;
    try {
        rc = call(*object);
    } catch (const DriverError& e) {
        try {
            diagnostics.add(e);
        } catch (...) {
        }
    } catch (const std::bad_alloc&) {
        record(diagnostics, "HY001", "Memory allocation error");
    } catch (const std::exception& e) {
        record(diagnostics, "HY000", e.what());
    }
    diagnostics.set_return_code(rc);
    return rc;
}

Handle* any_handle(SQLSMALLINT type, SQLHANDLE handle) noexcept
{
    switch (type) {
    case SQL_HANDLE_ENV: return Handle::find(handle, HandleKind::environment);
    case SQL_HANDLE_DBC: return Handle::find(handle, HandleKind::connection);
    case SQL_HANDLE_STMT: return Handle::find(handle, HandleKind::statement);
    default: return nullptr;
    }
}

SQLRETURN free_handle(SQLSMALLINT type, SQLHANDLE handle) noexcept
{
    switch (type) {
    case SQL_HANDLE_ENV: {
        auto* environment = find_handle<Environment>(handle);
        if (environment == nullptr)
            return SQL_INVALID_HANDLE;
        environment->diagnostics().clear();
        if (environment->connection_count > 0) {
            record(environment->diagnostics(), "HY010", "Function sequence error: free the connections first");
            return SQL_ERROR;
        }
        delete environment;
        return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
        auto* connection = find_handle<Connection>(handle);
        if (connection == nullptr)
            return SQL_INVALID_HANDLE;
        connection->diagnostics().clear();
        if (connection->is_connected()) {
            record(connection->diagnostics(), "HY010", "Function sequence error: disconnect first");
            return SQL_ERROR;
        }
        delete connection;
        return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
        auto* statement = find_handle<Statement>(handle);
        if (statement == nullptr)
            return SQL_INVALID_HANDLE;
        statement->connection().free_statement(*statement);
        return SQL_SUCCESS;
    }
    default: return SQL_INVALID_HANDLE;
    }
}

// A name argument of a catalogue function: a null pointer stands for "any".
NameArgument name_in(const SQLCHAR* text, SQLSMALLINT length)
{
    if (text == nullptr)
        return std::nullopt;
    return string_in(text, length);
}

// The table name that SQLPrimaryKeys, SQLStatistics and SQLSpecialColumns require.
std::string required_table(const SQLCHAR* text, SQLSMALLINT length)
{
    if (text == nullptr)
        throw DriverError("HY009", "Invalid use of null pointer: a table name is required");
    return string_in(text, length);
}

SQLRETURN run_catalogue(Statement& statement, const CatalogueQuery& query)
{
    return statement.execute_catalogue(query.sql, query.types);
}

const std::vector<std::string>& schemas_of(Statement& statement) { return statement.connection().settings().schemas; }

} // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output)
{
    switch (type) {
    case SQL_HANDLE_ENV:
        if (output == nullptr)
            return SQL_ERROR;
        try {
            *output = static_cast<Handle*>(new Environment());
            return SQL_SUCCESS;
        } catch (...) {
            *output = SQL_NULL_HANDLE;
            return SQL_ERROR;
        }
    case SQL_HANDLE_DBC:
        return guarded<Environment>(input, [&](Environment& environment) {
            if (output == nullptr)
                throw DriverError("HY009", "Invalid use of null pointer");
            *output = SQL_NULL_HANDLE;
            *output = static_cast<Handle*>(new Connection(environment));
            return SQL_SUCCESS;
        });
    case SQL_HANDLE_STMT:
        return guarded<Connection>(input, [&](Connection& connection) {
            if (output == nullptr)
                throw DriverError("HY009", "Invalid use of null pointer");
            *output = SQL_NULL_HANDLE;
            *output = static_cast<Handle*>(&connection.allocate_statement());
            return SQL_SUCCESS;
        });
    case SQL_HANDLE_DESC:
        return guarded<Connection>(input, [&](Connection&) -> SQLRETURN {
            throw DriverError("HYC00", "Optional feature not implemented: descriptor handles");
        });
    default: {
        auto invalid_type = [&](auto&) -> SQLRETURN {
            throw DriverError("HY092", "Invalid handle type " + std::to_string(type));
        };
        if (Handle::find(input, HandleKind::environment) != nullptr)
            return guarded<Environment>(input, invalid_type);
        return guarded<Connection>(input, invalid_type);
    }
    }
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) { return free_handle(type, handle); }

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER)
{
    return guarded<Environment>(handle, [&](Environment& environment) {
        const auto number = static_cast<SQLINTEGER>(reinterpret_cast<SQLLEN>(value));
        switch (attribute) {
        case SQL_ATTR_ODBC_VERSION:
            if (number != SQL_OV_ODBC2 && number != SQL_OV_ODBC3 && number != SQL_OV_ODBC3_80)
                throw DriverError("HY024", "Invalid attribute value for SQL_ATTR_ODBC_VERSION");
            environment.odbc_version = number;
            return SQL_SUCCESS;
        case SQL_ATTR_CONNECTION_POOLING:
        case SQL_ATTR_CP_MATCH: return SQL_SUCCESS;
        case SQL_ATTR_OUTPUT_NTS:
            if (number != SQL_TRUE)
                throw DriverError("HYC00", "Optional feature not implemented: strings are always NUL-terminated");
            return SQL_SUCCESS;
        default: throw DriverError("HY092", "Invalid attribute identifier " + std::to_string(attribute));
        }
    });
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER*)
{
    return guarded<Environment>(handle, [&](Environment& environment) {
        switch (attribute) {
        case SQL_ATTR_ODBC_VERSION: return put_value<SQLINTEGER>(value, environment.odbc_version);
        case SQL_ATTR_OUTPUT_NTS: return put_value<SQLINTEGER>(value, SQL_TRUE);
        case SQL_ATTR_CONNECTION_POOLING: return put_value<SQLUINTEGER>(value, SQL_CP_OFF);
        case SQL_ATTR_CP_MATCH: return put_value<SQLUINTEGER>(value, SQL_CP_STRICT_MATCH);
        default: throw DriverError("HY092", "Invalid attribute identifier " + std::to_string(attribute));
        }
    });
}

SQLRETURN SQL_API SQLConnect(SQLHDBC handle, SQLCHAR* dsn, SQLSMALLINT dsn_length, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                             SQLSMALLINT)
{
    // User and password are accepted and ignored: SQLite has no accounts.
    return guarded<Connection>(handle, [&](Connection& connection) {
        const std::string name = string_in(dsn, dsn_length);
        if (name.empty())
            throw DriverError("IM002", "Data source name not found: no name given");
        connection.connect(Settings::from_data_source(name));
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC handle, SQLHWND, SQLCHAR* in, SQLSMALLINT in_length, SQLCHAR* out,
                                   SQLSMALLINT out_max, SQLSMALLINT* out_length, SQLUSMALLINT)
{
    // The driver never prompts: every completion mode behaves like SQL_DRIVER_NOPROMPT.
    return guarded<Connection>(handle, [&](Connection& connection) {
        if (out_max < 0)
            throw DriverError("HY090", "Invalid string or buffer length");
        connection.connect(Settings::from_connection_string(string_in(in, in_length)));
        if (copy_string_out(connection.settings().connection_string(), out, out_max, out_length)) {
            connection.diagnostics().add("01004", "String data, right truncated: the completed connection string");
            return SQL_SUCCESS_WITH_INFO;
        }
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC handle)
{
    return guarded<Connection>(handle, [&](Connection& connection) {
        if (sqlite3_get_autocommit(connection.db()) == 0)
            throw DriverError("25000", "Invalid transaction state: commit or roll back before disconnecting");
        connection.disconnect();
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length)
{
    return guarded<Connection>(
        handle, [&](Connection& connection) { return connection.set_attribute(attribute, value, length); });
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER buffer_length,
                                    SQLINTEGER* length)
{
    return guarded<Connection>(handle, [&](Connection& connection) {
        return connection.get_attribute(attribute, value, buffer_length, length);
    });
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT buffer_length,
                             SQLSMALLINT* length)
{
    return guarded<Connection>(
        handle, [&](Connection& connection) { return get_info(connection, type, value, buffer_length, length); });
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion)
{
    if (type == SQL_HANDLE_ENV)
        return guarded<Environment>(handle, [&](Environment&) -> SQLRETURN {
            throw DriverError("HYC00", "Optional feature not implemented: SQLEndTran on an environment");
        });
    if (type != SQL_HANDLE_DBC)
        return SQL_INVALID_HANDLE;
    return guarded<Connection>(handle, [&](Connection& connection) {
        connection.end_transaction(completion);
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT number, SQLCHAR* state,
                                SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT buffer_length, SQLSMALLINT* text_length)
{
    Handle* object = any_handle(type, handle);
    if (object == nullptr)
        return SQL_INVALID_HANDLE;
    return object->diagnostics().get_record(number, state, native, text, buffer_length, text_length);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT number, SQLSMALLINT identifier,
                                  SQLPOINTER info, SQLSMALLINT buffer_length, SQLSMALLINT* string_length)
{
    Handle* object = any_handle(type, handle);
    if (object == nullptr)
        return SQL_INVALID_HANDLE;
    return object->diagnostics().get_field(type == SQL_HANDLE_STMT, number, identifier, info, buffer_length,
                                           string_length);
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        statement.prepare(text, length);
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT handle)
{
    return guarded<Statement>(handle, [&](Statement& statement) { return statement.execute(); });
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        statement.prepare(text, length);
        return statement.execute();
    });
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT handle)
{
    return guarded<Statement>(handle, [&](Statement& statement) { return statement.fetch(); });
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER buffer,
                             SQLLEN buffer_length, SQLLEN* indicator)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        return statement.get_data(column, c_type, buffer, buffer_length, indicator);
    });
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER buffer,
                             SQLLEN buffer_length, SQLLEN* indicator)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        statement.bind_column(column, c_type, buffer, buffer_length, indicator);
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT handle, SQLUSMALLINT number, SQLSMALLINT io_type, SQLSMALLINT c_type,
                                   SQLSMALLINT sql_type, SQLULEN column_size, SQLSMALLINT digits, SQLPOINTER buffer,
                                   SQLLEN buffer_length, SQLLEN* indicator)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        statement.bind_parameter(number, io_type, c_type, sql_type, column_size, digits, buffer, buffer_length,
                                 indicator);
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT handle, SQLSMALLINT* count)
{
    return guarded<Statement>(
        handle, [&](Statement& statement) { return put_value<SQLSMALLINT>(count, statement.result_column_count()); });
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT handle, SQLSMALLINT* count)
{
    return guarded<Statement>(
        handle, [&](Statement& statement) { return put_value<SQLSMALLINT>(count, statement.parameter_count()); });
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT handle, SQLUSMALLINT number, SQLSMALLINT* type, SQLULEN* size,
                                   SQLSMALLINT* digits, SQLSMALLINT* nullable)
{
    // SQLite gives parameters no type: a parameter takes whatever value it is bound to. It is
    // described as text with room for nine fraction digits, so that clients that size their
    // values by this answer send timestamps and decimals with every digit they have.
    return guarded<Statement>(handle, [&](Statement& statement) {
        if (number == 0 || number > statement.parameter_count())
            throw DriverError("07009",
                              "Invalid descriptor index: parameter " + std::to_string(number) + " does not exist");
        put_value<SQLSMALLINT>(type, SQL_VARCHAR);
        put_value<SQLULEN>(size, 255);
        put_value<SQLSMALLINT>(digits, 9);
        return put_value<SQLSMALLINT>(nullable, SQL_NULLABLE_UNKNOWN);
    });
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT handle, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT buffer_length,
                                 SQLSMALLINT* name_length, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
                                 SQLSMALLINT* nullable)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        const SQLRETURN rc =
            statement.describe_column(column, name, buffer_length, name_length, type, size, digits, nullable);
        if (rc == SQL_SUCCESS_WITH_INFO)
            statement.diagnostics().add("01004", "String data, right truncated: the column name");
        return rc;
    });
}

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT handle, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                                  SQLSMALLINT buffer_length, SQLSMALLINT* length, SQLLEN* number)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        const SQLRETURN rc = statement.column_attribute(column, field, text, buffer_length, length, number);
        if (rc == SQL_SUCCESS_WITH_INFO)
            statement.diagnostics().add("01004", "String data, right truncated: the column attribute");
        return rc;
    });
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT handle, SQLLEN* count)
{
    return guarded<Statement>(handle,
                              [&](Statement& statement) { return put_value<SQLLEN>(count, statement.row_count()); });
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT handle)
{
    // One statement has at most one result set: discard it and report that no other follows.
    return guarded<Statement>(handle, [&](Statement& statement) {
        statement.close_cursor(false);
        return SQL_NO_DATA;
    });
}

SQLRETURN SQL_API SQLCancel(SQLHSTMT handle)
{
    // From another thread while the statement runs, only raise its interrupt flag: its
    // diagnostics belong to the running call.
    if (auto* statement = find_handle<Statement>(handle); statement != nullptr && statement->interrupt())
        return SQL_SUCCESS;
    return guarded<Statement>(handle, [&](Statement& statement) {
        statement.close_cursor(false);
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT handle)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        statement.close_cursor(true);
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT handle, SQLUSMALLINT option)
{
    if (option == SQL_DROP)
        return free_handle(SQL_HANDLE_STMT, handle);
    return guarded<Statement>(handle, [&](Statement& statement) {
        switch (option) {
        case SQL_CLOSE: statement.close_cursor(false); break;
        case SQL_UNBIND: statement.unbind_columns(); break;
        case SQL_RESET_PARAMS: statement.reset_parameters(); break;
        default: throw DriverError("HY092", "Invalid option " + std::to_string(option) + " for SQLFreeStmt");
        }
        return SQL_SUCCESS;
    });
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER)
{
    return guarded<Statement>(handle, [&](Statement& statement) { return statement.set_attribute(attribute, value); });
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER*)
{
    return guarded<Statement>(handle, [&](Statement& statement) { return statement.get_attribute(attribute, value); });
}

SQLRETURN SQL_API SQLTables(SQLHSTMT handle, SQLCHAR* catalog, SQLSMALLINT catalog_length, SQLCHAR* schema,
                            SQLSMALLINT schema_length, SQLCHAR* table, SQLSMALLINT table_length, SQLCHAR* types,
                            SQLSMALLINT types_length)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        return run_catalogue(statement, tables_query(schemas_of(statement), name_in(catalog, catalog_length),
                                                     name_in(schema, schema_length), name_in(table, table_length),
                                                     name_in(types, types_length)));
    });
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT handle, SQLCHAR*, SQLSMALLINT, SQLCHAR* schema, SQLSMALLINT schema_length,
                             SQLCHAR* table, SQLSMALLINT table_length, SQLCHAR* column, SQLSMALLINT column_length)
{
    // There are no catalogues: the catalogue argument is ignored.
    return guarded<Statement>(handle, [&](Statement& statement) {
        return run_catalogue(statement, columns_query(schemas_of(statement), name_in(schema, schema_length),
                                                      name_in(table, table_length), name_in(column, column_length)));
    });
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT handle, SQLSMALLINT data_type)
{
    return guarded<Statement>(
        handle, [&](Statement& statement) { return run_catalogue(statement, type_info_query(data_type)); });
}

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT handle, SQLCHAR*, SQLSMALLINT, SQLCHAR* schema, SQLSMALLINT schema_length,
                                 SQLCHAR* table, SQLSMALLINT table_length)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        return run_catalogue(statement, primary_keys_query(schemas_of(statement), name_in(schema, schema_length),
                                                           required_table(table, table_length)));
    });
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT handle, SQLCHAR*, SQLSMALLINT, SQLCHAR* schema, SQLSMALLINT schema_length,
                                SQLCHAR* table, SQLSMALLINT table_length, SQLUSMALLINT unique, SQLUSMALLINT)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        if (unique != SQL_INDEX_UNIQUE && unique != SQL_INDEX_ALL)
            throw DriverError("HY100", "Uniqueness option type out of range");
        return run_catalogue(statement, statistics_query(schemas_of(statement), name_in(schema, schema_length),
                                                         required_table(table, table_length), unique));
    });
}

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT handle, SQLUSMALLINT identifier_type, SQLCHAR*, SQLSMALLINT,
                                    SQLCHAR* schema, SQLSMALLINT schema_length, SQLCHAR* table,
                                    SQLSMALLINT table_length, SQLUSMALLINT, SQLUSMALLINT)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        if (identifier_type != SQL_BEST_ROWID && identifier_type != SQL_ROWVER)
            throw DriverError("HY097", "Column type out of range");
        return run_catalogue(statement, special_columns_query(schemas_of(statement), identifier_type,
                                                              name_in(schema, schema_length),
                                                              required_table(table, table_length)));
    });
}

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT handle, SQLCHAR*, SQLSMALLINT, SQLCHAR* primary_schema,
                                 SQLSMALLINT primary_schema_length, SQLCHAR* primary_table,
                                 SQLSMALLINT primary_table_length, SQLCHAR*, SQLSMALLINT, SQLCHAR* foreign_schema,
                                 SQLSMALLINT foreign_schema_length, SQLCHAR* foreign_table,
                                 SQLSMALLINT foreign_table_length)
{
    return guarded<Statement>(handle, [&](Statement& statement) {
        if (primary_table == nullptr && foreign_table == nullptr)
            throw DriverError("HY009", "Invalid use of null pointer: give the primary or the foreign key table");
        return run_catalogue(statement,
                             foreign_keys_query(schemas_of(statement), name_in(primary_schema, primary_schema_length),
                                                name_in(primary_table, primary_table_length),
                                                name_in(foreign_schema, foreign_schema_length),
                                                name_in(foreign_table, foreign_table_length)));
    });
}

} // extern "C"

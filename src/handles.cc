#include <qix/sql/handles.h>
#include <qix/util/exceptions.h>
#include <qix/util/tessel.h>

#include <cstring>
#include <string_view>
#include <utility>

namespace qix::sql {

namespace {

// Successful ODBC return codes are SQL_SUCCESS (0) and SQL_SUCCESS_WITH_INFO (1), tested as
// an unsigned 16-bit value so that every negative code counts as a failure.
bool succeeded(SQLRETURN rc) noexcept { return static_cast<std::uint16_t>(rc) <= 1; }

// A driver that keeps answering SQL_SUCCESS would otherwise keep the collector looping.
constexpr SQLSMALLINT kMaxDiagnosticRecords = 64;

constexpr std::size_t kStringChunk = 1024;
constexpr SQLLEN kBinaryChunk = 4096;

// The guard of every call that needs an allocated handle; `message` says which call failed.
void require_allocated(bool allocated, const char* message = "Unallocated SQL statement")
{
    if (!allocated)
        throw Error(message);
}

// The guard of alloc(): a handle is allocated at most once. `kind` is "environment",
// "connection" or "statement".
void refuse_second_alloc(bool allocated, std::string_view kind)
{
    if (allocated)
        throw Error(tessel::cat("Refusing to allocate an already allocated SQL ", kind, " handle"));
}

template <typename Handle>
void move_handle(Handle& target, Handle& source, bool& target_allocated, bool& source_allocated) noexcept
{
    target = source;
    target_allocated = source_allocated;
    source_allocated = false;
}

} // namespace

// ---- EnvironmentHandle ----------------------------------------------------------------

EnvironmentHandle::EnvironmentHandle(EnvironmentHandle&& ori) noexcept { *this = std::move(ori); }

EnvironmentHandle& EnvironmentHandle::operator=(EnvironmentHandle&& ori) noexcept
{
    if (this != &ori) {
        free();
        move_handle(handle_, ori.handle_, is_allocated_, ori.is_allocated_);
    }
    return *this;
}

EnvironmentHandle::~EnvironmentHandle() { free(); }

void EnvironmentHandle::alloc()
{
    refuse_second_alloc(is_allocated_, "environment");
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle_)))
        throw Error("Unable to allocate SQL environment handle");
    is_allocated_ = true;
    if (!succeeded(SQLSetEnvAttr(handle_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
        free();
        throw Error("Unable to set ODBC version as SQL environment attribute");
    }
}

void EnvironmentHandle::free() noexcept
{
    if (is_allocated_) {
        SQLFreeHandle(SQL_HANDLE_ENV, handle_);
        is_allocated_ = false;
    }
}

// ---- ConnectionHandle -----------------------------------------------------------------

ConnectionHandle::ConnectionHandle(ConnectionHandle&& ori) noexcept { *this = std::move(ori); }

ConnectionHandle& ConnectionHandle::operator=(ConnectionHandle&& ori) noexcept
{
    if (this != &ori) {
        free();
        move_handle(handle_, ori.handle_, is_allocated_, ori.is_allocated_);
    }
    return *this;
}

ConnectionHandle::~ConnectionHandle() { free(); }

void ConnectionHandle::alloc(const EnvironmentHandle& env_handle)
{
    refuse_second_alloc(is_allocated_, "connection");
    require_allocated(env_handle.is_allocated(), "SQL environment handle is not allocated");
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env_handle(), &handle_)))
        throw Error("Unable to allocate SQL connection handle");
    is_allocated_ = true;
    // A 5-second login time-out; drivers that cannot honour it still connect.
    SQLSetConnectAttr(handle_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN{5}), 0);
}

void ConnectionHandle::free() noexcept
{
    if (is_allocated_) {
        SQLFreeHandle(SQL_HANDLE_DBC, handle_);
        is_allocated_ = false;
    }
}

// ---- StatementHandle ------------------------------------------------------------------

StatementHandle::StatementHandle(StatementHandle&& ori) noexcept { *this = std::move(ori); }

StatementHandle& StatementHandle::operator=(StatementHandle&& ori) noexcept
{
    if (this != &ori) {
        free();
        move_handle(handle_, ori.handle_, is_allocated_, ori.is_allocated_);
    }
    return *this;
}

StatementHandle::~StatementHandle() { free(); }

void StatementHandle::alloc(const ConnectionHandle& conn_handle)
{
    refuse_second_alloc(is_allocated_, "statement");
    require_allocated(conn_handle.is_allocated(), "SQL connection handle is not allocated");
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, conn_handle(), &handle_)))
        throw Error("Unable to allocate SQL statement handle");
    is_allocated_ = true;
    try {
        set_attribute(AttributeType::query_timeout, reinterpret_cast<SQLPOINTER>(SQLULEN{10}), 0);
    } catch (const Error&) {
        // Drivers without query time-outs are still usable.
    }
}

void StatementHandle::free() noexcept
{
    if (is_allocated_) {
        SQLFreeHandle(SQL_HANDLE_STMT, handle_);
        is_allocated_ = false;
    }
}

void StatementHandle::execute(const std::string& statement)
{
    require_allocated(is_allocated_);
    const SQLRETURN rc = SQLExecDirect(handle_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.data())),
                                       static_cast<SQLINTEGER>(statement.size()));
    if (!succeeded(rc) && rc != SQL_NEED_DATA && rc != SQL_NO_DATA)
        throw Error(tessel::cat("Error executing '", statement, "': ", get_error_message()));
}

void StatementHandle::send_query(const std::string& query)
{
    require_allocated(is_allocated_, "Need to allocate a statement handle before a query can be executed");
    const SQLRETURN rc = SQLExecDirect(handle_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(query.data())),
                                       static_cast<SQLINTEGER>(query.size()));
    if (!succeeded(rc) && rc != SQL_NO_DATA)
        throw Error(tessel::cat("Query failed: ", get_error_message(), " (", query, ")"));
}

bool StatementHandle::fetch()
{
    require_allocated(is_allocated_, "Cannot fetch from an unallocated SQL handle");
    const SQLRETURN rc = SQLFetch(handle_);
    if (succeeded(rc))
        return true;
    if (rc == SQL_NO_DATA)
        return false;
    throw Error(tessel::cat("Unable to fetch row: ", get_error_message()));
}

void StatementHandle::cancel()
{
    require_allocated(is_allocated_, "Cannot cancel an unallocated SQL handle");
    SQLCancel(handle_);
}

void StatementHandle::close_cursor()
{
    require_allocated(is_allocated_);
    SQLFreeStmt(handle_, SQL_CLOSE);
}

void StatementHandle::bind_column(int column, CDataType datatype, SQLPOINTER buf, SQLLEN buf_len, SQLLEN* ret_len)
{
    require_allocated(is_allocated_);
    if (!succeeded(SQLBindCol(handle_, static_cast<SQLUSMALLINT>(column), static_cast<SQLSMALLINT>(datatype), buf,
                              buf_len, ret_len)))
        throw Error(tessel::cat("Unable to bind to column ", std::to_string(column), ": ", get_error_message()));
}

void StatementHandle::bind_parameter(SQLUSMALLINT param_idx, ParameterType param_type, CDataType c_data_type,
                                     SqlDataType sql_data_type, SQLULEN sql_data_type_length_or_precision,
                                     SQLSMALLINT decimal_digits, SQLPOINTER buf, SQLLEN buf_len, SQLLEN* ret_len)
{
    require_allocated(is_allocated_);
    if (!succeeded(SQLBindParameter(handle_, param_idx, static_cast<SQLSMALLINT>(param_type),
                                    static_cast<SQLSMALLINT>(c_data_type), static_cast<SQLSMALLINT>(sql_data_type),
                                    sql_data_type_length_or_precision, decimal_digits, buf, buf_len, ret_len)))
        throw Error(tessel::cat("Unable to bind SQL parameter ", std::to_string(param_idx), ": ", get_error_message()));
}

void StatementHandle::get_data(int column, SQLSMALLINT datatype, SQLPOINTER buf, SQLLEN buf_len, SQLLEN* ret_len)
{
    require_allocated(is_allocated_);
    if (!succeeded(SQLGetData(handle_, static_cast<SQLUSMALLINT>(column), datatype, buf, buf_len, ret_len)))
        throw Error(tessel::cat("Unable to get data from column ", std::to_string(column), ": ", get_error_message()));
}

void StatementHandle::set_attribute(AttributeType attr_type, SQLPOINTER value_ptr, SQLINTEGER str_len)
{
    require_allocated(is_allocated_);
    if (!succeeded(SQLSetStmtAttr(handle_, static_cast<SQLINTEGER>(attr_type), value_ptr, str_len)))
        throw Error(tessel::cat("Unable to set attribute: ", get_error_message()));
}

int StatementHandle::get_column_count()
{
    require_allocated(is_allocated_);
    SQLSMALLINT count = 0;
    if (!succeeded(SQLNumResultCols(handle_, &count)))
        throw Error(tessel::cat("Unable to count result columns: ", get_error_message()));
    return count;
}

StatementHandle::ColumnDescription StatementHandle::describe_column(int column) const
{
    ColumnDescription description;
    if (!is_allocated_)
        return description;
    const auto number = static_cast<SQLUSMALLINT>(column);
    SQLCHAR name[1];
    SQLSMALLINT name_length = 0;
    SQLULEN size = 0;
    SQLSMALLINT nullable = 0;
    if (!succeeded(SQLDescribeCol(handle_, number, name, sizeof name, &name_length, &description.sql_type, &size,
                                  &description.digits, &nullable)))
        return {};
    char type_name[128];
    SQLSMALLINT type_name_length = 0;
    if (succeeded(SQLColAttribute(handle_, number, SQL_DESC_TYPE_NAME, type_name, sizeof type_name, &type_name_length,
                                  nullptr)))
        description.type_name.assign(type_name, ::strnlen(type_name, sizeof type_name));
    return description;
}

std::string StatementHandle::get_data_as_string(int column, bool* was_null)
{
    require_allocated(is_allocated_);
    std::string result;
    if (was_null != nullptr)
        *was_null = false;
    char buffer[kStringChunk];
    SQLLEN indicator = 0;
    SQLRETURN rc;
    while (succeeded(
        rc = SQLGetData(handle_, static_cast<SQLUSMALLINT>(column), SQL_C_CHAR, buffer, kStringChunk, &indicator))) {
        if (indicator == SQL_NULL_DATA) {
            if (was_null != nullptr)
                *was_null = true;
            return result;
        }
        // The indicator gives the bytes left before this call; the chunk holds at most
        // 1023 of them before its terminator. Taking the length from the indicator keeps
        // embedded NUL bytes.
        const bool full_chunk = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(kStringChunk);
        result.append(buffer, full_chunk ? kStringChunk - 1 : static_cast<std::size_t>(indicator));
        // A chunk that held the whole rest of the value ends it; asking again would only
        // hear SQL_NO_DATA.
        if (rc == SQL_SUCCESS && !full_chunk)
            return result;
    }
    if (rc == SQL_NO_DATA)
        return result;
    throw Error(tessel::cat("Error while retrieving data from column ", std::to_string(column)));
}

std::vector<unsigned char> StatementHandle::get_data_as_binary(int column, bool* was_null)
{
    require_allocated(is_allocated_);
    std::vector<unsigned char> result;
    std::size_t offset = 0;
    if (was_null != nullptr)
        *was_null = false;
    SQLLEN indicator = 0;
    SQLRETURN rc;
    for (;;) {
        result.resize(offset + kBinaryChunk);
        rc = SQLGetData(handle_, static_cast<SQLUSMALLINT>(column), SQL_C_BINARY, result.data() + offset, kBinaryChunk,
                        &indicator);
        if (!succeeded(rc))
            break;
        if (indicator == SQL_NULL_DATA) {
            if (was_null != nullptr)
                *was_null = true;
            result.resize(offset);
            return result;
        }
        offset += (indicator > kBinaryChunk || indicator == SQL_NO_TOTAL) ? kBinaryChunk
                                                                          : static_cast<std::size_t>(indicator);
    }
    if (rc == SQL_NO_DATA) {
        result.resize(offset);
        return result;
    }
    throw Error(
        tessel::cat("Error while retrieving data from column ", std::to_string(column), ": ", get_error_message()));
}

std::string StatementHandle::get_error_message() const
{
    std::string result;
    SQLCHAR state[6];
    SQLINTEGER native_error = 0;
    SQLCHAR message[513];
    SQLSMALLINT text_length = 0;
    for (SQLSMALLINT record = 1; record <= kMaxDiagnosticRecords; ++record) {
        message[0] = '\0';
        const SQLRETURN rc = SQLGetDiagRec(SQL_HANDLE_STMT, handle_, record, state, &native_error, message,
                                           sizeof message, &text_length);
        if (rc == SQL_NO_DATA || rc < 0)
            break;
        result += reinterpret_cast<const char*>(message);
    }
    return result;
}

} // namespace qix::sql

#include <qix/sql/Database.h>
#include <qix/util/tessel.h>

#include <limits>
#include <utility>

namespace qix::sql {

namespace {

// An empty user or password reaches the driver manager as a null pointer with length 0.
SQLCHAR* text_or_null(const std::string& text)
{
    return text.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.data()));
}

// Doubles every single quote so that a name can never end the SQL string literal it is
// placed in.
std::string quote_literal_content(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out;
}

constexpr std::size_t kColumnNameBuffer = 256;

// A refused connect leaves a handful of records; a driver that keeps answering must not keep us looping.
constexpr SQLSMALLINT kMaxConnectDiagnostics = 16;

// The diagnostic records of the connection handle, "[SQLSTATE] text" each.
std::vector<std::string> connection_diagnostics(SQLHDBC handle)
{
    std::vector<std::string> records;
    SQLCHAR state[6];
    SQLINTEGER native_error = 0;
    SQLCHAR message[1024];
    SQLSMALLINT text_length = 0;
    for (SQLSMALLINT record = 1; record <= kMaxConnectDiagnostics; ++record) {
        const SQLRETURN rc =
            SQLGetDiagRec(SQL_HANDLE_DBC, handle, record, state, &native_error, message, sizeof message, &text_length);
        if (!SQL_SUCCEEDED(rc))
            break;
        records.push_back(
            tessel::cat("[", reinterpret_cast<const char*>(state), "] ", reinterpret_cast<const char*>(message)));
    }
    return records;
}

std::string connect_message(const std::string& data_source)
{
    return tessel::cat("Could not connect to data source ", data_source,
                       ".\nMake sure that the data source is a valid DSN specified in your odbc.ini file, check "
                       "that username and password are correct, and verify your LD_LIBRARY_PATH setting.");
}

// SQLConnect takes each length as SQLSMALLINT: a longer text would wrap around to another
// length and name another data source or user, or cut the password. Returns why not, or "".
std::string connect_argument_too_long(const std::string& data_source, const std::string& user,
                                      const std::string& password)
{
    constexpr auto kMaxLength = static_cast<std::size_t>(std::numeric_limits<SQLSMALLINT>::max());
    for (const auto& [what, text] :
         {std::pair{"data source name", &data_source}, {"user", &user}, {"password", &password}})
        if (text->size() > kMaxLength)
            return tessel::cat("The ", what, " is ", std::to_string(text->size()), " bytes long; ODBC takes at most ",
                               std::to_string(kMaxLength));
    return {};
}

} // namespace

namespace detail {

void throw_null_in_column(int column)
{
    throw Error(tessel::cat("NULL value in column ", std::to_string(column),
                            " cannot be read into a non-optional result element"));
}

void check_result_column_count(int available, int wanted)
{
    if (available < wanted)
        throw Error(tessel::cat("Result has no column ", std::to_string(available + 1), ": the statement returns ",
                                std::to_string(available), " columns but ", std::to_string(wanted), " were requested"));
}

} // namespace detail

Database::Database(const std::string& data_source, const std::string& user, const std::string& password)
    : data_source_(data_source), user_(user), password_(password)
{
}

Database::~Database() { disconnect(); }

void Database::connect()
{
    if (connected_)
        throw Error("SQL connection is already open");
    if (const std::string too_long = connect_argument_too_long(data_source_, user_, password_); !too_long.empty())
        throw ConnectError(connect_message(data_source_), {too_long});
    if (!env_handle_.is_allocated())
        env_handle_.alloc();
    if (!conn_handle_.is_allocated())
        conn_handle_.alloc(env_handle_);
    const SQLRETURN rc = SQLConnect(
        conn_handle_(), text_or_null(data_source_), static_cast<SQLSMALLINT>(data_source_.size()), text_or_null(user_),
        static_cast<SQLSMALLINT>(user_.size()), text_or_null(password_), static_cast<SQLSMALLINT>(password_.size()));
    if (SQL_SUCCEEDED(rc)) {
        connected_ = true;
        return;
    }
    // Every other outcome leaves the connection closed, so it must not pass for success.
    throw ConnectError(connect_message(data_source_), connection_diagnostics(conn_handle_()));
}

void Database::disconnect() noexcept
{
    if (connected_)
        SQLDisconnect(conn_handle_());
    connected_ = false;
}

Query Database::get_query(const std::string& query)
{
    if (!connected_)
        connect();
    return Query(query, conn_handle_);
}

Query Database::send_query(const std::string& query)
{
    Query result = get_query(query);
    result.send();
    return result;
}

Procedure Database::get_procedure(std::string procedure)
{
    if (!connected_)
        connect();
    return Procedure(std::move(procedure), conn_handle_);
}

std::vector<std::string> Database::read_column_names(std::string_view table_name, std::string_view owner)
{
    const std::string statement =
        tessel::cat("SELECT COLUMN_NAME FROM ALL_TAB_COLUMNS WHERE UPPER(OWNER) = '",
                    quote_literal_content(tessel::uppercase_ascii(owner)), "' AND UPPER(TABLE_NAME) = '",
                    quote_literal_content(tessel::uppercase_ascii(table_name)), "'");
    Query query = send_query(statement);
    char buffer[kColumnNameBuffer];
    query.bind_column<char>(1, buffer, kColumnNameBuffer);
    std::vector<std::string> names;
    for (buffer[0] = '\0'; query.fetch(); buffer[0] = '\0')
        names.emplace_back(buffer);
    return names;
}

} // namespace qix::sql

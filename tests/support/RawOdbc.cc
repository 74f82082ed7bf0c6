#include "RawOdbc.h"

#include <stdexcept>

namespace qix::test {

std::vector<DiagRecord> diagnostics_of(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<DiagRecord> records;
    for (SQLSMALLINT number = 1;; ++number) {
        SQLCHAR state[6] = {};
        SQLCHAR message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, number, state, &native, message, sizeof message, &length)))
            break;
        records.push_back({reinterpret_cast<char*>(state), native, reinterpret_cast<char*>(message)});
    }
    return records;
}

std::string diagnostic_text(SQLSMALLINT type, SQLHANDLE handle)
{
    std::string text;
    for (const auto& record : diagnostics_of(type, handle))
        text += record.state + " " + record.message + "; ";
    return text;
}

RawConnection::RawConnection(const std::string& dsn, const std::string& user, Entry entry)
{
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    SQLRETURN rc = SQL_ERROR;
    if (entry == Entry::wide) {
        // Names here are ASCII: widening each byte is their UTF-16.
        std::basic_string<SQLWCHAR> wide_dsn(dsn.begin(), dsn.end()), wide_user(user.begin(), user.end());
        rc = SQLConnectW(dbc_, wide_dsn.data(), SQL_NTS, wide_user.data(), static_cast<SQLSMALLINT>(user.size()),
                         nullptr, 0);
    } else {
        rc = SQLConnect(dbc_, (SQLCHAR*)dsn.c_str(), SQL_NTS, (SQLCHAR*)user.c_str(),
                        static_cast<SQLSMALLINT>(user.size()), nullptr, 0);
    }
    if (!SQL_SUCCEEDED(rc)) {
        const std::string text = diagnostic_text(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
        throw std::runtime_error("connect to " + dsn + " failed: " + text);
    }
}

RawConnection::~RawConnection()
{
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void RawConnection::execute(const std::string& sql) const
{
    RawStatement statement(*this);
    const SQLRETURN rc = statement.exec(sql);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        throw std::runtime_error("statement failed: " + sql + ": " + statement.diagnostic_text());
}

std::vector<std::vector<std::optional<std::string>>> RawConnection::rows(const std::string& sql) const
{
    RawStatement statement(*this);
    if (!SQL_SUCCEEDED(statement.exec(sql)))
        throw std::runtime_error("query failed: " + sql + ": " + statement.diagnostic_text());
    return statement.fetch_all();
}

std::vector<std::vector<std::optional<std::string>>> RawStatement::fetch_all() const
{
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt_, &columns);
    std::vector<std::vector<std::optional<std::string>>> result;
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(stmt_))) {
        auto& row = result.emplace_back();
        for (SQLUSMALLINT column = 1; column <= columns; ++column) {
            std::optional<std::string> value = "";
            char buffer[256];
            SQLLEN indicator = 0;
            while (value && SQL_SUCCEEDED(SQLGetData(stmt_, column, SQL_C_CHAR, buffer, sizeof buffer, &indicator)))
                if (indicator == SQL_NULL_DATA)
                    value.reset();
                else
                    value->append(buffer);
            row.push_back(std::move(value));
        }
    }
    if (rc != SQL_NO_DATA)
        throw std::runtime_error("fetch failed: " + diagnostic_text());
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return result;
}

RawStatement::RawStatement(const RawConnection& connection)
{
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.handle(), &stmt_)))
        throw std::runtime_error("statement allocation failed: " +
                                 qix::test::diagnostic_text(SQL_HANDLE_DBC, connection.handle()));
}

RawStatement::~RawStatement()
{
    if (stmt_ != SQL_NULL_HSTMT)
        SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

SQLRETURN RawStatement::exec(const std::string& sql) const
{
    return SQLExecDirect(stmt_, (SQLCHAR*)sql.data(), static_cast<SQLINTEGER>(sql.size()));
}

SQLRETURN RawStatement::prepare(const std::string& sql) const
{
    return SQLPrepare(stmt_, (SQLCHAR*)sql.data(), static_cast<SQLINTEGER>(sql.size()));
}

std::string RawStatement::state() const
{
    const auto records = diagnostics();
    return records.empty() ? std::string() : records.front().state;
}

} // namespace qix::test

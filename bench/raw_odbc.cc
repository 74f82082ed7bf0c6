#include "raw_odbc.h"

#include <stdexcept>

namespace qix::bench {

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what)
{
    if (SQL_SUCCEEDED(rc))
        return;
    std::string text = what + " failed:";
    SQLCHAR state[6];
    SQLCHAR message[513];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT record = 1; record < 8; ++record) {
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, record, state, &native, message, sizeof message, &length)))
            break;
        text.append(" ").append(reinterpret_cast<const char*>(state)).append(" ");
        text.append(reinterpret_cast<const char*>(message));
    }
    throw std::runtime_error(text);
}

RawConnection::RawConnection(const std::string& dsn, const std::string& user)
{
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    auto* name = reinterpret_cast<SQLCHAR*>(const_cast<char*>(dsn.c_str()));
    auto* login = reinterpret_cast<SQLCHAR*>(const_cast<char*>(user.c_str()));
    const SQLRETURN rc = SQLConnect(dbc_, name, SQL_NTS, user.empty() ? nullptr : login, user.empty() ? 0 : SQL_NTS,
                                    nullptr, 0);
    try {
        check(rc, SQL_HANDLE_DBC, dbc_, "connect to " + dsn);
    } catch (...) {
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
        throw;
    }
}

RawConnection::~RawConnection()
{
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

RawStatement::RawStatement(const RawConnection& connection)
{
    check(SQLAllocHandle(SQL_HANDLE_STMT, connection.handle(), &stmt_), SQL_HANDLE_DBC, connection.handle(),
          "allocate a statement");
}

RawStatement::~RawStatement() { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }

void RawStatement::execute(const std::string& sql)
{
    SQLFreeStmt(stmt_, SQL_CLOSE);
    auto* text = reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data()));
    check(SQLExecDirect(stmt_, text, static_cast<SQLINTEGER>(sql.size())), SQL_HANDLE_STMT, stmt_, sql);
}

void RawStatement::set_attribute(SQLINTEGER attribute, SQLPOINTER value)
{
    check(SQLSetStmtAttr(stmt_, attribute, value, 0), SQL_HANDLE_STMT, stmt_, "SQLSetStmtAttr");
}

void RawStatement::bind(SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER buffer, SQLLEN length, SQLLEN* indicator)
{
    check(SQLBindCol(stmt_, column, c_type, buffer, length, indicator), SQL_HANDLE_STMT, stmt_, "SQLBindCol");
}

bool RawStatement::fetch()
{
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA)
        return false;
    check(rc, SQL_HANDLE_STMT, stmt_, "SQLFetch");
    return true;
}

} // namespace qix::bench

#pragma once

// Bare ODBC for the baselines: a connection and a statement that throw std::runtime_error
// with the driver's diagnostics, and nothing else between the benchmark and the driver manager.

#include <sql.h>
#include <sqlext.h>

#include <string>

namespace qix::bench {

/// Throws std::runtime_error with `what` and the diagnostics of `handle` unless `rc` succeeded.
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what);

class RawConnection {
public:
    RawConnection(const std::string& dsn, const std::string& user);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    [[nodiscard]] SQLHDBC handle() const noexcept { return dbc_; }

private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
};

class RawStatement {
public:
    explicit RawStatement(const RawConnection& connection);
    ~RawStatement();
    RawStatement(const RawStatement&) = delete;
    RawStatement& operator=(const RawStatement&) = delete;
    [[nodiscard]] SQLHSTMT handle() const noexcept { return stmt_; }

    void execute(const std::string& sql);
    void set_attribute(SQLINTEGER attribute, SQLPOINTER value);
    void bind(SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER buffer, SQLLEN length, SQLLEN* indicator);
    /// SQLFetch: true for a row (or rowset), false at the end; throws on an error.
    bool fetch();

private:
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

} // namespace qix::bench

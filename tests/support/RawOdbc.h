#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <vector>

// Raw ODBC through the driver manager, outside the library under test: for setting up fixtures
// and for testing our driver the way any program reaches it.
namespace qix::test {

struct DiagRecord {
    std::string state;
    SQLINTEGER native = 0;
    std::string message;
};

/// Every diagnostic record of a handle, read with SQLGetDiagRec.
std::vector<DiagRecord> diagnostics_of(SQLSMALLINT type, SQLHANDLE handle);
/// The records as one text "STATE message; ..." for failure messages.
std::string diagnostic_text(SQLSMALLINT type, SQLHANDLE handle);

/// An environment and a connection to a data source; throws std::runtime_error when the
/// connect fails. Disconnects and frees both on destruction.
class RawConnection {
public:
    /// How the application connects: through the narrow or the wide entry point. The driver
    /// manager talks to the driver in the same form for the rest of the connection.
    enum class Entry { narrow, wide };
    explicit RawConnection(const std::string& dsn, const std::string& user = "", Entry entry = Entry::narrow);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    [[nodiscard]] SQLHDBC handle() const noexcept { return dbc_; }
    /// Runs one statement, throwing std::runtime_error with the diagnostics when it fails.
    void execute(const std::string& sql) const;
    /// All rows of a query, each value read with SQLGetData as text, NULL as nullopt.
    [[nodiscard]] std::vector<std::vector<std::optional<std::string>>> rows(const std::string& sql) const;

private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
};

/// A statement handle on a RawConnection, freed on destruction (unless already released).
class RawStatement {
public:
    explicit RawStatement(const RawConnection& connection);
    ~RawStatement();
    RawStatement(const RawStatement&) = delete;
    RawStatement& operator=(const RawStatement&) = delete;
    [[nodiscard]] SQLHSTMT handle() const noexcept { return stmt_; }
    /// SQLExecDirect with the text's length.
    SQLRETURN exec(const std::string& sql) const;
    /// SQLPrepare with the text's length.
    SQLRETURN prepare(const std::string& sql) const;
    [[nodiscard]] std::vector<DiagRecord> diagnostics() const { return diagnostics_of(SQL_HANDLE_STMT, stmt_); }
    [[nodiscard]] std::string diagnostic_text() const { return qix::test::diagnostic_text(SQL_HANDLE_STMT, stmt_); }
    /// Every row of the executed statement's result, each value read with SQLGetData as text,
    /// NULL as nullopt; closes the cursor at the end. Throws std::runtime_error when a fetch fails.
    [[nodiscard]] std::vector<std::vector<std::optional<std::string>>> fetch_all() const;
    /// The first diagnostic record's state, or empty.
    [[nodiscard]] std::string state() const;
    /// Forgets the handle without freeing it (for handles the driver manager dropped).
    void release() noexcept { stmt_ = SQL_NULL_HSTMT; }

private:
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

} // namespace qix::test

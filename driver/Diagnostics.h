#pragma once

#include "Output.h"

#include <sql.h>
#include <sqlext.h>

#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace qix::lite {

/// Prefix of every message the driver writes, so that a reader of a log knows the component.
inline constexpr std::string_view kMessagePrefix = "[qix-lite] ";

/// A failure inside the driver: what becomes one diagnostic record and an SQL_ERROR.
class DriverError : public std::exception {
public:
    /// `sqlstate` is the five-character state; `message` is the text without prefix; `native`
    /// the SQLite result code where one exists.
    DriverError(std::string sqlstate, std::string message, SQLINTEGER native = 0);
    [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }
    [[nodiscard]] const std::string& sqlstate() const noexcept { return sqlstate_; }
    [[nodiscard]] const std::string& message() const noexcept { return message_; }
    [[nodiscard]] SQLINTEGER native() const noexcept { return native_; }

private:
    std::string sqlstate_;
    std::string message_;
    SQLINTEGER native_;
};

/// One diagnostic record as SQLGetDiagRec and SQLGetDiagField report it.
struct DiagRecord {
    std::string sqlstate;
    std::string message; // with kMessagePrefix
    SQLINTEGER native = 0;
    SQLLEN row = SQL_NO_ROW_NUMBER;
    SQLINTEGER column = SQL_NO_COLUMN_NUMBER;
};

/// The diagnostic area of one handle: cleared at the start of every call on the handle except the
/// diagnostic functions themselves, so records stay readable until the next call.
class Diagnostics {
public:
    void clear() noexcept
    {
        records_.clear();
        return_code_ = SQL_SUCCESS;
    }
    /// Adds a record; the message gets the driver's prefix.
    void add(std::string_view sqlstate, std::string_view message, SQLINTEGER native = 0, SQLLEN row = SQL_NO_ROW_NUMBER,
             SQLINTEGER column = SQL_NO_COLUMN_NUMBER);
    void add(const DriverError& error, SQLLEN row = SQL_NO_ROW_NUMBER, SQLINTEGER column = SQL_NO_COLUMN_NUMBER)
    {
        add(error.sqlstate(), error.message(), error.native(), row, column);
    }
    void set_return_code(SQLRETURN code) noexcept { return_code_ = code; }
    void set_row_count(SQLLEN count) noexcept { row_count_ = count; }
    [[nodiscard]] bool empty() const noexcept { return records_.empty(); }

    /// SQLGetDiagRec on this area.
    SQLRETURN get_record(SQLSMALLINT number, SQLCHAR* sqlstate, SQLINTEGER* native, SQLCHAR* text,
                         SQLSMALLINT buffer_length, SQLSMALLINT* text_length) const;
    /// SQLGetDiagField on this area; `statement` tells whether statement-only header fields exist.
    SQLRETURN get_field(bool statement, SQLSMALLINT number, SQLSMALLINT identifier, SQLPOINTER info,
                        SQLSMALLINT buffer_length, SQLSMALLINT* string_length) const;

private:
    std::vector<DiagRecord> records_;
    SQLRETURN return_code_ = SQL_SUCCESS;
    SQLLEN row_count_ = 0;
};

/// Reads an application's input string given as pointer and length (or SQL_NTS).
[[nodiscard]] std::string string_in(const SQLCHAR* text, SQLINTEGER length);

} // namespace qix::lite

// The wide-character entry points. Without them the driver manager narrows an application's
// UTF-16 strings to one byte per code unit, which garbles every character outside ASCII in
// statement texts, names and messages. Each one converts its strings between UTF-16 and UTF-8
// and calls the narrow entry point of the same name, so both forms behave alike; buffers of
// wide-character data (SQL_C_WCHAR) never pass through here.
#include "Diagnostics.h"
#include "Handles.h"
#include "Utf16.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

namespace {

using namespace qix::lite;

constexpr SQLSMALLINT kFirstTry = 512;

// Where an output string's length goes: in characters or in bytes, as each function defines.
enum class Unit { character, byte };

// Copies UTF-8 `text` into a wide buffer of `capacity` code units with its terminating 0, never
// splitting a surrogate pair; returns true when it was cut.
template <typename Length>
bool copy_wide_out(std::string_view text, SQLPOINTER buffer, SQLLEN capacity, Length* length, Unit unit)
{
    std::string wide;
    append_utf16(text, wide);
    const std::size_t units = wide.size() / kWideUnit;
    if (length != nullptr)
        *length = static_cast<Length>(unit == Unit::byte ? wide.size() : units);
    if (buffer == nullptr || capacity <= 0)
        return units > 0 && buffer != nullptr;
    std::size_t count = std::min(units, static_cast<std::size_t>(capacity) - 1);
    if (count < units && count > 0 && is_high_surrogate(wide.data() + (count - 1) * kWideUnit))
        --count;
    std::memcpy(buffer, wide.data(), count * kWideUnit);
    static_cast<SQLWCHAR*>(buffer)[count] = 0;
    return count < units;
}

// Runs a narrow call that writes a string (`call(buffer, size, &length)`), with a buffer large
// enough for all of it, and hands the answer on as wide characters. A call that writes no length
// answered with a number; it is repeated on the application's own buffer, which then gets it.
// `diagnostics` receives the 01004 of a cut answer (none for the diagnostic functions).
template <typename Length, typename Call>
SQLRETURN narrow_to_wide(Call call, SQLPOINTER buffer, SQLLEN capacity, Length* length, Unit unit, Handle* handle,
                         const char* what)
{
    std::string narrow(kFirstTry, '\0');
    Length narrow_length = -1;
    SQLRETURN rc = call(narrow.data(), static_cast<Length>(narrow.size()), &narrow_length);
    if (rc == SQL_SUCCESS_WITH_INFO && narrow_length >= static_cast<Length>(narrow.size())) {
        narrow.assign(static_cast<std::size_t>(narrow_length) + 1, '\0');
        rc = call(narrow.data(), static_cast<Length>(narrow.size()), &narrow_length);
    }
    if (!SQL_SUCCEEDED(rc))
        return rc;
    if (narrow_length < 0)
        return call(static_cast<char*>(buffer), static_cast<Length>(capacity), length);
    narrow.resize(std::min(static_cast<std::size_t>(narrow_length), narrow.size()));
    if (!copy_wide_out(narrow, buffer, unit == Unit::byte ? capacity / static_cast<SQLLEN>(kWideUnit) : capacity,
                       length, unit))
        return rc;
    if (handle != nullptr) {
        try {
            handle->diagnostics().add("01004", std::string("String data, right truncated: ") + what);
        } catch (...) {
        }
    }
    return SQL_SUCCESS_WITH_INFO;
}

Handle* handle_of(SQLSMALLINT type, SQLHANDLE handle) noexcept
{
    return Handle::find(handle, type == SQL_HANDLE_STMT  ? HandleKind::statement
                                : type == SQL_HANDLE_DBC ? HandleKind::connection
                                                         : HandleKind::environment);
}

// Wide input strings as UTF-8; a null pointer stays null for the narrow call. A length the
// narrow call cannot take is refused, never passed on wrapped: a negative one other than
// SQL_NTS, or a text that grows past SQLSMALLINT's range in UTF-8 (up to three bytes a unit).
class NarrowText {
public:
    NarrowText(const SQLWCHAR* text, SQLINTEGER length)
        : null_(text == nullptr), valid_(null_ || length >= 0 || length == SQL_NTS),
          text_(valid_ && !null_ ? wide_string_in(text, length) : std::string())
    {
    }
    [[nodiscard]] SQLCHAR* data() { return null_ ? nullptr : reinterpret_cast<SQLCHAR*>(text_.data()); }
    [[nodiscard]] SQLSMALLINT small_length() const { return null_ ? 0 : static_cast<SQLSMALLINT>(text_.size()); }
    [[nodiscard]] SQLINTEGER length() const { return null_ ? 0 : static_cast<SQLINTEGER>(text_.size()); }
    [[nodiscard]] bool valid() const { return valid_; }
    [[nodiscard]] bool fits_small() const { return valid_ && text_.size() <= 32767; }

private:
    bool null_;
    bool valid_;
    std::string text_;
};

template <typename... Texts>
bool all_fit_small(const Texts&... texts)
{
    return (texts.fits_small() && ...);
}

// HY090 on the handle, as the narrow entry point reports a length it cannot take.
SQLRETURN invalid_length(SQLSMALLINT type, SQLHANDLE handle) noexcept
{
    Handle* object = handle_of(type, handle);
    if (object == nullptr)
        return SQL_INVALID_HANDLE;
    object->diagnostics().clear();
    try {
        object->diagnostics().add("HY090", "Invalid string or buffer length");
    } catch (...) {
        // Out of memory while reporting: the return code still tells the failure.
    }
    object->diagnostics().set_return_code(SQL_ERROR);
    return SQL_ERROR;
}

} // namespace

extern "C" {

SQLRETURN SQL_API SQLConnectW(SQLHDBC handle, SQLWCHAR* dsn, SQLSMALLINT dsn_length, SQLWCHAR* user,
                              SQLSMALLINT user_length, SQLWCHAR* password, SQLSMALLINT password_length)
{
    NarrowText name(dsn, dsn_length), account(user, user_length), secret(password, password_length);
    if (!all_fit_small(name, account, secret))
        return invalid_length(SQL_HANDLE_DBC, handle);
    return SQLConnect(handle, name.data(), name.small_length(), account.data(), account.small_length(), secret.data(),
                      secret.small_length());
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC handle, SQLHWND window, SQLWCHAR* in, SQLSMALLINT in_length, SQLWCHAR* out,
                                    SQLSMALLINT out_max, SQLSMALLINT* out_length, SQLUSMALLINT completion)
{
    NarrowText text(in, in_length);
    if (!text.fits_small())
        return invalid_length(SQL_HANDLE_DBC, handle);
    if (out == nullptr && out_length == nullptr)
        return SQLDriverConnect(handle, window, text.data(), text.small_length(), nullptr, 0, nullptr, completion);
    // Connecting twice is not possible: the completed string is read into a buffer sized once.
    std::string narrow(4096, '\0');
    SQLSMALLINT narrow_length = 0;
    SQLRETURN rc =
        SQLDriverConnect(handle, window, text.data(), text.small_length(), reinterpret_cast<SQLCHAR*>(narrow.data()),
                         static_cast<SQLSMALLINT>(narrow.size()), &narrow_length, completion);
    if (!SQL_SUCCEEDED(rc))
        return rc;
    narrow.resize(std::min(static_cast<std::size_t>(narrow_length), narrow.size() - 1));
    if (copy_wide_out(narrow, out, out_max, out_length, Unit::character)) {
        if (Handle* connection = handle_of(SQL_HANDLE_DBC, handle); connection != nullptr)
            connection->diagnostics().add("01004", "String data, right truncated: the completed connection string");
        rc = SQL_SUCCESS_WITH_INFO;
    }
    return rc;
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT handle, SQLWCHAR* text, SQLINTEGER length)
{
    NarrowText sql(text, length);
    if (!sql.valid())
        return invalid_length(SQL_HANDLE_STMT, handle);
    return SQLPrepare(handle, sql.data(), sql.length());
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT handle, SQLWCHAR* text, SQLINTEGER length)
{
    NarrowText sql(text, length);
    if (!sql.valid())
        return invalid_length(SQL_HANDLE_STMT, handle);
    return SQLExecDirect(handle, sql.data(), sql.length());
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT handle, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT buffer_length,
                                  SQLSMALLINT* name_length, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
                                  SQLSMALLINT* nullable)
{
    return narrow_to_wide(
        [&](char* text, SQLSMALLINT capacity, SQLSMALLINT* length) {
            return SQLDescribeCol(handle, column, reinterpret_cast<SQLCHAR*>(text), capacity, length, type, size,
                                  digits, nullable);
        },
        name, buffer_length, name_length, Unit::character, handle_of(SQL_HANDLE_STMT, handle), "the column name");
}

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT handle, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                                   SQLSMALLINT buffer_length, SQLSMALLINT* length, SQLLEN* number)
{
    return narrow_to_wide(
        [&](char* narrow, SQLSMALLINT capacity, SQLSMALLINT* narrow_length) {
            return SQLColAttribute(handle, column, field, narrow, capacity, narrow_length, number);
        },
        text, buffer_length, length, Unit::byte, handle_of(SQL_HANDLE_STMT, handle), "the column attribute");
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT buffer_length,
                              SQLSMALLINT* length)
{
    return narrow_to_wide(
        [&](char* narrow, SQLSMALLINT capacity, SQLSMALLINT* narrow_length) {
            return SQLGetInfo(handle, type, narrow, capacity, narrow_length);
        },
        value, buffer_length, length, Unit::byte, handle_of(SQL_HANDLE_DBC, handle), "the information");
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT number, SQLWCHAR* state,
                                 SQLINTEGER* native, SQLWCHAR* text, SQLSMALLINT buffer_length,
                                 SQLSMALLINT* text_length)
{
    char narrow_state[6] = {};
    const SQLRETURN rc = narrow_to_wide(
        [&](char* narrow, SQLSMALLINT capacity, SQLSMALLINT* narrow_length) {
            return SQLGetDiagRec(type, handle, number, reinterpret_cast<SQLCHAR*>(narrow_state), native,
                                 reinterpret_cast<SQLCHAR*>(narrow), capacity, narrow_length);
        },
        text, buffer_length, text_length, Unit::character, nullptr, "");
    if (SQL_SUCCEEDED(rc) && state != nullptr)
        copy_wide_out(narrow_state, state, 6, static_cast<SQLSMALLINT*>(nullptr), Unit::character);
    return rc;
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT number, SQLSMALLINT identifier,
                                   SQLPOINTER info, SQLSMALLINT buffer_length, SQLSMALLINT* string_length)
{
    return narrow_to_wide(
        [&](char* narrow, SQLSMALLINT capacity, SQLSMALLINT* narrow_length) {
            return SQLGetDiagField(type, handle, number, identifier, narrow, capacity, narrow_length);
        },
        info, buffer_length, string_length, Unit::byte, nullptr, "");
}

// Every attribute the driver knows is a number, the same in both forms.
SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length)
{
    return SQLSetConnectAttr(handle, attribute, value, length);
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER buffer_length,
                                     SQLINTEGER* length)
{
    return SQLGetConnectAttr(handle, attribute, value, buffer_length, length);
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length)
{
    return SQLSetStmtAttr(handle, attribute, value, length);
}

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER buffer_length,
                                  SQLINTEGER* length)
{
    return SQLGetStmtAttr(handle, attribute, value, buffer_length, length);
}

// The catalogue functions take names and patterns only; their result sets are ordinary ones.
SQLRETURN SQL_API SQLTablesW(SQLHSTMT handle, SQLWCHAR* catalog, SQLSMALLINT catalog_length, SQLWCHAR* schema,
                             SQLSMALLINT schema_length, SQLWCHAR* table, SQLSMALLINT table_length, SQLWCHAR* types,
                             SQLSMALLINT types_length)
{
    NarrowText c(catalog, catalog_length), s(schema, schema_length), t(table, table_length), k(types, types_length);
    if (!all_fit_small(c, s, t, k))
        return invalid_length(SQL_HANDLE_STMT, handle);
    return SQLTables(handle, c.data(), c.small_length(), s.data(), s.small_length(), t.data(), t.small_length(),
                     k.data(), k.small_length());
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT handle, SQLWCHAR* catalog, SQLSMALLINT catalog_length, SQLWCHAR* schema,
                              SQLSMALLINT schema_length, SQLWCHAR* table, SQLSMALLINT table_length, SQLWCHAR* column,
                              SQLSMALLINT column_length)
{
    NarrowText c(catalog, catalog_length), s(schema, schema_length), t(table, table_length), n(column, column_length);
    if (!all_fit_small(c, s, t, n))
        return invalid_length(SQL_HANDLE_STMT, handle);
    return SQLColumns(handle, c.data(), c.small_length(), s.data(), s.small_length(), t.data(), t.small_length(),
                      n.data(), n.small_length());
}

SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT handle, SQLSMALLINT data_type) { return SQLGetTypeInfo(handle, data_type); }

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT handle, SQLWCHAR* catalog, SQLSMALLINT catalog_length, SQLWCHAR* schema,
                                  SQLSMALLINT schema_length, SQLWCHAR* table, SQLSMALLINT table_length)
{
    NarrowText c(catalog, catalog_length), s(schema, schema_length), t(table, table_length);
    if (!all_fit_small(c, s, t))
        return invalid_length(SQL_HANDLE_STMT, handle);
    return SQLPrimaryKeys(handle, c.data(), c.small_length(), s.data(), s.small_length(), t.data(), t.small_length());
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT handle, SQLWCHAR* catalog, SQLSMALLINT catalog_length, SQLWCHAR* schema,
                                 SQLSMALLINT schema_length, SQLWCHAR* table, SQLSMALLINT table_length,
                                 SQLUSMALLINT unique, SQLUSMALLINT accuracy)
{
    NarrowText c(catalog, catalog_length), s(schema, schema_length), t(table, table_length);
    if (!all_fit_small(c, s, t))
        return invalid_length(SQL_HANDLE_STMT, handle);
    return SQLStatistics(handle, c.data(), c.small_length(), s.data(), s.small_length(), t.data(), t.small_length(),
                         unique, accuracy);
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT handle, SQLUSMALLINT identifier_type, SQLWCHAR* catalog,
                                     SQLSMALLINT catalog_length, SQLWCHAR* schema, SQLSMALLINT schema_length,
                                     SQLWCHAR* table, SQLSMALLINT table_length, SQLUSMALLINT scope,
                                     SQLUSMALLINT nullable)
{
    NarrowText c(catalog, catalog_length), s(schema, schema_length), t(table, table_length);
    if (!all_fit_small(c, s, t))
        return invalid_length(SQL_HANDLE_STMT, handle);
    return SQLSpecialColumns(handle, identifier_type, c.data(), c.small_length(), s.data(), s.small_length(), t.data(),
                             t.small_length(), scope, nullable);
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT handle, SQLWCHAR* primary_catalog, SQLSMALLINT primary_catalog_length,
                                  SQLWCHAR* primary_schema, SQLSMALLINT primary_schema_length, SQLWCHAR* primary_table,
                                  SQLSMALLINT primary_table_length, SQLWCHAR* foreign_catalog,
                                  SQLSMALLINT foreign_catalog_length, SQLWCHAR* foreign_schema,
                                  SQLSMALLINT foreign_schema_length, SQLWCHAR* foreign_table,
                                  SQLSMALLINT foreign_table_length)
{
    NarrowText pc(primary_catalog, primary_catalog_length), ps(primary_schema, primary_schema_length),
        pt(primary_table, primary_table_length), fc(foreign_catalog, foreign_catalog_length),
        fs(foreign_schema, foreign_schema_length), ft(foreign_table, foreign_table_length);
    if (!all_fit_small(pc, ps, pt, fc, fs, ft))
        return invalid_length(SQL_HANDLE_STMT, handle);
    return SQLForeignKeys(handle, pc.data(), pc.small_length(), ps.data(), ps.small_length(), pt.data(),
                          pt.small_length(), fc.data(), fc.small_length(), fs.data(), fs.small_length(), ft.data(),
                          ft.small_length());
}

} // extern "C"

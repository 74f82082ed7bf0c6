#include "Conversion.h"

#include "Diagnostics.h"
#include "Utf16.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>

namespace qix::lite {

namespace {

std::string upper_trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return result;
}

// The numbers in "(p)" or "(p, s)" after a type name; -1 where absent.
void read_type_arguments(std::string_view declared, long& first, long& second)
{
    first = second = -1;
    const auto open = declared.find('(');
    if (open == std::string_view::npos)
        return;
    const char* p = declared.data() + open + 1;
    const char* end = declared.data() + declared.size();
    while (p < end && *p == ' ')
        ++p;
    auto [next, ec] = std::from_chars(p, end, first);
    if (ec != std::errc{}) {
        first = -1;
        return;
    }
    while (next < end && (*next == ' ' || *next == ','))
        ++next;
    if (std::from_chars(next, end, second).ec != std::errc{})
        second = -1;
}

// A number read from a cell: integers stay exact, everything else is a double.
struct Number {
    bool is_integer;
    std::int64_t integer;
    double real;
};

[[noreturn]] void not_a_number(std::string_view text)
{
    throw DriverError("22018", "Invalid character value for cast: '" + std::string(text) + "' is no number");
}

Number parse_number(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        not_a_number(text);
    std::string_view digits = text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (digits.front() == '+')
        digits.remove_prefix(1);
    const char* end = digits.data() + digits.size();
    std::int64_t integer = 0;
    auto [p, ec] = std::from_chars(digits.data(), end, integer);
    if (ec == std::errc{} && p == end)
        return {true, integer, 0.0};
    double real = 0.0;
    auto [q, ec2] = std::from_chars(digits.data(), end, real);
    if (q != end || (ec2 != std::errc{} && ec2 != std::errc::result_out_of_range) || digits.empty())
        not_a_number(text);
    if (ec2 == std::errc::result_out_of_range)
        throw DriverError("22003", "Numeric value out of range: '" + std::string(text) + "'");
    return {false, 0, real};
}

[[noreturn]] void restricted(std::string_view what)
{
    throw DriverError("07006", "Restricted data type attribute violation: " + std::string(what) +
                                   " cannot be converted to the requested C type");
}

Number number_of(const Cell& cell)
{
    switch (cell.kind) {
    case Cell::Kind::integer: return {true, cell.integer, 0.0};
    case Cell::Kind::real: return {false, 0, cell.real};
    case Cell::Kind::text: return parse_number(cell.bytes);
    case Cell::Kind::blob: restricted("binary data");
    case Cell::Kind::timestamp: restricted("a timestamp");
    case Cell::Kind::null: break;
    }
    restricted("NULL");
}

[[noreturn]] void out_of_range(const Number& n)
{
    std::string text = n.is_integer ? std::to_string(n.integer) : std::to_string(n.real);
    throw DriverError("22003", "Numeric value out of range: " + text);
}

template <typename T>
Outcome put_integral(const Number& n, void* buffer)
{
    T value{};
    Outcome outcome = Outcome::ok;
    if (n.is_integer) {
        if (!std::in_range<T>(n.integer))
            out_of_range(n);
        value = static_cast<T>(n.integer);
    } else {
        if (std::isnan(n.real))
            out_of_range(n);
        const double whole = std::trunc(n.real);
        // Exact bounds: min is 0 or a power of two, and max + 1 is a power of two.
        const double lower = static_cast<double>(std::numeric_limits<T>::min());
        const double upper = static_cast<double>(std::numeric_limits<T>::max()) + 1.0;
        if (!(whole >= lower && whole < upper))
            out_of_range(n);
        value = static_cast<T>(whole);
        if (whole != n.real)
            outcome = Outcome::fraction_truncated;
    }
    std::memcpy(buffer, &value, sizeof value);
    return outcome;
}

Outcome put_bit(const Number& n, void* buffer)
{
    const double value = n.is_integer ? static_cast<double>(n.integer) : n.real;
    if (!(value >= 0.0 && value < 2.0))
        out_of_range(n);
    const unsigned char bit = value >= 1.0 ? 1 : 0; // a fraction is cut, as for integers
    std::memcpy(buffer, &bit, 1);
    return value == 0.0 || value == 1.0 ? Outcome::ok : Outcome::fraction_truncated;
}

// The time a DATE or TIMESTAMP cell holds, or that a text cell names (read with `parse`).
template <typename Parse>
Timestamp time_of(const Cell& cell, Parse parse)
{
    if (cell.kind == Cell::Kind::timestamp)
        return cell.time;
    if (cell.kind != Cell::Kind::text)
        restricted("a number or binary data");
    auto parsed = parse(cell.bytes);
    if (!parsed)
        throw DriverError("22018",
                          "Invalid character value for cast: '" + std::string(cell.bytes) + "' is no date or time");
    return *parsed;
}

Outcome put_date(const Cell& cell, void* buffer)
{
    const Timestamp t = time_of(cell, parse_stored_timestamp);
    SQL_DATE_STRUCT out{};
    out.year = static_cast<SQLSMALLINT>(t.year);
    out.month = static_cast<SQLUSMALLINT>(t.month);
    out.day = static_cast<SQLUSMALLINT>(t.day);
    std::memcpy(buffer, &out, sizeof out);
    const bool midnight = t.hour == 0 && t.minute == 0 && t.second == 0 && t.nanosecond == 0;
    return midnight ? Outcome::ok : Outcome::fraction_truncated;
}

Outcome put_time(const Cell& cell, void* buffer)
{
    const Timestamp t = time_of(cell, parse_time_of_day);
    SQL_TIME_STRUCT out{};
    out.hour = static_cast<SQLUSMALLINT>(t.hour);
    out.minute = static_cast<SQLUSMALLINT>(t.minute);
    out.second = static_cast<SQLUSMALLINT>(t.second);
    std::memcpy(buffer, &out, sizeof out);
    return t.nanosecond == 0 ? Outcome::ok : Outcome::fraction_truncated;
}

constexpr std::size_t kMaxNumericDigits = 38;

// SQL_C_NUMERIC holds the digits as one unsigned 128-bit little-endian integer with a decimal
// scale; the value is built digit by digit in that byte array.
Outcome put_numeric(const Number& n, int scale, void* buffer)
{
    char text[400];
    std::to_chars_result written{};
    if (n.is_integer) {
        written = std::to_chars(text, text + sizeof text, n.integer);
    } else {
        if (!std::isfinite(n.real))
            out_of_range(n);
        written = std::to_chars(text, text + sizeof text, n.real, std::chars_format::fixed);
    }
    std::string_view digits(text, static_cast<std::size_t>(written.ptr - text));
    const bool negative = digits.front() == '-';
    if (negative)
        digits.remove_prefix(1);
    const auto point = digits.find('.');
    const std::string_view whole = digits.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : digits.substr(point + 1);
    if (scale < 0)
        scale = static_cast<int>(std::min(fraction.size(), kMaxNumericDigits));
    const auto kept = static_cast<std::size_t>(scale);
    std::string mantissa(whole);
    mantissa += fraction.substr(0, std::min(kept, fraction.size()));
    mantissa.append(kept > fraction.size() ? kept - fraction.size() : 0, '0');
    const bool cut = fraction.size() > kept && fraction.substr(kept).find_first_not_of('0') != std::string_view::npos;
    mantissa.erase(0, std::min(mantissa.find_first_not_of('0'), mantissa.size()));
    if (mantissa.size() > kMaxNumericDigits)
        out_of_range(n);
    SQL_NUMERIC_STRUCT out{};
    for (char digit : mantissa) {
        unsigned carry = static_cast<unsigned>(digit - '0');
        for (SQLCHAR& byte : out.val) {
            const unsigned value = byte * 10u + carry;
            byte = static_cast<SQLCHAR>(value & 0xFF);
            carry = value >> 8;
        }
    }
    out.precision = static_cast<SQLCHAR>(std::max<std::size_t>({mantissa.size(), kept, 1}));
    out.scale = static_cast<SQLSCHAR>(scale);
    out.sign = negative && !mantissa.empty() ? 0 : 1;
    std::memcpy(buffer, &out, sizeof out);
    return cut ? Outcome::fraction_truncated : Outcome::ok;
}

// A timestamp from a stored date or timestamp, or from a time of day on the current date (the
// ODBC rule for times read as timestamps).
std::optional<Timestamp> parse_any_time(std::string_view text)
{
    if (auto stamp = parse_stored_timestamp(text))
        return stamp;
    auto time = parse_time_of_day(text);
    if (time) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        time->year = local.tm_year + 1900;
        time->month = local.tm_mon + 1;
        time->day = local.tm_mday;
    }
    return time;
}

Outcome put_timestamp(const Cell& cell, void* buffer)
{
    const Timestamp t = time_of(cell, parse_any_time);
    SQL_TIMESTAMP_STRUCT out{};
    out.year = static_cast<SQLSMALLINT>(t.year);
    out.month = static_cast<SQLUSMALLINT>(t.month);
    out.day = static_cast<SQLUSMALLINT>(t.day);
    out.hour = static_cast<SQLUSMALLINT>(t.hour);
    out.minute = static_cast<SQLUSMALLINT>(t.minute);
    out.second = static_cast<SQLUSMALLINT>(t.second);
    out.fraction = t.nanosecond;
    std::memcpy(buffer, &out, sizeof out);
    return Outcome::ok;
}

template <typename T>
std::int64_t read_integral(const void* buffer)
{
    T value;
    std::memcpy(&value, buffer, sizeof value);
    return static_cast<std::int64_t>(value);
}

void check_bind(int rc, sqlite3_stmt* statement)
{
    if (rc != SQLITE_OK)
        throw DriverError(rc == SQLITE_TOOBIG ? "22001" : "HY000",
                          std::string("Unable to bind a parameter: ") + sqlite3_errmsg(sqlite3_db_handle(statement)),
                          rc);
}

[[noreturn]] void invalid_datetime(std::string_view what)
{
    throw DriverError("22007", "Invalid datetime format: the " + std::string(what) + " parameter names no valid " +
                                   std::string(what));
}

// A date parameter is stored as "YYYY-MM-DD", or as a canonical timestamp at midnight when the
// application declares it a timestamp.
std::string date_struct_text(const void* buffer, SQLSMALLINT sql_type)
{
    SQL_DATE_STRUCT in;
    std::memcpy(&in, buffer, sizeof in);
    const Timestamp t{in.year, in.month, in.day, 0, 0, 0, 0};
    std::string text = canonical_timestamp_text(t);
    if (in.year < 0 || !parse_canonical_timestamp(text))
        invalid_datetime("date");
    return sql_type == SQL_TYPE_TIMESTAMP || sql_type == SQL_TIMESTAMP ? text : date_text(in.year, in.month, in.day);
}

std::string time_struct_text(const void* buffer)
{
    SQL_TIME_STRUCT in;
    std::memcpy(&in, buffer, sizeof in);
    std::string text = time_text(in.hour, in.minute, in.second);
    if (in.hour > 23 || in.minute > 59 || in.second > 59 || !parse_time_of_day(text))
        invalid_datetime("time");
    return text;
}

// The decimal text of an SQL_NUMERIC_STRUCT: the 128-bit mantissa divided digit by digit, then
// the decimal point placed by the scale (a negative scale appends zeros).
std::string numeric_struct_text(const void* buffer)
{
    SQL_NUMERIC_STRUCT in;
    std::memcpy(&in, buffer, sizeof in);
    std::string digits;
    bool zero = false;
    while (!zero) {
        unsigned remainder = 0;
        zero = true;
        for (int i = SQL_MAX_NUMERIC_LEN - 1; i >= 0; --i) {
            const unsigned value = (remainder << 8) | in.val[i];
            in.val[i] = static_cast<SQLCHAR>(value / 10);
            remainder = value % 10;
            zero = zero && in.val[i] == 0;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + remainder));
    }
    if (in.scale < 0 && digits != "0") {
        digits.append(static_cast<std::size_t>(-in.scale), '0');
    } else if (in.scale > 0) {
        const auto scale = static_cast<std::size_t>(in.scale);
        if (digits.size() <= scale)
            digits.insert(0, scale + 1 - digits.size(), '0');
        digits.insert(digits.size() - scale, 1, '.');
    }
    if (in.sign == 0 && digits.find_first_not_of("0.") != std::string::npos)
        digits.insert(0, 1, '-');
    return digits;
}

std::string timestamp_struct_text(const void* buffer)
{
    SQL_TIMESTAMP_STRUCT in;
    std::memcpy(&in, buffer, sizeof in);
    const Timestamp t{in.year, in.month, in.day, in.hour, in.minute, in.second, in.fraction};
    std::string text = canonical_timestamp_text(t);
    if (in.fraction > 999999999 || !parse_canonical_timestamp(text))
        throw DriverError("22007", "Invalid datetime format: the timestamp parameter names no valid time");
    return text;
}

} // namespace

ColumnType column_type_from_declaration(const char* declared, const ColumnConstraints* constraints)
{
    const std::string type = upper_trimmed(declared == nullptr ? "" : declared);
    long first = -1;
    long second = -1;
    read_type_arguments(type, first, second);
    ColumnType result;
    auto has = [&](std::string_view word) { return type.find(word) != std::string::npos; };
    // A type name alone or followed by its arguments, so that TIMESTAMP is no DATE or TIME.
    auto named = [&](std::string_view name) {
        return type.starts_with(name) &&
               (type.size() == name.size() || type[type.find_first_not_of(' ', name.size())] == '(');
    };
    if (named("TIMESTAMP")) {
        const int precision = first >= 0 && first <= 9 ? static_cast<int>(first) : kDefaultTimestampPrecision;
        result = {SQL_TYPE_TIMESTAMP, static_cast<SQLULEN>(precision == 0 ? 19 : 20 + precision),
                  static_cast<SQLSMALLINT>(precision), precision};
    } else if (named("DATE")) {
        // Oracle's DATE carries a time of day to the second: to a client it is a timestamp
        // without fraction digits, not an SQL date that would drop the time.
        result = {SQL_TYPE_TIMESTAMP, 19, 0, 0};
    } else if (named("TIME")) {
        result = {SQL_TYPE_TIME, 8, 0, -1};
    } else if (type.empty()) {
        result = {SQL_VARCHAR, 255, 0, -1};
    } else if (has("SMALLINT")) {
        result = {SQL_SMALLINT, 5, 0, -1};
    } else if (has("TINYINT")) {
        result = {SQL_TINYINT, 3, 0, -1};
    } else if (has("INT")) {
        // SQLite's integers are 64-bit whatever the declaration says.
        result = {SQL_BIGINT, 19, 0, -1};
    } else if (has("CHAR") || has("CLOB") || has("TEXT")) {
        result = {SQL_VARCHAR, first > 0 ? static_cast<SQLULEN>(first) : 255, 0, -1};
    } else if (has("BINARY_DOUBLE") || has("BINARY_FLOAT")) {
        // Oracle's IEEE floating-point types: their names say BINARY, their values are numbers.
        result = {SQL_DOUBLE, 15, 0, -1};
    } else if (has("BLOB") || has("BINARY") || has("RAW")) {
        result = {SQL_VARBINARY, first > 0 ? static_cast<SQLULEN>(first) : 255, 0, -1};
    } else if (has("REAL") || has("FLOA") || has("DOUB")) {
        result = {SQL_DOUBLE, 15, 0, -1};
    } else if (has("NUMBER") || has("NUMERIC") || has("DECIMAL")) {
        // NUMBER without a scale is a decimal floating point: each value keeps its own scale.
        const int scale = second >= 0 ? static_cast<int>(second) : first > 0 ? 0 : -1;
        result = {SQL_NUMERIC, first > 0 ? static_cast<SQLULEN>(first) : 38,
                  static_cast<SQLSMALLINT>(std::max(scale, 0)), -1, scale};
    } else if (has("BOOL")) {
        result = {SQL_BIT, 1, 0, -1};
    }
    if (constraints != nullptr) {
        // SQLite lets NULL into a primary key column of an ordinary table unless it is the
        // INTEGER PRIMARY KEY that names the row id, or is declared NOT NULL.
        const bool row_id = constraints->primary_key && type == "INTEGER";
        result.nullable = constraints->not_null || row_id ? SQL_NO_NULLS : SQL_NULLABLE;
    }
    return result;
}

ColumnType column_type_from_value(int sqlite_type)
{
    switch (sqlite_type) {
    case SQLITE_INTEGER: return {SQL_BIGINT, 19, 0, -1};
    case SQLITE_FLOAT: return {SQL_DOUBLE, 15, 0, -1};
    case SQLITE_BLOB: return {SQL_VARBINARY, 255, 0, -1};
    default: return {SQL_VARCHAR, 255, 0, -1};
    }
}

bool is_supported_c_type(SQLSMALLINT c_type)
{
    switch (c_type) {
    case SQL_C_CHAR:
    case SQL_C_BINARY:
    case SQL_C_DOUBLE:
    case SQL_C_FLOAT:
    case SQL_C_BIT:
    case SQL_C_SLONG:
    case SQL_C_LONG:
    case SQL_C_ULONG:
    case SQL_C_SSHORT:
    case SQL_C_SHORT:
    case SQL_C_USHORT:
    case SQL_C_STINYINT:
    case SQL_C_TINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP:
    case SQL_C_DEFAULT:
    case SQL_C_WCHAR:
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME:
    case SQL_C_NUMERIC: return true;
    default: return false;
    }
}

SQLSMALLINT default_c_type(SQLSMALLINT sql_type)
{
    switch (sql_type) {
    case SQL_INTEGER: return SQL_C_SLONG;
    case SQL_SMALLINT: return SQL_C_SSHORT;
    case SQL_TINYINT: return SQL_C_STINYINT;
    case SQL_BIGINT: return SQL_C_SBIGINT;
    case SQL_DOUBLE:
    case SQL_FLOAT: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return SQL_C_TYPE_TIMESTAMP;
    case SQL_TYPE_DATE:
    case SQL_DATE: return SQL_C_TYPE_DATE;
    case SQL_TYPE_TIME:
    case SQL_TIME: return SQL_C_TYPE_TIME;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return SQL_C_WCHAR;
    default: return SQL_C_CHAR;
    }
}

SQLLEN fixed_size(SQLSMALLINT c_type)
{
    switch (c_type) {
    case SQL_C_DOUBLE: return sizeof(SQLDOUBLE);
    case SQL_C_FLOAT: return sizeof(SQLREAL);
    case SQL_C_BIT:
    case SQL_C_STINYINT:
    case SQL_C_TINYINT:
    case SQL_C_UTINYINT: return 1;
    case SQL_C_SSHORT:
    case SQL_C_SHORT:
    case SQL_C_USHORT: return 2;
    case SQL_C_SLONG:
    case SQL_C_LONG:
    case SQL_C_ULONG: return 4;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: return 8;
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE: return sizeof(SQL_DATE_STRUCT);
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: return sizeof(SQL_TIME_STRUCT);
    case SQL_C_NUMERIC: return sizeof(SQL_NUMERIC_STRUCT);
    default: return 0;
    }
}

std::string_view cell_bytes(const Cell& cell, bool binary, const TimestampFormat& format, std::string& scratch)
{
    switch (cell.kind) {
    case Cell::Kind::text: return cell.bytes;
    case Cell::Kind::blob: {
        if (binary)
            return cell.bytes;
        static constexpr char kHex[] = "0123456789ABCDEF";
        scratch.clear();
        for (unsigned char byte : cell.bytes) {
            scratch.push_back(kHex[byte >> 4]);
            scratch.push_back(kHex[byte & 15]);
        }
        return scratch;
    }
    case Cell::Kind::integer:
    case Cell::Kind::real: {
        char text[32];
        auto result = cell.kind == Cell::Kind::integer ? std::to_chars(text, text + sizeof text, cell.integer)
                                                       : std::to_chars(text, text + sizeof text, cell.real);
        scratch.assign(text, result.ptr);
        return scratch;
    }
    case Cell::Kind::timestamp:
        scratch.clear();
        format.render(cell.time, cell.precision, scratch);
        return scratch;
    case Cell::Kind::null: break;
    }
    return {};
}

Outcome write_chunk(std::string_view data, std::size_t& offset, std::size_t terminator, void* buffer,
                    SQLLEN buffer_length, SQLLEN* indicator) noexcept
{
    const std::size_t remaining = data.size() - std::min(offset, data.size());
    if (indicator != nullptr)
        *indicator = static_cast<SQLLEN>(remaining);
    const std::size_t size = buffer_length > 0 ? static_cast<std::size_t>(buffer_length) : 0;
    const bool terminated = terminator > 0 && size >= terminator;
    std::size_t room = terminated ? size - terminator : size;
    std::size_t count = std::min(remaining, room);
    if (terminator == kWideUnit) {
        count -= count % kWideUnit;
        if (count < remaining && count >= kWideUnit && is_high_surrogate(data.data() + offset + count - kWideUnit))
            count -= kWideUnit;
    }
    if (buffer != nullptr) {
        if (count > 0)
            std::memcpy(buffer, data.data() + offset, count);
        if (terminated)
            std::memset(static_cast<char*>(buffer) + count, 0, terminator);
    }
    offset += count;
    return count < remaining ? Outcome::truncated : Outcome::ok;
}

Outcome write_fixed(const Cell& cell, SQLSMALLINT c_type, void* buffer, int numeric_scale)
{
    switch (c_type) {
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP: return put_timestamp(cell, buffer);
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE: return put_date(cell, buffer);
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: return put_time(cell, buffer);
    default: break;
    }
    const Number n = number_of(cell);
    switch (c_type) {
    case SQL_C_DOUBLE: {
        const double value = n.is_integer ? static_cast<double>(n.integer) : n.real;
        std::memcpy(buffer, &value, sizeof value);
        return Outcome::ok;
    }
    case SQL_C_FLOAT: {
        const double value = n.is_integer ? static_cast<double>(n.integer) : n.real;
        if (std::isfinite(value) && std::fabs(value) > FLT_MAX)
            out_of_range(n);
        const float narrow = static_cast<float>(value);
        std::memcpy(buffer, &narrow, sizeof narrow);
        return Outcome::ok;
    }
    case SQL_C_BIT: return put_bit(n, buffer);
    case SQL_C_STINYINT:
    case SQL_C_TINYINT: return put_integral<signed char>(n, buffer);
    case SQL_C_UTINYINT: return put_integral<unsigned char>(n, buffer);
    case SQL_C_SSHORT:
    case SQL_C_SHORT: return put_integral<short>(n, buffer);
    case SQL_C_USHORT: return put_integral<unsigned short>(n, buffer);
    case SQL_C_SLONG:
    case SQL_C_LONG: return put_integral<std::int32_t>(n, buffer);
    case SQL_C_ULONG: return put_integral<std::uint32_t>(n, buffer);
    case SQL_C_SBIGINT: return put_integral<std::int64_t>(n, buffer);
    case SQL_C_UBIGINT: return put_integral<std::uint64_t>(n, buffer);
    case SQL_C_NUMERIC: return put_numeric(n, numeric_scale, buffer);
    default: break;
    }
    throw DriverError("HY003", "Invalid application buffer type " + std::to_string(c_type));
}

void bind_parameter_value(sqlite3_stmt* statement, int index, const ParameterBinding& p,
                          const TimestampFormat& session_format, SQLULEN row, SQLULEN row_size, SQLLEN offset)
{
    const SQLSMALLINT c_type = p.c_type == SQL_C_DEFAULT ? default_c_type(p.sql_type) : p.c_type;
    const bool variable = is_variable_length(c_type);
    // Column-wise arrays hold one buffer length per element for variable-length types.
    if (row > 0 && row_size == 0 && variable && p.buffer_length <= 0 && p.buffer != nullptr)
        throw DriverError("HY090", "Invalid string or buffer length: parameter " + std::to_string(index) +
                                       " is bound column-wise without a buffer length");
    const auto element = [&](const void* base, SQLLEN element_size) -> const char* {
        if (base == nullptr)
            return nullptr;
        const SQLULEN step = row_size != 0 ? row_size : static_cast<SQLULEN>(element_size);
        return static_cast<const char*>(base) + offset + static_cast<std::ptrdiff_t>(row * step);
    };
    // Row-wise arrays (pyodbc packs its rows) need not align the indicator: copy it out.
    SQLLEN indicator = variable ? SQL_NTS : 0;
    if (const char* indicator_at = element(p.indicator, static_cast<SQLLEN>(sizeof(SQLLEN))); indicator_at != nullptr)
        std::memcpy(&indicator, indicator_at, sizeof indicator);
    const void* buffer = element(p.buffer, variable ? p.buffer_length : fixed_size(c_type));
    if (indicator == SQL_NULL_DATA || buffer == nullptr) {
        check_bind(sqlite3_bind_null(statement, index), statement);
        return;
    }
    if (indicator == SQL_DATA_AT_EXEC || indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET)
        throw DriverError("HYC00",
                          "Parameter " + std::to_string(index) + ": data at execution is not supported by this driver");
    if (indicator == SQL_DEFAULT_PARAM)
        throw DriverError("07S01", "Invalid use of default parameter (parameter " + std::to_string(index) + ")");
    if (variable && indicator < 0 && (indicator != SQL_NTS || c_type == SQL_C_BINARY))
        throw DriverError("HY090", "Invalid string or buffer length for parameter " + std::to_string(index));
    const auto bind_text = [&](std::string_view text) {
        check_bind(sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8),
                   statement);
    };
    switch (c_type) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR: {
        std::string converted;
        std::string_view text;
        if (c_type == SQL_C_CHAR) {
            const char* chars = static_cast<const char*>(buffer);
            text = {chars, indicator == SQL_NTS ? std::strlen(chars) : static_cast<std::size_t>(indicator)};
        } else {
            const auto* units = static_cast<const SQLWCHAR*>(buffer);
            converted = utf8_from_utf16(units, indicator == SQL_NTS ? wide_length(units)
                                                                    : static_cast<std::size_t>(indicator) / kWideUnit);
            text = converted;
        }
        if (p.sql_type == SQL_TYPE_TIMESTAMP || p.sql_type == SQL_TIMESTAMP)
            bind_text(canonical_timestamp_text(session_format.read(text)));
        else
            bind_text(text);
        return;
    }
    case SQL_C_BINARY:
        check_bind(
            sqlite3_bind_blob64(statement, index, buffer, static_cast<sqlite3_uint64>(indicator), SQLITE_TRANSIENT),
            statement);
        return;
    case SQL_C_DOUBLE: {
        double value;
        std::memcpy(&value, buffer, sizeof value);
        check_bind(sqlite3_bind_double(statement, index, value), statement);
        return;
    }
    case SQL_C_FLOAT: {
        float value;
        std::memcpy(&value, buffer, sizeof value);
        check_bind(sqlite3_bind_double(statement, index, value), statement);
        return;
    }
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP: bind_text(timestamp_struct_text(buffer)); return;
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE: bind_text(date_struct_text(buffer, p.sql_type)); return;
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: bind_text(time_struct_text(buffer)); return;
    case SQL_C_NUMERIC: {
        // Whole numbers that fit go in as integers; others as their exact decimal text, which a
        // numeric column turns into a number.
        const std::string text = numeric_struct_text(buffer);
        std::int64_t whole = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
        if (ec == std::errc{} && end == text.data() + text.size())
            check_bind(sqlite3_bind_int64(statement, index, whole), statement);
        else
            bind_text(text);
        return;
    }
    case SQL_C_UBIGINT: {
        std::uint64_t value;
        std::memcpy(&value, buffer, sizeof value);
        if (!std::in_range<std::int64_t>(value))
            throw DriverError("22003", "Numeric value out of range for parameter " + std::to_string(index));
        check_bind(sqlite3_bind_int64(statement, index, static_cast<sqlite3_int64>(value)), statement);
        return;
    }
    default: break;
    }
    std::int64_t value = 0;
    switch (c_type) {
    case SQL_C_BIT:
    case SQL_C_UTINYINT: value = read_integral<unsigned char>(buffer); break;
    case SQL_C_STINYINT:
    case SQL_C_TINYINT: value = read_integral<signed char>(buffer); break;
    case SQL_C_SSHORT:
    case SQL_C_SHORT: value = read_integral<short>(buffer); break;
    case SQL_C_USHORT: value = read_integral<unsigned short>(buffer); break;
    case SQL_C_SLONG:
    case SQL_C_LONG: value = read_integral<std::int32_t>(buffer); break;
    case SQL_C_ULONG: value = read_integral<std::uint32_t>(buffer); break;
    case SQL_C_SBIGINT: value = read_integral<std::int64_t>(buffer); break;
    default:
        throw DriverError("HY003", "Invalid application buffer type " + std::to_string(c_type) + " for parameter " +
                                       std::to_string(index));
    }
    check_bind(sqlite3_bind_int64(statement, index, value), statement);
}

} // namespace qix::lite

// Values through our driver: every C type a column is read into, with its conversions, NULLs and
// cuts; long and wide values in pieces; block cursors; column descriptions; input parameters and
// parameter arrays; and the session timestamp format (TIMESTAMP(6) and TIMESTAMP(9) read and
// written in it, or in the Oracle-like default without it).
#include "DriverCases.h"
#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>

namespace qix::test {
namespace {

// The column number of a value column; one past the last for any other name.
SQLUSMALLINT column_of(std::string_view name)
{
    const auto& columns = cases("ValueColumns");
    const auto named = [name](const Words& column) { return column[0] == name; };
    return static_cast<SQLUSMALLINT>(std::find_if(columns.begin(), columns.end(), named) - columns.begin() + 1);
}

// Text of 26 letters repeated: a long value whose pieces show where they came from.
std::string letters(std::size_t size)
{
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('A' + i % 26);
    return text;
}

// The bytes of a buffer holding `value`.
template <typename T>
std::string bytes_of(const T& value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// UTF-16 text as the bytes of unixODBC's 2-byte SQLWCHAR.
std::string wide_bytes(std::u16string_view text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// An SQL_NUMERIC_STRUCT: the digits as a little-endian integer with a scale and a sign (1 positive).
std::string numeric(unsigned long long mantissa, int scale, int sign)
{
    SQL_NUMERIC_STRUCT number{};
    for (int i = 0; i < 8; ++i)
        number.val[i] = static_cast<SQLCHAR>(mantissa >> (8 * i));
    number.precision = 38;
    number.scale = static_cast<SQLSCHAR>(scale);
    number.sign = static_cast<SQLCHAR>(sign);
    return bytes_of(number);
}

// A value in a buffer of `c_type` as text: numbers in decimal, bytes in hex, dates and times in
// their canonical form, a numeric structure as mantissa and exponent, wide text of ASCII narrowed.
std::string shown(SQLSMALLINT c_type, const unsigned char* buffer, SQLLEN indicator)
{
    if (indicator == SQL_NULL_DATA)
        return "NULL";
    const auto as = [buffer](auto value) {
        std::memcpy(&value, buffer, sizeof value);
        return value;
    };
    char text[64] = {};
    const auto print = [&text](const char* format, auto... values) {
        std::snprintf(text, sizeof text, format, values...);
        return std::string(text);
    };
    const auto day = as(SQL_TIMESTAMP_STRUCT{}); // a date's fields are a timestamp's first ones
    const auto time = as(SQL_TIME_STRUCT{});
    switch (c_type) {
    case SQL_C_CHAR: return reinterpret_cast<const char*>(buffer);
    case SQL_C_WCHAR:
        for (std::size_t i = 0; buffer[2 * i] != 0; ++i)
            text[i] = static_cast<char>(buffer[2 * i]);
        return text;
    case SQL_C_BINARY:
        for (SQLLEN i = 0; i < indicator; ++i)
            std::snprintf(text + 2 * i, 3, "%02X", buffer[i]);
        return text;
    case SQL_C_SSHORT: return std::to_string(as(SQLSMALLINT{}));
    case SQL_C_USHORT: return std::to_string(as(SQLUSMALLINT{}));
    case SQL_C_SLONG: return std::to_string(as(SQLINTEGER{}));
    case SQL_C_SBIGINT: return std::to_string(as(SQLBIGINT{}));
    case SQL_C_BIT: return std::to_string(as(SQLCHAR{}));
    case SQL_C_DOUBLE:
        return {text, std::to_chars(text, text + sizeof text, as(SQLDOUBLE{}), std::chars_format::fixed).ptr};
    case SQL_C_TYPE_DATE: return print("%04d-%02u-%02u", day.year, day.month, day.day);
    case SQL_C_TYPE_TIME: return print("%02u:%02u:%02u", time.hour, time.minute, time.second);
    case SQL_C_TYPE_TIMESTAMP:
        return print("%04d-%02u-%02u %02u:%02u:%02u.%09u", day.year, day.month, day.day, day.hour, day.minute,
                     day.second, static_cast<unsigned>(day.fraction));
    case SQL_C_NUMERIC: {
        const auto number = as(SQL_NUMERIC_STRUCT{});
        unsigned long long mantissa = 0;
        for (int i = 7; i >= 0; --i)
            mantissa = (mantissa << 8) | number.val[i];
        return (number.sign == 0 ? "-" : "") + std::to_string(mantissa) + "e" + std::to_string(-number.scale);
    }
    default: return "?";
    }
}

// What one read of a value gives: the return code, the first state, and (when it succeeds) the
// value as shown() and the indicator.
using Read = std::tuple<SQLRETURN, std::string, std::string, SQLLEN>;

// A data source with the tables the cases read and write, a connection and a statement on it.
class Values : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string create = "CREATE TABLE CFG.V (", insert = "INSERT INTO CFG.V VALUES (";
        for (const Words& column : cases("ValueColumns")) {
            const char* comma = create.ends_with("(") ? "" : ", ";
            create += comma + column[0] + " " + column[1];
            insert += comma + column[2];
        }
        source_.execute({create + ")", insert + ")"});
        source_.execute(statements("ValuesTables"));
    }
    // Runs `sql` on `statement` afresh and moves to its first row.
    static void first_row(const RawStatement& statement, const std::string& sql)
    {
        SQLFreeStmt(statement.handle(), SQL_CLOSE);
        SQLFreeStmt(statement.handle(), SQL_UNBIND);
        ASSERT_EQ(statement.exec(sql), SQL_SUCCESS) << statement.diagnostic_text();
        ASSERT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS) << statement.diagnostic_text();
    }
    enum class Via { get_data, bound_column };
    // Reads a value column with SQLGetData (after which a second read has nothing left) or bound
    // to a buffer (by the outcome of the bind when it fails, else of the fetch), shown as `shown_as`.
    Read read(Via via, SQLUSMALLINT column, SQLSMALLINT c_type, SQLSMALLINT shown_as, SQLLEN* indicator)
    {
        const SQLHSTMT handle = statement_.handle();
        SQLFreeStmt(handle, SQL_CLOSE);
        SQLFreeStmt(handle, SQL_UNBIND);
        alignas(8) unsigned char buffer[64] = {};
        if (indicator != nullptr)
            *indicator = -7; // a value no read leaves as it is
        SQLRETURN rc = via == Via::bound_column ? SQLBindCol(handle, column, c_type, buffer, sizeof buffer, indicator)
                                                : SQL_SUCCESS;
        if (SQL_SUCCEEDED(rc)) {
            EXPECT_EQ(statement_.exec("SELECT * FROM CFG.V"), SQL_SUCCESS);
            rc = SQLFetch(handle);
        }
        if (via == Via::get_data) {
            EXPECT_EQ(rc, SQL_SUCCESS) << statement_.diagnostic_text();
            rc = SQLGetData(handle, column, c_type, buffer, sizeof buffer, indicator);
        }
        const SQLLEN length = indicator != nullptr && SQL_SUCCEEDED(rc) ? *indicator : 0;
        const Read read{rc, statement_.state(), SQL_SUCCEEDED(rc) ? shown(shown_as, buffer, length) : "", length};
        if (via == Via::get_data && SQL_SUCCEEDED(rc)) {
            EXPECT_EQ(SQLGetData(handle, column, c_type, buffer, sizeof buffer, indicator), SQL_NO_DATA);
        }
        return read;
    }
    Rows items(const RawConnection& connection) const
    {
        return connection.rows("SELECT LAST_SEEN, SHOT, DAY, NOTE FROM CFG.ITEMS ORDER BY ID");
    }

    LiteSource source_{{"CFG"}};
    RawConnection connection_{source_.dsn()};
    RawStatement statement_{connection_};
    SQLLEN indicator_ = 0;
};

TEST_F(Values, ConvertIntoEveryCTypeOrTellWhyNotReadOrBound)
{
    for (const Words& c : cases("Conversions")) {
        SCOPED_TRACE(c[0] + " as " + c[1]);
        const auto c_type = static_cast<SQLSMALLINT>(number(c, 1));
        const std::string state = word(c, 2);
        SQLLEN* indicator = state == "22002" ? nullptr : &indicator_;
        // An empty state is a success, class 01 a warning, any other an error.
        const SQLRETURN rc = state.empty() ? SQL_SUCCESS : state.starts_with("01") ? SQL_SUCCESS_WITH_INFO : SQL_ERROR;
        const Read expected{rc, state, word(c, 3), number(c, 4)};
        EXPECT_EQ(read(Via::get_data, column_of(c[0]), c_type, c_type, indicator), expected);
        EXPECT_EQ(read(Via::bound_column, column_of(c[0]), c_type, c_type, indicator), expected) << "bound";
    }
    for (const Words& c : cases("DefaultCTypes")) {
        SCOPED_TRACE(c[0]);
        const auto c_type = static_cast<SQLSMALLINT>(number(c, 1));
        const Read expected = read(Via::get_data, column_of(c[0]), c_type, c_type, &indicator_);
        EXPECT_EQ(read(Via::get_data, column_of(c[0]), SQL_C_DEFAULT, c_type, &indicator_), expected);
        EXPECT_EQ(read(Via::bound_column, column_of(c[0]), SQL_C_DEFAULT, c_type, &indicator_), expected) << "bound";
    }
    EXPECT_EQ(connection_.rows("SELECT 1.0, 0.1, 123456789.125, 1e-7, 2e20"),
              (Rows{{"1", "0.1", "123456789.125", "1e-07", "2e+20"}}));
}

TEST_F(Values, AValueIsReadOnceUntilAnotherColumnIsRead)
{
    first_row(statement_, "SELECT * FROM CFG.V");
    SQLINTEGER value = 0;
    for (const auto& [column, rc] :
         {std::pair{"N", SQL_SUCCESS}, {"N", SQL_NO_DATA}, {"I", SQL_SUCCESS}, {"I", SQL_NO_DATA}, {"N", SQL_SUCCESS}})
        EXPECT_EQ(SQLGetData(statement_.handle(), column_of(column), SQL_C_SLONG, &value, 0, &indicator_), rc)
            << column;
}

TEST_F(Values, LongAndWideValuesComeInPiecesWithTheRemainingLength)
{
    struct Pieces {
        const char* sql;
        SQLSMALLINT c_type;
        std::size_t size;
        std::vector<SQLLEN> indicators;
        std::string value;
    };
    const Pieces cases[] = {
        {"SELECT T FROM L WHERE ID = 6", SQL_C_CHAR, 1024, {2500, 1477, 454}, letters(2500)},
        {"SELECT B FROM L WHERE ID = 6", SQL_C_BINARY, 4096, {10000, 5904, 1808}, letters(10000)},
        {"SELECT B FROM L WHERE ID = 6", SQL_C_BINARY, 10000, {10000}, letters(10000)},
        {"SELECT T FROM L WHERE ID = 1", SQL_C_WCHAR, 64, {20}, wide_bytes(u"h\u00e9llo \u2713 \U0001D11E")},
        // Three units fit beside the NUL, but the third is the first half of a pair; an odd byte is never used.
        {"SELECT T FROM L WHERE ID = 2", SQL_C_WCHAR, 8, {10, 6}, wide_bytes(u"ab\U0001D11Ec")},
        {"SELECT T FROM L WHERE ID = 2", SQL_C_WCHAR, 7, {10, 6, 2}, wide_bytes(u"ab\U0001D11Ec")},
        {"SELECT T FROM L WHERE ID = 2", SQL_C_WCHAR, 6, {10, 6, 2}, wide_bytes(u"ab\U0001D11Ec")},
        {"SELECT T FROM L WHERE ID = 3", SQL_C_WCHAR, 64, {12}, wide_bytes(u"a\uFFFDb\uFFFD\uFFFDx")},
        {"SELECT T FROM L WHERE ID = 4", SQL_C_WCHAR, 64, {6}, wide_bytes(u"2.5")},
        {"SELECT T FROM L WHERE ID = 5", SQL_C_WCHAR, 64, {SQL_NULL_DATA}, ""},
    };
    for (const Pieces& c : cases) {
        SCOPED_TRACE(c.sql + (" in buffers of " + std::to_string(c.size)));
        RawStatement statement(connection_);
        first_row(statement, c.sql);
        std::vector<char> buffer(c.size);
        std::vector<SQLLEN> indicators;
        std::string value;
        const std::size_t unit = c.c_type == SQL_C_WCHAR ? 2 : 1;
        SQLLEN indicator = 0;
        SQLRETURN rc;
        while (SQL_SUCCEEDED(rc = SQLGetData(statement.handle(), 1, c.c_type, buffer.data(),
                                             static_cast<SQLLEN>(c.size), &indicator)) &&
               indicators.size() < 10) {
            EXPECT_EQ(statement.state(), rc == SQL_SUCCESS ? "" : "01004");
            indicators.push_back(indicator);
            // A piece ends where its text's terminating NUL is, the last one after its indicator.
            std::size_t length = rc == SQL_SUCCESS ? static_cast<std::size_t>(std::max<SQLLEN>(indicator, 0)) : c.size;
            for (std::size_t i = 0; c.c_type != SQL_C_BINARY && i + unit <= length; i += unit)
                if (std::string_view(&buffer[i], unit).find_first_not_of('\0') == std::string_view::npos)
                    length = i;
            value.append(buffer.data(), length);
        }
        EXPECT_EQ(rc, SQL_NO_DATA) << statement.diagnostic_text();
        EXPECT_EQ(indicators, c.indicators);
        EXPECT_EQ(value, c.value);
    }
}

TEST_F(Values, BoundColumnsAreCutWithOneRecordEachAndTheFullLength)
{
    ASSERT_EQ(statement_.exec("SELECT substr(T, 1, 300), B, 'Q.F.1', (SELECT T FROM L WHERE ID = 1) FROM L "
                              "WHERE ID = 6"),
              SQL_SUCCESS);
    char text[256], short_text[3];
    unsigned char bytes[100];
    std::u16string wide(5, u'x');
    SQLLEN lengths[4] = {};
    SQLBindCol(statement_.handle(), 1, SQL_C_CHAR, text, sizeof text, &lengths[0]);
    SQLBindCol(statement_.handle(), 2, SQL_C_BINARY, bytes, sizeof bytes, &lengths[1]);
    SQLBindCol(statement_.handle(), 3, SQL_C_CHAR, short_text, sizeof short_text, &lengths[2]);
    SQLBindCol(statement_.handle(), 4, SQL_C_WCHAR, wide.data(), 10, &lengths[3]);
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(text), letters(255));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), sizeof bytes), letters(100));
    EXPECT_STREQ(short_text, "Q.");
    EXPECT_EQ(wide, std::u16string(u"h\u00e9ll\0", 5));
    EXPECT_EQ(std::vector<SQLLEN>(lengths, lengths + 4), (std::vector<SQLLEN>{300, 10000, 5, 20}));
    std::vector<std::pair<std::string, SQLINTEGER>> records;
    for (const DiagRecord& record : statement_.diagnostics()) {
        SQLINTEGER column = 0;
        SQLGetDiagField(SQL_HANDLE_STMT, statement_.handle(), static_cast<SQLSMALLINT>(records.size() + 1),
                        SQL_DIAG_COLUMN_NUMBER, &column, 0, nullptr);
        records.emplace_back(record.state, column);
    }
    EXPECT_EQ(records, (std::vector<std::pair<std::string, SQLINTEGER>>{
                           {"01004", 1}, {"01004", 2}, {"01004", 3}, {"01004", 4}}));
}

// The statement holds one diagnostic record, of `state`, for row `row`.
void expect_one_record(const RawStatement& statement, const std::string& state, SQLLEN row)
{
    ASSERT_EQ(statement.diagnostics().size(), 1u);
    SQLLEN number = 0;
    SQLGetDiagField(SQL_HANDLE_STMT, statement.handle(), 1, SQL_DIAG_ROW_NUMBER, &number, 0, nullptr);
    EXPECT_EQ(std::pair(statement.state(), number), std::pair(state, row));
}

// Column-wise rowsets are what the component list load asks for: its tests cover them.
TEST_F(Values, RowWiseRowsetsMarkAFailingRowThenEndAtMaxRows)
{
    constexpr SQLULEN kRowsetSize = 4;
    using Status = std::array<SQLUSMALLINT, kRowsetSize>;
    SQLULEN fetched = 0;
    Status status{};
    source_.execute({"CREATE TABLE R (N INTEGER, T TEXT)",
                     "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 10) "
                     "INSERT INTO R SELECT n, 'row ' || n FROM c",
                     "UPDATE R SET N = 100000 WHERE N = 9"});
    struct Row {
        SQLSMALLINT number;
        SQLLEN number_length;
        char text[8];
        SQLLEN text_length;
    };
    std::array<Row, kRowsetSize> rows{};
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowsetSize), 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(6), 0);
    ASSERT_EQ(statement_.exec("SELECT N, T FROM R ORDER BY rowid DESC"), SQL_SUCCESS);
    SQLBindCol(statement_.handle(), 1, SQL_C_SSHORT, &rows[0].number, 0, &rows[0].number_length);
    SQLBindCol(statement_.handle(), 2, SQL_C_CHAR, rows[0].text, sizeof rows[0].text, &rows[0].text_length);

    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(fetched, 4u);
    EXPECT_EQ(status, (Status{SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS}));
    EXPECT_EQ(std::tuple(rows[0].number, rows[0].text_length, rows[2].number, std::string(rows[3].text)),
              std::tuple(SQLSMALLINT{10}, SQLLEN{6}, SQLSMALLINT{8}, std::string("row 7")));
    expect_one_record(statement_, "22003", 2);
    SQLINTEGER number = 0;
    EXPECT_EQ(SQLGetData(statement_.handle(), 1, SQL_C_SLONG, &number, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYC00") << "SQLGetData needs a rowset of one";

    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(rows[1].number, 5);
    EXPECT_EQ(status, (Status{SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_NOROW, SQL_ROW_NOROW}));
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_NO_DATA);
    EXPECT_EQ(fetched, 0u);
}

// What SQLDescribeCol and SQLColAttribute tell a client about each declared type. SQLite lets NULL
// into a TEXT primary key; a view's column has the constraints of its table's.
TEST_F(Values, ColumnsAreDescribedByTheirDeclarationAndConstraints)
{
    using Description = std::tuple<SQLSMALLINT, SQLULEN, SQLSMALLINT, SQLSMALLINT>; // type, size, digits, nullable
    for (const Words& c : cases("Descriptions")) {
        const std::string select = "SELECT " + c[0] + " FROM " + c[1];
        SCOPED_TRACE(select);
        RawStatement statement(connection_);
        ASSERT_EQ(statement.prepare(select), SQL_SUCCESS);
        const Description expected{static_cast<SQLSMALLINT>(number(c, 2)), static_cast<SQLULEN>(number(c, 3)),
                                   static_cast<SQLSMALLINT>(number(c, 4)), static_cast<SQLSMALLINT>(number(c, 5))};
        Description described{};
        auto& [type, size, digits, nullable] = described;
        ASSERT_EQ(SQLDescribeCol(statement.handle(), 1, nullptr, 0, nullptr, &type, &size, &digits, &nullable),
                  SQL_SUCCESS);
        EXPECT_EQ(described, expected);
        SQLLEN attribute = -1;
        ASSERT_EQ(SQLColAttribute(statement.handle(), 1, SQL_DESC_NULLABLE, nullptr, 0, nullptr, &attribute),
                  SQL_SUCCESS);
        EXPECT_EQ(attribute, std::get<3>(expected));
    }
}

// One parameter as the application binds it, and what the column then holds (as quote() shows
// it) or the state of the failure.
struct Parameter {
    SQLSMALLINT c_type;
    SQLSMALLINT sql_type;
    std::optional<std::string> buffer; // nullopt: a null pointer
    SQLLEN indicator;
    std::string stored;
};

TEST_F(Values, ParametersOfEveryTypeAreStoredWithTheirExactValueOrRefused)
{
    const std::u16string text = u"\u00c5ngstr\u00f6m \U0001D11E";
    const Parameter cases[] = {
        {SQL_C_CHAR, SQL_VARCHAR, "abcdef", 3, "'abc'"},
        {SQL_C_CHAR, SQL_VARCHAR, "abcdef", SQL_NTS, "'abcdef'"},
        {SQL_C_CHAR, SQL_VARCHAR, "abcdef", SQL_NULL_DATA, "NULL"},
        {SQL_C_SLONG, SQL_INTEGER, bytes_of(SQLINTEGER{-70000}), 0, "-70000"},
        {SQL_C_SSHORT, SQL_SMALLINT, bytes_of(SQLSMALLINT{-12}), 0, "-12"},
        {SQL_C_SBIGINT, SQL_BIGINT, bytes_of(SQLBIGINT{6000000000}), 0, "6000000000"},
        {SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(SQLDOUBLE{-0.5}), 0, "-0.5"},
        {SQL_C_BINARY, SQL_VARBINARY, std::string("\0\x01\xfe", 3), 3, "X'0001FE'"},
        // No buffer is NULL, with the library's SQL_NULL_DATA indicator or without it.
        {SQL_C_SLONG, SQL_INTEGER, std::nullopt, SQL_NULL_DATA, "NULL"},
        {SQL_C_SLONG, SQL_INTEGER, std::nullopt, 0, "NULL"},
        // Whole numbers that fit are integers, others their exact decimal text.
        {SQL_C_NUMERIC, SQL_NUMERIC, numeric(12345, 2, 1), 0, "'123.45'"},
        {SQL_C_NUMERIC, SQL_NUMERIC, numeric(5, 3, 0), 0, "'-0.005'"},
        {SQL_C_NUMERIC, SQL_NUMERIC, numeric(9223372036854775807ULL, 0, 0), 0, "-9223372036854775807"},
        {SQL_C_NUMERIC, SQL_NUMERIC, numeric(18446744073709551615ULL, 0, 1), 0, "'18446744073709551615'"},
        {SQL_C_NUMERIC, SQL_NUMERIC, numeric(42, -2, 1), 0, "4200"},
        // Dates and times as the texts the columns read back, with every fraction digit.
        {SQL_C_TYPE_DATE, SQL_TYPE_DATE, bytes_of(SQL_DATE_STRUCT{2024, 2, 29}), 0, "'2024-02-29'"},
        {SQL_C_TYPE_TIME, SQL_TYPE_TIME, bytes_of(SQL_TIME_STRUCT{7, 8, 9}), 0, "'07:08:09'"},
        {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, bytes_of(SQL_TIMESTAMP_STRUCT{2024, 3, 5, 14, 7, 9, 123456000}), 0,
         "'2024-03-05 14:07:09.123456'"},
        {SQL_C_TYPE_DATE, SQL_TYPE_DATE, bytes_of(SQL_DATE_STRUCT{2023, 2, 29}), 0, "error 22007"},
        {SQL_C_TYPE_DATE, SQL_TYPE_DATE, bytes_of(SQL_DATE_STRUCT{2024, 13, 1}), 0, "error 22007"},
        {SQL_C_TYPE_TIME, SQL_TYPE_TIME, bytes_of(SQL_TIME_STRUCT{24, 0, 0}), 0, "error 22007"},
        // Wide text as UTF-8, its length in bytes; a lone high surrogate replaced.
        {SQL_C_WCHAR, SQL_WVARCHAR, wide_bytes(text), SQL_NTS, "'\u00c5ngstr\u00f6m \U0001D11E'"},
        {SQL_C_WCHAR, SQL_WCHAR, wide_bytes(text), 6, "'\u00c5ng'"},
        {SQL_C_WCHAR, SQL_WLONGVARCHAR, wide_bytes(text), 0, "''"},
        {SQL_C_WCHAR, SQL_VARCHAR, wide_bytes(text), 2, "'\u00c5'"},
        {SQL_C_WCHAR, SQL_WVARCHAR, wide_bytes(u"\xD834z"), SQL_NTS, "'\uFFFDz'"},
        {SQL_C_GUID, SQL_VARCHAR, "", 0, "error HY003"},
        {SQL_C_SLONG, 1234, bytes_of(SQLINTEGER{1}), 0, "error HY004"},
        {SQL_C_SLONG, SQL_INTEGER, bytes_of(SQLINTEGER{1}), SQL_DATA_AT_EXEC, "error HYC00"},
    };
    for (const Parameter& p : cases) {
        SCOPED_TRACE("C type " + std::to_string(p.c_type) + " as SQL type " + std::to_string(p.sql_type));
        RawStatement insert(connection_);
        ASSERT_EQ(insert.prepare("INSERT INTO CFG.P VALUES (?)"), SQL_SUCCESS);
        alignas(8) std::array<char, 64> buffer{};
        if (p.buffer)
            std::memcpy(buffer.data(), p.buffer->data(), p.buffer->size());
        SQLLEN indicator = p.indicator;
        // Column size 19 and no digits, as a client that knows nothing of the column sends them.
        SQLRETURN rc = SQLBindParameter(insert.handle(), 1, SQL_PARAM_INPUT, p.c_type, p.sql_type, 19, 0,
                                        p.buffer ? buffer.data() : nullptr, buffer.size(), &indicator);
        if (SQL_SUCCEEDED(rc))
            rc = SQLExecute(insert.handle());
        EXPECT_EQ(SQL_SUCCEEDED(rc) ? *connection_.rows("SELECT quote(X) FROM CFG.P ORDER BY rowid DESC")[0][0]
                                    : "error " + insert.state(),
                  p.stored);
    }
}

TEST_F(Values, ParametersAreReadFromTheirBuffersAtEachExecutionOnly)
{
    char text[] = "abcdef";
    SQLLEN length = 3;
    ASSERT_EQ(statement_.prepare("INSERT INTO CFG.P VALUES (?)"), SQL_SUCCESS);
    SQLBindParameter(statement_.handle(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, text, 0, &length);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS);
    length = SQL_NTS;
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(connection_.rows("SELECT X FROM CFG.P ORDER BY rowid"), (Rows{{"abc"}, {"abcdef"}}));

    // A query keeps the values it was executed with.
    RawStatement query(connection_);
    length = 3;
    SQLBindParameter(query.handle(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, text, 0, &length);
    ASSERT_EQ(query.exec("SELECT X FROM CFG.P WHERE X >= ?"), SQL_SUCCESS);
    std::strcpy(text, "zzzzz");
    length = SQL_NTS;
    for (const SQLRETURN expected : {SQL_SUCCESS, SQL_SUCCESS, SQL_NO_DATA})
        EXPECT_EQ(SQLFetch(query.handle()), expected);
}

TEST_F(Values, ParametersAreBoundForInputOnlyAndDescribedAsText)
{
    SQLINTEGER value = 0;
    SQLLEN indicator = 0;
    ASSERT_EQ(statement_.prepare("SELECT ?, ?"), SQL_SUCCESS);
    EXPECT_EQ(SQLBindParameter(statement_.handle(), 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &value, 0,
                               &indicator),
              SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYC00");
    ASSERT_EQ(SQLBindParameter(statement_.handle(), 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &value, 0,
                               &indicator),
              SQL_SUCCESS);
    EXPECT_EQ(SQLExecute(statement_.handle()), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "07002") << "parameter 1 is not bound";
    // A parameter has no type of its own; nine digits let clients send every fraction digit.
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQLDescribeParam(statement_.handle(), 1, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_EQ(std::tuple(type, size, digits, nullable),
              std::tuple(SQLSMALLINT{SQL_VARCHAR}, SQLULEN{255}, SQLSMALLINT{9}, SQLSMALLINT{SQL_NULLABLE_UNKNOWN}));
    EXPECT_EQ(SQLDescribeParam(statement_.handle(), 3, &type, &size, &digits, &nullable), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "07009");
}

// Arrays of parameter sets: one execution, one status and one row number per set.
TEST_F(Values, ParameterArraysBoundByColumnOrByRowReportEachSet)
{
    connection_.execute("CREATE TABLE CFG.A (ID INTEGER PRIMARY KEY, NAME TEXT NOT NULL)");
    constexpr SQLULEN kSets = 4;
    std::array<SQLINTEGER, kSets> ids{1, 2, 1, 3};
    std::array<std::array<char, 8>, kSets> names{{{"one"}, {"two"}, {"again"}, {"three"}}};
    std::array<SQLLEN, kSets> name_lengths{SQL_NTS, 2, SQL_NTS, SQL_NTS};
    std::array<SQLUSMALLINT, kSets> status{};
    SQLULEN processed = 0;
    const auto bind = [&](SQLUSMALLINT number, SQLSMALLINT c_type, SQLSMALLINT sql_type, void* buffer, SQLLEN length,
                          SQLLEN* indicator) {
        SQLBindParameter(statement_.handle(), number, SQL_PARAM_INPUT, c_type, sql_type, 0, 0, buffer, length,
                         indicator);
    };
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kSets), 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
    ASSERT_EQ(statement_.prepare("INSERT INTO CFG.A VALUES (?, ?)"), SQL_SUCCESS);
    bind(1, SQL_C_SLONG, SQL_INTEGER, ids.data(), 0, nullptr);
    bind(2, SQL_C_CHAR, SQL_VARCHAR, names.data(), 8, name_lengths.data());
    EXPECT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(processed, kSets);
    EXPECT_EQ(status, (std::array<SQLUSMALLINT, kSets>{SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_ERROR,
                                                       SQL_PARAM_SUCCESS}));
    expect_one_record(statement_, "23000", 3);
    SQLLEN count = 0;
    SQLRowCount(statement_.handle(), &count);
    EXPECT_EQ(count, 3);

    // Row-wise, moved by the offset; without a status array the first failing set ends the array.
    struct Set {
        SQLINTEGER id;
        char name[8];
        SQLLEN name_length;
    };
    std::array<Set, 3> sets{{{10, "ten", SQL_NTS}, {11, "", SQL_NULL_DATA}, {12, "twelve", SQL_NTS}}};
    std::array<Set, 1> padding{};
    SQLLEN offset = reinterpret_cast<char*>(sets.data()) - reinterpret_cast<char*>(padding.data());
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(sets.size()), 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Set)), 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_PARAM_BIND_OFFSET_PTR, &offset, 0);
    bind(1, SQL_C_SLONG, SQL_INTEGER, &padding[0].id, 0, nullptr);
    bind(2, SQL_C_CHAR, SQL_VARCHAR, padding[0].name, 8, &padding[0].name_length);
    EXPECT_EQ(SQLExecute(statement_.handle()), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "23000");
    EXPECT_EQ(processed, 2u);
    EXPECT_EQ(connection_.rows("SELECT ID, NAME FROM CFG.A ORDER BY ID"),
              (Rows{{"1", "one"}, {"2", "tw"}, {"3", "three"}, {"10", "ten"}}));
    EXPECT_EQ(statement_.exec("SELECT ?, ?"), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYC00") << "a query takes one parameter set";
}

// The wide entry points carry statement texts, names and messages beyond ASCII unchanged, which
// the driver manager's own narrowing of them would not.
TEST_F(Values, WideEntryPointsCarryTextsNamesAndMessagesWhole)
{
    auto wide = [](std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); };
    const RawConnection connection(source_.dsn(), "", RawConnection::Entry::wide);
    const RawStatement statement(connection), failing(connection);
    std::u16string query = u"SELECT '\u00c5 \U0001D11E' AS \"n\u00e4m\u00e9\"", table = u"SELECT * FROM tabl\u00e9";
    ASSERT_EQ(SQLExecDirectW(statement.handle(), wide(query), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLExecDirectW(failing.handle(), wide(table), static_cast<SQLINTEGER>(table.size())), SQL_ERROR);
    std::u16string state(6, u'x');
    SQLINTEGER native = 0;
    const SQLHSTMT s = statement.handle(), f = failing.handle();
    // Each call writes a text into a buffer of the given capacity (in characters or bytes, as the
    // function counts) and its length in the same unit.
    using Call = std::function<SQLRETURN(SQLWCHAR*, SQLSMALLINT, SQLSMALLINT*)>;
    const std::u16string message = u"[qix-lite] no such table: tabl\u00e9";
    const std::tuple<const char*, Call, SQLSMALLINT, SQLRETURN, std::u16string, SQLSMALLINT> cases[] = {
        {"column name",
         [&](auto b, auto n, auto l) { return SQLDescribeColW(s, 1, b, n, l, nullptr, nullptr, nullptr, nullptr); }, 8,
         SQL_SUCCESS, u"n\u00e4m\u00e9", 4},
        {"column name cut",
         [&](auto b, auto n, auto l) { return SQLDescribeColW(s, 1, b, n, l, nullptr, nullptr, nullptr, nullptr); }, 3,
         SQL_SUCCESS_WITH_INFO, u"n\u00e4", 4},
        {"column attribute",
         [&](auto b, auto n, auto l) { return SQLColAttributeW(s, 1, SQL_DESC_NAME, b, n, l, nullptr); }, 16,
         SQL_SUCCESS, u"n\u00e4m\u00e9", 8},
        {"information",
         [&](auto b, auto n, auto l) { return SQLGetInfoW(connection.handle(), SQL_DBMS_NAME, b, n, l); }, 32,
         SQL_SUCCESS, u"SQLite", 12},
        {"message",
         [&](auto b, auto n, auto l) { return SQLGetDiagRecW(SQL_HANDLE_STMT, f, 1, wide(state), &native, b, n, l); },
         200, SQL_SUCCESS, message, 31},
        {"message field",
         [&](auto b, auto n, auto l) {
             return SQLGetDiagFieldW(SQL_HANDLE_STMT, f, 1, SQL_DIAG_MESSAGE_TEXT, b, n, l);
         },
         400, SQL_SUCCESS, message, 62},
    };
    for (const auto& [what, call, capacity, rc, text, length] : cases) {
        SCOPED_TRACE(what);
        std::u16string buffer(200, u'x');
        SQLSMALLINT written = 0;
        EXPECT_EQ(call(wide(buffer), capacity, &written), rc);
        if (rc == SQL_SUCCESS_WITH_INFO) {
            EXPECT_EQ(statement.state(), "01004");
        }
        EXPECT_EQ(buffer.substr(0, buffer.find(u'\0')), text);
        EXPECT_EQ(written, length);
    }
    EXPECT_EQ(state, std::u16string(u"42S02\0", 6));
    SQLLEN nullable = -1;
    ASSERT_EQ(SQLColAttributeW(s, 1, SQL_DESC_NULLABLE, nullptr, 0, nullptr, &nullable), SQL_SUCCESS);
    EXPECT_EQ(nullable, SQL_NULLABLE_UNKNOWN);
    SQLUSMALLINT transactions = 0;
    ASSERT_EQ(SQLGetInfoW(connection.handle(), SQL_TXN_CAPABLE, &transactions, sizeof transactions, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(transactions, SQL_TC_ALL);
    ASSERT_EQ(SQLFetch(s), SQL_SUCCESS);
    std::u16string value(16, u'x');
    ASSERT_EQ(SQLGetData(s, 1, SQL_C_WCHAR, wide(value), 32, &indicator_), SQL_SUCCESS);
    EXPECT_EQ(value.substr(0, value.find(u'\0')), u"\u00c5 \U0001D11E");

    // A name that grows past SQLSMALLINT's range in UTF-8, or a negative length, is refused
    // instead of reaching the narrow call wrapped around (66,000 bytes would become 464).
    std::u16string long_name(22000, u'\u2713');
    EXPECT_EQ(
        SQLTablesW(f, nullptr, 0, nullptr, 0, wide(long_name), static_cast<SQLSMALLINT>(long_name.size()), nullptr, 0),
        SQL_ERROR);
    EXPECT_EQ(failing.state(), "HY090");
    EXPECT_EQ(SQLExecDirectW(f, wide(table), -5), SQL_ERROR);
    EXPECT_EQ(failing.state(), "HY090");
}

constexpr const char* kLibraryFormat = "ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH24:MI:SS.FF'";

TEST_F(Values, TheSessionFormatOfOneConnectionRendersEveryTimestampColumn)
{
    const Rows oracle_default = {{"05-MAR-24 02.07.09.123456 PM", "05-MAR-24 12.07.09.123456789 AM",
                                  "31-DEC-99 11.59.59. PM", "2024-03-05 14:07:09"},
                                 {"01-JAN-24 12.00.00.500000 AM", std::nullopt, std::nullopt, std::nullopt}};
    EXPECT_EQ(items(connection_), oracle_default);
    // A prepared ALTER SESSION takes effect when it is executed, and has no result columns.
    ASSERT_EQ(statement_.prepare(kLibraryFormat), SQL_SUCCESS);
    EXPECT_EQ(items(connection_), oracle_default);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS);
    SQLSMALLINT columns = -1;
    EXPECT_EQ(SQLNumResultCols(statement_.handle(), &columns), SQL_SUCCESS);
    EXPECT_EQ(columns, 0);
    EXPECT_EQ(items(connection_), (Rows{{"2024-03-05 14:07:09.123456", "2024-03-05 00:07:09.123456789",
                                         "1999-12-31 23:59:59.", "2024-03-05 14:07:09"},
                                        {"2024-01-01 00:00:00.500000", std::nullopt, std::nullopt, std::nullopt}}));
    EXPECT_EQ(items(RawConnection(source_.dsn())), oracle_default) << "another connection keeps the default";
    connection_.execute("/* keywords after a comment */ alter session set nls_timestamp_format = "
                        "'DD/MM/YYYY HH24.MI FF3'");
    EXPECT_EQ(items(connection_)[0][1], "05/03/2024 00.07 123");
    // Other ALTER statements are SQLite's.
    ASSERT_EQ(statement_.exec("ALTER TABLE CFG.ITEMS ADD COLUMN EXTRA TEXT"), SQL_SUCCESS)
        << statement_.diagnostic_text();
    EXPECT_EQ(connection_.rows("SELECT COUNT(EXTRA) FROM CFG.ITEMS"), (Rows{{"0"}}));
}

TEST_F(Values, TheSessionRefusesFormatsItCannotHonour)
{
    for (const Words& c : cases("RefusedFormats")) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(statement_.exec("ALTER SESSION SET " + c[0]), SQL_ERROR);
        EXPECT_EQ(statement_.state(), c[1]);
        EXPECT_NE(statement_.diagnostic_text().find(word(c, 2)), std::string::npos) << statement_.diagnostic_text();
    }
    // A refused format leaves the session as it was.
    EXPECT_EQ(items(connection_)[1][0], "01-JAN-24 12.00.00.500000 AM");
}

TEST_F(Values, AStoredTimestampTextThatIsNotCanonicalFailsTheFetch)
{
    connection_.execute("UPDATE CFG.ITEMS SET LAST_SEEN = '5.3.2024' WHERE ID = 2");
    ASSERT_EQ(statement_.exec("SELECT LAST_SEEN FROM CFG.ITEMS WHERE ID = 2"), SQL_SUCCESS);
    char text[64];
    SQLBindCol(statement_.handle(), 1, SQL_C_CHAR, text, sizeof text, &indicator_);
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "22007");
    EXPECT_NE(statement_.diagnostic_text().find("'5.3.2024'"), std::string::npos);
}

TEST_F(Values, TimestampParametersInTheSessionFormatAreStoredCanonically)
{
    connection_.execute(kLibraryFormat);
    // The library sends timestamps as character parameters in the session format.
    std::string text = "2024-03-05 14:07:09.000001";
    SQLLEN length = SQL_NTS;
    ASSERT_EQ(statement_.prepare("UPDATE CFG.ITEMS SET LAST_SEEN = ? WHERE ID = 2"), SQL_SUCCESS);
    SQLBindParameter(statement_.handle(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, text.data(), 0, &length);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS) << statement_.diagnostic_text();
    // Bound as a timestamp, a text is read in the session format, whatever it is.
    connection_.execute("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'DD.MM.YYYY HH24:MI:SS'");
    RawStatement typed(connection_);
    std::string local = "06.03.2024 01:02:03";
    ASSERT_EQ(typed.prepare("UPDATE CFG.ITEMS SET SHOT = ? WHERE ID = 2"), SQL_SUCCESS);
    SQLBindParameter(typed.handle(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 0, 0, local.data(), 0,
                     &length);
    ASSERT_EQ(SQLExecute(typed.handle()), SQL_SUCCESS) << typed.diagnostic_text();
    local = "2024-03-06 01:02:03";
    EXPECT_EQ(SQLExecute(typed.handle()), SQL_ERROR);
    EXPECT_EQ(typed.state(), "22007");
    EXPECT_EQ(connection_.rows("SELECT CAST(LAST_SEEN AS TEXT), CAST(SHOT AS TEXT) FROM CFG.ITEMS WHERE ID = 2"),
              (Rows{{"2024-03-05 14:07:09.000001", "2024-03-06 01:02:03.000000"}}));
}

} // namespace
} // namespace qix::test

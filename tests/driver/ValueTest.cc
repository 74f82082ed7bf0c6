// Values through our driver: every C type with its conversions, NULLs and truncation, long values
// in chunks, block cursors, input parameters, and the session timestamp format (TIMESTAMP(6)
// and TIMESTAMP(9) read and written in it, or in the Oracle-like default without it).
#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace qix::test {
namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;


// The statement holds one diagnostic record, of `state`, for row `row`.
void expect_one_record(const RawStatement& statement, const std::string& state, SQLLEN row)
{
    ASSERT_EQ(statement.diagnostics().size(), 1u);
    EXPECT_EQ(statement.state(), state);
    SQLLEN number = 0;
    SQLGetDiagField(SQL_HANDLE_STMT, statement.handle(), 1, SQL_DIAG_ROW_NUMBER, &number, 0, nullptr);
    EXPECT_EQ(number, row);
}

class Reads : public ::testing::Test {
protected:
    LiteSource source_{{"CFG"}};
    RawConnection connection_{source_.dsn()};
    RawStatement statement_{connection_};
    SQLLEN indicator_ = 0;
};

// One row holding each storage class, read column by column with SQLGetData.
class Conversion : public Reads {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE V (I INTEGER, D DOUBLE, T TEXT, B BLOB, BIG INTEGER, N INTEGER, W TEXT, "
                         "NEG INTEGER, HALF DOUBLE, ONE INTEGER)",
                         "INSERT INTO V VALUES (42, 2.5, ' 17 ', x'00FF10', 5000000000, NULL, 'abc', -3, 0.5, 1)"});
        again();
    }
    // Runs the query again: each value of a row can be read only once.
    void again()
    {
        SQLFreeStmt(statement_.handle(), SQL_CLOSE);
        SQLFreeStmt(statement_.handle(), SQL_UNBIND);
        ASSERT_EQ(statement_.exec(kSelect), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    }
    // Binds one column of the same statement (instead of the bindings of the case before) and
    // fetches the row into it: the outcome of the bind when it fails, else that of the fetch.
    SQLRETURN fetch_bound(SQLUSMALLINT column, SQLSMALLINT c_type, void* buffer, SQLLEN* indicator)
    {
        SQLFreeStmt(statement_.handle(), SQL_CLOSE);
        SQLFreeStmt(statement_.handle(), SQL_UNBIND);
        const SQLRETURN bound = SQLBindCol(statement_.handle(), column, c_type, buffer, 16, indicator);
        if (!SQL_SUCCEEDED(bound))
            return bound;
        EXPECT_EQ(statement_.exec(kSelect), SQL_SUCCESS);
        return SQLFetch(statement_.handle());
    }
    static constexpr const char* kSelect = "SELECT I, D, T, B, BIG, N, W, NEG, HALF, ONE FROM V";
};

enum Column : SQLUSMALLINT { kI = 1, kD, kT, kB, kBig, kN, kW, kNeg, kHalf, kOne, kNone };

// The number in a buffer of `c_type`.
double number_in(SQLSMALLINT c_type, const unsigned char* buffer)
{
    const auto as = [buffer](auto value) {
        std::memcpy(&value, buffer, sizeof value);
        return static_cast<double>(value);
    };
    switch (c_type) {
    case SQL_C_SSHORT: return as(SQLSMALLINT{});
    case SQL_C_USHORT: return as(SQLUSMALLINT{});
    case SQL_C_SBIGINT: return as(SQLBIGINT{});
    case SQL_C_DOUBLE: return as(SQLDOUBLE{});
    case SQL_C_BIT: return as(SQLCHAR{});
    default: return as(SQLINTEGER{}); // SQL_C_SLONG, and the default for INTEGER columns
    }
}

TEST_F(Conversion, IntoEveryTypeOrTheReasonWhyNotAsTextWithoutSpuriousZerosAndNullThenNoData)
{
    const std::tuple<Column, SQLSMALLINT, SQLRETURN, std::string, double> cases[] = { // the value when it succeeds
        {kI, SQL_C_SLONG, SQL_SUCCESS, "", 42},       {kNeg, SQL_C_SSHORT, SQL_SUCCESS, "", -3},
        {kI, SQL_C_USHORT, SQL_SUCCESS, "", 42},      {kBig, SQL_C_SBIGINT, SQL_SUCCESS, "", 5000000000},
        {kI, SQL_C_DOUBLE, SQL_SUCCESS, "", 42},      {kOne, SQL_C_BIT, SQL_SUCCESS, "", 1},
        {kI, SQL_C_DEFAULT, SQL_SUCCESS, "", 42},     {kT, SQL_C_SLONG, SQL_SUCCESS, "", 17}, // ' 17 '
        {kT, SQL_C_DOUBLE, SQL_SUCCESS, "", 17},      {kD, SQL_C_SLONG, SQL_SUCCESS_WITH_INFO, "01S07", 2},
        {kHalf, SQL_C_BIT, SQL_SUCCESS_WITH_INFO, "01S07", 0},
        {kBig, SQL_C_SLONG, SQL_ERROR, "22003", 0},   {kNeg, SQL_C_USHORT, SQL_ERROR, "22003", 0},
        {kI, SQL_C_BIT, SQL_ERROR, "22003", 0},       {kW, SQL_C_DOUBLE, SQL_ERROR, "22018", 0},
        {kB, SQL_C_SLONG, SQL_ERROR, "07006", 0},     {kT, SQL_C_GUID, SQL_ERROR, "HY003", 0},
        {kNone, SQL_C_CHAR, SQL_ERROR, "07009", 0},
    };
    for (const auto& [column, c_type, expected_rc, state, value] : cases) {
        again();
        unsigned char buffer[16] = {};
        const SQLRETURN rc = SQLGetData(statement_.handle(), column, c_type, buffer, sizeof buffer, &indicator_);
        const std::string where = "column " + std::to_string(column) + " as " + std::to_string(c_type);
        EXPECT_EQ(rc, expected_rc) << where;
        EXPECT_EQ(statement_.state(), state) << where;
        EXPECT_TRUE(!SQL_SUCCEEDED(rc) || number_in(c_type, buffer) == value) << where;
        EXPECT_TRUE(c_type != SQL_C_SLONG || rc != SQL_SUCCESS || indicator_ == 4) << where;
        // A bound column gets the same value, or the same failure, with the fetch.
        unsigned char bound[16] = {};
        const SQLRETURN bound_rc = fetch_bound(column, c_type, bound, &indicator_);
        EXPECT_EQ(bound_rc, expected_rc) << where << ", bound";
        EXPECT_EQ(statement_.state(), state) << where << ", bound";
        EXPECT_TRUE(!SQL_SUCCEEDED(bound_rc) || number_in(c_type, bound) == value) << where << ", bound";
        EXPECT_TRUE(c_type != SQL_C_SLONG || bound_rc != SQL_SUCCESS || indicator_ == 4) << where << ", bound";
    }
    for (const auto& [column, c_type, expected] :
         {std::tuple<Column, SQLSMALLINT, std::string>{kT, SQL_C_CHAR, " 17 "}, {kW, SQL_C_CHAR, "abc"},
          {kI, SQL_C_CHAR, "42"}, {kD, SQL_C_CHAR, "2.5"}, {kB, SQL_C_CHAR, "00FF10"}, {kN, SQL_C_CHAR, ""}}) {
        char text[16] = {};
        EXPECT_EQ(fetch_bound(column, c_type, text, &indicator_), SQL_SUCCESS) << expected;
        EXPECT_EQ(text, expected);
        EXPECT_EQ(indicator_, column == kN ? SQL_NULL_DATA : static_cast<SQLLEN>(expected.size())) << expected;
    }
    SQLINTEGER unindicated = 0;
    EXPECT_EQ(fetch_bound(kN, SQL_C_SLONG, &unindicated, nullptr), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "22002");
    again();

    char text[64];
    for (const auto& [column, expected] : {std::pair<Column, std::string>{kI, "42"}, {kD, "2.5"}, {kBig, "5000000000"},
                                           {kNeg, "-3"}, {kB, "00FF10"}}) {
        EXPECT_EQ(SQLGetData(statement_.handle(), column, SQL_C_CHAR, text, sizeof text, &indicator_), SQL_SUCCESS);
        EXPECT_EQ(text, expected);
        EXPECT_EQ(indicator_, static_cast<SQLLEN>(expected.size()));
    }
    EXPECT_EQ(connection_.rows("SELECT 1.0, 0.1, 123456789.125, 1e-7, 2e20")[0],
              (std::vector<std::optional<std::string>>{"1", "0.1", "123456789.125", "1e-07", "2e+20"}));
    again();
    char bytes[8] = {};
    EXPECT_EQ(SQLGetData(statement_.handle(), kB, SQL_C_BINARY, bytes, sizeof bytes, &indicator_), SQL_SUCCESS);
    EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(indicator_)), std::string("\x00\xff\x10", 3));
    EXPECT_EQ(SQLGetData(statement_.handle(), kI, SQL_C_BINARY, bytes, sizeof bytes, &indicator_), SQL_SUCCESS);
    EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(indicator_)), "42");
    again();

    for (SQLSMALLINT c_type : {SQL_C_CHAR, SQL_C_DOUBLE, SQL_C_SLONG, SQL_C_SSHORT, SQL_C_USHORT, SQL_C_SBIGINT,
                               SQL_C_BIT, SQL_C_BINARY, SQL_C_DEFAULT}) {
        char buffer[16];
        indicator_ = 0;
        EXPECT_EQ(SQLGetData(statement_.handle(), kN, c_type, buffer, sizeof buffer, &indicator_), SQL_SUCCESS);
        EXPECT_EQ(indicator_, SQL_NULL_DATA) << c_type;
        EXPECT_EQ(SQLGetData(statement_.handle(), kN, c_type, buffer, sizeof buffer, &indicator_), SQL_NO_DATA);
        SQLINTEGER other = 0; // moving to another column starts the next round afresh
        EXPECT_EQ(SQLGetData(statement_.handle(), kI, SQL_C_SLONG, &other, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(SQLGetData(statement_.handle(), kI, SQL_C_SLONG, &other, 0, nullptr), SQL_NO_DATA);
    }
    SQLINTEGER value = 0;
    EXPECT_EQ(SQLGetData(statement_.handle(), kN, SQL_C_SLONG, &value, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "22002");
}

class LongValues : public Reads {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE L (T TEXT, B BLOB)",
                         "INSERT INTO L VALUES (printf('%.*c', 2500, 'x') || '', randomblob(10000))"});
        ASSERT_EQ(statement_.exec("SELECT T, B FROM L"), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    }
    // Reads a value chunk by chunk into `all` and returns the indicator of each chunk.
    std::vector<SQLLEN> chunks(const RawStatement& statement, SQLUSMALLINT column, SQLSMALLINT c_type,
                               std::size_t size, std::string& all)
    {
        std::vector<char> buffer(size);
        std::vector<SQLLEN> indicators;
        SQLLEN indicator = 0;
        SQLRETURN rc;
        while ((rc = SQLGetData(statement.handle(), column, c_type, buffer.data(), static_cast<SQLLEN>(size),
                                &indicator)) != SQL_NO_DATA) {
            const bool last = rc == SQL_SUCCESS;
            EXPECT_TRUE(last || (rc == SQL_SUCCESS_WITH_INFO && statement.state() == "01004")) << rc;
            if (!SQL_SUCCEEDED(rc))
                break;
            indicators.push_back(indicator);
            all.append(buffer.data(), last ? static_cast<std::size_t>(indicator) : size - (c_type == SQL_C_CHAR));
        }
        return indicators;
    }
};

TEST_F(LongValues, TextAndBlobComeInChunksWithTheRemainingLength)
{
    std::string text;
    EXPECT_EQ(chunks(statement_, 1, SQL_C_CHAR, 1024, text), (std::vector<SQLLEN>{2500, 1477, 454}));
    EXPECT_EQ(text, std::string(2500, 'x'));
    std::string blob;
    EXPECT_EQ(chunks(statement_, 2, SQL_C_BINARY, 4096, blob), (std::vector<SQLLEN>{10000, 5904, 1808}));
    RawStatement whole(connection_);
    ASSERT_EQ(whole.exec("SELECT B FROM L"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(whole.handle()), SQL_SUCCESS);
    std::string in_one;
    EXPECT_EQ(chunks(whole, 1, SQL_C_BINARY, 10000, in_one), (std::vector<SQLLEN>{10000}));
    EXPECT_EQ(blob, in_one);
}

TEST_F(LongValues, BoundColumnsAreCutWithOneRecordEachAndTheFullLength)
{
    RawStatement statement(connection_);
    ASSERT_EQ(statement.exec("SELECT substr(T, 1, 300), B, 'Q.F.1' FROM L"), SQL_SUCCESS);
    char text[256], short_text[3];
    unsigned char bytes[100];
    SQLLEN text_length = 0, bytes_length = 0, short_length = 0;
    SQLBindCol(statement.handle(), 1, SQL_C_CHAR, text, sizeof text, &text_length);
    SQLBindCol(statement.handle(), 2, SQL_C_BINARY, bytes, sizeof bytes, &bytes_length);
    SQLBindCol(statement.handle(), 3, SQL_C_CHAR, short_text, sizeof short_text, &short_length);
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(text), std::string(255, 'x'));
    EXPECT_EQ(text_length, 300);
    EXPECT_EQ(bytes_length, 10000);
    EXPECT_STREQ(short_text, "Q.");
    EXPECT_EQ(short_length, 5);
    const auto records = statement.diagnostics();
    ASSERT_EQ(records.size(), 3u);
    for (const auto& record : records)
        EXPECT_EQ(record.state, "01004");
    SQLINTEGER column = 0;
    SQLGetDiagField(SQL_HANDLE_STMT, statement.handle(), 3, SQL_DIAG_COLUMN_NUMBER, &column, 0, nullptr);
    EXPECT_EQ(column, 3);
}

constexpr SQLULEN kRowsetSize = 4;

// Column-wise rowsets are what the component list load asks for: its tests cover them.
TEST_F(Reads, RowWiseRowsetsMarkAFailingRowAndEndAtMaxRows)
{
    using Status = std::array<SQLUSMALLINT, kRowsetSize>;
    SQLULEN fetched = 0;
    Status status{};
    source_.execute({"CREATE TABLE R (N INTEGER, T TEXT)",
                     "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 10) "
                     "INSERT INTO R SELECT n, 'row ' || n FROM c", "UPDATE R SET N = 100000 WHERE N = 9"});
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowsetSize), 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
    struct Row {
        SQLSMALLINT number;
        SQLLEN number_length;
        char text[8];
        SQLLEN text_length;
    };
    std::array<Row, kRowsetSize> rows{};
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(6), 0);
    ASSERT_EQ(statement_.exec("SELECT N, T FROM R ORDER BY rowid DESC"), SQL_SUCCESS);
    SQLBindCol(statement_.handle(), 1, SQL_C_SSHORT, &rows[0].number, 0, &rows[0].number_length);
    SQLBindCol(statement_.handle(), 2, SQL_C_CHAR, rows[0].text, sizeof rows[0].text, &rows[0].text_length);

    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(fetched, 4u);
    EXPECT_EQ(status, (Status{SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS}));
    EXPECT_EQ(rows[0].number, 10);
    EXPECT_EQ(rows[0].text_length, 6);
    EXPECT_EQ(rows[2].number, 8);
    EXPECT_STREQ(rows[3].text, "row 7");
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


class Parameters : public Reads {
protected:
    void SetUp() override { source_.execute({"CREATE TABLE CFG.P (TXT TEXT, NUM INTEGER, REAL_VALUE DOUBLE, BIN BLOB)"}); }
    SQLRETURN bind(SQLUSMALLINT number, SQLSMALLINT c_type, SQLSMALLINT sql_type, void* buffer, SQLLEN length,
                   SQLLEN* indicator)
    {
        return SQLBindParameter(statement_.handle(), number, SQL_PARAM_INPUT, c_type, sql_type, 0, 0, buffer, length,
                                indicator);
    }
};

TEST_F(Parameters, EveryTypeLengthAndNullReadFromTheBuffersAtEachExecutionOnly)
{
    char text[] = "abcdef";
    SQLLEN text_length = 3;
    SQLINTEGER slong = -70000;
    SQLSMALLINT sshort = -12;
    SQLBIGINT big = 6000000000;
    SQLDOUBLE real = 2.25;
    unsigned char bytes[] = {0x00, 0x01, 0xfe};
    SQLLEN bytes_length = sizeof bytes;
    ASSERT_EQ(statement_.prepare("INSERT INTO CFG.P (TXT, NUM, REAL_VALUE, BIN) VALUES (?, ?, ?, ?)"), SQL_SUCCESS);
    ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, text, 0, &text_length), SQL_SUCCESS);
    ASSERT_EQ(bind(2, SQL_C_SLONG, SQL_INTEGER, &slong, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(bind(3, SQL_C_DOUBLE, SQL_DOUBLE, &real, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(bind(4, SQL_C_BINARY, SQL_VARBINARY, bytes, sizeof bytes, &bytes_length), SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS) << statement_.diagnostic_text();
    text_length = SQL_NTS;
    bind(2, SQL_C_SSHORT, SQL_SMALLINT, &sshort, 0, nullptr);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS);
    text_length = SQL_NULL_DATA;
    real = -0.5;
    bind(2, SQL_C_SBIGINT, SQL_BIGINT, &big, 0, nullptr);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS);
    // No buffer is NULL, with the library's SQL_NULL_DATA indicator or without it.
    for (SQLLEN indicator : {SQLLEN{SQL_NULL_DATA}, SQLLEN{0}}) {
        ASSERT_EQ(bind(2, SQL_C_SLONG, SQL_INTEGER, nullptr, 0, &indicator), SQL_SUCCESS);
        ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS) << statement_.diagnostic_text();
    }
    EXPECT_EQ(connection_.rows("SELECT TXT, NUM, REAL_VALUE, hex(BIN) FROM CFG.P ORDER BY rowid"),
              (Rows{{"abc", "-70000", "2.25", "0001FE"}, {"abcdef", "-12", "2.25", "0001FE"},
                    {std::nullopt, "6000000000", "-0.5", "0001FE"}, {std::nullopt, std::nullopt, "-0.5", "0001FE"},
                    {std::nullopt, std::nullopt, "-0.5", "0001FE"}}));

    // A select keeps the values it was executed with.
    SQLFreeStmt(statement_.handle(), SQL_RESET_PARAMS);
    connection_.execute("DELETE FROM CFG.P");
    connection_.execute("INSERT INTO CFG.P (TXT, NUM) VALUES ('MAGNET', 7), ('MAGNET', 8), ('BPM', 7)");
    std::string type = "MAGNET";
    SQLLEN type_length = static_cast<SQLLEN>(type.size());
    SQLINTEGER id = 7;
    ASSERT_EQ(statement_.exec("SELECT count(*) FROM CFG.P WHERE TXT = ? AND NUM = ?"), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "07002") << "parameters not bound";
    bind(1, SQL_C_CHAR, SQL_VARCHAR, type.data(), type_length, &type_length);
    bind(2, SQL_C_SLONG, SQL_INTEGER, &id, 0, nullptr);
    ASSERT_EQ(statement_.exec("SELECT TXT, NUM FROM CFG.P WHERE TXT = ? AND NUM >= ?"), SQL_SUCCESS);
    type = "XXXXXX";
    id = 100;
    for (const SQLRETURN expected : {SQL_SUCCESS, SQL_SUCCESS, SQL_NO_DATA})
        EXPECT_EQ(SQLFetch(statement_.handle()), expected);
}

TEST_F(Parameters, RejectsWhatTheDriverCannotSend)
{
    SQLINTEGER value = 0;
    SQLLEN indicator = 0;
    ASSERT_EQ(statement_.prepare("SELECT ?"), SQL_SUCCESS);
    EXPECT_EQ(SQLBindParameter(statement_.handle(), 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &value, 0,
                               &indicator),
              SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYC00");
    // A parameter has no type of its own; nine digits let clients send every fraction digit.
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQLDescribeParam(statement_.handle(), 1, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_EQ(std::tuple(type, size, digits, nullable),
              std::tuple(SQLSMALLINT{SQL_VARCHAR}, SQLULEN{255}, SQLSMALLINT{9}, SQLSMALLINT{SQL_NULLABLE_UNKNOWN}));
    EXPECT_EQ(SQLDescribeParam(statement_.handle(), 2, &type, &size, &digits, &nullable), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "07009");
    for (const auto& [c_type, sql_type, state] : {std::tuple<SQLSMALLINT, SQLSMALLINT, std::string>{
                                                      SQL_C_GUID, SQL_VARCHAR, "HY003"}, {SQL_C_SLONG, 1234, "HY004"}}) {
        EXPECT_EQ(bind(1, c_type, sql_type, &value, 0, &indicator), SQL_ERROR);
        EXPECT_EQ(statement_.state(), state);
    }
    indicator = SQL_DATA_AT_EXEC;
    ASSERT_EQ(bind(1, SQL_C_SLONG, SQL_INTEGER, &value, 0, &indicator), SQL_SUCCESS);
    EXPECT_EQ(SQLExecute(statement_.handle()), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYC00");
}

// Wide characters: UTF-16 code units of unixODBC's 2-byte SQLWCHAR, lengths in bytes.
std::u16string wide_of(const std::vector<char>& bytes, SQLLEN length)
{
    std::u16string units(static_cast<std::size_t>(length) / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    return units;
}

class WideCharacters : public Reads {
protected:
    void SetUp() override
    {
        // The clef (U+1D11E) needs a surrogate pair; CAST of bytes gives text that is no UTF-8.
        source_.execute({"CREATE TABLE W (ID INTEGER, T TEXT)",
                         "INSERT INTO W VALUES (1, 'h\u00e9llo \u2713 \U0001D11E'), (2, 'ab\U0001D11Ec'), "
                         "(3, CAST(x'61FF62E282' AS TEXT) || 'x'), (4, 2.5), (5, NULL)"});
    }
    // Reads the text of row `id` as wide characters in buffers of `size` bytes; returns each
    // call's indicator and appends the units to `all`.
    std::vector<SQLLEN> wide_chunks(int id, std::size_t size, std::u16string& all)
    {
        RawStatement statement(connection_);
        EXPECT_EQ(statement.exec("SELECT T FROM W WHERE ID = " + std::to_string(id)), SQL_SUCCESS);
        EXPECT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS);
        std::vector<char> buffer(size);
        std::vector<SQLLEN> indicators;
        SQLLEN indicator = 0;
        SQLRETURN rc;
        while ((rc = SQLGetData(statement.handle(), 1, SQL_C_WCHAR, buffer.data(), static_cast<SQLLEN>(size),
                                &indicator)) != SQL_NO_DATA && SQL_SUCCEEDED(rc) && indicators.size() < 10) {
            indicators.push_back(indicator);
            EXPECT_EQ(rc == SQL_SUCCESS_WITH_INFO ? statement.state() : "", rc == SQL_SUCCESS ? "" : "01004");
            if (indicator == SQL_NULL_DATA)
                continue;
            const std::u16string units = wide_of(buffer, static_cast<SQLLEN>(size));
            all += units.substr(0, std::min(units.find(u'\0'), static_cast<std::size_t>(indicator) / 2));
        }
        EXPECT_EQ(rc, SQL_NO_DATA) << statement.diagnostic_text();
        return indicators;
    }
};

TEST_F(WideCharacters, ReadInChunksNeverSplittingASurrogatePairAndBadBytesEachReplaced)
{
    const std::tuple<int, std::size_t, std::u16string, std::vector<SQLLEN>> cases[] = {
        {1, 64, u"h\u00e9llo \u2713 \U0001D11E", {20}},
        // Three units fit beside the NUL, but the third is the first half of a pair.
        {2, 8, u"ab\U0001D11Ec", {10, 6}},
        {2, 7, u"ab\U0001D11Ec", {10, 6, 2}},  // an odd byte is never used
        {2, 6, u"ab\U0001D11Ec", {10, 6, 2}},
        {3, 64, u"a\uFFFDb\uFFFD\uFFFDx", {12}},
        {4, 64, u"2.5", {6}},
        {5, 64, u"", {SQL_NULL_DATA}},
    };
    for (const auto& [id, size, expected, indicators] : cases) {
        SCOPED_TRACE("row " + std::to_string(id) + ", buffer of " + std::to_string(size));
        std::u16string all;
        EXPECT_EQ(wide_chunks(id, size, all), indicators);
        EXPECT_EQ(all, expected);
    }
}

TEST_F(WideCharacters, BoundColumnsAreCutWithTheirFullLengthAndParametersStoredAsUtf8)
{
    ASSERT_EQ(statement_.exec("SELECT T FROM W WHERE ID = 1"), SQL_SUCCESS);
    std::vector<char> buffer(10);
    SQLBindCol(statement_.handle(), 1, SQL_C_WCHAR, buffer.data(), static_cast<SQLLEN>(buffer.size()), &indicator_);
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(statement_.state(), "01004");
    EXPECT_EQ(indicator_, 20);
    EXPECT_EQ(wide_of(buffer, 10), std::u16string(u"h\u00e9ll\0", 5));

    RawStatement insert(connection_);
    ASSERT_EQ(insert.prepare("INSERT INTO W VALUES (?, ?)"), SQL_SUCCESS);
    SQLINTEGER id = 10;
    std::u16string text = u"\u00c5ngstr\u00f6m \U0001D11E";
    SQLLEN length = SQL_NTS;
    SQLBindParameter(insert.handle(), 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
    for (const auto& [sql_type, text_length] : {std::pair<SQLSMALLINT, SQLLEN>{SQL_WVARCHAR, SQL_NTS},
                                                {SQL_WCHAR, 6}, {SQL_WLONGVARCHAR, 0}, {SQL_VARCHAR, 2}}) {
        length = text_length;
        SQLBindParameter(insert.handle(), 2, SQL_PARAM_INPUT, SQL_C_WCHAR, sql_type, 0, 0, text.data(),
                         static_cast<SQLLEN>(text.size() * 2), &length);
        EXPECT_EQ(SQLExecute(insert.handle()), SQL_SUCCESS) << insert.diagnostic_text();
        ++id;
    }
    text = std::u16string(1, static_cast<char16_t>(0xD834)) + u"z";  // a lone high surrogate
    length = SQL_NTS;
    EXPECT_EQ(SQLExecute(insert.handle()), SQL_SUCCESS) << insert.diagnostic_text();
    EXPECT_EQ(connection_.rows("SELECT T, length(T) FROM W WHERE ID >= 10 ORDER BY ID"),
              (Rows{{"\u00c5ngstr\u00f6m \U0001D11E", "10"}, {"\u00c5ng", "3"}, {"", "0"}, {"\u00c5", "1"},
                    {"\uFFFDz", "2"}}));
}

// The wide entry points carry statement texts, names and messages beyond ASCII unchanged, which
// the driver manager's own narrowing of them would not.
TEST_F(WideCharacters, WideEntryPointsCarryTextsNamesAndMessagesWhole)
{
    auto wide = [](std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); };
    const RawConnection connection(source_.dsn(), "", RawConnection::Entry::wide);
    const RawStatement statement(connection);
    std::u16string query = u"SELECT '\u00c5 \U0001D11E' AS \"n\u00e4m\u00e9\"";
    ASSERT_EQ(SQLExecDirectW(statement.handle(), wide(query), SQL_NTS), SQL_SUCCESS);
    std::u16string name(8, u'x');
    SQLSMALLINT name_length = 0;
    ASSERT_EQ(SQLDescribeColW(statement.handle(), 1, wide(name), 8, &name_length, nullptr, nullptr, nullptr, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(name.substr(0, 5), std::u16string(u"n\u00e4m\u00e9\0", 5));
    EXPECT_EQ(name_length, 4);
    ASSERT_EQ(SQLDescribeColW(statement.handle(), 1, wide(name), 3, &name_length, nullptr, nullptr, nullptr, nullptr),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(statement.state(), "01004");
    EXPECT_EQ(name.substr(0, 3), std::u16string(u"n\u00e4\0", 3));
    EXPECT_EQ(name_length, 4);
    SQLSMALLINT attribute_length = 0;
    ASSERT_EQ(SQLColAttributeW(statement.handle(), 1, SQL_DESC_NAME, wide(name), 16, &attribute_length, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(attribute_length, 8) << "in bytes";
    SQLLEN nullable = -1;
    ASSERT_EQ(SQLColAttributeW(statement.handle(), 1, SQL_DESC_NULLABLE, nullptr, 0, nullptr, &nullable),
              SQL_SUCCESS);
    EXPECT_EQ(nullable, SQL_NULLABLE_UNKNOWN);
    ASSERT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS);
    std::vector<char> value(32);
    ASSERT_EQ(SQLGetData(statement.handle(), 1, SQL_C_WCHAR, value.data(), 32, &indicator_), SQL_SUCCESS);
    EXPECT_EQ(wide_of(value, indicator_), u"\u00c5 \U0001D11E");

    RawStatement failing(connection);
    query = u"SELECT * FROM tabl\u00e9";
    ASSERT_EQ(SQLExecDirectW(failing.handle(), wide(query), static_cast<SQLINTEGER>(query.size())), SQL_ERROR);
    std::u16string state(6, u'\0'), message(200, u'\0');
    SQLINTEGER native = 0;
    SQLSMALLINT message_length = 0;
    ASSERT_EQ(SQLGetDiagRecW(SQL_HANDLE_STMT, failing.handle(), 1, wide(state), &native, wide(message), 200,
                             &message_length),
              SQL_SUCCESS);
    EXPECT_EQ(state.substr(0, 5), u"42S02");
    EXPECT_EQ(message.substr(0, static_cast<std::size_t>(message_length)), u"[qix-lite] no such table: tabl\u00e9");
    SQLSMALLINT field_length = 0;
    ASSERT_EQ(SQLGetDiagFieldW(SQL_HANDLE_STMT, failing.handle(), 1, SQL_DIAG_MESSAGE_TEXT, wide(message), 400,
                               &field_length),
              SQL_SUCCESS);
    EXPECT_EQ(field_length, message_length * 2) << "in bytes";

    // A name that grows past SQLSMALLINT's range in UTF-8, or a negative length, is refused
    // instead of reaching the narrow call wrapped around (66,000 bytes would become 464).
    std::u16string long_name(22000, u'\u2713');
    EXPECT_EQ(SQLTablesW(failing.handle(), nullptr, 0, nullptr, 0, wide(long_name),
                         static_cast<SQLSMALLINT>(long_name.size()), nullptr, 0),
              SQL_ERROR);
    EXPECT_EQ(failing.state(), "HY090");
    EXPECT_EQ(SQLExecDirectW(failing.handle(), wide(query), -5), SQL_ERROR);
    EXPECT_EQ(failing.state(), "HY090");

    std::u16string info(16, u'\0');
    SQLSMALLINT info_length = 0;
    ASSERT_EQ(SQLGetInfoW(connection.handle(), SQL_DBMS_NAME, wide(info), 32, &info_length), SQL_SUCCESS);
    EXPECT_EQ(info.substr(0, 7), std::u16string(u"SQLite\0", 7));
    EXPECT_EQ(info_length, 12);
    SQLUSMALLINT transactions = 0;
    ASSERT_EQ(SQLGetInfoW(connection.handle(), SQL_TXN_CAPABLE, &transactions, sizeof transactions, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(transactions, SQL_TC_ALL);
}

// What SQLDescribeCol and SQLColAttribute tell a client about each declared type.
TEST_F(Reads, ColumnsAreDescribedByTheirDeclarationAndConstraints)
{
    source_.execute({"CREATE TABLE CFG.D (ID INTEGER PRIMARY KEY, NAME TEXT NOT NULL, NOTE VARCHAR2(30), DAY DATE, "
                     "SEEN TIMESTAMP(3), PRICE NUMBER(10,2), AMOUNT NUMBER, RATIO DOUBLE, AT TIME, SMALL SMALLINT, "
                     "B BLOB NOT NULL, CURRENT_A BINARY_DOUBLE, GAIN BINARY_FLOAT, IMAGE RAW(16))",
                     "CREATE TABLE CFG.K (CODE TEXT PRIMARY KEY)",
                     "CREATE VIEW CFG.V AS SELECT NAME FROM D"});
    struct Expected {
        const char* select;
        SQLSMALLINT type;
        SQLULEN size;
        SQLSMALLINT digits;
        SQLSMALLINT nullable;
    };
    const Expected cases[] = {
        {"ID FROM CFG.D", SQL_BIGINT, 19, 0, SQL_NO_NULLS},
        {"NAME FROM CFG.D", SQL_VARCHAR, 255, 0, SQL_NO_NULLS},
        {"NOTE FROM CFG.D", SQL_VARCHAR, 30, 0, SQL_NULLABLE},
        {"DAY FROM CFG.D", SQL_TYPE_TIMESTAMP, 19, 0, SQL_NULLABLE},
        {"SEEN FROM CFG.D", SQL_TYPE_TIMESTAMP, 23, 3, SQL_NULLABLE},
        {"PRICE FROM CFG.D", SQL_NUMERIC, 10, 2, SQL_NULLABLE},
        {"AMOUNT FROM CFG.D", SQL_NUMERIC, 38, 0, SQL_NULLABLE},
        {"RATIO FROM CFG.D", SQL_DOUBLE, 15, 0, SQL_NULLABLE},
        {"AT FROM CFG.D", SQL_TYPE_TIME, 8, 0, SQL_NULLABLE},
        {"SMALL FROM CFG.D", SQL_SMALLINT, 5, 0, SQL_NULLABLE},
        {"B FROM CFG.D", SQL_VARBINARY, 255, 0, SQL_NO_NULLS},
        {"CURRENT_A FROM CFG.D", SQL_DOUBLE, 15, 0, SQL_NULLABLE},
        {"GAIN FROM CFG.D", SQL_DOUBLE, 15, 0, SQL_NULLABLE},
        {"IMAGE FROM CFG.D", SQL_VARBINARY, 16, 0, SQL_NULLABLE},
        {"CODE FROM CFG.K", SQL_VARCHAR, 255, 0, SQL_NULLABLE},  // SQLite lets NULL into it
        {"NAME FROM CFG.V", SQL_VARCHAR, 255, 0, SQL_NO_NULLS},  // a view column has its table's origin
        {"ID + 1 FROM CFG.D", SQL_VARCHAR, 255, 0, SQL_NULLABLE_UNKNOWN},
    };
    for (const Expected& expected : cases) {
        SCOPED_TRACE(expected.select);
        RawStatement statement(connection_);
        ASSERT_EQ(statement.prepare(std::string("SELECT ") + expected.select), SQL_SUCCESS);
        SQLSMALLINT type = 0, digits = -1, nullable = -1;
        SQLULEN size = 0;
        ASSERT_EQ(SQLDescribeCol(statement.handle(), 1, nullptr, 0, nullptr, &type, &size, &digits, &nullable),
                  SQL_SUCCESS);
        EXPECT_EQ(type, expected.type);
        EXPECT_EQ(size, expected.size);
        EXPECT_EQ(digits, expected.digits);
        EXPECT_EQ(nullable, expected.nullable);
        SQLLEN attribute = -1;
        ASSERT_EQ(SQLColAttribute(statement.handle(), 1, SQL_DESC_NULLABLE, nullptr, 0, nullptr, &attribute),
                  SQL_SUCCESS);
        EXPECT_EQ(attribute, expected.nullable);
    }
}

// DATE holds a date with a time of day as Oracle's does; TIME a time of day.
class Dates : public Reads {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE CFG.E (ID INTEGER, DAY DATE, AT TIME, NOTE TEXT)",
                         "INSERT INTO CFG.E VALUES (1, '2024-03-05', '10:11:12', '2024-03-05 14:07:09.250'), "
                         "(2, '2024-03-05 14:07:09', '23:59:59.5', 'Tuesday')"});
    }
};

TEST_F(Dates, ReadAsDateTimeAndTimestampStructuresWithTheCutReported)
{
    struct Case {
        int id;
        SQLUSMALLINT column;
        SQLSMALLINT c_type;
        SQLRETURN rc;
        std::string state;
        std::array<int, 7> fields;  // year, month, day, hour, minute, second, fraction
    };
    const Case cases[] = {
        {1, 2, SQL_C_TYPE_TIMESTAMP, SQL_SUCCESS, "", {2024, 3, 5, 0, 0, 0, 0}},
        {2, 2, SQL_C_TYPE_TIMESTAMP, SQL_SUCCESS, "", {2024, 3, 5, 14, 7, 9, 0}},
        {2, 2, SQL_C_DEFAULT, SQL_SUCCESS, "", {2024, 3, 5, 14, 7, 9, 0}},
        {1, 2, SQL_C_TYPE_DATE, SQL_SUCCESS, "", {2024, 3, 5}},
        {2, 2, SQL_C_TYPE_DATE, SQL_SUCCESS_WITH_INFO, "01S07", {2024, 3, 5}},
        {2, 2, SQL_C_TYPE_TIME, SQL_SUCCESS, "", {0, 0, 0, 14, 7, 9}},
        {1, 3, SQL_C_TYPE_TIME, SQL_SUCCESS, "", {0, 0, 0, 10, 11, 12}},
        {1, 3, SQL_C_DEFAULT, SQL_SUCCESS, "", {0, 0, 0, 10, 11, 12}},
        {2, 3, SQL_C_TYPE_TIME, SQL_SUCCESS_WITH_INFO, "01S07", {0, 0, 0, 23, 59, 59}},
        {1, 4, SQL_C_TYPE_TIMESTAMP, SQL_SUCCESS, "", {2024, 3, 5, 14, 7, 9, 250000000}},
        {1, 4, SQL_C_TYPE_DATE, SQL_SUCCESS_WITH_INFO, "01S07", {2024, 3, 5}},
        {2, 4, SQL_C_TYPE_DATE, SQL_ERROR, "22018", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(c.id) + ", column " + std::to_string(c.column) + " as " +
                     std::to_string(c.c_type));
        RawStatement statement(connection_);
        ASSERT_EQ(statement.exec("SELECT ID, DAY, AT, NOTE FROM CFG.E WHERE ID = " + std::to_string(c.id)),
                  SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS);
        SQL_TIMESTAMP_STRUCT stamp{};
        SQL_DATE_STRUCT date{};
        SQL_TIME_STRUCT time{};
        SQLSMALLINT type = c.c_type;
        if (type == SQL_C_DEFAULT)
            type = c.column == 2 ? SQL_C_TYPE_TIMESTAMP : SQL_C_TYPE_TIME;
        void* buffer = type == SQL_C_TYPE_TIMESTAMP ? static_cast<void*>(&stamp)
                       : type == SQL_C_TYPE_DATE    ? static_cast<void*>(&date)
                                                    : static_cast<void*>(&time);
        EXPECT_EQ(SQLGetData(statement.handle(), c.column, c.c_type, buffer, 0, &indicator_), c.rc);
        EXPECT_EQ(statement.state(), c.state);
        if (c.rc == SQL_ERROR)
            continue;
        std::array<int, 7> fields{};
        if (type == SQL_C_TYPE_TIMESTAMP)
            fields = {stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second,
                      static_cast<int>(stamp.fraction)};
        else if (type == SQL_C_TYPE_DATE)
            fields = {date.year, date.month, date.day};
        else
            fields = {0, 0, 0, time.hour, time.minute, time.second};
        EXPECT_EQ(fields, c.fields);
        EXPECT_EQ(indicator_, type == SQL_C_TYPE_TIMESTAMP ? 16 : 6);
    }
}

TEST_F(Dates, ParametersAreStoredAsTextsTheColumnsReadBackWithEveryFractionDigit)
{
    ASSERT_EQ(statement_.prepare("INSERT INTO CFG.E (ID, DAY, AT, NOTE) VALUES (3, ?, ?, ?)"), SQL_SUCCESS);
    SQL_DATE_STRUCT date{2024, 2, 29};
    SQL_TIME_STRUCT time{7, 8, 9};
    // Column size 19 and no digits, as a client that knows nothing of the precision sends it.
    SQL_TIMESTAMP_STRUCT stamp{2024, 3, 5, 14, 7, 9, 123456000};
    SQLBindParameter(statement_.handle(), 1, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &date, 0,
                     nullptr);
    SQLBindParameter(statement_.handle(), 2, SQL_PARAM_INPUT, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, &time, 0,
                     nullptr);
    SQLBindParameter(statement_.handle(), 3, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19, 0,
                     &stamp, 0, nullptr);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS) << statement_.diagnostic_text();
    EXPECT_EQ(connection_.rows("SELECT CAST(DAY AS TEXT), CAST(AT AS TEXT), NOTE FROM CFG.E WHERE ID = 3"),
              (Rows{{"2024-02-29", "07:08:09", "2024-03-05 14:07:09.123456"}}));
    const std::tuple<SQL_DATE_STRUCT, SQL_TIME_STRUCT, std::string> invalid[] = {
        {{2023, 2, 29}, {7, 8, 9}, "22007"}, {{2024, 13, 1}, {7, 8, 9}, "22007"}, {{2024, 1, 1}, {24, 0, 0}, "22007"}};
    for (const auto& [bad_date, bad_time, state] : invalid) {
        date = bad_date;
        time = bad_time;
        EXPECT_EQ(SQLExecute(statement_.handle()), SQL_ERROR);
        EXPECT_EQ(statement_.state(), state);
    }
}

// SQL_C_NUMERIC: the digits as a 128-bit little-endian integer with a scale and a sign.
unsigned long long mantissa_of(const SQL_NUMERIC_STRUCT& number)
{
    unsigned long long value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | number.val[i];
    return value;
}

TEST_F(Reads, NumbersReadExactlyAsNumericStructuresAndWideText)
{
    source_.execute({"CREATE TABLE CFG.N (PRICE NUMBER(10,2), AMOUNT NUMBER, ONE_DIGIT NUMBER(5,1), BIG INTEGER)",
                     "INSERT INTO CFG.N VALUES (12.34, -2.5, 2.25, 9007199254740993)",
                     "INSERT INTO CFG.N VALUES (0.05, 123456789012345678, -0.04, -9223372036854775807)"});
    struct Case {
        int row;
        SQLUSMALLINT column;
        SQLRETURN rc;
        std::string state;
        unsigned long long mantissa;
        int scale;
        int sign;
    };
    const Case cases[] = {
        {1, 1, SQL_SUCCESS, "", 1234, 2, 1},
        {1, 2, SQL_SUCCESS, "", 25, 1, 0},
        {1, 3, SQL_SUCCESS_WITH_INFO, "01S07", 22, 1, 1},
        {1, 4, SQL_SUCCESS, "", 9007199254740993ULL, 0, 1},
        {2, 1, SQL_SUCCESS, "", 5, 2, 1},
        {2, 2, SQL_SUCCESS, "", 123456789012345678ULL, 0, 1},
        {2, 3, SQL_SUCCESS_WITH_INFO, "01S07", 0, 1, 1},
        {2, 4, SQL_SUCCESS, "", 9223372036854775807ULL, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(c.row) + ", column " + std::to_string(c.column));
        RawStatement statement(connection_);
        ASSERT_EQ(statement.exec("SELECT * FROM CFG.N WHERE rowid = " + std::to_string(c.row)), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS);
        SQL_NUMERIC_STRUCT number{};
        EXPECT_EQ(SQLGetData(statement.handle(), c.column, SQL_C_NUMERIC, &number, sizeof number, &indicator_), c.rc);
        EXPECT_EQ(statement.state(), c.state);
        EXPECT_EQ(mantissa_of(number), c.mantissa);
        EXPECT_EQ(number.scale, c.scale);
        EXPECT_EQ(number.sign, c.sign);
    }
    // The 64-bit integer by default, and the decimal as the wide text clients parse.
    ASSERT_EQ(statement_.exec("SELECT BIG, PRICE FROM CFG.N WHERE rowid = 1"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    SQLBIGINT big = 0;
    EXPECT_EQ(SQLGetData(statement_.handle(), 1, SQL_C_DEFAULT, &big, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(big, 9007199254740993LL);
    std::vector<char> text(32);
    EXPECT_EQ(SQLGetData(statement_.handle(), 2, SQL_C_WCHAR, text.data(), 32, &indicator_), SQL_SUCCESS);
    EXPECT_EQ(wide_of(text, indicator_), u"12.34");
}

TEST_F(Parameters, NumericStructuresAreStoredWithTheirExactValue)
{
    connection_.execute("CREATE TABLE CFG.M (N NUMBER, T TEXT)");
    ASSERT_EQ(statement_.prepare("INSERT INTO CFG.M VALUES (?, ?)"), SQL_SUCCESS);
    SQL_NUMERIC_STRUCT number{};
    bind(1, SQL_C_NUMERIC, SQL_NUMERIC, &number, 0, nullptr);
    bind(2, SQL_C_NUMERIC, SQL_NUMERIC, &number, 0, nullptr);
    const std::tuple<unsigned long long, int, int> values[] = {
        {12345, 2, 1}, {5, 3, 0}, {9223372036854775807ULL, 0, 0}, {18446744073709551615ULL, 0, 1}, {42, -2, 1}};
    for (const auto& [mantissa, scale, sign] : values) {
        number = {};
        for (int i = 0; i < 8; ++i)
            number.val[i] = static_cast<SQLCHAR>(mantissa >> (8 * i));
        number.precision = 38;
        number.scale = static_cast<SQLSCHAR>(scale);
        number.sign = static_cast<SQLCHAR>(sign);
        ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS) << statement_.diagnostic_text();
    }
    EXPECT_EQ(connection_.rows("SELECT typeof(N), T FROM CFG.M ORDER BY rowid"),
              (Rows{{"real", "123.45"}, {"real", "-0.005"}, {"integer", "-9223372036854775807"},
                    {"real", "18446744073709551615"}, {"integer", "4200"}}));
}

// Arrays of parameter sets: one execution, one status and one row number per set.
TEST_F(Parameters, ArraysBoundByColumnOrByRowReportEachSet)
{
    connection_.execute("CREATE TABLE CFG.A (ID INTEGER PRIMARY KEY, NAME TEXT NOT NULL)");
    constexpr SQLULEN kSets = 4;
    std::array<SQLINTEGER, kSets> ids{1, 2, 1, 3};
    std::array<std::array<char, 8>, kSets> names{{{"one"}, {"two"}, {"again"}, {"three"}}};
    std::array<SQLLEN, kSets> name_lengths{SQL_NTS, 2, SQL_NTS, SQL_NTS};
    std::array<SQLUSMALLINT, kSets> status{};
    SQLULEN processed = 0;
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

constexpr const char* kLibraryFormat = "ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH24:MI:SS.FF'";

class Timestamps : public Reads {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE CFG.ITEMS (ID INTEGER, LAST_SEEN TIMESTAMP, SHOT TIMESTAMP(9), "
                         "DAY TIMESTAMP(0), NOTE TEXT)",
                         "INSERT INTO CFG.ITEMS VALUES (1, '2024-03-05 14:07:09.123456', "
                         "'2024-03-05 00:07:09.123456789', '1999-12-31 23:59:59', '2024-03-05 14:07:09')",
                         "INSERT INTO CFG.ITEMS VALUES (2, '2024-01-01 00:00:00.5', NULL, NULL, NULL)"});
    }
    Rows items(const RawConnection& connection) const
    {
        return connection.rows("SELECT LAST_SEEN, SHOT, DAY, NOTE FROM CFG.ITEMS ORDER BY ID");
    }
    Rows items() const { return items(connection_); }
};

TEST_F(Timestamps, TheSessionFormatOfOneConnectionRendersEveryTimestampColumn)
{
    const Rows oracle_default = {{"05-MAR-24 02.07.09.123456 PM", "05-MAR-24 12.07.09.123456789 AM",
                                  "31-DEC-99 11.59.59. PM", "2024-03-05 14:07:09"},
                                 {"01-JAN-24 12.00.00.500000 AM", std::nullopt, std::nullopt, std::nullopt}};
    EXPECT_EQ(items(), oracle_default);
    // A prepared ALTER SESSION takes effect when it is executed, and has no result columns.
    ASSERT_EQ(statement_.prepare(kLibraryFormat), SQL_SUCCESS);
    EXPECT_EQ(items(), oracle_default);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS);
    SQLSMALLINT columns = -1;
    EXPECT_EQ(SQLNumResultCols(statement_.handle(), &columns), SQL_SUCCESS);
    EXPECT_EQ(columns, 0);
    EXPECT_EQ(items(), (Rows{{"2024-03-05 14:07:09.123456", "2024-03-05 00:07:09.123456789", "1999-12-31 23:59:59.",
                              "2024-03-05 14:07:09"},
                             {"2024-01-01 00:00:00.500000", std::nullopt, std::nullopt, std::nullopt}}));
    EXPECT_EQ(items(RawConnection(source_.dsn())), oracle_default) << "another connection keeps the default";
    connection_.execute("/* keywords after a comment */ alter session set nls_timestamp_format = "
                        "'DD/MM/YYYY HH24.MI FF3'");
    EXPECT_EQ(items()[0][1], "05/03/2024 00.07 123");
}

TEST_F(Timestamps, AnAlterStatementOfAnotherKindReachesTheDatabase)
{
    ASSERT_EQ(statement_.exec("ALTER TABLE CFG.ITEMS ADD COLUMN EXTRA TEXT"), SQL_SUCCESS)
        << statement_.diagnostic_text();
    EXPECT_EQ(connection_.rows("SELECT COUNT(EXTRA) FROM CFG.ITEMS"), (Rows{{"0"}}));
}

TEST_F(Timestamps, RejectsFormatsItCannotHonour)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH:MI:SS'", "HY024", "at 'HH:MI:SS'"},
        {"NLS_TIMESTAMP_FORMAT = 'DD-MON-YYYY'", "", ""},
        {"NLS_DATE_FORMAT = 'YYYY'", "42000", "NLS_DATE_FORMAT"},
        {"NLS_TIMESTAMP_FORMAT = YYYY", "42000", ""}};
    for (const auto& [setting, state, text] : cases) {
        EXPECT_EQ(statement_.exec(std::string("ALTER SESSION SET ") + setting), SQL_ERROR) << setting;
        EXPECT_TRUE(*state == '\0' || statement_.state() == state) << setting;
        EXPECT_NE(statement_.diagnostic_text().find(text), std::string::npos) << statement_.diagnostic_text();
    }
    // A rejected format leaves the session as it was.
    EXPECT_EQ(connection_.rows("SELECT LAST_SEEN FROM CFG.ITEMS WHERE ID = 2"), (Rows{{"01-JAN-24 12.00.00.500000 AM"}}));
}

TEST_F(Timestamps, ReadAsStructuresButANonCanonicalStoredTextFailsTheFetch)
{
    ASSERT_EQ(statement_.exec("SELECT SHOT FROM CFG.ITEMS WHERE ID = 1"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    SQL_TIMESTAMP_STRUCT time{};
    ASSERT_EQ(SQLGetData(statement_.handle(), 1, SQL_C_TYPE_TIMESTAMP, &time, sizeof time, nullptr), SQL_SUCCESS);
    EXPECT_EQ(std::tuple(time.year, time.month, time.minute, time.fraction),
              (std::tuple<SQLSMALLINT, SQLUSMALLINT, SQLUSMALLINT, SQLUINTEGER>(2024, 3, 7, 123456789)));

    connection_.execute("UPDATE CFG.ITEMS SET LAST_SEEN = '5.3.2024' WHERE ID = 2");
    SQLFreeStmt(statement_.handle(), SQL_CLOSE);
    ASSERT_EQ(statement_.exec("SELECT LAST_SEEN FROM CFG.ITEMS WHERE ID = 2"), SQL_SUCCESS);
    char text[64];
    SQLBindCol(statement_.handle(), 1, SQL_C_CHAR, text, sizeof text, &indicator_);
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "22007");
    EXPECT_NE(statement_.diagnostic_text().find("'5.3.2024'"), std::string::npos);
}

TEST_F(Timestamps, ParametersInTheSessionFormatAreStoredCanonically)
{
    connection_.execute(kLibraryFormat);
    // The library sends timestamps as character parameters in the session format.
    std::string text = "2024-03-05 14:07:09.000001";
    SQLLEN length = static_cast<SQLLEN>(text.size());
    ASSERT_EQ(statement_.prepare("UPDATE CFG.ITEMS SET LAST_SEEN = ? WHERE ID = 2"), SQL_SUCCESS);
    SQLBindParameter(statement_.handle(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, text.data(), length,
                     &length);
    ASSERT_EQ(SQLExecute(statement_.handle()), SQL_SUCCESS) << statement_.diagnostic_text();
    // Bound as a timestamp, a text is read in the session format, whatever it is.
    connection_.execute("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'DD.MM.YYYY HH24:MI:SS'");
    RawStatement typed(connection_);
    std::string local = "06.03.2024 01:02:03";
    SQLLEN local_length = SQL_NTS;
    ASSERT_EQ(typed.prepare("UPDATE CFG.ITEMS SET SHOT = ? WHERE ID = 2"), SQL_SUCCESS);
    SQLBindParameter(typed.handle(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 0, 0, local.data(), 0,
                     &local_length);
    ASSERT_EQ(SQLExecute(typed.handle()), SQL_SUCCESS) << typed.diagnostic_text();
    local = "2024-03-06 01:02:03";
    EXPECT_EQ(SQLExecute(typed.handle()), SQL_ERROR);
    EXPECT_EQ(typed.state(), "22007");
    EXPECT_EQ(connection_.rows("SELECT CAST(LAST_SEEN AS TEXT), CAST(SHOT AS TEXT) FROM CFG.ITEMS WHERE ID = 2"),
              (Rows{{"2024-03-05 14:07:09.000001", "2024-03-06 01:02:03.000000"}}));
}

} // namespace
} // namespace qix::test

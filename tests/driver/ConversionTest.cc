// Reads from our driver: every C type with its conversions, NULLs and truncation, long values in
// chunks, and block cursors.
#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace qix::test {
namespace {

class Reads : public ::testing::Test {
protected:
    LiteSource source_;
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
        ASSERT_EQ(statement_.exec("SELECT I, D, T, B, BIG, N, W, NEG, HALF, ONE FROM V"), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    }
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

TEST_F(Conversion, NumbersIntoEveryNumericTypeOrTheReasonWhyNot)
{
    struct Case {
        Column column;
        SQLSMALLINT c_type;
        SQLRETURN rc;
        std::string state;
        double value;
    };
    const Case cases[] = {
        {kI, SQL_C_SLONG, SQL_SUCCESS, "", 42},       {kNeg, SQL_C_SSHORT, SQL_SUCCESS, "", -3},
        {kI, SQL_C_USHORT, SQL_SUCCESS, "", 42},      {kBig, SQL_C_SBIGINT, SQL_SUCCESS, "", 5000000000},
        {kI, SQL_C_DOUBLE, SQL_SUCCESS, "", 42},      {kOne, SQL_C_BIT, SQL_SUCCESS, "", 1},
        {kI, SQL_C_DEFAULT, SQL_SUCCESS, "", 42},     {kT, SQL_C_SLONG, SQL_SUCCESS, "", 17}, // ' 17 '
        {kT, SQL_C_DOUBLE, SQL_SUCCESS, "", 17},      {kD, SQL_C_SLONG, SQL_SUCCESS_WITH_INFO, "01S07", 2},
        {kHalf, SQL_C_BIT, SQL_SUCCESS_WITH_INFO, "01S07", 0},
        {kBig, SQL_C_SLONG, SQL_ERROR, "22003", 0},   {kNeg, SQL_C_USHORT, SQL_ERROR, "22003", 0},
        {kI, SQL_C_BIT, SQL_ERROR, "22003", 0},       {kW, SQL_C_DOUBLE, SQL_ERROR, "22018", 0},
        {kB, SQL_C_SLONG, SQL_ERROR, "07006", 0},     {kT, SQL_C_WCHAR, SQL_ERROR, "HY003", 0},
        {kNone, SQL_C_CHAR, SQL_ERROR, "07009", 0},
    };
    for (const Case& c : cases) {
        again();
        unsigned char buffer[16] = {};
        const SQLRETURN rc = SQLGetData(statement_.handle(), c.column, c.c_type, buffer, sizeof buffer, &indicator_);
        const std::string where = "column " + std::to_string(c.column) + " as " + std::to_string(c.c_type);
        EXPECT_EQ(rc, c.rc) << where;
        EXPECT_EQ(statement_.state(), c.state) << where;
        if (SQL_SUCCEEDED(rc)) {
            EXPECT_EQ(number_in(c.c_type, buffer), c.value) << where;
        }
        if (c.c_type == SQL_C_SLONG && rc == SQL_SUCCESS) {
            EXPECT_EQ(indicator_, 4) << where;
        }
    }
}

TEST_F(Conversion, ValuesAsTextWithoutSpuriousZerosAndAsBytes)
{
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
}

TEST_F(Conversion, NullForEveryTypeThenNoDataAsForAnyValueReadOnce)
{
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

TEST_F(LongValues, ABoundColumnIsCutAndReportsTheFullLength)
{
    RawStatement statement(connection_);
    ASSERT_EQ(statement.exec("SELECT substr(T, 1, 300), B FROM L"), SQL_SUCCESS);
    char text[256];
    unsigned char bytes[100];
    SQLLEN text_length = 0, bytes_length = 0;
    SQLBindCol(statement.handle(), 1, SQL_C_CHAR, text, sizeof text, &text_length);
    SQLBindCol(statement.handle(), 2, SQL_C_BINARY, bytes, sizeof bytes, &bytes_length);
    EXPECT_EQ(SQLFetch(statement.handle()), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(text), std::string(255, 'x'));
    EXPECT_EQ(text_length, 300);
    EXPECT_EQ(bytes_length, 10000);
    EXPECT_EQ(statement.state(), "01004");
}

constexpr SQLULEN kRowsetSize = 4;

class BlockFetch : public Reads {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE R (N INTEGER, T TEXT)",
                         "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 10) "
                         "INSERT INTO R SELECT n, 'row ' || n FROM c"});
        SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowsetSize), 0);
        SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0);
        SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_STATUS_PTR, status_.data(), 0);
    }

    SQLULEN fetched_ = 0;
    std::array<SQLUSMALLINT, kRowsetSize> status_{};
};

// Column-wise rowsets are what the component list load asks for: its tests cover them.
TEST_F(BlockFetch, RowWiseRowsetsMarkAFailingRowAndEndAtMaxRows)
{
    struct Row {
        SQLSMALLINT number;
        SQLLEN number_length;
        char text[8];
        SQLLEN text_length;
    };
    std::array<Row, kRowsetSize> rows{};
    connection_.execute("UPDATE R SET N = 100000 WHERE N = 9");
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0);
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(6), 0);
    ASSERT_EQ(statement_.exec("SELECT N, T FROM R ORDER BY rowid DESC"), SQL_SUCCESS);
    SQLBindCol(statement_.handle(), 1, SQL_C_SSHORT, &rows[0].number, 0, &rows[0].number_length);
    SQLBindCol(statement_.handle(), 2, SQL_C_CHAR, rows[0].text, sizeof rows[0].text, &rows[0].text_length);

    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(fetched_, 4u);
    EXPECT_EQ(status_, (std::array<SQLUSMALLINT, kRowsetSize>{SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_SUCCESS,
                                                              SQL_ROW_SUCCESS}));
    EXPECT_EQ(rows[0].number, 10);
    EXPECT_EQ(rows[0].text_length, 6);
    EXPECT_EQ(rows[2].number, 8);
    EXPECT_STREQ(rows[3].text, "row 7");
    ASSERT_EQ(statement_.diagnostics().size(), 1u);
    EXPECT_EQ(statement_.state(), "22003");
    SQLLEN row = 0;
    SQLGetDiagField(SQL_HANDLE_STMT, statement_.handle(), 1, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr);
    EXPECT_EQ(row, 2);
    SQLINTEGER number = 0;
    EXPECT_EQ(SQLGetData(statement_.handle(), 1, SQL_C_SLONG, &number, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYC00") << "SQLGetData needs a rowset of one";

    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(fetched_, 2u);
    EXPECT_EQ(rows[1].number, 5);
    EXPECT_EQ(status_, (std::array<SQLUSMALLINT, kRowsetSize>{SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_NOROW,
                                                              SQL_ROW_NOROW}));
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_NO_DATA);
    EXPECT_EQ(fetched_, 0u);
}

} // namespace
} // namespace qix::test

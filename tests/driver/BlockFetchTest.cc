#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

#include <array>

namespace qix::test {
namespace {

constexpr SQLULEN kRowsetSize = 4;

class BlockFetch : public ::testing::Test {
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

    LiteSource source_;
    RawConnection connection_{source_.dsn()};
    RawStatement statement_{connection_};
    SQLULEN fetched_ = 0;
    std::array<SQLUSMALLINT, kRowsetSize> status_{};
};

TEST_F(BlockFetch, FillsColumnArraysRowsetByRowset)
{
    ASSERT_EQ(statement_.exec("SELECT N, T FROM R ORDER BY N"), SQL_SUCCESS);
    std::array<SQLINTEGER, kRowsetSize> numbers{};
    std::array<SQLLEN, kRowsetSize> number_lengths{};
    char texts[kRowsetSize][8] = {};
    std::array<SQLLEN, kRowsetSize> text_lengths{};
    SQLBindCol(statement_.handle(), 1, SQL_C_SLONG, numbers.data(), 0, number_lengths.data());
    SQLBindCol(statement_.handle(), 2, SQL_C_CHAR, texts, sizeof texts[0], text_lengths.data());

    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(fetched_, 4u);
    EXPECT_EQ(numbers, (std::array<SQLINTEGER, kRowsetSize>{1, 2, 3, 4}));
    EXPECT_STREQ(texts[3], "row 4");
    EXPECT_EQ(text_lengths[3], 5);
    EXPECT_EQ(number_lengths[0], 4);
    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(numbers[0], 5);
    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(fetched_, 2u);
    EXPECT_EQ(numbers[1], 10);
    EXPECT_STREQ(texts[1], "row 10");
    EXPECT_EQ(status_, (std::array<SQLUSMALLINT, kRowsetSize>{SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_NOROW,
                                                              SQL_ROW_NOROW}));
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_NO_DATA);
    EXPECT_EQ(fetched_, 0u);
}

TEST_F(BlockFetch, RowWiseBindingUsesTheRowSize)
{
    struct Row {
        SQLINTEGER number;
        SQLLEN number_length;
        char text[8];
        SQLLEN text_length;
    };
    std::array<Row, kRowsetSize> rows{};
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0);
    ASSERT_EQ(statement_.exec("SELECT N, T FROM R ORDER BY N DESC"), SQL_SUCCESS);
    SQLBindCol(statement_.handle(), 1, SQL_C_SLONG, &rows[0].number, 0, &rows[0].number_length);
    SQLBindCol(statement_.handle(), 2, SQL_C_CHAR, rows[0].text, sizeof rows[0].text, &rows[0].text_length);
    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    EXPECT_EQ(rows[1].number, 9);
    EXPECT_STREQ(rows[3].text, "row 7");
    EXPECT_EQ(rows[0].text_length, 6);
}

TEST_F(BlockFetch, AFailingRowIsMarkedAndTheOthersArrive)
{
    connection_.execute("UPDATE R SET N = 100000 WHERE N = 2");
    ASSERT_EQ(statement_.exec("SELECT N FROM R ORDER BY rowid"), SQL_SUCCESS);
    std::array<SQLSMALLINT, kRowsetSize> numbers{};
    std::array<SQLLEN, kRowsetSize> lengths{};
    SQLBindCol(statement_.handle(), 1, SQL_C_SSHORT, numbers.data(), 0, lengths.data());
    EXPECT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(fetched_, 4u);
    EXPECT_EQ(status_[1], SQL_ROW_ERROR);
    EXPECT_EQ(status_[2], SQL_ROW_SUCCESS);
    EXPECT_EQ(numbers[2], 3);
    ASSERT_EQ(statement_.diagnostics().size(), 1u);
    EXPECT_EQ(statement_.state(), "22003");
    SQLLEN row = 0;
    SQLGetDiagField(SQL_HANDLE_STMT, statement_.handle(), 1, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr);
    EXPECT_EQ(row, 2);
}

TEST_F(BlockFetch, GetDataNeedsARowsetOfOne)
{
    ASSERT_EQ(statement_.exec("SELECT N FROM R"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    SQLINTEGER number = 0;
    SQLLEN length = 0;
    EXPECT_EQ(SQLGetData(statement_.handle(), 1, SQL_C_SLONG, &number, 0, &length), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HYC00");
}

TEST_F(BlockFetch, MaxRowsEndsTheResultEarly)
{
    SQLSetStmtAttr(statement_.handle(), SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(6), 0);
    ASSERT_EQ(statement_.exec("SELECT N FROM R"), SQL_SUCCESS);
    SQLULEN total = 0;
    while (SQL_SUCCEEDED(SQLFetch(statement_.handle())))
        total += fetched_;
    EXPECT_EQ(total, 6u);
}

} // namespace
} // namespace qix::test

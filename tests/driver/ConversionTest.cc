#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qix::test {
namespace {

// One row holding each storage class, read column by column with SQLGetData.
class Conversion : public ::testing::Test {
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

    template <typename T>
    SQLRETURN get(SQLUSMALLINT column, SQLSMALLINT c_type, T& value, bool with_indicator = true)
    {
        return SQLGetData(statement_.handle(), column, c_type, &value, sizeof value,
                          with_indicator ? &indicator_ : nullptr);
    }
    std::string text(SQLUSMALLINT column)
    {
        char buffer[64] = {};
        EXPECT_EQ(SQLGetData(statement_.handle(), column, SQL_C_CHAR, buffer, sizeof buffer, &indicator_), SQL_SUCCESS);
        return buffer;
    }

    LiteSource source_;
    RawConnection connection_{source_.dsn()};
    RawStatement statement_{connection_};
    SQLLEN indicator_ = 0;
};

enum Column : SQLUSMALLINT { kI = 1, kD, kT, kB, kBig, kN, kW, kNeg, kHalf, kOne };

TEST_F(Conversion, IntegersToEveryNumericType)
{
    SQLINTEGER slong = 0;
    EXPECT_EQ(get(kI, SQL_C_SLONG, slong), SQL_SUCCESS);
    EXPECT_EQ(slong, 42);
    EXPECT_EQ(indicator_, 4);
    SQLSMALLINT sshort = 0;
    EXPECT_EQ(get(kNeg, SQL_C_SSHORT, sshort), SQL_SUCCESS);
    EXPECT_EQ(sshort, -3);
    SQLUSMALLINT ushort = 0;
    EXPECT_EQ(get(kI, SQL_C_USHORT, ushort), SQL_SUCCESS);
    EXPECT_EQ(ushort, 42);
    SQLBIGINT big = 0;
    EXPECT_EQ(get(kBig, SQL_C_SBIGINT, big), SQL_SUCCESS);
    EXPECT_EQ(big, 5000000000);
    SQLDOUBLE real = 0;
    EXPECT_EQ(get(kI, SQL_C_DOUBLE, real), SQL_SUCCESS);
    EXPECT_EQ(real, 42.0);
    unsigned char bit = 9;
    EXPECT_EQ(get(kOne, SQL_C_BIT, bit), SQL_SUCCESS);
    EXPECT_EQ(bit, 1);
    SQLINTEGER by_default = 0;
    EXPECT_EQ(get(kI, SQL_C_DEFAULT, by_default), SQL_SUCCESS) << "INTEGER columns default to SQL_C_SLONG";
    EXPECT_EQ(by_default, 42);
}

TEST_F(Conversion, NumbersOutOfRangeFailWith22003)
{
    SQLINTEGER slong = 0;
    EXPECT_EQ(get(kBig, SQL_C_SLONG, slong), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "22003");
    SQLUSMALLINT ushort = 0;
    EXPECT_EQ(get(kNeg, SQL_C_USHORT, ushort), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "22003");
    unsigned char bit = 0;
    EXPECT_EQ(get(kI, SQL_C_BIT, bit), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "22003");
}

TEST_F(Conversion, FractionsAreCutWith01S07)
{
    SQLINTEGER slong = 0;
    EXPECT_EQ(get(kD, SQL_C_SLONG, slong), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(slong, 2);
    EXPECT_EQ(statement_.state(), "01S07");
    unsigned char bit = 9;
    EXPECT_EQ(get(kHalf, SQL_C_BIT, bit), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(bit, 0);
}

TEST_F(Conversion, TextToNumbers)
{
    SQLINTEGER slong = 0;
    EXPECT_EQ(get(kT, SQL_C_SLONG, slong), SQL_SUCCESS) << "blanks around a number are allowed";
    EXPECT_EQ(slong, 17);
    again();
    SQLDOUBLE real = 0;
    EXPECT_EQ(get(kT, SQL_C_DOUBLE, real), SQL_SUCCESS);
    EXPECT_EQ(real, 17.0);
    EXPECT_EQ(get(kW, SQL_C_DOUBLE, real), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "22018");
    EXPECT_EQ(get(kB, SQL_C_SLONG, slong), SQL_ERROR) << "binary data is no number";
    EXPECT_EQ(statement_.state(), "07006");
}

TEST_F(Conversion, NumbersAsTextWithoutSpuriousZeros)
{
    EXPECT_EQ(text(kI), "42");
    EXPECT_EQ(indicator_, 2);
    EXPECT_EQ(text(kD), "2.5");
    EXPECT_EQ(text(kBig), "5000000000");
    EXPECT_EQ(text(kNeg), "-3");
    EXPECT_EQ(connection_.rows("SELECT 1.0, 0.1, 123456789.125, 1e-7, 2e20")[0],
              (std::vector<std::optional<std::string>>{"1", "0.1", "123456789.125", "1e-07", "2e+20"}));
}

TEST_F(Conversion, BinaryAsBytesAndAsHexText)
{
    unsigned char bytes[8] = {};
    EXPECT_EQ(SQLGetData(statement_.handle(), kB, SQL_C_BINARY, bytes, sizeof bytes, &indicator_), SQL_SUCCESS);
    EXPECT_EQ(indicator_, 3);
    EXPECT_EQ(std::memcmp(bytes, "\x00\xff\x10", 3), 0);
    again();
    EXPECT_EQ(text(kB), "00FF10");
    EXPECT_EQ(SQLGetData(statement_.handle(), kI, SQL_C_BINARY, bytes, sizeof bytes, &indicator_), SQL_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(indicator_)), "42");
}

TEST_F(Conversion, NullForEveryTypeThenNoData)
{
    for (SQLSMALLINT c_type : {SQL_C_CHAR, SQL_C_DOUBLE, SQL_C_SLONG, SQL_C_SSHORT, SQL_C_USHORT, SQL_C_SBIGINT,
                               SQL_C_BIT, SQL_C_BINARY, SQL_C_DEFAULT}) {
        char buffer[16];
        indicator_ = 0;
        EXPECT_EQ(SQLGetData(statement_.handle(), kN, c_type, buffer, sizeof buffer, &indicator_), SQL_SUCCESS);
        EXPECT_EQ(indicator_, SQL_NULL_DATA) << c_type;
        EXPECT_EQ(SQLGetData(statement_.handle(), kN, c_type, buffer, sizeof buffer, &indicator_), SQL_NO_DATA);
        SQLINTEGER other = 0;
        get(kI, SQL_C_SLONG, other);  // moving to another column starts the next round afresh
    }
    SQLINTEGER value = 0;
    EXPECT_EQ(get(kN, SQL_C_SLONG, value, false), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "22002");
}

TEST_F(Conversion, AFixedSizeValueIsDeliveredOnce)
{
    SQLINTEGER value = 0;
    EXPECT_EQ(get(kI, SQL_C_SLONG, value), SQL_SUCCESS);
    EXPECT_EQ(get(kI, SQL_C_SLONG, value), SQL_NO_DATA);
}

TEST_F(Conversion, RejectsUnsupportedBufferTypes)
{
    char buffer[16];
    EXPECT_EQ(SQLGetData(statement_.handle(), kT, SQL_C_WCHAR, buffer, sizeof buffer, &indicator_), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "HY003");
    EXPECT_EQ(SQLGetData(statement_.handle(), 11, SQL_C_CHAR, buffer, sizeof buffer, &indicator_), SQL_ERROR);
    EXPECT_EQ(statement_.state(), "07009");
}

class LongValues : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute({"CREATE TABLE L (T TEXT, B BLOB)",
                         "INSERT INTO L VALUES (printf('%.*c', 2500, 'x') || '', randomblob(10000))"});
        ASSERT_EQ(statement_.exec("SELECT T, B FROM L"), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(statement_.handle()), SQL_SUCCESS);
    }
    LiteSource source_;
    RawConnection connection_{source_.dsn()};
    RawStatement statement_{connection_};
};

TEST_F(LongValues, TextComesInChunksWithTheRemainingLength)
{
    char buffer[1024];
    SQLLEN indicator = 0;
    std::string all;
    EXPECT_EQ(SQLGetData(statement_.handle(), 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(statement_.state(), "01004");
    EXPECT_EQ(indicator, 2500);
    all += buffer;
    EXPECT_EQ(SQLGetData(statement_.handle(), 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(indicator, 1477);
    all += buffer;
    EXPECT_EQ(SQLGetData(statement_.handle(), 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator), SQL_SUCCESS);
    EXPECT_EQ(indicator, 454);
    all += buffer;
    EXPECT_EQ(SQLGetData(statement_.handle(), 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator), SQL_NO_DATA);
    EXPECT_EQ(all, std::string(2500, 'x'));
}

TEST_F(LongValues, BlobComesInChunksWithTheRemainingLength)
{
    std::vector<unsigned char> all;
    unsigned char buffer[4096];
    SQLLEN indicator = 0;
    std::vector<SQLLEN> indicators;
    SQLRETURN rc;
    while ((rc = SQLGetData(statement_.handle(), 2, SQL_C_BINARY, buffer, sizeof buffer, &indicator)) != SQL_NO_DATA) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        indicators.push_back(indicator);
        all.insert(all.end(), buffer, buffer + std::min<SQLLEN>(indicator, sizeof buffer));
    }
    EXPECT_EQ(indicators, (std::vector<SQLLEN>{10000, 5904, 1808}));
    RawStatement check(connection_);
    ASSERT_EQ(check.exec("SELECT B FROM L"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(check.handle()), SQL_SUCCESS);
    std::vector<unsigned char> whole(10000);
    ASSERT_EQ(SQLGetData(check.handle(), 1, SQL_C_BINARY, whole.data(), 10000, &indicator), SQL_SUCCESS);
    EXPECT_EQ(all, whole);
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

} // namespace
} // namespace qix::test

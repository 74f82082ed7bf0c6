// The ODBC access layer against our own driver, for what the third-party drivers cannot show:
// text with embedded NUL bytes and the end of a value that was read completely.
#include <qix/sql/Database.h>

#include "LiteSource.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

using qix::test::message_of;

TEST(LiteOdbc, TextKeepsEmbeddedNulBytesAcrossChunks)
{
    qix::test::LiteSource source;
    // NUL bytes at the start, at the chunk boundaries (1023, 2046) and at the very end.
    std::string value(2500, 'v');
    for (const std::size_t at : {std::size_t{0}, std::size_t{1022}, std::size_t{1023}, std::size_t{2046},
                                 std::size_t{2499}})
        value[at] = '\0';
    source.execute({"CREATE TABLE t (v TEXT)"});

    qix::sql::Database db(source.dsn(), "", "");
    auto insert = db.get_query("INSERT INTO t VALUES (?)");
    insert.bind_parameter<char>(1, value.data(), value.size(), qix::sql::ParameterOption::none);
    insert.send();

    auto query = db.send_query("SELECT v FROM t");
    ASSERT_TRUE(query.fetch());
    EXPECT_EQ(query.get_column_as_string(1), value);
    // The value was consumed completely: asking for it again is an error naming the column.
    char buffer[8];
    EXPECT_TRUE(message_of([&] { query.get_column(1, buffer, sizeof buffer, SQL_C_CHAR); })
                    .starts_with("Unable to get data from column 1: "));
}

} // namespace

#include "LiteSource.h"
#include "RawOdbc.h"

#include <gtest/gtest.h>

namespace qix::test {
namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;

// A configuration data view made writable with INSTEAD OF triggers, as docs/lite-driver.md
// describes for CM_VIEW_DATA_<TYPE>.
class ViewWrites : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute({
            "CREATE TABLE CFG.CM_DATA_MAGNET (PUBLIC_ID INTEGER PRIMARY KEY, VERSION_ID INTEGER NOT NULL DEFAULT 1, "
            "CURRENT DOUBLE, NAME TEXT, LAST_SEEN TIMESTAMP)",
            "CREATE VIEW CFG.CM_VIEW_DATA_MAGNET AS SELECT PUBLIC_ID, VERSION_ID, CURRENT, NAME, LAST_SEEN "
            "FROM CM_DATA_MAGNET",
            "CREATE TRIGGER CFG.CM_VIEW_DATA_MAGNET_INSERT INSTEAD OF INSERT ON CM_VIEW_DATA_MAGNET BEGIN "
            "INSERT INTO CM_DATA_MAGNET (PUBLIC_ID, VERSION_ID, CURRENT, NAME, LAST_SEEN) VALUES (NEW.PUBLIC_ID, "
            "coalesce(NEW.VERSION_ID, 1), NEW.CURRENT, NEW.NAME, NEW.LAST_SEEN); END",
            "CREATE TRIGGER CFG.CM_VIEW_DATA_MAGNET_UPDATE INSTEAD OF UPDATE ON CM_VIEW_DATA_MAGNET BEGIN "
            "UPDATE CM_DATA_MAGNET SET VERSION_ID = NEW.VERSION_ID, CURRENT = NEW.CURRENT, NAME = NEW.NAME, "
            "LAST_SEEN = NEW.LAST_SEEN WHERE PUBLIC_ID = OLD.PUBLIC_ID; END",
            "CREATE TRIGGER CFG.CM_VIEW_DATA_MAGNET_DELETE INSTEAD OF DELETE ON CM_VIEW_DATA_MAGNET BEGIN "
            "DELETE FROM CM_DATA_MAGNET WHERE PUBLIC_ID = OLD.PUBLIC_ID; END",
        });
        connection_.execute("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH24:MI:SS.FF'");
    }
    Rows data() { return connection_.rows("SELECT PUBLIC_ID, CURRENT, NAME, LAST_SEEN FROM CFG.CM_VIEW_DATA_MAGNET"); }
    SQLLEN row_count(const RawStatement& statement)
    {
        SQLLEN rows = -2;
        SQLRowCount(statement.handle(), &rows);
        return rows;
    }

    LiteSource source_{{"CFG"}};
    RawConnection connection_{source_.dsn()};
};

TEST_F(ViewWrites, InsertUpdateAndDeleteWithTheLibrarysStatements)
{
    double current = 12.5;
    std::string name = "QF1";
    SQLLEN current_length = sizeof current, name_length = static_cast<SQLLEN>(name.size());
    RawStatement insert(connection_);
    ASSERT_EQ(insert.prepare("INSERT INTO CFG.CM_VIEW_DATA_MAGNET (CURRENT, NAME) VALUES (?, ?)"), SQL_SUCCESS);
    SQLBindParameter(insert.handle(), 1, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 53, 0, &current, 8,
                     &current_length);
    SQLBindParameter(insert.handle(), 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, name.data(), name_length,
                     &name_length);
    ASSERT_EQ(SQLExecute(insert.handle()), SQL_SUCCESS) << insert.diagnostic_text();
    EXPECT_EQ(row_count(insert), 1);
    EXPECT_EQ(data(), (Rows{{"1", "12.5", "QF1", std::nullopt}}));

    std::string seen = "2024-03-05 14:07:09.123456";
    SQLLEN seen_length = static_cast<SQLLEN>(seen.size()), null_indicator = 0;
    SQLINTEGER public_id = 1;
    SQLLEN id_length = 4;
    RawStatement update(connection_);
    ASSERT_EQ(update.prepare("UPDATE CFG.CM_VIEW_DATA_MAGNET SET CURRENT = ?, LAST_SEEN = ? WHERE PUBLIC_ID = ?"),
              SQL_SUCCESS);
    SQLBindParameter(update.handle(), 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, nullptr, 0, &null_indicator);
    SQLBindParameter(update.handle(), 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, seen.data(), seen_length,
                     &seen_length);
    SQLBindParameter(update.handle(), 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &public_id, 4, &id_length);
    ASSERT_EQ(SQLExecute(update.handle()), SQL_SUCCESS) << update.diagnostic_text();
    EXPECT_EQ(row_count(update), 1) << "rows changed by the trigger count";
    EXPECT_EQ(data(), (Rows{{"1", std::nullopt, "QF1", "2024-03-05 14:07:09.123456"}}));

    public_id = 99;
    EXPECT_EQ(SQLExecute(update.handle()), SQL_NO_DATA);
    EXPECT_EQ(row_count(update), 0);

    RawStatement remove(connection_);
    ASSERT_EQ(remove.prepare("DELETE FROM CFG.CM_VIEW_DATA_MAGNET WHERE PUBLIC_ID = ?"), SQL_SUCCESS);
    SQLBindParameter(remove.handle(), 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &public_id, 4, &id_length);
    EXPECT_EQ(SQLExecute(remove.handle()), SQL_NO_DATA);
    public_id = 1;
    EXPECT_EQ(SQLExecute(remove.handle()), SQL_SUCCESS);
    EXPECT_TRUE(data().empty());
}

TEST_F(ViewWrites, AViewWithoutTriggersRefusesWrites)
{
    connection_.execute("CREATE VIEW CFG.CM_VIEW_DATA_PLAIN AS SELECT PUBLIC_ID, NAME FROM CM_DATA_MAGNET");
    RawStatement statement(connection_);
    EXPECT_EQ(statement.exec("INSERT INTO CFG.CM_VIEW_DATA_PLAIN (NAME) VALUES ('x')"), SQL_ERROR);
    EXPECT_EQ(statement.state(), "42000");
    EXPECT_NE(statement.diagnostic_text().find("cannot modify CM_VIEW_DATA_PLAIN because it is a view"),
              std::string::npos);
}

} // namespace
} // namespace qix::test

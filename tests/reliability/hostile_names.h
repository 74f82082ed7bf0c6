#pragma once

// Names built to end a string literal or a statement, comment out the rest of it, or start a
// second one, and the component list checks that every driver must pass with them: each
// name is refused or neutralised, and a sentinel table shows that no other statement ran.

#include "load_scenarios.h"

#include <qix/sql/Query.h>

#include <regex>

namespace qix::test::reliability {

inline const std::vector<std::string> kHostileNames = {
    "LUMEN'; DROP TABLE VEDUV.SENTINEL; --",
    "LUMEN\"; DROP TABLE VEDUV.SENTINEL; --",
    "LUMEN_VIEW_COMPONENTS; DROP TABLE VEDUV.SENTINEL",
    "X' OR '1'='1",
    "X' UNION SELECT 'ID' FROM VEDUV.SENTINEL --",
    "LUMEN/*",
    "*/ DROP TABLE VEDUV.SENTINEL /*",
    "LUMEN -- comment",
    "LUMEN\nDROP TABLE VEDUV.SENTINEL",
    "X\\'; DROP TABLE VEDUV.SENTINEL; --",
    std::string("X\0'; DROP TABLE VEDUV.SENTINEL; --", 34),
    "X'||(SELECT COUNT(*) FROM VEDUV.SENTINEL)||'",
    "{fn USER()}",
    "?",
    "LU MEN",
    " LUMEN ",
    "\t",
    "",
};

/// Rows in VEDUV.SENTINEL, read through the library. Throws when the table is gone.
inline int sentinel_rows(sql::Database& db)
{
    sql::Query query = db.send_query("SELECT COUNT(*) FROM VEDUV.SENTINEL");
    return query.fetch() ? query.get_column_as_int32_t(1) : -1;
}

/// Every hostile name as facility (explicit and default backup file name) and as table and
/// owner of read_column_names. VEDUV.SENTINEL holds 3 rows; facility_fixture() is loaded.
inline void check_hostile_component_names(sql::Database& db)
{
    TempDir dir;
    const WorkingDirectory cwd(dir.path());
    std::vector<std::string> facilities = kHostileNames;
    // Cut at the full stop or taken for an alias: the rest never reaches a statement.
    facilities.insert(facilities.end(), {"X.'; DROP TABLE VEDUV.SENTINEL; --", "ORB'; DROP TABLE VEDUV.SENTINEL; --",
                                         "../../LUMEN", "LUMEN/../../X"});
    for (const std::string& name : facilities) {
        SCOPED_TRACE("facility [" + name + "]");
        for (const std::string backup : {"explicit.txt", ""}) {
            sql::ComponentList list;
            std::string outcome;
            try {
                outcome = list.read_from_db_with_backup(db, name, backup);
            } catch (const Error& e) {
                outcome = e.get_message();
            }
            // Refused; taken for an alias of LUMEN; or cut to a name whose view does not exist.
            EXPECT_TRUE(outcome.starts_with("Invalid facility name: ") || outcome.starts_with("Query failed: ") ||
                        (outcome.empty() && list == component::expected_lumen()))
                << outcome;
        }
        EXPECT_EQ(sentinel_rows(db), 3);
    }
    // Backups land in the working folder, under canonical names only.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_TRUE(std::regex_match(entry.path().filename().string(),
                                     std::regex("explicit\\.txt|db_component_list_[A-Z0-9_]+\\.txt")))
            << entry.path();
    for (const std::string& name : kHostileNames) {
        SCOPED_TRACE("dictionary name [" + name + "]");
        for (const auto& [table, owner] : {std::pair{name, std::string("VEDUV")}, {"LUMEN_VIEW_COMPONENTS", name}}) {
            // Either nothing matches or the driver rejects the text (a NUL ends it early).
            const std::string message = message_of(
                [&, &table = table, &owner = owner] { EXPECT_TRUE(db.read_column_names(table, owner).empty()); });
            EXPECT_TRUE(message == "(no qix::Error thrown)" || message.starts_with("Query failed: ")) << message;
        }
        EXPECT_EQ(sentinel_rows(db), 3);
    }
    sql::ComponentList list;
    list.read_from_db(db, "LUMEN");
    EXPECT_EQ(list, component::expected_lumen()) << "the fixtures are intact";
}

} // namespace qix::test::reliability

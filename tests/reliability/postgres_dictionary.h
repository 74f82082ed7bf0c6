#pragma once

// The schema veduv and an Oracle-like dictionary view ALL_TAB_COLUMNS over PostgreSQL's
// information_schema, ahead of the given statements.

#include <string>
#include <vector>

namespace qix::test::reliability {

inline std::vector<std::string> with_dictionary(const std::vector<std::string>& more)
{
    std::vector<std::string> statements = {
        "CREATE SCHEMA veduv",
        "CREATE VIEW all_tab_columns AS SELECT table_schema AS owner, table_name, column_name "
        "FROM information_schema.columns ORDER BY table_schema, table_name, ordinal_position"};
    statements.insert(statements.end(), more.begin(), more.end());
    return statements;
}

} // namespace qix::test::reliability

#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace qix::lite {

/// Owner that ALL_TAB_COLUMNS shows for the tables and views of the main database file.
inline constexpr const char* kMainOwner = "MAIN";

/// Creates, for one connection, the data dictionary view ALL_TAB_COLUMNS (OWNER, TABLE_NAME,
/// COLUMN_NAME, COLUMN_ID, DATA_TYPE, NULLABLE) over the tables and views of the main database
/// and of every attached schema, with names in upper case as Oracle shows unquoted identifiers.
/// The view reads SQLite's schema tables when it is queried, so objects created later appear.
/// Throws DriverError when SQLite refuses.
void create_dictionary_views(sqlite3* db, const std::vector<std::string>& schemas);

} // namespace qix::lite

#pragma once

#include "Conversion.h"

#include <sqlite3.h>

#include <optional>
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

namespace qix::lite {

/// The query that produces one catalogue function's result set, and the types its columns are
/// described with (the query's own columns have no declared type).
struct CatalogueQuery {
    std::string sql;
    std::vector<ColumnType> types;
};

/// A name argument of a catalogue function; nullopt where the application passed a null pointer.
using NameArgument = std::optional<std::string>;

/// Registers the SQL functions the catalogue queries and ALL_TAB_COLUMNS call. Throws DriverError.
void register_catalogue_functions(sqlite3* db);

/// SQLTables over the main file (schema MAIN) and the attached `schemas`: schema and table are
/// search patterns, `types` a comma-separated list such as "'TABLE','VIEW'"; the enumeration
/// cases (SQL_ALL_CATALOGS, SQL_ALL_SCHEMAS, SQL_ALL_TABLE_TYPES with empty other arguments)
/// list catalogues (none), schemas or table types.
[[nodiscard]] CatalogueQuery tables_query(const std::vector<std::string>& schemas, const NameArgument& catalog,
                                          const NameArgument& schema, const NameArgument& table,
                                          const NameArgument& types);
/// SQLColumns: schema, table and column are search patterns.
[[nodiscard]] CatalogueQuery columns_query(const std::vector<std::string>& schemas, const NameArgument& schema,
                                           const NameArgument& table, const NameArgument& column);
/// SQLGetTypeInfo for one SQL type, or every type for SQL_ALL_TYPES.
[[nodiscard]] CatalogueQuery type_info_query(SQLSMALLINT data_type);
/// SQLPrimaryKeys: schema and table are names, not patterns.
[[nodiscard]] CatalogueQuery primary_keys_query(const std::vector<std::string>& schemas, const NameArgument& schema,
                                                const std::string& table);
/// SQLStatistics: the indexes of one table (only unique ones for SQL_INDEX_UNIQUE).
[[nodiscard]] CatalogueQuery statistics_query(const std::vector<std::string>& schemas, const NameArgument& schema,
                                              const std::string& table, SQLUSMALLINT unique);
/// SQLSpecialColumns: for SQL_BEST_ROWID the primary key columns; SQLite keeps no row versions,
/// so SQL_ROWVER gives no rows.
[[nodiscard]] CatalogueQuery special_columns_query(const std::vector<std::string>& schemas,
                                                   SQLUSMALLINT identifier_type, const NameArgument& schema,
                                                   const std::string& table);
/// SQLForeignKeys: the keys of `foreign_table` that refer to something, those that refer to
/// `primary_table`, or the one pair, by which of the two names are given.
[[nodiscard]] CatalogueQuery foreign_keys_query(const std::vector<std::string>& schemas,
                                                const NameArgument& primary_schema, const NameArgument& primary_table,
                                                const NameArgument& foreign_schema, const NameArgument& foreign_table);

} // namespace qix::lite

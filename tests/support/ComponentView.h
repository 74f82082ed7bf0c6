#pragma once

#include <qix/sql/Component.h>

#include <string>
#include <vector>

// A facility's component view as tests and benchmarks build it, in SQL that SQLite and
// PostgreSQL both accept: a data table in schema VEDUV holding POS, the view's columns and the
// flag columns, a view VEDUV.<FACILITY>_VIEW_COMPONENTS selecting them in the view's order,
// and the INSERT of a row made from a Component.
namespace qix::test {

/// "CREATE TABLE VEDUV.<table> (POS INTEGER PRIMARY KEY, NAME TEXT, ..., LINK_NAME TEXT
/// <flag_columns>)"; `flag_columns` as ", FLAG_ON SMALLINT".
std::string component_table(const std::string& table, const std::string& flag_columns);

/// Whether the view orders its rows by POS or delivers them as the table holds them.
enum class RowOrder { by_pos, as_stored };

/// "CREATE VIEW VEDUV.<facility>_VIEW_COMPONENTS AS SELECT NAME, ..., LINK_NAME<flag_columns>
/// FROM VEDUV.<table> ORDER BY POS"; `flag_columns` as ", FLAG_ON" (any select-list items).
std::string component_view(const std::string& facility, const std::string& table, const std::string& flag_columns,
                           RowOrder order = RowOrder::by_pos);

/// Which values of a row are written as NULL: none, or every empty text and 0.0 position.
enum class Nulls { none, for_defaults };

/// "INSERT INTO VEDUV.<table> VALUES (<pos>, <the component's fields>, <flags>)". The flags are
/// the component's as 1 and 0 unless `flags` gives SQL values for them (NULL, 2, ...).
std::string component_row(const std::string& table, int pos, const sql::Component& component, Nulls nulls = Nulls::none,
                          const std::vector<std::string>& flags = {});

} // namespace qix::test

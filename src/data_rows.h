#pragma once

// Reading the rows of a configuration data view into ConfigurationData.

#include <qix/sql/ConfigurationTypes.h>
#include <qix/sql/Query.h>

#include <string>
#include <vector>

namespace qix::sql::detail {

/// How a data column is read. A column that cannot be read (an unknown type code) fails the
/// first row read with its message, so that a view without rows reads fine.
enum class ColumnKind : unsigned char { integer, real, time, text, failing };

struct DataColumn {
    std::string name;
    ColumnKind kind = ColumnKind::text;
    std::string error; // the message of a failing column
};

/// Appends every row of the sent query "SELECT PUBLIC_ID, <columns in field-name order>"
/// of type `type_name` to `rows`: NULL and empty texts read as null values, timestamps to the
/// nanosecond. A timestamp that cannot be parsed throws std::runtime_error "Failed to parse
/// time string" naming the text, the field, the type and the row's public id.
void read_data_rows(Query& query, const std::string& type_name, const std::vector<DataColumn>& columns,
                    std::vector<ConfigurationData>& rows);

} // namespace qix::sql::detail

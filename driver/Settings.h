#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qix::lite {

/// What a data source of this driver says: the main SQLite file, the schemas attached from files
/// beside it, and whether missing files may be created. User and password are not kept: SQLite
/// has no accounts.
struct Settings {
    std::string dsn;
    std::string database;             // path of the main SQLite file
    std::vector<std::string> schemas; // attached from "<folder of database>/<schema>.db"
    bool create = false;

    /// Reads the attributes Database, Schemas and Create of the data source `dsn` from the
    /// driver manager's odbc.ini files.
    [[nodiscard]] static Settings from_data_source(const std::string& dsn);
    /// Reads a connection string "KEY=value;..." (values may be in braces); a DSN key loads that
    /// data source first and the other keys override its attributes.
    [[nodiscard]] static Settings from_connection_string(std::string_view text);

    /// The file a schema is attached from.
    [[nodiscard]] std::string schema_file(const std::string& schema) const;
    /// The connection string that describes these settings (for SQLDriverConnect's output).
    [[nodiscard]] std::string connection_string() const;
};

} // namespace qix::lite

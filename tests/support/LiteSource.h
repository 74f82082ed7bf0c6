#pragma once

#include "DataSource.h"

#include <filesystem>
#include <string>
#include <vector>

namespace qix::test {

/// A data source of our own driver (QixLite) in a fresh temporary folder: the main SQLite file
/// main.db and one file <SCHEMA>.db per schema beside it, which the driver attaches so that
/// SCHEMA.TABLE names resolve. The destructor removes the data source and the folder.
class LiteSource {
public:
    /// Whether the constructor creates the main file. A missing main file makes every connect
    /// fail (with a diagnostic naming the file), as an unreachable database would.
    enum class MainFile { create, missing };

    /// Creates the (empty) files and registers a data source with a fresh name. Throws
    /// std::runtime_error when a file cannot be created.
    explicit LiteSource(const std::vector<std::string>& schemas = {}, MainFile main_file = MainFile::create);
    ~LiteSource();
    LiteSource(const LiteSource&) = delete;
    LiteSource& operator=(const LiteSource&) = delete;

    [[nodiscard]] const std::string& dsn() const noexcept { return dsn_; }
    [[nodiscard]] const TempDir& dir() const noexcept { return dir_; }
    /// The main SQLite file (attribute Database).
    [[nodiscard]] std::filesystem::path database_file() const { return dir_ / "main.db"; }
    /// The file the driver attaches as `schema`.
    [[nodiscard]] std::filesystem::path schema_file(const std::string& schema) const { return dir_ / (schema + ".db"); }

    /// Runs set-up statements, one per element, through raw ODBC on this data source. Throws
    /// std::runtime_error with the driver's diagnostics when one fails.
    void execute(const std::vector<std::string>& statements) const;

private:
    TempDir dir_;
    std::string dsn_;
};

} // namespace qix::test

#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace qix::sql {
class Database;
}

// The demo data source: our SQLite-backed driver, its odbcinst.ini/odbc.ini in the demo folder,
// and realistic data for the facility LUMEN (and its simulator LUMEN_SIM) in schema VEDUV and a
// configuration schema CFG. Everything is written through the library, as any program would.
namespace qix::tool::demo {

inline constexpr const char* kDataSource = "qix_demo";
inline constexpr const char* kConfigSchema = "CFG";

/// The running qix-sql program (from /proc/self/exe); empty if unknown.
[[nodiscard]] std::filesystem::path program_path();

/// Where the program found our driver: beside the installed program (the library folder) or in
/// the build tree (../driver/ from tools/). Empty when neither has it.
[[nodiscard]] std::filesystem::path find_driver();

/// Writes odbcinst.ini (driver QixLite) and odbc.ini (data source qix_demo with schemas VEDUV and
/// CFG) into `dir` and points the driver manager at them (ODBCSYSINI) for this process.
void configure_data_source(const std::filesystem::path& dir, const std::filesystem::path& driver);

/// Counts of what the demo data holds, for the opening message.
struct Summary {
    std::size_t components = 0;
    std::size_t simulator_components = 0;
    std::size_t items = 0;
    bool created = false;
};

/// Fills the data source unless it already holds this version of the demo data (then it is
/// reused as it is). Throws qix::Error when the data cannot be written.
Summary ensure_data(const std::filesystem::path& dir);

// ---- the pieces, shared by the files that generate them ----

/// The facility's layout, which its components and its configuration items both follow:
/// sections of cells, with the RF cavities in cells kFirstRfCell to kLastRfCell of kRfSections.
inline constexpr int kSections = 30;
inline constexpr int kCellsPerSection = 8;
inline constexpr int kRfSections[] = {15, 30};
inline constexpr int kFirstRfCell = 3;
inline constexpr int kLastRfCell = 6;

/// The name of section `section` (1 to kSections): S01 to S30.
[[nodiscard]] std::string section_name(int section);

/// A value to insert: NULL, integer, number or text (timestamps as timestamp text).
using SqlValue = std::variant<std::monostate, int, double, std::string>;

/// Inserts `rows` into `table` in a few multi-row statements with bound parameters.
void insert_rows(qix::sql::Database& db, const std::string& table, const std::vector<std::string>& columns,
                 const std::vector<std::vector<SqlValue>>& rows);

/// Runs statements that return no rows.
void run_statements(qix::sql::Database& db, const std::vector<std::string>& statements);

/// Creates and fills the component table and the two facility views in schema VEDUV.
void write_components(qix::sql::Database& db, Summary& summary);

/// Creates and fills the configuration schema CFG; returns the number of items.
std::size_t write_configuration(qix::sql::Database& db);

} // namespace qix::tool::demo

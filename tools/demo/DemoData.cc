#include "DemoData.h"

#include <qix/sql/Database.h>
#include <qix/util/exceptions.h>

#include <fmt/format.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace qix::tool::demo {

namespace {

namespace fs = std::filesystem;

// Bump when the demo data changes: an older demo folder is then filled afresh.
constexpr int kDataVersion = 1;
constexpr const char* kDriverName = "QixLite";
constexpr const char* kDriverFile = "libqix_lite_odbc.so";
constexpr const char* kMainFile = "demo.db";
constexpr const char* kSchemaFiles[] = {"VEDUV.db", "CFG.db"};
// Rows per INSERT statement: few statements, and far below SQLite's limit of bound parameters.
constexpr std::size_t kRowsPerStatement = 100;

void write_file(const fs::path& path, const std::string& text)
{
    std::ofstream file(path);
    file << text;
    if (!file.flush())
        throw qix::Error("Unable to write " + path.string());
}

bool has_current_data(qix::sql::Database& db)
{
    try {
        const auto rows = db.execute_query<int>("SELECT VERSION FROM QIX_DEMO");
        return rows.size() == 1 && std::get<0>(rows[0]) == kDataVersion;
    } catch (const qix::Error&) {
        return false; // no marker: a new or half-written folder
    }
}

int count(qix::sql::Database& db, const std::string& view)
{
    return std::get<0>(db.execute_query<int>("SELECT COUNT(*) FROM " + view).at(0));
}

void bind(qix::sql::Query& query, int index, const SqlValue& value)
{
    using qix::sql::ParameterOption;
    if (const auto* i = std::get_if<int>(&value))
        query.bind_parameter<int>(index, i, 1, ParameterOption::none);
    else if (const auto* d = std::get_if<double>(&value))
        query.bind_parameter<double>(index, d, 1, ParameterOption::none);
    else if (const auto* s = std::get_if<std::string>(&value))
        query.bind_parameter<char>(index, s->data(), s->size(), ParameterOption::none);
    else
        query.bind_parameter(index, nullptr);
}

} // namespace

fs::path program_path()
{
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : exe;
}

fs::path find_driver()
{
    const fs::path folder = program_path().parent_path();
    const fs::path candidates[] = {
        folder / QIX_SQL_DRIVER_FROM_BINDIR,    // installed: <prefix>/bin -> <prefix>/<libdir>/odbc
        folder / ".." / "driver" / kDriverFile, // build tree: tools/ -> driver/
    };
    for (const auto& candidate : candidates)
        if (!folder.empty() && fs::exists(candidate))
            return fs::weakly_canonical(candidate);
    return {};
}

void configure_data_source(const fs::path& dir, const fs::path& driver)
{
    write_file(dir / "odbcinst.ini", fmt::format("[{}]\nDescription = qix_sql's ODBC driver over SQLite\nDriver = {}\n",
                                                 kDriverName, driver.string()));
    write_file(dir / "odbc.ini", fmt::format("[{}]\nDescription = qix_sql demo: facility LUMEN and schema CFG\n"
                                             "Driver = {}\nDatabase = {}\nSchemas = VEDUV,CFG\nCreate = yes\n",
                                             kDataSource, kDriverName, (dir / kMainFile).string()));
    ::setenv("ODBCSYSINI", dir.c_str(), 1);
}

Summary ensure_data(const fs::path& dir)
{
    Summary summary;
    qix::sql::Database db(kDataSource, "", "");
    if (!has_current_data(db)) {
        db.disconnect();
        fs::remove(dir / kMainFile);
        for (const char* file : kSchemaFiles)
            fs::remove(dir / file);
        write_components(db, summary);
        summary.items = write_configuration(db);
        run_statements(db, {"CREATE TABLE QIX_DEMO (VERSION INTEGER NOT NULL)",
                            fmt::format("INSERT INTO QIX_DEMO VALUES ({})", kDataVersion)});
        summary.created = true;
        return summary;
    }
    summary.components = static_cast<std::size_t>(count(db, "VEDUV.LUMEN_VIEW_COMPONENTS"));
    summary.simulator_components = static_cast<std::size_t>(count(db, "VEDUV.LUMEN_SIM_VIEW_COMPONENTS"));
    summary.items = static_cast<std::size_t>(count(db, "CFG.CM_VIEW_ITEMS"));
    return summary;
}

void insert_rows(qix::sql::Database& db, const std::string& table, const std::vector<std::string>& columns,
                 const std::vector<std::vector<SqlValue>>& rows)
{
    const std::string row_marks = fmt::format("({})", fmt::join(std::vector<std::string>(columns.size(), "?"), ", "));
    for (std::size_t first = 0; first < rows.size(); first += kRowsPerStatement) {
        const std::size_t last = std::min(rows.size(), first + kRowsPerStatement);
        const std::vector<std::string> marks(last - first, row_marks);
        auto query = db.get_query(
            fmt::format("INSERT INTO {} ({}) VALUES {}", table, fmt::join(columns, ", "), fmt::join(marks, ", ")));
        int index = 1;
        for (std::size_t r = first; r < last; ++r)
            for (const auto& value : rows[r])
                bind(query, index++, value);
        query.send();
    }
}

std::string section_name(int section) { return fmt::format("S{:02d}", section); }

void run_statements(qix::sql::Database& db, const std::vector<std::string>& statements)
{
    for (const auto& statement : statements)
        (void)db.execute_query<>(statement);
}

} // namespace qix::tool::demo

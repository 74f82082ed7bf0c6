// A first look at the library: creates a throw-away SQLite data source, writes a few rows
// through bound parameters and reads them back.
#include <qix/sql/Database.h>
#include <qix/util/exceptions.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

namespace {

constexpr const char* kSqliteOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

std::filesystem::path make_data_source(const std::filesystem::path& dir)
{
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "odbcinst.ini") << "[SQLite3]\nDriver = " << kSqliteOdbcDriver << "\n";
    std::ofstream(dir / "odbc.ini") << "[example]\nDriver = SQLite3\nDatabase = " << (dir / "example.db").string()
                                    << "\n";
    ::setenv("ODBCSYSINI", dir.c_str(), 1);
    ::setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
    return dir;
}

} // namespace

int main()
{
    try {
        const auto dir = make_data_source(std::filesystem::absolute("qix-demo"));
        qix::sql::Database db("example", "", "");
        (void)db.execute_query<>("DROP TABLE IF EXISTS magnets");
        (void)db.execute_query<>("CREATE TABLE magnets (name TEXT, s REAL, current REAL)");
        const std::string names[] = {"QF.01", "QD.02", "BEND.03"};
        const double positions[] = {1.25, 3.5, 7.0};
        for (int i = 0; i < 3; ++i) {
            auto insert = db.get_query("INSERT INTO magnets VALUES (?, ?, NULL)");
            insert.bind_parameter<char>(1, names[i].data(), names[i].size(), qix::sql::ParameterOption::none);
            insert.bind_parameter<double>(2, &positions[i], 1, qix::sql::ParameterOption::none);
            insert.send();
        }
        std::cout << "Data source 'example' in " << dir.string() << "\n";
        for (const auto& [name, s, current] :
             db.execute_query<std::string, double, std::optional<double>>("SELECT name, s, current FROM magnets"))
            std::cout << name << " at s = " << s << " m, current " << (current ? std::to_string(*current) : "NULL")
                      << "\n";
        return 0;
    } catch (const qix::Error& e) {
        std::cerr << "qix-sql-example: " << e.what() << "\n";
        return 2;
    }
}

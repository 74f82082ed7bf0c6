#include "Context.h"

#include "Options.h"
#include "Printable.h"

#include <qix/util/exceptions.h>

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>

namespace qix::tool {

namespace {

constexpr const char* kPasswordVariable = "QIX_SQL_PASSWORD";

// A password on its way to the Database: its bytes are overwritten once it is handed over.
class Secret {
public:
    Secret() = default;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { ::explicit_bzero(text.data(), text.size()); }

    std::string text;
};

void read_password_file(const std::string& path, Secret& password)
{
    std::ifstream file(path);
    if (!file)
        throw qix::Error("Unable to read the password file " + path);
    std::getline(file, password.text);
    if (!password.text.empty() && password.text.back() == '\r')
        password.text.pop_back();
}

} // namespace

qix::sql::Database& Context::database()
{
    if (!database_) {
        if (dsn.empty())
            throw UsageError("No data source given: use --dsn or set QIX_SQL_DSN");
        Secret password;
        // Room for any ordinary password, so that reading it leaves no outgrown buffer unwiped.
        password.text.reserve(256);
        if (!password_file.empty())
            read_password_file(password_file, password);
        else if (const char* variable = std::getenv(kPasswordVariable))
            password.text = variable;
        database_ = std::make_unique<qix::sql::Database>(dsn, user, password.text);
    }
    return *database_;
}

void Context::print(const Table& table) const { print_table(table, format, std::cout, limit); }

void add_common_options(CLI::App& app, Context& context)
{
    app.add_option("--dsn", context.dsn, "ODBC data source name")->envname("QIX_SQL_DSN");
    app.add_option("--user", context.user, "Database user")->envname("QIX_SQL_USER");
    app.add_option("--password-file", context.password_file,
                   "File whose first line is the password (default: the variable QIX_SQL_PASSWORD)");
    app.add_option("--format", context.format, "Output format: table (aligned, default), csv or json")
        ->transform(choice_of<Format>({{"table", Format::table}, {"csv", Format::csv}, {"json", Format::json}}))
        ->option_text("table|csv|json");
    app.add_option("--limit", context.limit, "Show at most N rows (0: all)")->check(count_check())->option_text("N");
}

void report(const std::string& message)
{
    std::cout.flush();
    std::cerr << "qix-sql: " << printable_message(message) << '\n';
}

void warn(const std::string& message)
{
    // A failed connect that a backup file absorbed keeps the library's advice on the same line.
    std::string text = message;
    if (const auto pos = text.find(".\nMake sure that the data source"); pos != std::string::npos)
        text[pos + 1] = ' ';
    report("warning: " + text);
}

} // namespace qix::tool

#include "Context.h"

#include <qix/util/exceptions.h>

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>

namespace qix::tool {

namespace {

constexpr const char* kPasswordVariable = "QIX_SQL_PASSWORD";

std::string read_password_file(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        throw qix::Error("Unable to read the password file " + path);
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

qix::sql::Database& Context::database()
{
    if (!database_) {
        if (dsn.empty())
            throw UsageError("No data source given: use --dsn or set QIX_SQL_DSN");
        if (!password_file.empty())
            password_ = read_password_file(password_file);
        else if (const char* password = std::getenv(kPasswordVariable))
            password_ = password;
        database_ = std::make_unique<qix::sql::Database>(dsn, user, password_);
    }
    return *database_;
}

void Context::print(const Table& table) const
{
    print_table(table, format, std::cout, limit);
}

std::string Context::redact(std::string message) const
{
    if (password_.empty())
        return message;
    for (auto pos = message.find(password_); pos != std::string::npos; pos = message.find(password_, pos + 3))
        message.replace(pos, password_.size(), "***");
    return message;
}

void add_common_options(CLI::App& app, Context& context)
{
    const std::map<std::string, Format> formats{{"table", Format::table}, {"csv", Format::csv}, {"json", Format::json}};
    app.add_option("--dsn", context.dsn, "ODBC data source name")->envname("QIX_SQL_DSN");
    app.add_option("--user", context.user, "Database user")->envname("QIX_SQL_USER");
    app.add_option("--password-file", context.password_file,
                   "File whose first line is the password (default: the variable QIX_SQL_PASSWORD)");
    app.add_option("--format", context.format, "Output format: table (aligned, default), csv or json")
        ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case))
        ->option_text("table|csv|json");
    app.add_option("--limit", context.limit, "Show at most N rows (0: all)")->option_text("N");
}

} // namespace qix::tool

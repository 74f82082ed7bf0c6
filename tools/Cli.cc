#include "Cli.h"

#include "Commands.h"
#include "Context.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <iostream>

namespace qix::tool {

namespace {

constexpr const char* kProgram = "qix-sql";

constexpr const char* kDescription =
    "qix-sql: the qix_sql library on the command line. Loads and queries a facility's component list,\n"
    "reads and writes a configuration schema, lists a table's columns, and sets up a demo data source.\n"
    "Connection: --dsn (or QIX_SQL_DSN), --user (or QIX_SQL_USER), and the password from\n"
    "--password-file or the variable QIX_SQL_PASSWORD. Exit status: 0 success, 1 usage error,\n"
    "2 database, file or look-up failure.";

constexpr const char* kExamples = R"(
Examples:
  qix-sql demo
  qix-sql components --dsn LUMEN_DB --user reader --machine lumen --flag quad --sort s
  qix-sql config --schema CFG types --format json
  qix-sql columns VEDUV LUMEN_VIEW_COMPONENTS)";

void add_columns_command(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("columns", "List the columns of a table or view (from ALL_TAB_COLUMNS)");
    auto owner = std::make_shared<std::string>();
    auto table = std::make_shared<std::string>();
    command->add_option("OWNER", *owner, "Owner (schema) of the table")->required();
    command->add_option("TABLE", *table, "Table or view name")->required();
    command->footer("\nExample:\n  qix-sql columns VEDUV LUMEN_VIEW_COMPONENTS");
    command->callback([&context, owner, table] {
        Table result{{"column"}, {}};
        for (auto& name : context.database().read_column_names(*table, *owner))
            result.rows.push_back({std::move(name)});
        context.print(result);
    });
}

void report(const std::string& message)
{
    std::cout.flush();
    std::cerr << kProgram << ": " << message << '\n';
}

int usage_error(const CLI::App& app, const std::string& message)
{
    report(message);
    std::cerr << '\n' << app.help();
    return kExitUsage;
}

} // namespace

int run_command_line(const std::vector<std::string>& args)
{
    Context context;
    CLI::App app(kDescription, kProgram);
    app.fallthrough(); // common options may also follow the subcommand
    app.require_subcommand(1);
    app.footer(kExamples);
    add_common_options(app, context);
    add_components_command(app, context);
    add_config_command(app, context);
    add_columns_command(app, context);
    add_demo_command(app, context);

    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them last first
    try {
        app.parse(reversed);
        return kExitOk;
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        return usage_error(app, e.what());
    } catch (const UsageError& e) {
        return usage_error(app, e.what());
    } catch (const std::exception& e) {
        report(context.redact(e.what()));
        return kExitFailure;
    }
}

} // namespace qix::tool

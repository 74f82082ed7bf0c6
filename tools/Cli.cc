#include "Cli.h"

#include "Commands.h"
#include "Context.h"
#include "Printable.h"

#include <qix/sql/Database.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
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

// The command that the parser reached: the program, or its deepest subcommand on the line.
const CLI::App& reached_command(const CLI::App& app)
{
    const CLI::App* command = &app;
    for (auto subcommands = command->get_subcommands(); !subcommands.empty(); subcommands = command->get_subcommands())
        command = subcommands.front();
    return *command;
}

std::string command_path(const CLI::App& command)
{
    const CLI::App* parent = command.get_parent();
    return parent == nullptr ? std::string(kProgram) : command_path(*parent) + " " + command.get_name();
}

std::size_t edit_distance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string nearest(const std::string& word, const std::vector<std::string>& known)
{
    return *std::min_element(known.begin(), known.end(), [&word](const auto& a, const auto& b) {
        return edit_distance(word, a) < edit_distance(word, b);
    });
}

// The long options that `command` accepts, its own and those its parents let through.
std::vector<std::string> known_options(const CLI::App& command)
{
    std::vector<std::string> names{"--help"};
    for (const CLI::App* app = &command; app != nullptr; app = app->get_parent())
        for (const CLI::Option* option : app->get_options())
            for (const auto& name : option->get_lnames())
                names.push_back("--" + name);
    return names;
}

std::vector<std::string> subcommand_names(const CLI::App& command)
{
    std::vector<std::string> names;
    for (const CLI::App* subcommand : command.get_subcommands({}))
        names.push_back(subcommand->get_name());
    return names;
}

// The parser's complaint about words it could not place, in words a user knows: the unknown
// option with the nearest known one, the unknown command with the commands there are.
std::string unplaced_word_message(const CLI::App& app, const CLI::App& command, const std::string& fallback)
{
    const auto words = app.remaining(true);
    if (words.empty())
        return fallback;
    const std::string word = words.front();
    if (word.starts_with("-")) {
        const std::string name = word.substr(0, word.find('='));
        return fmt::format("Unknown option {} (nearest: {})", name, nearest(name, known_options(command)));
    }
    const auto commands = subcommand_names(command);
    if (!commands.empty() && command.get_subcommands().empty())
        return fmt::format("Unknown command {} (the commands of {}: {})", word, command_path(command),
                           fmt::join(commands, ", "));
    return fmt::format("Unexpected argument {}", word);
}

// A usage error in two lines: what is wrong, and where the help is.
int usage_error(const CLI::App& app, const std::string& message)
{
    report(message);
    std::cerr << fmt::format("Run '{} --help' for the usage.\n", command_path(reached_command(app)));
    return kExitUsage;
}

// Where the driver manager looks for data source names, for a name it did not find.
std::string data_source_hint()
{
    const char* odbcini = std::getenv("ODBCINI");
    const char* odbcsysini = std::getenv("ODBCSYSINI");
    return fmt::format("hint: the driver manager reads data sources from ODBCINI ({}) and from odbc.ini in "
                       "ODBCSYSINI ({}); qix-sql demo prints the exports for its data source",
                       odbcini != nullptr ? odbcini : "not set: ~/.odbc.ini",
                       odbcsysini != nullptr ? odbcsysini : "not set: /etc");
}

// The library's message line by line, the data source name in it printable, then the
// driver manager's and driver's own words.
void report_connect_failure(const qix::sql::ConnectError& error, const std::string& dsn)
{
    const std::string message = error.what();
    // The first line ends after the name: a name holding a line feed stays on it.
    const std::string head = "Could not connect to data source " + dsn + ".";
    const std::size_t head_end = message.starts_with(head) ? head.size() : std::min(message.find('\n'), message.size());
    report(message.substr(0, head_end));
    std::vector<std::string> lines;
    for (std::size_t start = head_end + 1, end = 0; start < message.size(); start = end + 1) {
        end = std::min(message.find('\n', start), message.size());
        lines.push_back(message.substr(start, end - start));
    }
    bool not_found = false;
    for (const auto& diagnostic : error.diagnostics()) {
        lines.push_back(diagnostic);
        not_found = not_found || diagnostic.starts_with("[IM002]");
    }
    if (not_found)
        lines.push_back(data_source_hint());
    for (const auto& line : lines)
        std::cerr << printable_message(line) << '\n';
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

    app.set_version_flag("--version", fmt::format("{} {}", kProgram, QIX_SQL_VERSION));

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
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << '\n';
        return kExitOk;
    } catch (const CLI::ExtrasError& e) {
        return usage_error(app, unplaced_word_message(app, reached_command(app), e.what()));
    } catch (const CLI::RequiredError& e) {
        // A command that needs a subcommand and got an unknown word names that word.
        return usage_error(app, unplaced_word_message(app, reached_command(app), e.what()));
    } catch (const CLI::ParseError& e) {
        return usage_error(app, e.what());
    } catch (const UsageError& e) {
        return usage_error(app, e.what());
    } catch (const qix::sql::ConnectError& e) {
        report_connect_failure(e, context.dsn);
        return kExitFailure;
    } catch (const std::exception& e) {
        report(e.what());
        return kExitFailure;
    }
}

} // namespace qix::tool

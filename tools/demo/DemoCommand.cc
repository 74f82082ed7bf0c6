// qix-sql demo: sets up (or reuses) the demo data source and walks through the library's
// services, printing each step as the qix-sql command a user would type, then its output.
#include "Cli.h"
#include "Commands.h"
#include "Context.h"
#include "DemoData.h"

#include <qix/sql/ConfigurationInterface.h>
#include <qix/sql/Database.h>
#include <qix/util/exceptions.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

namespace qix::tool {

namespace {

namespace fs = std::filesystem;

struct Options {
    std::string dir = "qix-demo";
    std::string driver;
    bool no_tour = false;
};

struct Step {
    std::string title;
    std::vector<std::string> args;
};

// Quotes an argument the way a POSIX shell needs it.
std::string shell_word(const std::string& arg)
{
    if (!arg.empty() &&
        arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.,/:=+@%") ==
            std::string::npos)
        return arg;
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The power supply whose current the tour changes: S07/QF, or the first one left if a user
// deleted it, with the current it gets. Each run raises the current by a quarter ampere (back
// to 100 A past 200 A), so that every run shows a change. Empty when no power supply is left.
struct Update {
    std::string id;
    std::string current;
};

std::optional<Update> next_update()
{
    using qix::sql::ConfigurationDataValueMap;
    qix::sql::Database db(demo::kDataSource, "", "");
    qix::sql::ConfigurationInterface config(db, demo::kConfigSchema);
    auto rows = config
                    .read_data("MAGNET_PS", ConfigurationDataValueMap{{"SECTION", std::string("S07")},
                                                                      {"FAMILY", std::string("QF")}})
                    .first;
    if (rows.empty())
        rows = config.read_data("MAGNET_PS", -1, -1).first;
    if (rows.empty())
        return std::nullopt;
    const auto value = rows.front().fields_.find("CURRENT_A");
    const double* current = value == rows.front().fields_.end() ? nullptr : std::get_if<double>(&value->second);
    const double raised = std::round((current == nullptr ? 0.0 : *current + 0.25) * 100.0) / 100.0;
    const double next = raised < 100.0 || raised > 200.0 ? 100.0 : raised;
    return Update{std::to_string(rows.front().id_), fmt::format("{}", next)};
}

std::vector<Step> update_steps(const std::optional<Update>& update)
{
    if (!update)
        return {};
    return {
        {"A power supply before an update ...", {"config", "--schema", "CFG", "data", "MAGNET_PS", "--id", update->id}},
        {"... an update: a quarter ampere more on every run ...",
         {"config", "--schema", "CFG", "update", "MAGNET_PS", update->id, "CURRENT_A=" + update->current}},
        {"... read back", {"config", "--schema", "CFG", "data", "MAGNET_PS", "--id", update->id}},
    };
}

std::vector<Step> tour(const std::string& backup, const std::optional<Update>& update)
{
    std::vector<Step> steps{
        {"Load LUMEN's component list from the data source, keeping a backup file",
         {"components", "--machine", "lumen", "--backup", backup, "--limit", "8"}},
        {"The quadrupoles, ordered by their position s along the beamline",
         {"components", "--machine", "lumen", "--flag", "quad", "--sort", "s", "--limit", "10"}},
        {"A beamline section: every active component between s = 120 m and 125 m",
         {"components", "--machine", "lumen", "--flag", "active", "--range", "120", "125"}},
        {"Cells around the beam position monitors of that stretch: neighbours within 0.3 m",
         {"components", "--machine", "lumen", "--flag", "active", "--range", "120", "125", "--cells", "BPM\\..*",
          "--before", "0.3", "--after", "0.3"}},
        {"Offline: one component from the backup file, no data source needed",
         {"components", "--file", backup, "--name", "qf.s07.3", "--format", "json"}},
        {"When the data source fails, the backup file takes over (with a warning)",
         {"components", "--dsn", "no_such_source", "--machine", "lumen", "--backup", backup, "--flag", "cavity"}},
        {"The configuration types of schema CFG", {"config", "--schema", "CFG", "types"}},
        {"The fields of MAGNET_PS, one of each data type code", {"config", "--schema", "CFG", "fields", "MAGNET_PS"}},
        {"The crates of the simulator", {"config", "--schema", "CFG", "items", "CRATE", "--facility", "LUMEN_SIM"}},
        {"Data rows: the power supplies of section S07",
         {"config", "--schema", "CFG", "data", "MAGNET_PS", "--eq", "SECTION=S07"}},
    };
    for (auto& step : update_steps(update))
        steps.push_back(std::move(step));
    std::vector<Step> rest{
        {"Monitors by condition, as CSV",
         {"config", "--schema", "CFG", "data", "BPM", "--where", "SECTION = ? AND GAIN_DB > ?", "--param", "S07",
          "--param", "20", "--format", "csv"}},
        {"The item name that field values make, and the item of that name",
         {"config", "--schema", "CFG", "item-name", "BPM", "SECTION=S07", "CELL=3"}},
        {"", {"config", "--schema", "CFG", "item", "BPM", "S07/3"}},
    };
    steps.insert(steps.end(), rest.begin(), rest.end());
    return steps;
}

void run_step(const Step& step)
{
    if (!step.title.empty())
        std::cout << "\n== " << step.title << "\n";
    std::string command = "qix-sql";
    for (const auto& arg : step.args)
        command += " " + shell_word(arg);
    std::cout << "$ " << command << "\n" << std::flush;
    if (run_command_line(step.args) != kExitOk)
        throw qix::Error("The demo stopped: the step above failed");
}

void introduce(const fs::path& dir, const fs::path& driver, const demo::Summary& summary)
{
    std::cout << fmt::format("qix-sql demo: data source {} in {} (driver {})\n", demo::kDataSource, dir.string(),
                             driver.string());
    std::cout << fmt::format(
        "{} the demo data: facility LUMEN with {} components along 600 m of beamline, its "
        "simulator LUMEN_SIM with {},\nand the configuration schema {} with 4 types and {} items.\n",
        summary.created ? "Created" : "Reusing", summary.components, summary.simulator_components, demo::kConfigSchema,
        summary.items);
}

// How the user calls this program: its name when PATH leads to it, otherwise its path.
std::string program_command()
{
    const fs::path program = demo::program_path();
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "");
    std::error_code error;
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && fs::equivalent(fs::path(folder) / "qix-sql", program, error))
            return "qix-sql";
    const fs::path relative = program.lexically_relative(fs::current_path());
    return shell_word(!relative.empty() && *relative.begin() != ".." ? relative.string() : program.string());
}

void conclude(const fs::path& dir)
{
    std::cout << fmt::format(
        "\n== Your turn\nThe demo data source stays in {0}. To run your own commands against it:\n\n"
        "  export ODBCSYSINI={0} QIX_SQL_DSN={1}\n"
        "  {3} components --machine lumen --flag bpm --sort s\n"
        "  {3} config --schema {2} items RF_CAVITY\n"
        "  {3} --help\n\n"
        "Run the demo again to reuse it; delete the folder to start afresh.\n",
        shell_word(dir.string()), demo::kDataSource, demo::kConfigSchema, program_command());
}

void run_demo(const Options& options)
{
    const fs::path dir = fs::absolute(options.dir).lexically_normal();
    fs::create_directories(dir);
    const fs::path driver = options.driver.empty() ? demo::find_driver() : fs::absolute(options.driver);
    if (driver.empty() || !fs::exists(driver))
        throw qix::Error(driver.empty()
                             ? "Our ODBC driver libqix_lite_odbc.so was not found beside qix-sql; give --driver"
                             : "No driver at " + driver.string());
    demo::configure_data_source(dir, driver);
    ::setenv("QIX_SQL_DSN", demo::kDataSource, 1); // the steps run as the user would, after the export
    introduce(dir, driver, demo::ensure_data(dir));
    if (options.no_tour)
        return;
    const auto update = next_update();
    if (!update)
        std::cout << "\n(No power supply is left to update: delete the demo folder to start afresh.)\n";
    for (const auto& step :
         tour((fs::path(options.dir) / "db_component_list_LUMEN.txt").lexically_normal().string(), update))
        run_step(step);
    conclude(dir);
}

} // namespace

void add_demo_command(CLI::App& app, Context&)
{
    auto options = std::make_shared<Options>();
    auto* command =
        app.add_subcommand("demo", "Set up (or reuse) a demo data source and walk through the library's services");
    command->add_option("--dir", options->dir, "Folder of the demo data source")->capture_default_str();
    command->add_option("--driver", options->driver,
                        "Our ODBC driver libqix_lite_odbc.so (default: found beside qix-sql)");
    command->add_flag("--no-tour", options->no_tour, "Only set up the data source");
    command->footer("\nExamples:\n  qix-sql demo\n  qix-sql demo --dir /tmp/lumen --no-tour");
    command->callback([options] { run_demo(*options); });
}

} // namespace qix::tool

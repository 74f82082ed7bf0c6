// qix-sql components: load a facility's component list (database, database with backup file, or
// list file) and show a selection of it.
#include "Commands.h"
#include "Context.h"
#include "Options.h"

#include <qix/sql/ComponentFields.h>
#include <qix/sql/ComponentList.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <regex>
#include <vector>

namespace qix::tool {

namespace {

using qix::sql::Component;
using qix::sql::ComponentList;
using SortOrder = ComponentList::SortOrder;

constexpr const char* kExamples = R"(
The table shows name, section, class, type, z, s and flags; csv and json show every field.
--range and --cells work on positions along s, or along z with --sort z.

Examples:
  qix-sql components --machine lumen --backup db_component_list_LUMEN.txt --limit 10
  qix-sql components --machine lumen --flag quad --sort s
  qix-sql components --machine lumen --flag active --range 120 140
  qix-sql components --machine lumen --flag active --cells 'BPM\..*' --before 1.5 --after 1.5
  qix-sql components --file db_component_list_LUMEN.txt --name QF.S03.2 --format json
  qix-sql components --machine lumen --save lumen.txt --format csv > lumen.csv)";

struct Options {
    std::string machine;
    std::string file;
    std::string backup;
    std::string save;
    std::string flag;
    SortOrder sort = SortOrder::none;
    const CLI::Option* sort_option = nullptr;
    std::vector<double> range;
    std::string cells;
    double before = 0.0;
    double after = 0.0;
    std::string name;
};

// Why a list file cannot be written at `path`, in the system's words: the folder refuses a new
// file, or the path is a folder. Empty when neither holds (the disk filled up, say).
std::string write_failure_reason(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(path, error))
        return std::strerror(EISDIR);
    const std::string folder = fs::path(path).parent_path().string();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd); // an unnamed file: nothing is left behind
        return {};
    }
    return errno == EOPNOTSUPP ? std::string() : std::strerror(errno);
}

std::string with_write_reason(const std::string& message, const std::string& path)
{
    const std::string reason = write_failure_reason(path);
    return reason.empty() ? message : fmt::format("{} ({})", message, reason);
}

ComponentList load(Context& context, const Options& options)
{
    ComponentList list;
    if (!options.file.empty()) {
        list.read_from_file(options.file);
    } else if (!options.backup.empty()) {
        const std::string absorbed = list.read_from_db_with_backup(context.database(), options.machine, options.backup);
        const bool not_written = absorbed == "Unable to open " + options.backup + " for writing" ||
                                 absorbed == "Error while writing to " + options.backup;
        if (!absorbed.empty())
            warn(not_written ? with_write_reason(absorbed, options.backup) : absorbed);
    } else {
        list.read_from_db(context.database(), options.machine);
    }
    if (!options.save.empty()) {
        try {
            list.write_to_file(options.save);
        } catch (const qix::Error& e) {
            throw qix::Error(with_write_reason(e.what(), options.save));
        }
    }
    return list;
}

std::string source_name(const Options& options) { return options.file.empty() ? options.machine : options.file; }

void check_flag(const ComponentList& list, const Options& options)
{
    if (!options.flag.empty() && list.get_flag_idx(options.flag) < 0)
        throw NotFoundError(fmt::format("{} has no flag {} (its flags: {})", source_name(options), options.flag,
                                        fmt::join(list.flag_names_, " ")));
}

// The components selected by --name, --flag and --range, in the order --sort asks for.
std::vector<const Component*> select(const ComponentList& list, const Options& options, SortOrder sort)
{
    if (!options.name.empty()) {
        const Component* component = list.find_component_by_name(options.name);
        if (component == nullptr)
            throw NotFoundError(fmt::format("{} has no component named {}", source_name(options), options.name));
        return {component};
    }
    if (!options.range.empty())
        return list.extract_beamline(options.flag, options.range[0], options.range[1], sort);
    if (!options.flag.empty())
        return list.find_components_with_flag(options.flag, sort);
    return list.get_sorted_list(sort);
}

std::vector<std::string> flags_of(const ComponentList& list, const Component& component)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < component.flags_.size() && i < list.flag_names_.size(); ++i)
        if (component.flags_[i])
            names.push_back(list.flag_names_[i]);
    return names;
}

std::vector<std::string> columns(Format format)
{
    if (format == Format::table)
        return {"name", "section", "class", "type", "z", "s", "flags"};
    std::vector<std::string> names;
    sql::component_fields::for_each_texts_first([&](const auto& field) { names.emplace_back(field.name); });
    names.emplace_back("flags");
    return names;
}

// One output row, after the cells already in `line` (the cell number, for cells).
std::vector<Value> row(const ComponentList& list, const Component& c, Format format, std::vector<Value> line = {})
{
    std::vector<Value> values;
    if (format == Format::table)
        values = {c.name_, c.section_, c.class_, c.type_, c.z_, c.s_};
    else
        sql::component_fields::for_each_texts_first([&](const auto& field) { values.emplace_back(c.*field.member); });
    values.emplace_back(flags_of(list, c));
    line.reserve(line.size() + values.size());
    for (auto& value : values)
        line.push_back(std::move(value));
    return line;
}

Table component_table(const ComponentList& list, const std::vector<const Component*>& selected, Format format)
{
    Table table{columns(format), {}};
    for (const Component* component : selected)
        table.rows.push_back(row(list, *component, format));
    return table;
}

// One row per member of each cell, numbered from 1 in the order of the matched components.
Table cell_table(const ComponentList& list, const std::vector<const Component*>& selected, const Options& options,
                 SortOrder sort, Format format)
{
    std::vector<std::vector<const Component*>> cells;
    try {
        cells = ComponentList::extract_cells_around_components(selected, options.cells, sort, -options.before,
                                                               options.after);
    } catch (const std::regex_error& e) {
        throw UsageError(fmt::format("Invalid name pattern {}: {}", options.cells, e.what()));
    }
    Table table{columns(format), {}};
    table.columns.insert(table.columns.begin(), "cell");
    for (std::size_t i = 0; i < cells.size(); ++i)
        for (const Component* component : cells[i])
            table.rows.push_back(row(list, *component, format, {static_cast<std::int64_t>(i + 1)}));
    return table;
}

void run(Context& context, const Options& options)
{
    if (options.file.empty() && options.machine.empty())
        throw UsageError("Give --machine (to read a data source) or --file (to read a list file)");
    // Positions need a position key: --range and --cells work along s unless told otherwise.
    const bool by_position = !options.range.empty() || !options.cells.empty();
    const bool sort_given = options.sort_option->count() > 0;
    if (by_position && sort_given && options.sort == SortOrder::none)
        throw UsageError(fmt::format("--sort none cannot go with {}: positions are along s or z (--sort s or --sort z)",
                                     options.range.empty() ? "--cells" : "--range"));
    const SortOrder sort = sort_given ? options.sort : by_position ? SortOrder::s : SortOrder::none;
    const ComponentList list = load(context, options);
    check_flag(list, options);
    const auto selected = select(list, options, sort);
    const Table table = options.cells.empty() ? component_table(list, selected, context.format)
                                              : cell_table(list, selected, options, sort, context.format);
    context.print(table);
    if (table.rows.empty() && !options.range.empty() && options.range[0] > options.range[1])
        report(fmt::format("hint: --range {} {} is reversed: START must not exceed END", options.range[0],
                           options.range[1]));
}

void add_source_options(CLI::App& command, Options& options)
{
    auto* machine =
        command.add_option("--machine", options.machine, "Facility whose component list to load, e.g. lumen");
    auto* file =
        command.add_option("--file", options.file, "Read a component list file instead of a data source (offline)");
    auto* backup = command.add_option(
        "--backup", options.backup, "Keep a backup list file; read it when the data source fails (warning on stderr)");
    command.add_option("--save", options.save, "Write the loaded list to this list file");
    file->excludes(machine);
    backup->needs(machine);
}

void add_selection_options(CLI::App& command, Options& options)
{
    auto* flag = command.add_option("--flag", options.flag, "Only components with this flag, e.g. QUAD");
    options.sort_option =
        command.add_option("--sort", options.sort, "Order: z, s or none (list order)")
            ->transform(choice_of<SortOrder>({{"z", SortOrder::z}, {"s", SortOrder::s}, {"none", SortOrder::none}}))
            ->option_text("z|s|none");
    command
        .add_option("--range", options.range,
                    "Only positions s from START to END metres (z with --sort z; needs --flag)")
        ->check(number_check())
        ->expected(2)
        ->option_text("START END")
        ->needs(flag);
    auto* cells = command
                      .add_option("--cells", options.cells,
                                  "Cells around the components whose whole name matches REGEX (case-insensitive)")
                      ->option_text("REGEX");
    command.add_option("--before", options.before, "Cell reaches M metres before each match")
        ->check(non_negative_check())
        ->option_text("M")
        ->needs(cells);
    command.add_option("--after", options.after, "Cell reaches M metres after each match")
        ->check(non_negative_check())
        ->option_text("M")
        ->needs(cells);
    command.add_option("--name", options.name, "Only the component with this name (any letter case)")
        ->excludes(flag)
        ->excludes(cells);
}

} // namespace

void add_components_command(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("components", "Load a facility's component list and show a selection");
    auto options = std::make_shared<Options>();
    add_source_options(*command, *options);
    add_selection_options(*command, *options);
    command->footer(kExamples);
    command->callback([&context, options] { run(context, *options); });
}

} // namespace qix::tool

// qix-sql config: the configuration-management interface of one schema: types, fields, items,
// data rows (read, add, update, delete) and item names.
#include "Commands.h"
#include "ConfigValues.h"
#include "Context.h"
#include "Options.h"

#include <qix/sql/ConfigurationInterface.h>
#include <qix/util/tessel.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <set>

namespace qix::tool {

namespace {

using qix::sql::ConfigurationInterface;

constexpr const char* kExamples = R"(
Values are typed by the field's data type code: I and R integers, F numbers, T timestamp text
("2024-03-05 14:07:09.123456", UTC), C and B text; the word null stands for NULL.

Examples:
  qix-sql config --schema CFG types
  qix-sql config --schema CFG fields MAGNET_PS
  qix-sql config --schema CFG items CRATE --facility LUMEN_SIM
  qix-sql config --schema CFG data MAGNET_PS --eq SECTION=S03
  qix-sql config --schema CFG data MAGNET_PS --where "CURRENT_A > ?" --param 150 --format csv
  qix-sql config --schema CFG update MAGNET_PS 2003 CURRENT_A=123.5 "LAST_CALIBRATION=2025-06-01 08:00:00"
  qix-sql config --schema CFG item-name MAGNET_PS SECTION=S03 FAMILY=QF)";

// What the subcommands share: the schema and the interface opened on it when a command runs.
struct Config {
    Context& context;
    std::string schema;
    std::unique_ptr<ConfigurationInterface> interface;

    ConfigurationInterface& open()
    {
        if (!interface)
            interface = std::make_unique<ConfigurationInterface>(context.database(), schema);
        return *interface;
    }

    // The type named on the command line, in capitals, once the schema is known to have it:
    // every command checks it first, so an unknown type never reaches a statement.
    std::string known_type(const std::string& given)
    {
        const std::string type = tessel::uppercase_ascii(given);
        const auto types = open().read_types();
        if (types.find(type) == types.end()) {
            std::vector<std::string> names;
            for (const auto& [name, unused] : types)
                names.push_back(name);
            throw NotFoundError(
                fmt::format("Schema {} has no type {} (its types: {})", schema, type, fmt::join(names, " ")));
        }
        return type;
    }
};

// Positionals and options that are ids: whole numbers of 0 or more.
CLI::Option* id_option(CLI::App& command, const std::string& name, int& id, const std::string& description)
{
    return command.add_option(name, id, description)->check(count_check());
}

// Number of ? placeholders of an SQL condition, outside quoted literals and names.
std::size_t count_placeholders(const std::string& condition)
{
    std::size_t count = 0;
    char quote = '\0';
    for (const char c : condition) {
        if (quote != '\0')
            quote = c == quote ? '\0' : quote;
        else if (c == '\'' || c == '"')
            quote = c;
        else if (c == '?')
            ++count;
    }
    return count;
}

// A subcommand of config whose help ends with an example.
CLI::App* subcommand(CLI::App& config, const char* name, const char* description, const std::string& example)
{
    auto* command = config.add_subcommand(name, description);
    command->footer(fmt::format("\nExample:\n  qix-sql config --schema CFG {} {}", name, example));
    return command;
}

Table item_table(const qix::sql::ConfigurationItemList& items)
{
    Table table{{"id", "name", "facility", "last_seen", "last_modified", "description"}, {}};
    for (const auto& item : items)
        table.rows.push_back({std::int64_t{item.id_}, item.name_, to_cell(item.facility_), to_cell(item.last_seen_),
                              to_cell(item.last_modified_), to_cell(item.descr_)});
    return table;
}

Table data_table(const ConfigurationInterface::DataResult& result)
{
    const auto fields = fields_by_id(result.second);
    Table table{{"PUBLIC_ID"}, {}}; // the view's own column names
    for (const auto* field : fields)
        table.columns.push_back(field->name_);
    for (const auto& data : result.first) {
        auto& row = table.rows.emplace_back(std::vector<Value>{std::int64_t{data.id_}});
        for (const auto* field : fields) {
            const auto value = data.fields_.find(field->name_);
            row.push_back(value == data.fields_.end() ? Value{} : to_cell(value->second));
        }
    }
    return table;
}

void add_types(CLI::App& config, std::shared_ptr<Config> state)
{
    auto* command = subcommand(config, "types", "List the configuration types", "--format json");
    command->callback([state] {
        Table table{{"id", "name", "facility", "category", "group", "description"}, {}};
        for (const auto& [name, type] : state->open().read_types())
            table.rows.push_back({std::int64_t{type.id_}, name, to_cell(type.facility_), to_cell(type.category_),
                                  to_cell(type.kelva_group_), to_cell(type.descr_)});
        state->context.print(table);
    });
}

void add_fields(CLI::App& config, std::shared_ptr<Config> state)
{
    auto* command = subcommand(config, "fields", "List the fields of a type, in field-id order", "MAGNET_PS");
    auto type = std::make_shared<std::string>();
    command->add_option("TYPE", *type, "Configuration type")->required();
    command->callback([state, type] {
        Table table{{"id", "name", "code", "unit", "reference", "name_field", "hidden", "facility_field", "allow_null",
                     "description"},
                    {}};
        const std::string known = state->known_type(*type);
        const auto fields = state->open().read_fields(known);
        if (fields.empty())
            throw NotFoundError(fmt::format("Type {} has no fields in schema {}", known, state->schema));
        for (const auto* f : fields_by_id(fields))
            table.rows.push_back({std::int64_t{f->id_}, f->name_, std::string(1, f->data_type_), to_cell(f->unit_name_),
                                  to_cell(f->ref_type_name_), f->name_flag_, f->hidden_flag_, f->facility_flag_,
                                  f->allow_null_flag_, f->descr_});
        state->context.print(table);
    });
}

void add_items(CLI::App& config, std::shared_ptr<Config> state)
{
    struct Args {
        std::string type;
        std::string facility;
    };
    auto args = std::make_shared<Args>();
    auto* command = subcommand(config, "items", "List the items of a type", "CRATE --facility LUMEN_SIM");
    command->add_option("TYPE", args->type, "Configuration type")->required();
    command->add_option("--facility", args->facility, "Only the items of this facility");
    command->callback([state, args] {
        state->context.print(item_table(state->open().read_items(state->known_type(args->type), args->facility)));
    });
}

void add_item(CLI::App& config, std::shared_ptr<Config> state)
{
    struct Args {
        std::string type;
        std::string name;
        int id = -1;
    };
    auto args = std::make_shared<Args>();
    auto* command = subcommand(config, "item", "Show one item, by name or by public id", "BPM S07/3");
    command->add_option("TYPE", args->type, "Configuration type")->required();
    auto* name = command->add_option("NAME", args->name, "Item name");
    auto* id = id_option(*command, "--id", args->id, "Public id of the item");
    name->excludes(id);
    command->callback([state, args, name] {
        if (name->count() == 0 && args->id < 0)
            throw UsageError("Give the item's NAME or --id");
        const std::string type = state->known_type(args->type);
        auto& interface = state->open();
        const auto item =
            name->count() > 0 ? interface.read_item(type, args->name) : interface.read_item(type, args->id);
        if (item.id_ == -1)
            throw NotFoundError(fmt::format("Type {} has no item {}", type,
                                            name->count() > 0 ? args->name : "with id " + std::to_string(args->id)));
        state->context.print(item_table({item}));
    });
}

void add_data(CLI::App& config, std::shared_ptr<Config> state)
{
    struct Args {
        std::string type;
        std::string where;
        std::vector<std::string> params;
        std::vector<std::string> equals;
        int id = -1;
        int version = -1;
    };
    auto args = std::make_shared<Args>();
    auto* command =
        subcommand(config, "data", "Show the data rows of a type", "BPM --where \"GAIN_DB > ?\" --param 21");
    command->add_option("TYPE", args->type, "Configuration type")->required();
    auto* where = command->add_option("--where", args->where, "SQL condition with ? placeholders")->option_text("COND");
    command->add_option("--param", args->params, "Value of the next placeholder (repeat)")
        ->option_text("V")
        ->needs(where);
    auto* eq = command->add_option("--eq", args->equals, "Only rows where FIELD equals VALUE (repeat)")
                   ->option_text("FIELD=VALUE")
                   ->excludes(where);
    id_option(*command, "--id", args->id, "Only the rows of this public id")->excludes(where)->excludes(eq);
    id_option(*command, "--version", args->version, "Only the rows of this version id")->excludes(where)->excludes(eq);
    command->callback([state, args, where, eq] {
        if (where->count() > 0 && count_placeholders(args->where) != args->params.size())
            throw UsageError(fmt::format("--where has {} ? placeholder(s) but {} --param value(s) were given",
                                         count_placeholders(args->where), args->params.size()));
        const std::string type = state->known_type(args->type);
        auto& interface = state->open();
        ConfigurationInterface::DataResult result;
        if (where->count() > 0) {
            qix::sql::ConfigurationDataValueList params;
            for (const auto& text : args->params)
                params.push_back(guess_value(text));
            result = interface.read_data(type, args->where, params);
        } else if (eq->count() > 0) {
            result = interface.read_data(type, parse_assignments(args->equals, interface.read_fields(type), type));
        } else {
            result = interface.read_data(type, args->id, args->version);
        }
        state->context.print(data_table(result));
    });
}

// item-name, add and update: TYPE, maybe an id, then FIELD=VALUE arguments typed by the fields.
struct WriteArgs {
    std::string type;
    int id = -1;
    std::vector<std::string> assignments;
};

using WriteAction = std::function<void(Config&, const WriteArgs&, const qix::sql::ConfigurationDataValueMap&)>;

void add_write_command(CLI::App& config, const char* name, const char* description, const char* example, bool with_id,
                       std::shared_ptr<Config> state, WriteAction action)
{
    auto args = std::make_shared<WriteArgs>();
    auto* command = subcommand(config, name, description, example);
    command->add_option("TYPE", args->type, "Configuration type")->required();
    if (with_id)
        id_option(*command, "ID", args->id, "Public id of the item")->required();
    command->add_option("FIELD=VALUE", args->assignments, "Field values")->required();
    command->callback([state, args, action] {
        args->type = state->known_type(args->type);
        auto& interface = state->open();
        action(*state, *args, parse_assignments(args->assignments, interface.read_fields(args->type), args->type));
    });
}

// The library does not count changed rows, so a write to an id first checks that the id has rows.
void require_rows(ConfigurationInterface& interface, const std::string& type, int id, const char* what)
{
    if (interface.read_data(type, id, -1).first.empty())
        throw NotFoundError(fmt::format("Type {} has no item with id {}: nothing was {}", type, id, what));
}

// The values that a row can be found by: NULLs compare with nothing, so they are left out.
qix::sql::ConfigurationDataValueMap comparable_values(const qix::sql::ConfigurationDataValueMap& values)
{
    qix::sql::ConfigurationDataValueMap comparable;
    for (const auto& [name, value] : values)
        if (!std::holds_alternative<qix::sql::null_value>(value))
            comparable.emplace(name, value);
    return comparable;
}

std::set<int> ids_showing(ConfigurationInterface& interface, const std::string& type,
                          const qix::sql::ConfigurationDataValueMap& comparable)
{
    std::set<int> ids;
    for (const auto& row : interface.read_data(type, comparable).first)
        ids.insert(row.id_);
    return ids;
}

// Adds the row and tells its public id: the one id that shows the written values after the
// insert and did not before. When the view cannot single it out, the rows that show the values
// are printed instead.
void add_row(Config& config, const WriteArgs& args, const qix::sql::ConfigurationDataValueMap& values)
{
    auto& interface = config.open();
    const auto comparable = comparable_values(values);
    const auto before = ids_showing(interface, args.type, comparable);
    interface.add_data(args.type, values);
    const auto after = ids_showing(interface, args.type, comparable);
    std::vector<int> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    if (added.size() == 1) {
        std::cout << fmt::format("Added item {} of type {}.\n", added.front(), args.type);
        return;
    }
    if (after.empty()) {
        std::cout << fmt::format("Added a row of type {}; the view shows no row with these values, so its public id "
                                 "is unknown (qix-sql config --schema {} data {} lists every row).\n",
                                 args.type, config.schema, args.type);
        return;
    }
    std::cout << fmt::format("Added a row of type {}; its public id is one of these rows with the written values:\n",
                             args.type);
    config.context.print(data_table(interface.read_data(args.type, comparable)));
}

void add_writes(CLI::App& config, std::shared_ptr<Config> state)
{
    add_write_command(config, "item-name", "The item name that the given field values make", "BPM SECTION=S07 CELL=3",
                      false, state, [](Config& s, const WriteArgs& a, const auto& values) {
                          s.context.print(Table{{"item_name"}, {{s.open().make_item_name(values, a.type)}}});
                      });
    add_write_command(config, "add", "Add a data row and tell its public id",
                      "RF_CAVITY NAME=CAV.S30.7 FREQUENCY_MHZ=499.654 NOTES=null", false, state, add_row);
    add_write_command(config, "update", "Change fields of an item's data rows", "MAGNET_PS 2031 CURRENT_A=118.25", true,
                      state, [](Config& s, const WriteArgs& a, const auto& values) {
                          require_rows(s.open(), a.type, a.id, "updated");
                          s.open().update_data(a.type, a.id, values);
                          std::cout << fmt::format("Updated item {} of type {}.\n", a.id, a.type);
                      });
    auto args = std::make_shared<WriteArgs>();
    auto* command = subcommand(config, "delete", "Delete an item's data rows", "MAGNET_PS 2031");
    command->add_option("TYPE", args->type, "Configuration type")->required();
    id_option(*command, "ID", args->id, "Public id of the item")->required();
    command->callback([state, args] {
        const std::string type = state->known_type(args->type);
        require_rows(state->open(), type, args->id, "deleted");
        state->open().delete_data(type, args->id);
        std::cout << fmt::format("Deleted item {} of type {}.\n", args->id, type);
    });
}

} // namespace

void add_config_command(CLI::App& app, Context& context)
{
    auto* config = app.add_subcommand("config", "Read and write a configuration schema");
    auto state = std::make_shared<Config>(Config{context, {}, nullptr});
    config->add_option("--schema", state->schema, "Schema holding the configuration views, e.g. CFG (any letter case)")
        ->required()
        ->transform([](std::string text) { return tessel::uppercase_ascii(text); });
    config->require_subcommand(1);
    config->footer(kExamples);
    add_types(*config, state);
    add_fields(*config, state);
    add_items(*config, state);
    add_item(*config, state);
    add_data(*config, state);
    add_writes(*config, state);
}

} // namespace qix::tool

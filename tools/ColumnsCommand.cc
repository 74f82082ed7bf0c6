// qix-sql columns: the column names of a table or view, as the data source reports them.
#include "Commands.h"
#include "Context.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

namespace qix::tool {

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

} // namespace qix::tool

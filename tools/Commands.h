#pragma once

namespace CLI {
class App;
}

// The subcommands of qix-sql; each adds itself, its options and its action to the program.
namespace qix::tool {

class Context;

void add_components_command(CLI::App& app, Context& context);
void add_config_command(CLI::App& app, Context& context);
void add_columns_command(CLI::App& app, Context& context);
void add_demo_command(CLI::App& app, Context& context);

} // namespace qix::tool

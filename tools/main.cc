// qix-sql: the library's services on the command line.
#include "Cli.h"

int main(int argc, char** argv) { return qix::tool::run_command_line(std::vector<std::string>(argv + 1, argv + argc)); }

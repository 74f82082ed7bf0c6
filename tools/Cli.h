#pragma once

#include <string>
#include <vector>

namespace qix::tool {

/// Exit statuses of qix-sql.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitFailure = 2;

/// Runs one qix-sql command line (`args` without the program name) and returns its exit status.
/// A usage error prints its message and a line pointing at the command's --help on stderr;
/// database, file and look-up failures print "qix-sql: <message>" on stderr.
int run_command_line(const std::vector<std::string>& args);

} // namespace qix::tool

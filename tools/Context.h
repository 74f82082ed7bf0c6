#pragma once

#include "Output.h"

#include <qix/sql/Database.h>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

namespace CLI {
class App;
}

// What every qix-sql command shares: the connection options, the output options, and the one
// Database that the command opens on first use.
namespace qix::tool {

/// A mistake on the command line that the argument parser cannot see (a value of the wrong kind
/// for a field, a missing data source). Reported with the command's help text, exit status 1.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Something the user asked for does not exist (a flag, a component, an item). Exit status 2.
class NotFoundError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Context {
public:
    std::string dsn;
    std::string user;
    std::string password_file;
    Format format = Format::table;
    std::size_t limit = 0;

    /// The data source, connected on first use by the library. The password comes from
    /// --password-file (first line) or QIX_SQL_PASSWORD; only the Database keeps a copy, and no
    /// message ever quotes it. Throws UsageError without a data source name and qix::Error when
    /// the password file cannot be read.
    qix::sql::Database& database();

    /// Writes `table` to standard output in the chosen format and limit.
    void print(const Table& table) const;

private:
    std::unique_ptr<qix::sql::Database> database_;
};

/// Adds --dsn, --user, --password-file, --format and --limit to the main program.
void add_common_options(CLI::App& app, Context& context);

/// Writes "qix-sql: <message>" (or "qix-sql: warning: <message>") to standard error, the message
/// cut to a readable length and printable.
void report(const std::string& message);
void warn(const std::string& message);

} // namespace qix::tool

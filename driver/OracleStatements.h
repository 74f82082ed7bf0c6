#pragma once

#include <functional>
#include <string_view>

namespace qix::lite {

class Connection;

/// What executing a prepared Oracle statement does to its connection. Throws DriverError.
using OracleAction = std::function<void(Connection&)>;

/// For an Oracle statement that the driver carries out itself instead of handing it to SQLite:
/// checks the whole text, throwing DriverError when it is malformed, and returns what executing
/// it does. Returns an empty action for every other statement.
[[nodiscard]] OracleAction prepare_oracle_statement(std::string_view sql);

} // namespace qix::lite

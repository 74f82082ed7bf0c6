#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qix::lite {

/// What the driver needs to know about a statement before SQLite sees it.
enum class StatementKind {
    other,          // queries, DDL and everything else SQLite runs as it is
    insert,         // INSERT or REPLACE
    update,         // searched UPDATE: no changed row means SQL_NO_DATA
    remove,         // searched DELETE: no changed row means SQL_NO_DATA
    alter_session,  // Oracle's ALTER SESSION, handled by the driver itself
};

/// The statement kind, from the first keyword after blanks and comments.
[[nodiscard]] StatementKind classify_statement(std::string_view sql);

/// `ALTER SESSION SET NLS_TIMESTAMP_FORMAT = '<format>'`: returns the format. Throws
/// DriverError (42000) for an ALTER SESSION of another form or for another parameter.
[[nodiscard]] std::string parse_alter_session(std::string_view sql);

/// True when `text` (what follows a statement) holds only blanks, comments and semicolons.
[[nodiscard]] bool is_empty_statement_tail(std::string_view text);

} // namespace qix::lite

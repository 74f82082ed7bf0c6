#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qix::lite {

/// What the driver needs to know about a statement SQLite runs.
enum class StatementKind {
    other,  // queries, DDL and everything else SQLite runs as it is
    insert, // INSERT or REPLACE
    update, // searched UPDATE: no changed row means SQL_NO_DATA
    remove, // searched DELETE: no changed row means SQL_NO_DATA
};

/// Reads a statement text token by token: words (upper-cased), quoted literals and single
/// punctuation characters, skipping blanks and comments.
class SqlTokens {
public:
    explicit SqlTokens(std::string_view text) : text_(text) {}

    void skip_blanks();
    [[nodiscard]] bool at_end();
    /// The next word in upper case, or empty when the next token is not a word.
    std::string word();
    bool punctuation(char c);
    /// A literal in single quotes, with '' standing for one quote.
    std::optional<std::string> quoted();

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

/// The statement kind, from the first keyword after blanks and comments.
[[nodiscard]] StatementKind classify_statement(std::string_view sql);

/// True when `text` (what follows a statement) holds only blanks, comments and semicolons.
[[nodiscard]] bool is_empty_statement_tail(std::string_view text);

} // namespace qix::lite

#include "SqlText.h"

#include "Diagnostics.h"

#include <cctype>

namespace qix::lite {

namespace {

bool is_word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#'; }

// Reads the statement text token by token: words (upper-cased), quoted literals and single
// punctuation characters, skipping blanks and comments.
class Tokens {
public:
    explicit Tokens(std::string_view text) : text_(text) {}

    void skip_blanks()
    {
        while (pos_ < text_.size()) {
            if (std::isspace(static_cast<unsigned char>(text_[pos_]))) {
                ++pos_;
            } else if (text_.substr(pos_, 2) == "--") {
                const auto end = text_.find('\n', pos_);
                pos_ = end == std::string_view::npos ? text_.size() : end + 1;
            } else if (text_.substr(pos_, 2) == "/*") {
                const auto end = text_.find("*/", pos_ + 2);
                pos_ = end == std::string_view::npos ? text_.size() : end + 2;
            } else {
                break;
            }
        }
    }

    [[nodiscard]] bool at_end()
    {
        skip_blanks();
        return pos_ >= text_.size();
    }

    // The next word in upper case, or empty when the next token is not a word.
    std::string word()
    {
        skip_blanks();
        std::string result;
        while (pos_ < text_.size() && is_word_char(text_[pos_]))
            result.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_++]))));
        return result;
    }

    bool punctuation(char c)
    {
        skip_blanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // A literal in single quotes, with '' standing for one quote.
    std::optional<std::string> quoted()
    {
        skip_blanks();
        if (pos_ >= text_.size() || text_[pos_] != '\'')
            return std::nullopt;
        std::string value;
        for (++pos_; pos_ < text_.size(); ++pos_) {
            if (text_[pos_] == '\'') {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                    value.push_back('\'');
                    ++pos_;
                } else {
                    ++pos_;
                    return value;
                }
            } else {
                value.push_back(text_[pos_]);
            }
        }
        return std::nullopt;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

StatementKind classify_statement(std::string_view sql)
{
    Tokens tokens(sql);
    const std::string first = tokens.word();
    if (first == "INSERT" || first == "REPLACE")
        return StatementKind::insert;
    if (first == "UPDATE")
        return StatementKind::update;
    if (first == "DELETE")
        return StatementKind::remove;
    if (first == "ALTER" && tokens.word() == "SESSION")
        return StatementKind::alter_session;
    return StatementKind::other;
}

std::string parse_alter_session(std::string_view sql)
{
    const std::string expected = "Expected ALTER SESSION SET NLS_TIMESTAMP_FORMAT = '<format>', got: " +
                                 std::string(sql);
    Tokens tokens(sql);
    if (tokens.word() != "ALTER" || tokens.word() != "SESSION" || tokens.word() != "SET")
        throw DriverError("42000", expected);
    const std::string parameter = tokens.word();
    if (parameter != "NLS_TIMESTAMP_FORMAT")
        throw DriverError("42000", "ALTER SESSION SET " + (parameter.empty() ? std::string("?") : parameter) +
                                       " is not supported; this driver knows only NLS_TIMESTAMP_FORMAT");
    if (!tokens.punctuation('='))
        throw DriverError("42000", expected);
    auto format = tokens.quoted();
    if (!format)
        throw DriverError("42000", expected);
    while (tokens.punctuation(';')) {
    }
    if (!tokens.at_end())
        throw DriverError("42000", expected);
    return *format;
}

bool is_empty_statement_tail(std::string_view text)
{
    Tokens tokens(text);
    while (tokens.punctuation(';')) {
    }
    return tokens.at_end();
}

} // namespace qix::lite

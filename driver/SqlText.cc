#include "SqlText.h"

#include <cctype>

namespace qix::lite {

namespace {

bool is_word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#'; }

} // namespace

void SqlTokens::skip_blanks()
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

bool SqlTokens::at_end()
{
    skip_blanks();
    return pos_ >= text_.size();
}

std::string SqlTokens::word()
{
    skip_blanks();
    std::string result;
    while (pos_ < text_.size() && is_word_char(text_[pos_]))
        result.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_++]))));
    return result;
}

bool SqlTokens::punctuation(char c)
{
    skip_blanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
        ++pos_;
        return true;
    }
    return false;
}

std::optional<std::string> SqlTokens::quoted()
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

StatementKind classify_statement(std::string_view sql)
{
    SqlTokens tokens(sql);
    const std::string first = tokens.word();
    if (first == "INSERT" || first == "REPLACE")
        return StatementKind::insert;
    if (first == "UPDATE")
        return StatementKind::update;
    if (first == "DELETE")
        return StatementKind::remove;
    return StatementKind::other;
}

bool is_empty_statement_tail(std::string_view text)
{
    SqlTokens tokens(text);
    while (tokens.punctuation(';')) {
    }
    return tokens.at_end();
}

} // namespace qix::lite

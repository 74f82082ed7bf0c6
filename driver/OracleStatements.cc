#include "OracleStatements.h"

#include "Connection.h"
#include "Diagnostics.h"
#include "SqlText.h"

#include <string>

namespace qix::lite {

namespace {

// ALTER SESSION SET NLS_TIMESTAMP_FORMAT = '<format>': the format this connection renders and
// reads timestamp texts in.
OracleAction alter_session(std::string_view sql)
{
    const std::string expected =
        "Expected ALTER SESSION SET NLS_TIMESTAMP_FORMAT = '<format>', got: " + std::string(sql);
    SqlTokens tokens(sql);
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
    // The format itself is checked when the statement is executed, as the session takes it.
    return [format = std::move(*format)](Connection& connection) { connection.set_session_format(format); };
}

struct OracleStatement {
    // The leading keywords that recognise the statement, upper case, one blank between them.
    std::string_view keywords;
    OracleAction (*prepare)(std::string_view sql);
};

constexpr OracleStatement kOracleStatements[] = {
    {"ALTER SESSION", alter_session},
};

bool begins_with(std::string_view sql, std::string_view keywords)
{
    SqlTokens tokens(sql);
    while (!keywords.empty()) {
        const std::size_t blank = keywords.find(' ');
        if (tokens.word() != keywords.substr(0, blank))
            return false;
        keywords = blank == std::string_view::npos ? std::string_view() : keywords.substr(blank + 1);
    }
    return true;
}

} // namespace

OracleAction prepare_oracle_statement(std::string_view sql)
{
    for (const OracleStatement& statement : kOracleStatements)
        if (begins_with(sql, statement.keywords))
            return statement.prepare(sql);
    return {};
}

} // namespace qix::lite

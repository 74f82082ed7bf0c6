#include "targets.h"

#include <qix/sql/ConfigurationInterface.h>
#include <qix/util/exceptions.h>

#include <algorithm>
#include <string>

namespace qix::fuzz {

void field_name(std::string_view input)
{
    const auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
    const bool expected = !input.empty() && input.size() <= 128 && capital(input.front()) &&
                          std::all_of(input.begin(), input.end(),
                                      [&](char c) { return capital(c) || (c >= '0' && c <= '9') || c == '_'; });
    bool accepted = true;
    try {
        sql::detail::validate_field_name(std::string(input));
    } catch (const Error&) {
        accepted = false;
    }
    require(accepted == expected, "a name is accepted exactly when it is a plain upper-case identifier");
}

} // namespace qix::fuzz

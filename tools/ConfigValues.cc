#include "ConfigValues.h"

#include "Context.h"

#include <qix/sql/ConfigurationInterface.h>
#include <qix/util/tessel.h>

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace qix::tool {

namespace {

using qix::sql::ConfigurationDataValue;
using qix::sql::ConfigurationInterface;

constexpr const char* kNullWord = "null";

template <typename Number>
std::optional<Number> parse_number(const std::string& text)
{
    Number value{};
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

std::optional<qix::sql::time_point> parse_time(const std::string& text)
{
    // The library reads the fraction as microseconds; only well-formed timestamp text counts.
    const bool shaped = text.size() >= 19 && text[4] == '-' && text[7] == '-' && text[10] == ' ' && text[13] == ':';
    if (!shaped)
        return std::nullopt;
    try {
        return ConfigurationInterface::convert_string_to_time(text);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

} // namespace

ConfigurationDataValue parse_field_value(const std::string& text, char code, const std::string& field)
{
    if (text == kNullWord)
        return qix::sql::null_value{};
    auto fail = [&](const char* kind) {
        return UsageError(fmt::format("{} is not {} (field {} is of data type {})", text, kind, field, code));
    };
    switch (code) {
    case 'I':
    case 'R':
        if (auto value = parse_number<int>(text))
            return *value;
        throw fail("an integer");
    case 'F':
        if (auto value = parse_number<double>(text))
            return *value;
        throw fail("a number");
    case 'T':
        if (auto value = parse_time(text))
            return *value;
        throw fail("timestamp text (YYYY-MM-DD HH:MM:SS.ffffff)");
    default: return text;
    }
}

ConfigurationDataValue guess_value(const std::string& text)
{
    if (text == kNullWord)
        return qix::sql::null_value{};
    if (auto value = parse_number<int>(text))
        return *value;
    if (auto value = parse_number<double>(text))
        return *value;
    if (auto value = parse_time(text))
        return *value;
    return text;
}

qix::sql::ConfigurationDataValueMap parse_assignments(const std::vector<std::string>& assignments,
                                                      const qix::sql::ConfigurationFieldMap& fields,
                                                      const std::string& type)
{
    qix::sql::ConfigurationDataValueMap values;
    for (const auto& assignment : assignments) {
        const auto equals = assignment.find('=');
        if (equals == std::string::npos)
            throw UsageError(fmt::format("{} is not of the form FIELD=VALUE", assignment));
        const std::string name = tessel::uppercase_ascii(assignment.substr(0, equals));
        const auto field = fields.find(name);
        if (field == fields.end()) {
            std::vector<std::string> names;
            for (const auto* f : fields_by_id(fields))
                names.push_back(f->name_);
            throw UsageError(
                fmt::format("Type {} has no field {} (its fields: {})", type, name, fmt::join(names, " ")));
        }
        values[name] = parse_field_value(assignment.substr(equals + 1), field->second.data_type_, name);
    }
    return values;
}

Value to_cell(const ConfigurationDataValue& value)
{
    struct Visitor {
        Value operator()(qix::sql::null_value) const { return std::monostate{}; }
        Value operator()(int v) const { return static_cast<std::int64_t>(v); }
        Value operator()(double v) const { return v; }
        Value operator()(const qix::sql::time_point& v) const
        {
            return ConfigurationInterface::convert_time_to_string(v);
        }
        Value operator()(const std::string& v) const { return v; }
    };
    return std::visit(Visitor{}, value);
}

Value to_cell(const std::optional<std::string>& text) { return text ? Value(*text) : Value(std::monostate{}); }

Value to_cell(const std::optional<qix::sql::time_point>& time)
{
    return time ? Value(ConfigurationInterface::convert_time_to_string(*time)) : Value(std::monostate{});
}

std::vector<const qix::sql::ConfigurationField*> fields_by_id(const qix::sql::ConfigurationFieldMap& fields)
{
    std::vector<const qix::sql::ConfigurationField*> ordered;
    for (const auto& [name, field] : fields)
        ordered.push_back(&field);
    std::stable_sort(ordered.begin(), ordered.end(), [](auto* a, auto* b) { return a->id_ < b->id_; });
    return ordered;
}

} // namespace qix::tool

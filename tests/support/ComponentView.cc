#include "ComponentView.h"

#include <qix/sql/ComponentFields.h>

#include <charconv>
#include <type_traits>

namespace qix::test {

namespace {

namespace fields = sql::component_fields;

template <class Field>
constexpr bool kIsText = std::is_same_v<std::decay_t<Field>, sql::ComponentTextField>;

// Every field in the view's order, each as `format(field)` after ", ".
template <class Format>
std::string field_list(Format format)
{
    std::string text;
    fields::for_each_in_view_order([&](const auto& field) { text.append(", ").append(format(field)); });
    return text;
}

std::string quoted(const std::string& text)
{
    std::string literal = "'";
    for (const char c : text)
        literal.append(c == '\'' ? 2 : 1, c);
    return literal + "'";
}

// The shortest text that reads back as `value`.
std::string number(double value)
{
    char text[32];
    return {text, std::to_chars(text, text + sizeof text, value).ptr};
}

} // namespace

std::string component_table(const std::string& table, const std::string& flag_columns)
{
    return "CREATE TABLE VEDUV." + table + " (POS INTEGER PRIMARY KEY" + field_list([](const auto& field) {
               return std::string(field.column) + (kIsText<decltype(field)> ? " TEXT" : " DOUBLE PRECISION");
           }) +
           flag_columns + ")";
}

std::string component_view(const std::string& facility, const std::string& table, const std::string& flag_columns,
                           RowOrder order)
{
    return "CREATE VIEW VEDUV." + facility + "_VIEW_COMPONENTS AS SELECT " +
           field_list([](const auto& field) { return std::string(field.column); }).substr(2) + flag_columns +
           " FROM VEDUV." + table + (order == RowOrder::by_pos ? " ORDER BY POS" : "");
}

std::string component_row(const std::string& table, int pos, const sql::Component& component, Nulls nulls,
                          const std::vector<std::string>& flags)
{
    std::string row = "INSERT INTO VEDUV." + table + " VALUES (" + std::to_string(pos);
    row += field_list([&](const auto& field) {
        const auto& value = component.*field.member;
        if (nulls == Nulls::for_defaults && value == std::decay_t<decltype(value)>{})
            return std::string("NULL");
        if constexpr (kIsText<decltype(field)>)
            return quoted(value);
        else
            return number(value);
    });
    if (flags.empty())
        for (const bool flag : component.flags_)
            row += flag ? ", 1" : ", 0";
    for (const std::string& flag : flags)
        row += ", " + flag;
    return row + ")";
}

} // namespace qix::test

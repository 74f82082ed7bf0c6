#include <qix/sql/ConfigurationInterface.h>

#include <qix/sql/Database.h>
#include <qix/sql/Query.h>
#include <qix/util/exceptions.h>
#include <qix/util/tessel.h>

#include "configuration_rows.h"
#include "data_rows.h"

#include <algorithm>
#include <locale>
#include <regex>
#include <sstream>
#include <string_view>
#include <vector>

namespace qix::sql {

namespace {

using detail::bind_int;
using detail::bind_text;
using detail::bind_values;
using detail::ColumnKind;
using detail::DataColumn;
using detail::first_item;
using detail::pick_written_fields;
using detail::read_field_row;
using detail::read_item_row;
using detail::read_type_row;
using detail::send_statement;
using detail::TimeTexts;

constexpr std::string_view kTimestampFormatOracle = "YYYY-MM-DD HH24:MI:SS.FF";
// Oracle's longest identifier; longer names cannot name a column, and the regex engine
// recurses once per character, so an unbounded name could exhaust the stack.
constexpr std::size_t kMaxNameLength = 128;

constexpr const char* kTypeNameEmpty = "Type name cannot be empty.";
constexpr const char* kInvalidFieldName = "Invalid field name";
constexpr std::string_view kItemSelect =
    "SELECT TYPE_ID, TYPE_NAME, PUBLIC_ID, ITEM_NAME, ITEM_DESCR, ITEM_FACILITY, LAST_SEEN, LAST_MODIFIED FROM ";

// ---- names -------------------------------------------------------------------------------

bool is_field_name(const std::string& name)
{
    // Compiled on first use; the runtime makes that initialisation thread-safe.
    static const std::regex base_regex("[A-Z][A-Z0-9_]*", std::regex::ECMAScript);
    return name.size() <= kMaxNameLength && std::regex_match(name, base_regex);
}

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// An unquoted Oracle identifier: the schema name goes into every statement text as it is.
bool is_schema_name(const std::string& name)
{
    return !name.empty() && is_ascii_letter(name.front()) && std::all_of(name.begin(), name.end(), [](char c) {
        return is_ascii_letter(c) || is_ascii_digit(c) || c == '_' || c == '$' || c == '#';
    });
}

std::vector<std::string> field_names(const ConfigurationFieldMap& fields)
{
    std::vector<std::string> names;
    names.reserve(fields.size());
    for (const auto& [name, field] : fields)
        names.push_back(field.name_);
    return names;
}

std::string assignment(const std::string& name) { return tessel::cat(name, " = ?"); }

std::string format_number(const auto& value)
{
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << value;
    return stream.str();
}

// Field names go into statement texts as column names: every one of them is checked before
// any statement is built.
void check_field_names(const ConfigurationFieldMap& fields)
{
    for (const auto& [key, field] : fields)
        if (!is_field_name(field.name_))
            throw Error(kInvalidFieldName);
}

// How a data column is read, worked out once per call from the field (its name is checked).
DataColumn data_column(const ConfigurationField& field)
{
    switch (field.data_type_) {
    case 'I':
    case 'R': return {field.name_, ColumnKind::integer, {}};
    case 'F': return {field.name_, ColumnKind::real, {}};
    case 'T': return {field.name_, ColumnKind::time, {}};
    case 'B':
    case 'C': return {field.name_, ColumnKind::text, {}};
    default: return {field.name_, ColumnKind::failing, "Data type not implemented"};
    }
}

} // namespace

namespace detail {

void validate_field_name(const std::string& field_name)
{
    if (!is_field_name(field_name))
        throw Error(kInvalidFieldName);
}

} // namespace detail

// ---- construction ------------------------------------------------------------------------

ConfigurationInterface::ConfigurationInterface(Database& db, const std::string& schema_name)
    : database_(db), schema_name_(schema_name)
{
    if (schema_name_.empty())
        throw Error("Schema name cannot be empty.");
    if (!is_schema_name(schema_name_))
        throw Error(tessel::cat("Invalid schema name: ", schema_name_));
    static_cast<void>(database_.execute_query<>(
        tessel::cat("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = '", kTimestampFormatOracle, '\'')));
}

// ---- types and fields ---------------------------------------------------------------------

std::string ConfigurationInterface::view_name(const std::string& view) const
{
    return tessel::cat(schema_name_, '.', view);
}

std::string ConfigurationInterface::data_view_name(const std::string& type_name) const
{
    return tessel::cat(schema_name_, ".CM_VIEW_DATA_", type_name);
}

ConfigurationTypeMap ConfigurationInterface::read_types()
{
    Query query = database_.send_query(
        tessel::cat("SELECT TYPE_ID, TYPE_NAME, TYPE_DESCR, TYPE_FACILITY, TYPE_CATEGORY, KELVA_GROUP FROM ",
                    view_name("CM_VIEW_TYPES")));
    ConfigurationTypeMap types;
    while (query.fetch()) {
        auto type = read_type_row(query);
        const std::string name = type.name_;
        if (!types.try_emplace(name, std::move(type)).second)
            throw Error(tessel::cat("Duplicate type name found: ", name));
    }
    return types;
}

ConfigurationFieldMap ConfigurationInterface::read_fields(const std::string& type_name)
{
    if (type_name.empty())
        throw Error(kTypeNameEmpty);
    Query query = database_.get_query(
        tessel::cat("SELECT TYPE_ID, TYPE_NAME, FIELD_ID, FIELD_NAME, FIELD_DESCR, DATA_TYPE, REF_TYPE_ID, "
                    "REF_TYPE_NAME, UNIT_NAME, HIDDEN_FLAG, NAME_FLAG, FACILITY_FLAG, ALLOW_NULL_FLAG FROM ",
                    view_name("CM_MVIEW_FIELDS"), " WHERE TYPE_NAME = ?"));
    detail::validate_field_name(type_name);
    bind_text(query, 1, type_name);
    query.send();
    ConfigurationFieldMap fields;
    while (query.fetch()) {
        auto field = read_field_row(query);
        const std::string name = field.name_;
        if (!fields.try_emplace(name, std::move(field)).second)
            throw Error(tessel::cat("Duplicate field name found: ", name));
    }
    return fields;
}

// ---- items --------------------------------------------------------------------------------

ConfigurationItemList ConfigurationInterface::read_items(const std::string& type_name, const std::string& item_facility)
{
    if (type_name.empty())
        throw Error(kTypeNameEmpty);
    std::string sql = tessel::cat(kItemSelect, view_name("CM_VIEW_ITEMS"), " WHERE TYPE_NAME = ?");
    if (!item_facility.empty())
        sql += " AND ITEM_FACILITY = ?";
    Query query = database_.get_query(sql);
    detail::validate_field_name(type_name);
    bind_text(query, 1, type_name);
    if (!item_facility.empty())
        bind_text(query, 2, item_facility);
    query.send();
    ConfigurationItemList items;
    while (query.fetch())
        items.push_back(read_item_row(query));
    return items;
}

ConfigurationItem ConfigurationInterface::read_item(const std::string& type_name, const std::string& item_name)
{
    if (type_name.empty())
        throw Error(kTypeNameEmpty);
    if (item_name.empty())
        throw Error("Item name cannot be empty.");
    Query query = database_.get_query(
        tessel::cat(kItemSelect, view_name("CM_VIEW_ITEMS"), " WHERE TYPE_NAME = ? AND ITEM_NAME = ?"));
    detail::validate_field_name(type_name);
    bind_text(query, 1, type_name);
    bind_text(query, 2, item_name);
    return first_item(query);
}

ConfigurationItem ConfigurationInterface::read_item(const std::string& type_name, int public_id)
{
    if (type_name.empty())
        throw Error(kTypeNameEmpty);
    if (public_id < 0)
        return {};
    Query query = database_.get_query(
        tessel::cat(kItemSelect, view_name("CM_VIEW_ITEMS"), " WHERE TYPE_NAME = ? AND PUBLIC_ID = ?"));
    detail::validate_field_name(type_name);
    bind_text(query, 1, type_name);
    bind_int(query, 2, public_id);
    return first_item(query);
}

// ---- data rows ----------------------------------------------------------------------------

ConfigurationInterface::DataResult ConfigurationInterface::read_data(const std::string& type_name,
                                                                     const std::string& filter,
                                                                     const ConfigurationDataValueList& filter_params)
{
    if (type_name.empty())
        throw Error(kTypeNameEmpty);
    DataResult result{{}, read_fields(type_name)};
    const ConfigurationFieldMap& fields = result.second;
    check_field_names(fields);
    // "SELECT PUBLIC_ID,  FROM ..." would only come back as the driver's syntax error.
    if (fields.empty())
        throw Error(tessel::cat("Type ", type_name, " has no fields in schema ", schema_name_));
    std::string sql =
        tessel::cat("SELECT PUBLIC_ID, ", tessel::join(field_names(fields), ", "), " FROM ", data_view_name(type_name));
    if (!filter.empty())
        sql += tessel::cat(" WHERE (", filter, ')');
    TimeTexts time_texts;
    Query query = database_.get_query(sql);
    if (!filter.empty())
        bind_values(query, filter_params, time_texts);
    query.send();
    std::vector<detail::DataColumn> columns;
    columns.reserve(fields.size());
    for (const auto& [key, field] : fields)
        columns.push_back(data_column(field));
    detail::read_data_rows(query, type_name, columns, result.first);
    return result;
}

ConfigurationInterface::DataResult ConfigurationInterface::read_data(const std::string& type_name,
                                                                     const ConfigurationDataValueMap& filter_values)
{
    std::vector<std::string> conditions;
    ConfigurationDataValueList values;
    for (const auto& [name, value] : filter_values) {
        detail::validate_field_name(name);
        conditions.push_back(assignment(name));
        values.push_back(value);
    }
    return read_data(type_name, tessel::join(conditions, " AND "), values);
}

ConfigurationInterface::DataResult ConfigurationInterface::read_data(const std::string& type_name, int public_id,
                                                                     int version_id)
{
    std::vector<std::string> conditions;
    ConfigurationDataValueList values;
    if (public_id >= 0) {
        conditions.emplace_back("PUBLIC_ID = ?");
        values.emplace_back(public_id);
    }
    if (version_id >= 0) {
        conditions.emplace_back("VERSION_ID = ?");
        values.emplace_back(version_id);
    }
    return read_data(type_name, tessel::join(conditions, " AND "), values);
}

void ConfigurationInterface::add_data(const std::string& type_name, const ConfigurationDataValueMap& data)
{
    if (type_name.empty())
        throw Error(kTypeNameEmpty);
    if (data.empty())
        return;
    const auto fields = read_fields(type_name);
    check_field_names(fields);
    const auto written = pick_written_fields(fields, data);
    const std::vector<std::string> placeholders(written.names.size(), "?");
    send_statement(database_,
                   tessel::cat("INSERT INTO ", data_view_name(type_name), " (", tessel::join(written.names, ", "),
                               ") VALUES (", tessel::join(placeholders, ", "), ')'),
                   written.values, nullptr);
}

void ConfigurationInterface::update_data(const std::string& type_name, std::int32_t public_id,
                                         const ConfigurationDataValueMap& data)
{
    if (type_name.empty())
        throw Error(kTypeNameEmpty);
    if (data.empty() || public_id < 0)
        return;
    const auto fields = read_fields(type_name);
    check_field_names(fields);
    const auto written = pick_written_fields(fields, data);
    std::vector<std::string> assignments;
    for (const auto& name : written.names)
        assignments.push_back(assignment(name));
    send_statement(database_,
                   tessel::cat("UPDATE ", data_view_name(type_name), " SET ", tessel::join(assignments, ", "),
                               " WHERE PUBLIC_ID = ?"),
                   written.values, &public_id);
}

void ConfigurationInterface::delete_data(const std::string& type_name, std::int32_t public_id)
{
    if (type_name.empty())
        throw Error(kTypeNameEmpty);
    if (public_id < 0)
        return;
    // The type name goes into the statement text, so it gets the same check as everywhere else.
    detail::validate_field_name(type_name);
    send_statement(database_, tessel::cat("DELETE FROM ", data_view_name(type_name), " WHERE PUBLIC_ID = ?"), {},
                   &public_id);
}

// ---- item names ---------------------------------------------------------------------------

namespace {

std::string segment_text(const ConfigurationDataValue& value)
{
    if (const auto* number = std::get_if<int>(&value))
        return format_number(*number);
    if (const auto* real = std::get_if<double>(&value))
        return format_number(*real);
    if (const auto* time = std::get_if<time_point>(&value))
        return ConfigurationInterface::convert_time_to_string(*time);
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    return {};
}

} // namespace

std::string ConfigurationInterface::make_item_name(const ConfigurationDataValueMap& data,
                                                   const ConfigurationFieldMap& fields)
{
    if (fields.empty())
        throw Error("Fields cannot be empty.");
    if (data.empty())
        return {};
    std::vector<const ConfigurationField*> by_id;
    by_id.reserve(fields.size());
    for (const auto& [key, field] : fields)
        by_id.push_back(&field);
    std::sort(by_id.begin(), by_id.end(), [](const auto* a, const auto* b) { return a->id_ < b->id_; });
    const int type_id = by_id.front()->type_id_;
    std::string name;
    for (const ConfigurationField* field : by_id) {
        if (field->type_id_ != type_id)
            throw Error("Multiple item types are not allowed.");
        if (!field->name_flag_ || field->data_type_ == 'B')
            continue;
        if (const auto value = data.find(field->name_); value != data.end())
            name += tessel::cat('/', segment_text(value->second));
    }
    // Drop the leading "/"; when no field contributed there is none.
    return name.empty() ? name : name.substr(1);
}

std::string ConfigurationInterface::make_item_name(const ConfigurationDataValueMap& data, const std::string& type_name)
{
    if (data.empty())
        return {};
    return make_item_name(data, read_fields(type_name));
}

} // namespace qix::sql

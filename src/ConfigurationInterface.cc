#include <qix/sql/ConfigurationInterface.h>

#include <qix/sql/Database.h>
#include <qix/sql/Query.h>
#include <qix/util/exceptions.h>
#include <qix/util/tessel.h>

#include "data_rows.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <iomanip>
#include <locale>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace qix::sql {

namespace {

using detail::ColumnKind;
using detail::DataColumn;

constexpr std::string_view kTimestampFormatOracle = "YYYY-MM-DD HH24:MI:SS.FF";
constexpr const char* kTimestampFormatCpp = "%Y-%m-%d %H:%M:%S";
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
// Oracle's longest identifier; longer names cannot name a column, and the regex engine
// recurses once per character, so an unbounded name could exhaust the stack.
constexpr std::size_t kMaxNameLength = 128;

constexpr const char* kTypeNameEmpty = "Type name cannot be empty.";
constexpr const char* kInvalidFieldName = "Invalid field name";
constexpr const char* kParseTimeFailed = "Failed to parse time string";
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
    return !name.empty() && is_ascii_letter(name.front()) &&
           std::all_of(name.begin(), name.end(), [](char c) {
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

// ---- timestamp text ----------------------------------------------------------------------

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads `length` digits at `pos` as a number; -1 when one of them is not a digit.
int digits_at(std::string_view text, std::size_t pos, std::size_t length)
{
    int value = 0;
    for (std::size_t i = pos; i < pos + length; ++i) {
        if (!is_ascii_digit(text[i]))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The common, strict form "YYYY-MM-DD HH:MM:SS" without a stream or timegm, with the ranges
// std::get_time accepts; a day past the month's end runs on into the next month, as timegm
// has it. Returns the length read, or 0 when the text needs the general parser.
std::size_t parse_strict_calendar(std::string_view text, std::int64_t& seconds)
{
    constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
    if (text.size() < kShape.size())
        return 0;
    for (std::size_t i = 0; i < kShape.size(); ++i)
        if (kShape[i] != 'd' && text[i] != kShape[i])
            return 0;
    const int year = digits_at(text, 0, 4), month = digits_at(text, 5, 2), day = digits_at(text, 8, 2);
    const int hour = digits_at(text, 11, 2), minute = digits_at(text, 14, 2), second = digits_at(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return 0;
    const std::chrono::sys_days first_of_month =
        std::chrono::year(year) / std::chrono::month(static_cast<unsigned>(month)) / 1;
    const std::int64_t days = first_of_month.time_since_epoch().count() + day - 1;
    seconds = ((days * 24 + hour) * 60 + minute) * 60 + second;
    return kShape.size();
}

// Any other text goes through std::get_time and timegm. Returns the length read; throws when
// the text does not match.
std::size_t parse_general_calendar(const std::string& text, std::int64_t& seconds)
{
    // std::get_time stops quietly where its input ends, which would pass "2024-01" as the
    // zeroth day of January. A sentinel that no part of the format accepts makes a text that
    // ends early fail like any other mismatch.
    std::istringstream stream(text + '|');
    stream.imbue(std::locale::classic());
    std::tm fields{};
    stream >> std::get_time(&fields, kTimestampFormatCpp);
    if (stream.fail())
        throw std::runtime_error(kParseTimeFailed);
    fields.tm_isdst = 0;
    seconds = timegm(&fields);
    return static_cast<std::size_t>(stream.tellg());
}

// Nanoseconds of the fraction after the seconds: "." (white space around it allowed) and
// digits read as a decimal fraction of a second, of which the first nine count. Anything
// else means no fraction.
std::int64_t parse_fraction(std::string_view rest)
{
    const auto skip_space = [&rest] {
        while (!rest.empty() && is_c_space(rest.front()))
            rest.remove_prefix(1);
    };
    skip_space();
    if (rest.empty() || rest.front() != '.')
        return 0;
    rest.remove_prefix(1);
    skip_space();
    std::int64_t nanos = 0;
    std::int64_t scale = kNanosPerSecond;
    for (std::size_t i = 0; i < rest.size() && is_ascii_digit(rest[i]) && scale > 1; ++i) {
        scale /= 10;
        nanos += (rest[i] - '0') * scale;
    }
    return nanos;
}

std::string format_number(const auto& value)
{
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << value;
    return stream.str();
}

// ---- binding -----------------------------------------------------------------------------

// Texts made for time-point parameters. A deque never moves its elements as it grows, so
// each text stays where the driver was told it is until the statement has been sent.
using TimeTexts = std::deque<std::string>;
using ValueRefs = std::vector<std::reference_wrapper<const ConfigurationDataValue>>;

void bind_text(Query& query, int param_idx, const std::string& text)
{
    query.bind_parameter<char>(param_idx, text.data(), text.size(), ParameterOption::none);
}

void bind_int(Query& query, int param_idx, const int& value)
{
    query.bind_parameter<int>(param_idx, &value, 1, ParameterOption::none);
}

// Binds one value as input parameter `param_idx` by the alternative it holds. The driver
// reads the buffers only when the statement is sent: numbers and strings are bound where
// they are, a time point as its own text kept in `time_texts`.
void bind_value(Query& query, int param_idx, const ConfigurationDataValue& value, TimeTexts& time_texts)
{
    if (std::holds_alternative<null_value>(value))
        query.bind_parameter(param_idx, nullptr);
    else if (const auto* number = std::get_if<int>(&value))
        bind_int(query, param_idx, *number);
    else if (const auto* real = std::get_if<double>(&value))
        query.bind_parameter<double>(param_idx, real, 1, ParameterOption::none);
    else if (const auto* time = std::get_if<time_point>(&value))
        bind_text(query, param_idx, time_texts.emplace_back(ConfigurationInterface::convert_time_to_string(*time)));
    else
        bind_text(query, param_idx, std::get<std::string>(value));
}

// Binds `values` as parameters 1 to n and returns n + 1.
template <typename Values>
int bind_values(Query& query, const Values& values, TimeTexts& time_texts)
{
    int param_idx = 1;
    for (const ConfigurationDataValue& value : values)
        bind_value(query, param_idx++, value, time_texts);
    return param_idx;
}

// Sends a data-changing statement with `values` as its first parameters and, if given,
// the public id as the last one.
void send_statement(Database& db, const std::string& sql, const ValueRefs& values, const std::int32_t* public_id)
{
    TimeTexts time_texts;
    Query query = db.get_query(sql);
    const int next_idx = bind_values(query, values, time_texts);
    if (public_id != nullptr)
        bind_int(query, next_idx, *public_id);
    query.send();
}

// The fields of the map that `data` has values for, in field-name order.
struct WrittenFields {
    std::vector<std::string> names;
    ValueRefs values;
};

WrittenFields pick_written_fields(const ConfigurationFieldMap& fields, const ConfigurationDataValueMap& data)
{
    WrittenFields written;
    for (const auto& [key, field] : fields) {
        if (const auto value = data.find(field.name_); value != data.end()) {
            written.names.push_back(field.name_);
            written.values.emplace_back(value->second);
        }
    }
    return written;
}

// ---- reading rows ------------------------------------------------------------------------

std::optional<std::string> optional_text(Query& query, int column)
{
    bool was_null = false;
    auto text = query.get_column_as_string(column, &was_null);
    return was_null ? std::nullopt : std::optional<std::string>(std::move(text));
}

std::optional<time_point> optional_time(Query& query, int column)
{
    const auto text = optional_text(query, column);
    return text ? std::optional<time_point>(ConfigurationInterface::convert_string_to_time(*text)) : std::nullopt;
}

ConfigurationType read_type_row(Query& query)
{
    ConfigurationType type;
    type.id_ = query.get_column_as_int32_t(1);
    type.name_ = query.get_column_as_string(2);
    type.descr_ = optional_text(query, 3);
    type.facility_ = optional_text(query, 4);
    type.category_ = optional_text(query, 5);
    type.kelva_group_ = optional_text(query, 6);
    return type;
}

ConfigurationField read_field_row(Query& query)
{
    ConfigurationField field;
    field.type_id_ = query.get_column_as_int32_t(1);
    field.type_name_ = query.get_column_as_string(2);
    field.id_ = query.get_column_as_int32_t(3);
    field.name_ = query.get_column_as_string(4);
    field.descr_ = query.get_column_as_string(5);
    const auto code = query.get_column_as_string(6);
    field.data_type_ = code.empty() ? '\0' : code.front();
    bool was_null = false;
    const auto ref_type_id = query.get_column_as_int32_t(7, &was_null);
    if (!was_null)
        field.ref_type_id_ = ref_type_id;
    field.ref_type_name_ = optional_text(query, 8);
    field.unit_name_ = optional_text(query, 9);
    field.hidden_flag_ = query.get_column_as_int32_t(10) != 0;
    field.name_flag_ = query.get_column_as_int32_t(11) != 0;
    field.facility_flag_ = query.get_column_as_int32_t(12) != 0;
    field.allow_null_flag_ = query.get_column_as_int32_t(13) != 0;
    return field;
}

ConfigurationItem read_item_row(Query& query)
{
    ConfigurationItem item;
    item.type_id_ = query.get_column_as_int32_t(1);
    item.type_name_ = query.get_column_as_string(2);
    item.id_ = query.get_column_as_int32_t(3);
    item.name_ = query.get_column_as_string(4);
    item.descr_ = optional_text(query, 5);
    item.facility_ = optional_text(query, 6);
    item.last_seen_ = optional_time(query, 7);
    item.last_modified_ = optional_time(query, 8);
    return item;
}

// Sends `query` (parameters bound) and returns the item of its first row or a default item.
ConfigurationItem first_item(Query& query)
{
    query.send();
    return query.fetch() ? read_item_row(query) : ConfigurationItem{};
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
    case 'R':
        return {field.name_, ColumnKind::integer, {}};
    case 'F':
        return {field.name_, ColumnKind::real, {}};
    case 'T':
        return {field.name_, ColumnKind::time, {}};
    case 'B':
    case 'C':
        return {field.name_, ColumnKind::text, {}};
    default:
        return {field.name_, ColumnKind::failing, "Data type not implemented"};
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

// ---- construction and time conversion ------------------------------------------------------

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

time_point ConfigurationInterface::convert_string_to_time(const std::string& ts)
{
    std::int64_t seconds = 0;
    std::size_t length = parse_strict_calendar(ts, seconds);
    if (length == 0)
        length = parse_general_calendar(ts, seconds);
    std::int64_t nanos = parse_fraction(std::string_view(ts).substr(length));
    // Before 1970 count back from the next second, so that the first second that 64-bit
    // nanoseconds reach (in 1677) does not overflow on the way.
    if (seconds < 0 && nanos > 0) {
        ++seconds;
        nanos -= kNanosPerSecond;
    }
    std::int64_t ticks = 0;
    if (__builtin_mul_overflow(seconds, kNanosPerSecond, &ticks) || __builtin_add_overflow(ticks, nanos, &ticks))
        throw std::runtime_error(kParseTimeFailed);
    return time_point(time_point::duration(ticks));
}

std::string ConfigurationInterface::convert_time_to_string(const time_point& tp)
{
    const std::int64_t ticks = tp.time_since_epoch().count();
    // Floor division, so that instants before 1970 fall into the right second.
    std::int64_t seconds = ticks / kNanosPerSecond;
    std::int64_t nanos = ticks % kNanosPerSecond;
    if (nanos < 0) {
        --seconds;
        nanos += kNanosPerSecond;
    }
    const std::time_t whole = seconds;
    std::tm fields{};
    // Cannot fail: every 64-bit nanosecond count lies between the years 1677 and 2262.
    static_cast<void>(gmtime_r(&whole, &fields));
    char text[48];
    std::size_t length = std::strftime(text, sizeof text, kTimestampFormatCpp, &fields);
    length += static_cast<std::size_t>(
        std::snprintf(text + length, sizeof text - length, ".%06d", static_cast<int>(nanos / 1000)));
    return std::string(text, length);
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

ConfigurationItemList ConfigurationInterface::read_items(const std::string& type_name,
                                                         const std::string& item_facility)
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
    Query query = database_.get_query(tessel::cat(kItemSelect, view_name("CM_VIEW_ITEMS"),
                                                  " WHERE TYPE_NAME = ? AND ITEM_NAME = ?"));
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
    Query query = database_.get_query(tessel::cat(kItemSelect, view_name("CM_VIEW_ITEMS"),
                                                  " WHERE TYPE_NAME = ? AND PUBLIC_ID = ?"));
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
    detail::read_data_rows(query.statement(), type_name, columns, result.first);
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

#include "configuration_rows.h"

#include <optional>
#include <utility>

namespace qix::sql::detail {

namespace {

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

} // namespace

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

void send_statement(Database& db, const std::string& sql, const ValueRefs& values, const std::int32_t* public_id)
{
    TimeTexts time_texts;
    Query query = db.get_query(sql);
    const int next_idx = bind_values(query, values, time_texts);
    if (public_id != nullptr)
        bind_int(query, next_idx, *public_id);
    query.send();
}

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

ConfigurationItem first_item(Query& query)
{
    query.send();
    return query.fetch() ? read_item_row(query) : ConfigurationItem{};
}

} // namespace qix::sql::detail

#pragma once

// Parameters of the configuration interface's statements, and the rows of its type, field and
// item views.

#include <qix/sql/ConfigurationInterface.h>
#include <qix/sql/Database.h>
#include <qix/sql/Query.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace qix::sql::detail {

// Texts made for time-point parameters. A deque never moves its elements as it grows, so
// each text stays where the driver was told it is until the statement has been sent.
using TimeTexts = std::deque<std::string>;
using ValueRefs = std::vector<std::reference_wrapper<const ConfigurationDataValue>>;

void bind_text(Query& query, int param_idx, const std::string& text);
void bind_int(Query& query, int param_idx, const int& value);
/// Binds one value as input parameter `param_idx` by the alternative it holds; a time point is
/// bound as its own text kept in `time_texts`.
void bind_value(Query& query, int param_idx, const ConfigurationDataValue& value, TimeTexts& time_texts);

// Binds `values` as parameters 1 to n and returns n + 1.
template <typename Values>
int bind_values(Query& query, const Values& values, TimeTexts& time_texts)
{
    int param_idx = 1;
    for (const ConfigurationDataValue& value : values)
        bind_value(query, param_idx++, value, time_texts);
    return param_idx;
}

/// Sends a data-changing statement with `values` as its first parameters and, if given, the
/// public id as the last one.
void send_statement(Database& db, const std::string& sql, const ValueRefs& values, const std::int32_t* public_id);

// The fields of the map that `data` has values for, in field-name order.
struct WrittenFields {
    std::vector<std::string> names;
    ValueRefs values;
};

[[nodiscard]] WrittenFields pick_written_fields(const ConfigurationFieldMap& fields,
                                                const ConfigurationDataValueMap& data);

[[nodiscard]] ConfigurationType read_type_row(Query& query);
[[nodiscard]] ConfigurationField read_field_row(Query& query);
[[nodiscard]] ConfigurationItem read_item_row(Query& query);
/// Sends `query` (parameters bound) and returns the item of its first row or a default item.
[[nodiscard]] ConfigurationItem first_item(Query& query);

} // namespace qix::sql::detail

#pragma once

#include "Output.h"

#include <qix/sql/ConfigurationTypes.h>

#include <string>
#include <vector>

// Field values between the command line, the configuration interface and the output tables.
namespace qix::tool {

/// The value `text` stands for in a field of data type code `code`: an integer for I and R, a
/// number for F, timestamp text for T, text otherwise; the word null is NULL. Throws UsageError
/// for text that is no value of that kind.
[[nodiscard]] qix::sql::ConfigurationDataValue parse_field_value(const std::string& text, char code,
                                                                 const std::string& field);

/// The value of a --param, which has no field to give it a kind: null, an integer, a number or
/// timestamp text when it reads as one, otherwise text.
[[nodiscard]] qix::sql::ConfigurationDataValue guess_value(const std::string& text);

/// FIELD=VALUE arguments typed by the fields of `type`; field names in any letter case. Throws
/// UsageError for a malformed argument or a field the type does not have.
[[nodiscard]] qix::sql::ConfigurationDataValueMap parse_assignments(const std::vector<std::string>& assignments,
                                                                    const qix::sql::ConfigurationFieldMap& fields,
                                                                    const std::string& type);

/// The output cell of a value; time points become timestamp text.
[[nodiscard]] Value to_cell(const qix::sql::ConfigurationDataValue& value);

/// The output cell of an optional text or time.
[[nodiscard]] Value to_cell(const std::optional<std::string>& text);
[[nodiscard]] Value to_cell(const std::optional<qix::sql::time_point>& time);

/// The fields of a type in field-id order (ties by name), the order in which they are shown.
[[nodiscard]] std::vector<const qix::sql::ConfigurationField*>
fields_by_id(const qix::sql::ConfigurationFieldMap& fields);

} // namespace qix::tool

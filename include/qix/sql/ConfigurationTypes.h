#pragma once

#include <qix/util/export.h>

#include <chrono>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

// Plain value records of the configuration-management views: types, fields, items and data
// rows, with the value variant that carries one field value.
namespace qix::sql {

/// The alternative of a field value that stands for SQL NULL.
using null_value = std::monostate;

/// An instant in UTC with nanosecond ticks; tick 0 is 1970-01-01 00:00:00 UTC.
using time_point = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

/// One field value. The order of the alternatives is part of the interface.
using ConfigurationDataValue = std::variant<null_value, int, double, time_point, std::string>;

using ConfigurationDataValueMap = std::map<std::string, ConfigurationDataValue>;
using ConfigurationDataValueList = std::vector<ConfigurationDataValue>;

/// One row of CM_VIEW_TYPES.
struct ConfigurationType {
    int id_ = -1;
    std::string name_;
    std::optional<std::string> descr_;
    std::optional<std::string> facility_;
    std::optional<std::string> category_;
    std::optional<std::string> kelva_group_;
};

/// One row of CM_MVIEW_FIELDS. `data_type_` is the one-character code that decides how the
/// field's column is read ('I', 'R', 'F', 'T', 'C', 'B'), '\0' when the column is empty.
struct ConfigurationField {
    int type_id_ = -1;
    std::string type_name_;
    int id_ = -1;
    std::string name_;
    std::string descr_;
    char data_type_ = '\0';
    std::optional<int> ref_type_id_;
    std::optional<std::string> ref_type_name_;
    std::optional<std::string> unit_name_;
    bool hidden_flag_ = false;
    bool name_flag_ = false;
    bool facility_flag_ = false;
    bool allow_null_flag_ = false;
};

/// One row of CM_VIEW_ITEMS. A default item (`id_` == -1) means "no such item".
struct ConfigurationItem {
    int type_id_ = -1;
    std::string type_name_;
    int id_ = -1;
    std::string name_;
    std::optional<std::string> descr_;
    std::optional<std::string> facility_;
    std::optional<time_point> last_seen_;
    std::optional<time_point> last_modified_;
};

/// One row of a type's data view: the item's public id and one value per field name.
struct ConfigurationData {
    int id_ = -1;
    ConfigurationDataValueMap fields_;
};

using ConfigurationTypeMap = std::map<std::string, ConfigurationType>;
using ConfigurationFieldMap = std::map<std::string, ConfigurationField>;
using ConfigurationItemList = std::vector<ConfigurationItem>;
using ConfigurationDataList = std::vector<ConfigurationData>;

/// Member-wise equality. Optionals are equal only when both are empty or both hold equal
/// values; values are equal only when they hold the same alternative and equal values (so a
/// NaN double makes a row unequal to itself). Time points compare by tick count.
[[nodiscard]] QIX_SQL_API bool operator==(const ConfigurationType& lhs, const ConfigurationType& rhs);
[[nodiscard]] QIX_SQL_API bool operator==(const ConfigurationField& lhs, const ConfigurationField& rhs);
[[nodiscard]] QIX_SQL_API bool operator==(const ConfigurationItem& lhs, const ConfigurationItem& rhs);
[[nodiscard]] QIX_SQL_API bool operator==(const ConfigurationData& lhs, const ConfigurationData& rhs);

/// Exactly the negation of operator==.
[[nodiscard]] QIX_SQL_API bool operator!=(const ConfigurationType& lhs, const ConfigurationType& rhs);
[[nodiscard]] QIX_SQL_API bool operator!=(const ConfigurationField& lhs, const ConfigurationField& rhs);
[[nodiscard]] QIX_SQL_API bool operator!=(const ConfigurationItem& lhs, const ConfigurationItem& rhs);
[[nodiscard]] QIX_SQL_API bool operator!=(const ConfigurationData& lhs, const ConfigurationData& rhs);

/// Writes the record on one line, without a line break, for logs: "{", the members in
/// declaration order separated by ", ", "}". Empty optionals and NULL values write nothing
/// (their separators stay); texts are written unquoted; time points as the signed count of
/// nanoseconds since the epoch; numbers, flags and the type code through the stream's own
/// formatting. A data row writes its id and then only the values, in field-name order.
QIX_SQL_API std::ostream& operator<<(std::ostream& os, const ConfigurationType& type);
QIX_SQL_API std::ostream& operator<<(std::ostream& os, const ConfigurationField& field);
QIX_SQL_API std::ostream& operator<<(std::ostream& os, const ConfigurationItem& item);
QIX_SQL_API std::ostream& operator<<(std::ostream& os, const ConfigurationData& data);

} // namespace qix::sql

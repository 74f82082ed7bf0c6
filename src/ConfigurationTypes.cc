#include <qix/sql/ConfigurationTypes.h>

#include <tuple>

namespace qix::sql {

namespace {

// The member lists below are the one place that says which members take part, in which
// order, in both equality and printing.
auto members(const ConfigurationType& t)
{
    return std::tie(t.id_, t.name_, t.descr_, t.facility_, t.category_, t.kelva_group_);
}

auto members(const ConfigurationField& f)
{
    return std::tie(f.type_id_, f.type_name_, f.id_, f.name_, f.descr_, f.data_type_, f.ref_type_id_, f.ref_type_name_,
                    f.unit_name_, f.hidden_flag_, f.name_flag_, f.facility_flag_, f.allow_null_flag_);
}

auto members(const ConfigurationItem& i)
{
    return std::tie(i.type_id_, i.type_name_, i.id_, i.name_, i.descr_, i.facility_, i.last_seen_, i.last_modified_);
}

template <typename T>
void put(std::ostream& os, const T& value)
{
    os << value;
}

void put(std::ostream& os, const time_point& value) { os << value.time_since_epoch().count(); }

void put(std::ostream&, const null_value&) {}

template <typename T>
void put(std::ostream& os, const std::optional<T>& value)
{
    if (value)
        put(os, *value);
}

void put(std::ostream& os, const ConfigurationDataValue& value)
{
    std::visit([&os](const auto& alternative) { put(os, alternative); }, value);
}

template <typename First, typename... Rest>
std::ostream& put_record(std::ostream& os, const std::tuple<First, Rest...>& values)
{
    os << '{';
    std::apply(
        [&os](const auto& first, const auto&... rest) {
            put(os, first);
            ((os << ", ", put(os, rest)), ...);
        },
        values);
    return os << '}';
}

} // namespace

bool operator==(const ConfigurationType& lhs, const ConfigurationType& rhs) { return members(lhs) == members(rhs); }
bool operator==(const ConfigurationField& lhs, const ConfigurationField& rhs) { return members(lhs) == members(rhs); }
bool operator==(const ConfigurationItem& lhs, const ConfigurationItem& rhs) { return members(lhs) == members(rhs); }

bool operator==(const ConfigurationData& lhs, const ConfigurationData& rhs)
{
    return lhs.id_ == rhs.id_ && lhs.fields_ == rhs.fields_;
}

bool operator!=(const ConfigurationType& lhs, const ConfigurationType& rhs) { return !(lhs == rhs); }
bool operator!=(const ConfigurationField& lhs, const ConfigurationField& rhs) { return !(lhs == rhs); }
bool operator!=(const ConfigurationItem& lhs, const ConfigurationItem& rhs) { return !(lhs == rhs); }
bool operator!=(const ConfigurationData& lhs, const ConfigurationData& rhs) { return !(lhs == rhs); }

std::ostream& operator<<(std::ostream& os, const ConfigurationType& type) { return put_record(os, members(type)); }
std::ostream& operator<<(std::ostream& os, const ConfigurationField& field) { return put_record(os, members(field)); }
std::ostream& operator<<(std::ostream& os, const ConfigurationItem& item) { return put_record(os, members(item)); }

std::ostream& operator<<(std::ostream& os, const ConfigurationData& data)
{
    os << '{' << data.id_;
    for (const auto& [name, value] : data.fields_) {
        os << ", ";
        put(os, value);
    }
    return os << '}';
}

} // namespace qix::sql

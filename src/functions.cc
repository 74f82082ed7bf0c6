#include <qix/sql/functions.h>
#include <qix/util/tessel.h>

#include <array>
#include <utility>

namespace qix::sql {

namespace {

struct Alias {
    std::string_view prefix;
    std::string_view canonical;
};

// Checked in order; the first prefix that matches decides.
constexpr std::array<Alias, 7> kAliases{{
    {"ORB", "LUMEN"},
    {"VLUMEN", "LUMEN_SIM"},
    {"LUMEN.SIM", "LUMEN_SIM"},
    {"VCORAL4", "CORAL4_SIM"},
    {"CORAL4.SIM", "CORAL4_SIM"},
    {"VTANDEM", "TANDEM_SIM"},
    {"TANDEM.SIM", "TANDEM_SIM"},
}};

} // namespace

std::string standardize_facility_name(std::string_view facility)
{
    std::string name = tessel::uppercase_ascii(tessel::trim_sv(facility, tessel::default_whitespace_characters()));
    for (const auto& alias : kAliases)
        if (name.starts_with(alias.prefix))
            return std::string(alias.canonical);
    const auto dot = name.find('.');
    if (dot != std::string::npos)
        name.resize(dot);
    return name;
}

} // namespace qix::sql

#pragma once

#include <qix/util/export.h>

#include <string>
#include <string_view>

namespace qix::sql {

/// The canonical name of a facility: trimmed, ASCII upper case, the simulated-machine
/// aliases ("VLUMEN", "LUMEN.SIM", ...) and "ORB" mapped, anything else cut at its first
/// full stop. Pure; never throws except for memory exhaustion.
[[nodiscard]] QIX_SQL_API std::string standardize_facility_name(std::string_view facility);

} // namespace qix::sql

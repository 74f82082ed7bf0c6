#pragma once

// Component lists made up for the file, query and memory workloads.

#include <qix/sql/ComponentList.h>

#include <cstddef>
#include <string>

namespace qix::bench {

/// Names of the eight flags of every generated list.
inline constexpr const char* kFlagNames[] = {"QUAD",      "DIPOLE",    "BPM",    "CAVITY",
                                             "CORRECTOR", "SEXTUPOLE", "KICKER", "SCREEN"};

/// Name pattern that matches 1% of the generated components (every hundredth is a monitor).
inline constexpr const char* kMonitorPattern = "bpm\\..*";

/// Metres of beamline per component: positions s run from 0 to about n * kSpacing.
inline constexpr double kSpacing = 0.5;

/// `n` components in shuffled order with texts of realistic lengths (some beyond the short
/// string buffer, some empty), positions with full-precision fractions and random flags.
/// The same `n` always gives the same list.
[[nodiscard]] qix::sql::ComponentList make_component_list(std::size_t n);

} // namespace qix::bench

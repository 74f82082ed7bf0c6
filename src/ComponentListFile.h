#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// Number lines of the component list file, in both directions.
namespace qix::sql::detail {

/// Room that format_list_number needs: "-d.ddddddddddddddde+ddd" and a little spare.
inline constexpr std::size_t kListNumberMaxLength = 32;

/// The value of one trimmed number line, or nothing when `text` does not follow the grammar:
/// an optional '-' (never '+'), then "inf" or "infinity" in any case, "nan" in any case
/// optionally followed by "(" ASCII letters, digits and '_' ")", or a decimal mantissa with at
/// least one digit and at most one '.', optionally followed by 'e' or 'E', an optional sign
/// and digits whose value fits a signed 32-bit integer. Decimal numbers are rounded
/// correctly; values beyond the double range become infinity or zero. Never throws.
[[nodiscard]] std::optional<double> parse_list_number(std::string_view text) noexcept;

/// Writes `value` in scientific notation with 15 digits after the point, as printf("%.15e")
/// does ("inf", "-inf", "nan", "-nan" for the special values), into `out`, which must hold
/// kListNumberMaxLength bytes. Returns the end of the text; no terminator is written.
char* format_list_number(char* out, double value) noexcept;

} // namespace qix::sql::detail

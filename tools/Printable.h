#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text from data, files and drivers on its way to a terminal: nothing it holds may start a new
// line or reach the terminal as a control sequence.
namespace qix::tool {

/// Longest message, in bytes, that the program prints whole; a longer one is cut.
inline constexpr std::size_t kMessageLimit = 600;

/// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
[[nodiscard]] bool is_utf8(std::string_view text);

/// `text` with every control byte, DEL, C1 control (U+0080 to U+009F) and byte that is not part
/// of well-formed UTF-8 written as an escape: \n, \r and \t, otherwise \xHH per byte. Every other
/// character, backslashes included, stays as it is.
[[nodiscard]] std::string printable(std::string_view text);

/// A message as the program prints it: cut to kMessageLimit bytes (on a character boundary)
/// with its full length said, then made printable.
[[nodiscard]] std::string printable_message(std::string_view message);

} // namespace qix::tool

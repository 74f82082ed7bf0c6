#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <string>
#include <string_view>

// Conversions between the UTF-8 that SQLite stores and the UTF-16LE of unixODBC's 2-byte SQLWCHAR,
// for wide-character buffers and parameters and for the wide forms of the entry points.
namespace qix::lite {

/// Bytes of one SQLWCHAR code unit.
inline constexpr std::size_t kWideUnit = sizeof(SQLWCHAR);

/// Appends `utf8` to `out` as UTF-16LE bytes. Every byte that does not belong to a well-formed
/// UTF-8 sequence (stray continuation bytes, truncated or overlong sequences, surrogates, values
/// above U+10FFFF) becomes one U+FFFD, so a damaged text reads with its damage visible and the
/// rest intact.
void append_utf16(std::string_view utf8, std::string& out);

/// The UTF-8 form of `units` UTF-16 code units; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string utf8_from_utf16(const SQLWCHAR* text, std::size_t units);

/// The UTF-8 form of an application's wide string given with an ODBC length in characters
/// (SQL_NTS: up to the terminating 0). A null pointer gives an empty string.
[[nodiscard]] std::string wide_string_in(const SQLWCHAR* text, SQLINTEGER length);

/// Number of code units before the terminating 0.
[[nodiscard]] std::size_t wide_length(const SQLWCHAR* text) noexcept;

/// True when the two bytes at `unit` (little-endian) are a high surrogate, the first half of a
/// pair that must not be separated from its second half.
[[nodiscard]] inline bool is_high_surrogate(const char* unit) noexcept
{
    const unsigned high = static_cast<unsigned char>(unit[1]);
    return high >= 0xD8 && high <= 0xDB;
}

} // namespace qix::lite

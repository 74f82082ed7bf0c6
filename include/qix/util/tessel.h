#pragma once

#include <qix/util/export.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// String operations shared by every part of the library.
namespace tessel {

namespace detail {
inline void append_piece(std::string& out, std::string_view piece) { out.append(piece); }
inline void append_piece(std::string& out, char piece) { out.push_back(piece); }
inline std::size_t piece_size(std::string_view piece) { return piece.size(); }
inline std::size_t piece_size(char) { return 1; }
} // namespace detail

/// The pieces (texts or single characters) in order, with nothing between them.
template <typename... Pieces>
[[nodiscard]] std::string cat(const Pieces&... pieces)
{
    std::string out;
    out.reserve((detail::piece_size(pieces) + ... + 0));
    (detail::append_piece(out, pieces), ...);
    return out;
}

/// The characters trimmed by default: blank, tab, line feed, vertical tab, form feed and
/// carriage return.
[[nodiscard]] QIX_SQL_API std::string_view default_whitespace_characters() noexcept;

/// A copy in which the bytes 'a' to 'z' are replaced by 'A' to 'Z'; every other byte stays.
[[nodiscard]] QIX_SQL_API std::string uppercase_ascii(std::string_view text);

/// `text` without the leading and trailing characters that belong to `characters`.
[[nodiscard]] QIX_SQL_API std::string trim(std::string_view text,
                                           std::string_view characters = default_whitespace_characters());

/// As trim(), as a view into `text`.
[[nodiscard]] QIX_SQL_API std::string_view
trim_sv(std::string_view text, std::string_view characters = default_whitespace_characters()) noexcept;

/// One-line form of any byte string, restored exactly by unescape(). A backslash becomes
/// "\\", line feed "\n", carriage return "\r", tab "\t", and every other control byte, byte
/// 0x7F and above, a leading or trailing blank and a leading '<' become "\xHH". Everything
/// else (letters, digits, inner blanks, other printable ASCII) stays as it is. The result
/// never holds a line break, never starts or ends with a whitespace byte, and never starts
/// with '<', so it cannot be mistaken for a tag line or lose bytes to trimming.
[[nodiscard]] QIX_SQL_API std::string escape(std::string_view text);

/// Appends escape(text) to `out` without building a string of its own.
QIX_SQL_API void append_escaped(std::string& out, std::string_view text);

/// Writes escape(text) at `out`, which must have room for kMaxEscapedBytesPerByte bytes per
/// byte of `text`, and returns the end of what it wrote. For writers that size their output once.
QIX_SQL_API char* write_escaped(char* out, std::string_view text) noexcept;

/// The most bytes escape() makes of one byte ("\xFF").
inline constexpr std::size_t kMaxEscapedBytesPerByte = 4;

/// Inverse of escape(). Malformed sequences (a lone trailing backslash, "\x" without two hex
/// digits, an unknown escape letter) are kept byte for byte as they stand.
[[nodiscard]] QIX_SQL_API std::string unescape(std::string_view text);

/// The elements in order with `glue` between neighbours; an empty list gives "".
[[nodiscard]] QIX_SQL_API std::string join(const std::vector<std::string>& elements, std::string_view glue);

} // namespace tessel

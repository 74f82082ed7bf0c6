#include "Utf16.h"

namespace qix::lite {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_unit(std::string& out, unsigned unit)
{
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
}

void append_code_point(std::string& out, char32_t c)
{
    if (c < 0x10000) {
        append_unit(out, static_cast<unsigned>(c));
        return;
    }
    c -= 0x10000;
    append_unit(out, 0xD800 + static_cast<unsigned>(c >> 10));
    append_unit(out, 0xDC00 + static_cast<unsigned>(c & 0x3FF));
}

void append_utf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The code point of the well-formed sequence at the start of `text` and its length, or length 0
// when the first byte starts no well-formed sequence.
std::size_t decode_utf8(std::string_view text, char32_t& c)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

void append_utf16(std::string_view utf8, std::string& out)
{
    out.reserve(out.size() + 2 * utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) { // the common case first: ASCII needs no decoding
            append_unit(out, lead);
            ++i;
            continue;
        }
        char32_t c = 0;
        const std::size_t length = decode_utf8(utf8.substr(i), c);
        append_code_point(out, length == 0 ? kReplacement : c);
        i += length == 0 ? 1 : length;
    }
}

std::string utf8_from_utf16(const SQLWCHAR* text, std::size_t units)
{
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        append_utf8(out, c);
    }
    return out;
}

std::size_t wide_length(const SQLWCHAR* text) noexcept
{
    std::size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

std::string wide_string_in(const SQLWCHAR* text, SQLINTEGER length)
{
    if (text == nullptr)
        return {};
    const std::size_t units = length == SQL_NTS ? wide_length(text) : static_cast<std::size_t>(length < 0 ? 0 : length);
    return utf8_from_utf16(text, units);
}

} // namespace qix::lite

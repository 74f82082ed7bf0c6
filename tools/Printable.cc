#include "Printable.h"

#include <qix/util/tessel.h>

#include <fmt/format.h>

namespace qix::tool {

namespace {

// Length of the well-formed UTF-8 sequence starting at `text[0]`, 0 if there is none.
std::size_t sequence_length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    return length;
}

bool is_c1_control(std::string_view sequence)
{
    return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2 &&
           static_cast<unsigned char>(sequence[1]) <= 0x9F;
}

void append_escaped(std::string& out, unsigned char byte)
{
    switch (byte) {
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default: out += fmt::format("\\x{:02X}", byte);
    }
}

} // namespace

bool is_utf8(std::string_view text)
{
    for (std::size_t length = 0; !text.empty(); text.remove_prefix(length))
        if ((length = sequence_length(text)) == 0)
            return false;
    return true;
}

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = sequence_length(text);
        const std::string_view sequence = text.substr(0, length);
        const auto lead = static_cast<unsigned char>(text[0]);
        if (length == 0 || lead < 0x20 || lead == 0x7F || is_c1_control(sequence)) {
            const std::size_t escaped = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < escaped; ++i)
                append_escaped(out, static_cast<unsigned char>(text[i]));
            text.remove_prefix(escaped);
        } else {
            out += sequence;
            text.remove_prefix(length);
        }
    }
    return out;
}

std::string printable_message(std::string_view message)
{
    if (message.size() <= kMessageLimit)
        return printable(message);
    std::size_t cut = kMessageLimit;
    while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80)
        --cut; // never inside a character
    return tessel::cat(printable(message.substr(0, cut)), fmt::format(" ... (cut: {} bytes in all)", message.size()));
}

} // namespace qix::tool

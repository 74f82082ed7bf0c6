#include <qix/util/tessel.h>

namespace tessel {

namespace {

constexpr std::string_view kWhitespace = " \t\n\v\f\r";
constexpr char kHexDigits[] = "0123456789ABCDEF";

int hex_value(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void append_hex_escape(std::string& out, unsigned char byte)
{
    out += "\\x";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 15];
}

// Bytes that escape() always writes in another form, wherever they stand.
bool needs_escape(unsigned char byte) noexcept { return byte < 0x20 || byte >= 0x7F || byte == '\\'; }

} // namespace

std::string_view default_whitespace_characters() noexcept { return kWhitespace; }

std::string uppercase_ascii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string_view trim_sv(std::string_view text, std::string_view characters) noexcept
{
    const auto first = text.find_first_not_of(characters);
    if (first == std::string_view::npos)
        return text.substr(text.size());
    const auto last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

std::string trim(std::string_view text, std::string_view characters) { return std::string(trim_sv(text, characters)); }

void append_escaped(std::string& out, std::string_view text)
{
    const std::size_t last = text.size() - 1;
    std::size_t run = 0; // start of the pending run of bytes that stay as they are
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool at_edge = (i == 0 || i == last);
        const bool plain = !needs_escape(byte) && !(byte == ' ' && at_edge) && !(byte == '<' && i == 0);
        if (plain)
            continue;
        out.append(text.substr(run, i - run));
        run = i + 1;
        switch (byte) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: append_hex_escape(out, byte); break;
        }
    }
    out.append(text.substr(run));
}

std::string escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    append_escaped(out, text);
    return out;
}

std::string unescape(std::string_view text)
{
    // Most texts hold no escape sequence at all.
    if (text.find('\\') == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char next = text[i + 1];
        switch (next) {
        case '\\': out += '\\'; ++i; continue;
        case 'n': out += '\n'; ++i; continue;
        case 'r': out += '\r'; ++i; continue;
        case 't': out += '\t'; ++i; continue;
        case 'x':
            if (i + 3 < text.size() && hex_value(text[i + 2]) >= 0 && hex_value(text[i + 3]) >= 0) {
                out += static_cast<char>(hex_value(text[i + 2]) * 16 + hex_value(text[i + 3]));
                i += 3;
                continue;
            }
            break;
        default:
            break;
        }
        // A malformed sequence stays as it stands.
        out += c;
    }
    return out;
}

std::string join(const std::vector<std::string>& elements, std::string_view glue)
{
    std::string out;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i > 0)
            out += glue;
        out += elements[i];
    }
    return out;
}

} // namespace tessel

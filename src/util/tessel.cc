#include <qix/util/tessel.h>

#include <cstdint>
#include <cstring>

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

namespace {

// True when one of the eight bytes of `word` needs escaping wherever it stands: below 0x20,
// 0x7F and above, or a backslash. Bitwise tests on all eight at once.
bool word_needs_escape(std::uint64_t word) noexcept
{
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    const auto has_zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    const std::uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighs;
    return (below_space | (word & kHighs) | has_zero(word ^ (kOnes * 0x7F)) | has_zero(word ^ (kOnes * '\\'))) != 0;
}

// True when `text` goes into the file as it is: no byte to escape, no blank at either end and
// no '<' in front.
bool is_plain(std::string_view text) noexcept
{
    if (text.empty())
        return true;
    if (text.front() == ' ' || text.back() == ' ' || text.front() == '<')
        return false;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        if (word_needs_escape(word))
            return false;
    }
    // The last few bytes, padded with letters, which need no escaping.
    std::uint64_t tail = 0x6161616161616161;
    std::memcpy(&tail, text.data() + i, text.size() - i);
    return !word_needs_escape(tail);
}

} // namespace

char* write_escaped(char* out, std::string_view text) noexcept
{
    // Most texts need no escaping at all.
    if (is_plain(text)) {
        if (!text.empty())
            std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }
    const std::size_t last = text.size() - 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool at_edge = (i == 0 || i == last);
        const bool plain = !needs_escape(byte) && !(byte == ' ' && at_edge) && !(byte == '<' && i == 0);
        if (plain) {
            *out++ = static_cast<char>(byte);
            continue;
        }
        *out++ = '\\';
        switch (byte) {
        case '\\': *out++ = '\\'; break;
        case '\n': *out++ = 'n'; break;
        case '\r': *out++ = 'r'; break;
        case '\t': *out++ = 't'; break;
        default:
            *out++ = 'x';
            *out++ = kHexDigits[byte >> 4];
            *out++ = kHexDigits[byte & 15];
            break;
        }
    }
    return out;
}

void append_escaped(std::string& out, std::string_view text)
{
    const std::size_t start = out.size();
    out.resize(start + text.size() * kMaxEscapedBytesPerByte);
    out.resize(static_cast<std::size_t>(write_escaped(out.data() + start, text) - out.data()));
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
        case '\\':
            out += '\\';
            ++i;
            continue;
        case 'n':
            out += '\n';
            ++i;
            continue;
        case 'r':
            out += '\r';
            ++i;
            continue;
        case 't':
            out += '\t';
            ++i;
            continue;
        case 'x':
            if (i + 3 < text.size() && hex_value(text[i + 2]) >= 0 && hex_value(text[i + 3]) >= 0) {
                out += static_cast<char>(hex_value(text[i + 2]) * 16 + hex_value(text[i + 3]));
                i += 3;
                continue;
            }
            break;
        default: break;
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

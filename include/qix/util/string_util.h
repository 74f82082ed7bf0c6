#pragma once

#include <string>

namespace qix {

/// Two lowercase hexadecimal digits per byte, high nibble first; an empty range gives "".
template <typename Iterator>
std::string to_hex(Iterator first, Iterator last)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string result;
    for (; first != last; ++first) {
        const auto byte = static_cast<unsigned char>(*first);
        result += kDigits[byte >> 4];
        result += kDigits[byte & 15];
    }
    return result;
}

} // namespace qix

#pragma once

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <string_view>

// Writing answers into buffers the application passed in.
namespace qix::lite {

/// Stores a number of the type the application's buffer holds (when the buffer is given).
template <typename T>
SQLRETURN put_value(SQLPOINTER buffer, T value) noexcept
{
    if (buffer != nullptr)
        std::memcpy(buffer, &value, sizeof value);
    return SQL_SUCCESS;
}

/// Copies `text` into an application's character buffer as ODBC prescribes: at most
/// `buffer_length - 1` bytes and a NUL, the full length in `*length` (when given). Returns true
/// when the text had to be cut.
template <typename Length>
bool copy_string_out(std::string_view text, void* buffer, SQLLEN buffer_length, Length* length) noexcept
{
    if (length != nullptr)
        *length = static_cast<Length>(text.size());
    if (buffer == nullptr || buffer_length <= 0)
        return !text.empty() && buffer != nullptr;
    const auto count = std::min<std::size_t>(text.size(), static_cast<std::size_t>(buffer_length) - 1);
    std::memcpy(buffer, text.data(), count);
    static_cast<char*>(buffer)[count] = '\0';
    return count < text.size();
}

} // namespace qix::lite

#pragma once

#include <qix/util/export.h>

#include <stdexcept>
#include <string>

namespace qix {

/// The one exception type of the library: a complete, human-readable sentence saying what
/// failed and with which value. ODBC failures carry the driver's own diagnostics.
class QIX_SQL_API Error : public std::runtime_error {
public:
    explicit Error(const std::string& msg) : std::runtime_error(msg) {}
    explicit Error(const char* msg) : std::runtime_error(msg) {}
    Error(const Error&) = default;
    Error& operator=(const Error&) = default;
    ~Error() override = default;

    /// The message text, identical to what().
    [[nodiscard]] virtual std::string get_message() const { return what(); }
};

} // namespace qix

#pragma once

// Helpers shared by the configuration interface tests.

#include <qix/sql/ConfigurationTypes.h>
#include <qix/util/exceptions.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace qix::test::config {

/// The message of the qix::Error that `action` throws.
inline std::string message_of(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& e) {
        return e.get_message();
    }
    return "(no qix::Error thrown)";
}

/// The time point `ticks` nanoseconds after the epoch.
inline sql::time_point at(std::int64_t ticks) { return sql::time_point(std::chrono::nanoseconds(ticks)); }

} // namespace qix::test::config

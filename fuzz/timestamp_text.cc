#include "targets.h"

#include <qix/sql/ConfigurationInterface.h>

#include <stdexcept>
#include <string>

namespace qix::fuzz {

void timestamp_text(std::string_view input)
{
    using sql::ConfigurationInterface;
    sql::time_point instant;
    try {
        instant = ConfigurationInterface::convert_string_to_time(std::string(input));
    } catch (const std::runtime_error&) {
        return;
    }
    const std::string text = ConfigurationInterface::convert_time_to_string(instant);
    require(text.size() == 26 && text[4] == '-' && text[10] == ' ' && text[19] == '.',
            "timestamp text has the form YYYY-MM-DD HH:MM:SS.ffffff");
    const auto ticks = instant.time_since_epoch().count();
    const auto micros = ticks / 1000 - (ticks % 1000 < 0 ? 1 : 0);
    require(ConfigurationInterface::convert_string_to_time(text).time_since_epoch().count() == micros * 1000,
            "timestamp text reads back to the same microsecond");
}

} // namespace qix::fuzz

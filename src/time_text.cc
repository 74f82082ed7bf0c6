// Timestamp texts of configuration data, "YYYY-MM-DD HH:MM:SS" and a fraction, to and from
// nanosecond time points in UTC.

#include <qix/sql/ConfigurationInterface.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace qix::sql {

namespace {

constexpr const char* kTimestampFormatCpp = "%Y-%m-%d %H:%M:%S";
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
constexpr const char* kParseTimeFailed = "Failed to parse time string";

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads `length` digits at `pos` as a number; -1 when one of them is not a digit.
int digits_at(std::string_view text, std::size_t pos, std::size_t length)
{
    int value = 0;
    for (std::size_t i = pos; i < pos + length; ++i) {
        if (!is_ascii_digit(text[i]))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The common, strict form "YYYY-MM-DD HH:MM:SS" without a stream or timegm, with the ranges
// std::get_time accepts; a day past the month's end runs on into the next month, as timegm
// has it. Returns the length read, or 0 when the text needs the general parser.
std::size_t parse_strict_calendar(std::string_view text, std::int64_t& seconds)
{
    constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
    if (text.size() < kShape.size())
        return 0;
    for (std::size_t i = 0; i < kShape.size(); ++i)
        if (kShape[i] != 'd' && text[i] != kShape[i])
            return 0;
    const int year = digits_at(text, 0, 4), month = digits_at(text, 5, 2), day = digits_at(text, 8, 2);
    const int hour = digits_at(text, 11, 2), minute = digits_at(text, 14, 2), second = digits_at(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return 0;
    const std::chrono::sys_days first_of_month =
        std::chrono::year(year) / std::chrono::month(static_cast<unsigned>(month)) / 1;
    const std::int64_t days = first_of_month.time_since_epoch().count() + day - 1;
    seconds = ((days * 24 + hour) * 60 + minute) * 60 + second;
    return kShape.size();
}

// Any other text goes through std::get_time and timegm. Returns the length read; throws when
// the text does not match.
std::size_t parse_general_calendar(const std::string& text, std::int64_t& seconds)
{
    // std::get_time stops quietly where its input ends, which would pass "2024-01" as the
    // zeroth day of January. A sentinel that no part of the format accepts makes a text that
    // ends early fail like any other mismatch.
    std::istringstream stream(text + '|');
    stream.imbue(std::locale::classic());
    std::tm fields{};
    stream >> std::get_time(&fields, kTimestampFormatCpp);
    if (stream.fail())
        throw std::runtime_error(kParseTimeFailed);
    fields.tm_isdst = 0;
    seconds = timegm(&fields);
    return static_cast<std::size_t>(stream.tellg());
}

// Nanoseconds of the fraction after the seconds: "." (white space around it allowed) and
// digits read as a decimal fraction of a second, of which the first nine count. Anything
// else means no fraction.
std::int64_t parse_fraction(std::string_view rest)
{
    const auto skip_space = [&rest] {
        while (!rest.empty() && is_c_space(rest.front()))
            rest.remove_prefix(1);
    };
    skip_space();
    if (rest.empty() || rest.front() != '.')
        return 0;
    rest.remove_prefix(1);
    skip_space();
    std::int64_t nanos = 0;
    std::int64_t scale = kNanosPerSecond;
    for (std::size_t i = 0; i < rest.size() && is_ascii_digit(rest[i]) && scale > 1; ++i) {
        scale /= 10;
        nanos += (rest[i] - '0') * scale;
    }
    return nanos;
}

} // namespace

time_point ConfigurationInterface::convert_string_to_time(const std::string& ts)
{
    std::int64_t seconds = 0;
    std::size_t length = parse_strict_calendar(ts, seconds);
    if (length == 0)
        length = parse_general_calendar(ts, seconds);
    std::int64_t nanos = parse_fraction(std::string_view(ts).substr(length));
    // Before 1970 count back from the next second, so that the first second that 64-bit
    // nanoseconds reach (in 1677) does not overflow on the way.
    if (seconds < 0 && nanos > 0) {
        ++seconds;
        nanos -= kNanosPerSecond;
    }
    std::int64_t ticks = 0;
    if (__builtin_mul_overflow(seconds, kNanosPerSecond, &ticks) || __builtin_add_overflow(ticks, nanos, &ticks))
        throw std::runtime_error(kParseTimeFailed);
    return time_point(time_point::duration(ticks));
}

std::string ConfigurationInterface::convert_time_to_string(const time_point& tp)
{
    const std::int64_t ticks = tp.time_since_epoch().count();
    // Floor division, so that instants before 1970 fall into the right second.
    std::int64_t seconds = ticks / kNanosPerSecond;
    std::int64_t nanos = ticks % kNanosPerSecond;
    if (nanos < 0) {
        --seconds;
        nanos += kNanosPerSecond;
    }
    const std::time_t whole = seconds;
    std::tm fields{};
    // Cannot fail: every 64-bit nanosecond count lies between the years 1677 and 2262.
    static_cast<void>(gmtime_r(&whole, &fields));
    char text[48];
    std::size_t length = std::strftime(text, sizeof text, kTimestampFormatCpp, &fields);
    length += static_cast<std::size_t>(
        std::snprintf(text + length, sizeof text - length, ".%06d", static_cast<int>(nanos / 1000)));
    return std::string(text, length);
}

} // namespace qix::sql

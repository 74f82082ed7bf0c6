#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qix::lite {

/// A calendar time as TIMESTAMP columns hold it, with nanosecond resolution.
struct Timestamp {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::uint32_t nanosecond = 0;
};

/// Precision Oracle gives a column declared TIMESTAMP without digits, and FF without digits.
inline constexpr int kDefaultTimestampPrecision = 6;

/// Parses the canonical text that TIMESTAMP columns store, "YYYY-MM-DD HH:MM:SS" followed by
/// nothing or by "." and one to nine fraction digits. Returns nothing when the text is not of
/// that form or names no valid time.
[[nodiscard]] std::optional<Timestamp> parse_canonical_timestamp(std::string_view text);

/// Parses what a DATE or TIMESTAMP column may hold: the canonical text, or a date alone
/// "YYYY-MM-DD" (as written for SQL_C_TYPE_DATE parameters), which means midnight.
[[nodiscard]] std::optional<Timestamp> parse_stored_timestamp(std::string_view text);

/// Parses a time of day "HH:MM:SS" with up to nine fraction digits after a full stop, or the
/// time part of a stored timestamp. The date fields of the result are zero.
[[nodiscard]] std::optional<Timestamp> parse_time_of_day(std::string_view text);

/// "YYYY-MM-DD" and "HH:MM:SS", the texts stored for date and time parameters.
[[nodiscard]] std::string date_text(int year, int month, int day);
[[nodiscard]] std::string time_text(int hour, int minute, int second);

/// The canonical text of a time: six fraction digits, or nine when the nanoseconds need them.
[[nodiscard]] std::string canonical_timestamp_text(const Timestamp& time);

/// An Oracle datetime format model restricted to what sessions of this driver need: YYYY, MM,
/// DD, HH24, MI, SS, FF and FF1 to FF9 with literal punctuation and blanks; the elements of
/// Oracle's default rendering (MON, RR, HH, AM, X) exist only for that default.
class TimestampFormat {
public:
    /// Parses a format set by ALTER SESSION; throws DriverError (HY024) naming the first element
    /// that is not supported.
    [[nodiscard]] static TimestampFormat parse(std::string_view format);
    /// Oracle's default NLS_TIMESTAMP_FORMAT, 'DD-MON-RR HH.MI.SSXFF AM', used until a session
    /// sets its own.
    [[nodiscard]] static const TimestampFormat& oracle_default();

    /// Appends `time` rendered in this format to `out`; FF without digits gives `precision`
    /// digits. Fraction digits beyond the requested count are cut, not rounded.
    void render(const Timestamp& time, int precision, std::string& out) const;
    /// Length of every text `render` writes with `precision` (all elements have a fixed width).
    [[nodiscard]] std::size_t rendered_length(int precision) const;
    /// Reads a text written in this format; throws DriverError (22007) when it does not match.
    [[nodiscard]] Timestamp read(std::string_view text) const;

private:
    enum class Kind {
        year4,
        year_rr,
        month,
        month_name,
        day,
        hour24,
        hour12,
        minute,
        second,
        fraction,
        meridian,
        literal
    };
    struct Element {
        Kind kind;
        int digits = 0;   // fraction digits of FFn; 0 for FF
        std::string text; // literal text
    };
    static TimestampFormat parse_model(std::string_view format, bool allow_default_elements);

    std::vector<Element> elements_;
};

} // namespace qix::lite

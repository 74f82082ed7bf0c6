#include "TimestampFormat.h"

#include "Diagnostics.h"

#include <array>
#include <cctype>
#include <charconv>

namespace qix::lite {

namespace {

constexpr std::array<std::string_view, 12> kMonthNames = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                          "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr std::string_view kPunctuation = " -/,.;:";
constexpr std::uint32_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

bool is_valid(const Timestamp& t)
{
    return t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= days_in_month(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
           t.second >= 0 && t.second <= 59;
}

// Appends `value` with at least `width` digits, zero-filled.
void append_number(std::string& out, unsigned value, int width)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && count < 10);
    for (int i = count; i < width; ++i)
        out.push_back('0');
    while (count > 0)
        out.push_back(digits[--count]);
}

// Reads `min_digits` to `max_digits` decimal digits at `pos`; moves `pos` past them.
std::optional<int> read_number(std::string_view text, std::size_t& pos, int min_digits, int max_digits,
                               int* digit_count = nullptr)
{
    int value = 0;
    int count = 0;
    while (count < max_digits && pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
        ++count;
    }
    if (count < min_digits)
        return std::nullopt;
    if (digit_count != nullptr)
        *digit_count = count;
    return value;
}

bool starts_with_nocase(std::string_view text, std::size_t pos, std::string_view word)
{
    if (text.size() - pos < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[pos + i])) != word[i])
            return false;
    return true;
}

[[noreturn]] void mismatch(std::string_view text)
{
    throw DriverError("22007", "Invalid datetime format: '" + std::string(text) +
                                   "' does not match the session's NLS_TIMESTAMP_FORMAT");
}

} // namespace

std::optional<Timestamp> parse_canonical_timestamp(std::string_view text)
{
    // Fixed positions: YYYY-MM-DD HH:MM:SS, then optionally "." and 1..9 digits.
    if (text.size() < 19 || (text.size() > 19 && (text[19] != '.' || text.size() < 21 || text.size() > 29)))
        return std::nullopt;
    auto digits = [&](std::size_t from, std::size_t count) -> int {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i])))
                return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    if (text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    Timestamp t;
    t.year = digits(0, 4);
    t.month = digits(5, 2);
    t.day = digits(8, 2);
    t.hour = digits(11, 2);
    t.minute = digits(14, 2);
    t.second = digits(17, 2);
    if (text.size() > 19) {
        const std::size_t count = text.size() - 20;
        const int fraction = digits(20, count);
        if (fraction < 0)
            return std::nullopt;
        t.nanosecond = static_cast<std::uint32_t>(fraction) * kPowersOfTen[9 - count];
    }
    if (!is_valid(t))
        return std::nullopt;
    return t;
}

std::optional<Timestamp> parse_stored_timestamp(std::string_view text)
{
    if (text.size() != 10)
        return parse_canonical_timestamp(text);
    std::string full(text);
    full += " 00:00:00";
    return parse_canonical_timestamp(full);
}

std::optional<Timestamp> parse_time_of_day(std::string_view text)
{
    if (text.size() >= 19 && text[10] == ' ') {
        auto stamp = parse_stored_timestamp(text);
        if (stamp)
            stamp->year = stamp->month = stamp->day = 0;
        return stamp;
    }
    // Borrow the timestamp parser with a fixed valid date in front.
    std::string full = "2000-01-01 ";
    full += text;
    auto stamp = parse_canonical_timestamp(full);
    if (stamp)
        stamp->year = stamp->month = stamp->day = 0;
    return stamp;
}

std::string date_text(int year, int month, int day)
{
    std::string out;
    append_number(out, static_cast<unsigned>(year), 4);
    out.push_back('-');
    append_number(out, static_cast<unsigned>(month), 2);
    out.push_back('-');
    append_number(out, static_cast<unsigned>(day), 2);
    return out;
}

std::string time_text(int hour, int minute, int second)
{
    std::string out;
    append_number(out, static_cast<unsigned>(hour), 2);
    out.push_back(':');
    append_number(out, static_cast<unsigned>(minute), 2);
    out.push_back(':');
    append_number(out, static_cast<unsigned>(second), 2);
    return out;
}

std::string canonical_timestamp_text(const Timestamp& time)
{
    std::string out = date_text(time.year, time.month, time.day);
    out.reserve(29);
    out.push_back(' ');
    out += time_text(time.hour, time.minute, time.second);
    out.push_back('.');
    if (time.nanosecond % 1000 == 0)
        append_number(out, time.nanosecond / 1000, 6);
    else
        append_number(out, time.nanosecond, 9);
    return out;
}

TimestampFormat TimestampFormat::parse(std::string_view format) { return parse_model(format, false); }

const TimestampFormat& TimestampFormat::oracle_default()
{
    static const TimestampFormat format = parse_model("DD-MON-RR HH.MI.SSXFF AM", true);
    return format;
}

TimestampFormat TimestampFormat::parse_model(std::string_view format, bool allow_default_elements)
{
    struct Word {
        std::string_view text;
        Kind kind;
        bool default_only;
    };
    // Longer words first where one is a prefix of another (HH24 before HH).
    static constexpr Word kWords[] = {
        {"YYYY", Kind::year4, false},    {"HH24", Kind::hour24, false}, {"MM", Kind::month, false},
        {"DD", Kind::day, false},        {"MI", Kind::minute, false},   {"SS", Kind::second, false},
        {"MON", Kind::month_name, true}, {"RR", Kind::year_rr, true},   {"HH", Kind::hour12, true},
        {"AM", Kind::meridian, true},    {"X", Kind::literal, true}};
    TimestampFormat result;
    std::size_t pos = 0;
    while (pos < format.size()) {
        if (kPunctuation.find(format[pos]) != std::string_view::npos) {
            result.elements_.push_back({Kind::literal, 0, std::string(1, format[pos])});
            ++pos;
            continue;
        }
        if (starts_with_nocase(format, pos, "FF")) {
            pos += 2;
            int digits = 0;
            if (pos < format.size() && format[pos] >= '1' && format[pos] <= '9')
                digits = format[pos++] - '0';
            result.elements_.push_back({Kind::fraction, digits, {}});
            continue;
        }
        const Word* found = nullptr;
        for (const Word& word : kWords) {
            if ((!word.default_only || allow_default_elements) && starts_with_nocase(format, pos, word.text)) {
                found = &word;
                break;
            }
        }
        if (found == nullptr)
            throw DriverError("HY024", "Unsupported element in NLS_TIMESTAMP_FORMAT '" + std::string(format) +
                                           "' at '" + std::string(format.substr(pos)) +
                                           "': supported are YYYY, MM, DD, HH24, MI, SS, FF, FF1 to FF9, "
                                           "punctuation and blanks");
        // X is Oracle's radix character, a full stop in this driver.
        result.elements_.push_back({found->kind, 0, found->text == "X" ? "." : std::string()});
        pos += found->text.size();
    }
    return result;
}

void TimestampFormat::render(const Timestamp& t, int precision, std::string& out) const
{
    for (const Element& e : elements_) {
        switch (e.kind) {
        case Kind::year4: append_number(out, static_cast<unsigned>(t.year), 4); break;
        case Kind::year_rr: append_number(out, static_cast<unsigned>(t.year % 100), 2); break;
        case Kind::month: append_number(out, static_cast<unsigned>(t.month), 2); break;
        case Kind::month_name: out.append(kMonthNames[static_cast<std::size_t>(t.month - 1)]); break;
        case Kind::day: append_number(out, static_cast<unsigned>(t.day), 2); break;
        case Kind::hour24: append_number(out, static_cast<unsigned>(t.hour), 2); break;
        case Kind::hour12: append_number(out, static_cast<unsigned>(t.hour % 12 == 0 ? 12 : t.hour % 12), 2); break;
        case Kind::minute: append_number(out, static_cast<unsigned>(t.minute), 2); break;
        case Kind::second: append_number(out, static_cast<unsigned>(t.second), 2); break;
        case Kind::meridian: out.append(t.hour < 12 ? "AM" : "PM"); break;
        case Kind::literal: out.append(e.text); break;
        case Kind::fraction: {
            const int digits = e.digits != 0 ? e.digits : precision;
            if (digits > 0)
                append_number(out, t.nanosecond / kPowersOfTen[9 - digits], digits);
            break;
        }
        }
    }
}

std::size_t TimestampFormat::rendered_length(int precision) const
{
    std::string text;
    render(Timestamp{2000, 1, 1, 0, 0, 0, 0}, precision, text);
    return text.size();
}

Timestamp TimestampFormat::read(std::string_view text) const
{
    Timestamp t{1, 1, 1, 0, 0, 0, 0};
    std::size_t pos = 0;
    int hour12 = -1;
    bool pm = false;
    for (const Element& e : elements_) {
        std::optional<int> value;
        // Reads a number of one to `digits` digits into `field`.
        const auto number_into = [&](int& field, int digits) {
            value = read_number(text, pos, 1, digits);
            if (value)
                field = *value;
        };
        switch (e.kind) {
        case Kind::year4: number_into(t.year, 4); break;
        case Kind::year_rr:
            value = read_number(text, pos, 2, 2);
            if (value)
                t.year = *value < 50 ? 2000 + *value : 1900 + *value;
            break;
        case Kind::month: number_into(t.month, 2); break;
        case Kind::day: number_into(t.day, 2); break;
        case Kind::hour24: number_into(t.hour, 2); break;
        case Kind::hour12: number_into(hour12, 2); break;
        case Kind::minute: number_into(t.minute, 2); break;
        case Kind::second: number_into(t.second, 2); break;
        case Kind::fraction: {
            int count = 0;
            value = read_number(text, pos, 1, e.digits != 0 ? e.digits : 9, &count);
            if (value)
                t.nanosecond = static_cast<std::uint32_t>(*value) * kPowersOfTen[9 - count];
            break;
        }
        case Kind::month_name:
            for (std::size_t m = 0; m < kMonthNames.size() && !value; ++m)
                if (starts_with_nocase(text, pos, kMonthNames[m]))
                    value = static_cast<int>(m + 1);
            if (value) {
                t.month = *value;
                pos += 3;
            }
            break;
        case Kind::meridian:
            if (starts_with_nocase(text, pos, "AM") || starts_with_nocase(text, pos, "PM")) {
                pm = std::toupper(static_cast<unsigned char>(text[pos])) == 'P';
                value = 0;
                pos += 2;
            }
            break;
        case Kind::literal:
            if (text.substr(pos, e.text.size()) == e.text) {
                value = 0;
                pos += e.text.size();
            }
            break;
        }
        if (!value)
            mismatch(text);
    }
    if (hour12 >= 0) {
        if (hour12 < 1 || hour12 > 12)
            mismatch(text);
        t.hour = hour12 % 12 + (pm ? 12 : 0);
    }
    if (pos != text.size() || !is_valid(t))
        mismatch(text);
    return t;
}

} // namespace qix::lite

#include "data_rows.h"

#include "block_fetch.h"

#include <qix/sql/ConfigurationInterface.h>
#include <qix/util/exceptions.h>
#include <qix/util/tessel.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace qix::sql::detail {

namespace {

// Texts up to this size come with the fetch; a longer one is read again with SQLGetData.
constexpr SQLLEN kTextCapacity = 4096;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
constexpr std::uint32_t kPowersOfTen[] = {1,       10,        100,        1'000,       10'000,
                                          100'000, 1'000'000, 10'000'000, 100'000'000, 1'000'000'000};
// Years whose every instant fits 64-bit nanoseconds since 1970.
constexpr int kFirstSafeYear = 1678;
constexpr int kLastSafeYear = 2261;

bool contains_nocase(const std::string& text, std::string_view word)
{
    return std::search(text.begin(), text.end(), word.begin(), word.end(),
                       [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }) != text.end();
}

// A timestamp column without a time zone can come as a timestamp structure: the same instant as
// its text in the session format, without rendering and parsing it. Zoned values and dates
// (whose text follows other formats) keep coming as text.
bool reads_as_timestamp_struct(const StatementHandle::ColumnDescription& column)
{
    return (column.sql_type == SQL_TYPE_TIMESTAMP || column.sql_type == SQL_TIMESTAMP) &&
           contains_nocase(column.type_name, "TIMESTAMP") && !contains_nocase(column.type_name, "ZONE") &&
           !contains_nocase(column.type_name, "TZ");
}

// The text the session format gives: "YYYY-MM-DD HH:MM:SS.", then `digits` fraction digits.
std::string session_text(const SQL_TIMESTAMP_STRUCT& t, int digits)
{
    char text[64];
    int length = std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u.", t.year, t.month, t.day, t.hour,
                               t.minute, t.second);
    if (digits > 0)
        length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "%0*u", digits,
                                static_cast<unsigned>(t.fraction / kPowersOfTen[9 - digits]));
    return std::string(text, static_cast<std::size_t>(length));
}

// What parsing the session text gives, computed from the fields. Values outside the safe years
// or the calendar's ranges take the text route, with its checks and messages.
time_point time_of(const SQL_TIMESTAMP_STRUCT& t, int digits)
{
    if (t.year < kFirstSafeYear || t.year > kLastSafeYear || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 ||
        t.hour > 23 || t.minute > 59 || t.second > 60 || t.fraction >= kNanosPerSecond)
        return ConfigurationInterface::convert_string_to_time(session_text(t, digits));
    const std::chrono::sys_days first_of_month =
        std::chrono::year(t.year) / std::chrono::month(t.month) / std::chrono::day(1);
    const std::int64_t days = first_of_month.time_since_epoch().count() + t.day - 1;
    std::int64_t seconds = ((days * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
    std::int64_t nanos = t.fraction - t.fraction % kPowersOfTen[9 - digits];
    if (seconds < 0 && nanos > 0) {
        ++seconds;
        nanos -= kNanosPerSecond;
    }
    return time_point(time_point::duration(seconds * kNanosPerSecond + nanos));
}

// One bound column: its buffer, its indicator and how its value is made.
struct BoundColumn {
    ColumnKind kind = ColumnKind::text;
    bool timestamp_struct = false;
    int fraction_digits = 9;
    SQLLEN indicator = 0; // a copy of the fetched row's length/indicator
    std::int32_t integer = 0;
    double real = 0.0;
    SQL_TIMESTAMP_STRUCT time{};
    std::unique_ptr<char[]> text;
};

class DataRowReader {
public:
    // One row per fetch: a text longer than its buffer is read again with SQLGetData, which
    // drivers allow only on a block of one row.
    DataRowReader(Query& query, const std::string& type_name, const std::vector<DataColumn>& columns)
        : fetch_(query, 1), statement_(query.statement()), type_name_(type_name), columns_(columns),
          bound_(columns.size()), indicators_(columns.size())
    {
        id_indicators_ = fetch_.bind(1, CDataType::c_slong, &id_, sizeof id_);
        for (std::size_t i = 0; i < columns.size(); ++i)
            bind(i);
    }

    void read_all(std::vector<ConfigurationData>& rows)
    {
        while (fetch_.fetch()) {
            id_indicator_ = id_indicators_[0];
            for (std::size_t i = 0; i < bound_.size(); ++i)
                bound_[i].indicator = indicators_[i].empty() ? 0 : indicators_[i][0];
            ConfigurationData& row = rows.emplace_back();
            row.id_ = id_indicator_ == SQL_NULL_DATA ? 0 : id_;
            // Values come in field-name order: each node goes to the end without a search.
            for (std::size_t i = 0; i < bound_.size(); ++i)
                row.fields_.emplace_hint(row.fields_.end(), columns_[i].name, value(i));
        }
    }

private:
    static int column_number(std::size_t index) { return static_cast<int>(index) + 2; }

    void bind(std::size_t index)
    {
        BoundColumn& b = bound_[index];
        b.kind = columns_[index].kind;
        const int number = column_number(index);
        switch (b.kind) {
        case ColumnKind::integer:
            indicators_[index] = fetch_.bind(number, CDataType::c_slong, &b.integer, sizeof b.integer);
            return;
        case ColumnKind::real:
            indicators_[index] = fetch_.bind(number, CDataType::c_double, &b.real, sizeof b.real);
            return;
        case ColumnKind::time: {
            const StatementHandle::ColumnDescription description = statement_.describe_column(number);
            if (reads_as_timestamp_struct(description)) {
                b.timestamp_struct = true;
                b.fraction_digits = std::clamp<int>(description.digits, 0, 9);
                indicators_[index] = fetch_.bind(number, CDataType::c_type_timestamp, &b.time, sizeof b.time);
                return;
            }
            break;
        }
        case ColumnKind::text: break;
        case ColumnKind::failing: return; // reported by value()
        }
        b.text = std::make_unique_for_overwrite<char[]>(kTextCapacity);
        indicators_[index] = fetch_.bind(number, CDataType::c_char, b.text.get(), kTextCapacity);
    }

    // The text of a bound character column; a value the buffer could not hold is read whole
    // again. Embedded NUL bytes are kept: the length comes from the indicator.
    std::string text(std::size_t index)
    {
        const BoundColumn& b = bound_[index];
        if (b.indicator == SQL_NULL_DATA)
            return {};
        if (b.indicator == SQL_NO_TOTAL || b.indicator >= kTextCapacity)
            return statement_.get_data_as_string(column_number(index), nullptr);
        return std::string(b.text.get(), static_cast<std::size_t>(b.indicator));
    }

    ConfigurationDataValue value(std::size_t index)
    {
        const BoundColumn& b = bound_[index];
        switch (b.kind) {
        case ColumnKind::integer:
            return b.indicator == SQL_NULL_DATA ? ConfigurationDataValue{} : ConfigurationDataValue{int{b.integer}};
        case ColumnKind::real:
            return b.indicator == SQL_NULL_DATA ? ConfigurationDataValue{} : ConfigurationDataValue{b.real};
        case ColumnKind::time: {
            if (b.indicator == SQL_NULL_DATA)
                return {};
            // An empty text also means "no value".
            const std::string value = b.timestamp_struct ? std::string() : text(index);
            if (!b.timestamp_struct && value.empty())
                return {};
            try {
                return b.timestamp_struct ? time_of(b.time, b.fraction_digits)
                                          : ConfigurationInterface::convert_string_to_time(value);
            } catch (const std::runtime_error&) {
                throw std::runtime_error(
                    time_parse_failure(index, b.timestamp_struct ? session_text(b.time, b.fraction_digits) : value));
            }
        }
        case ColumnKind::text: {
            std::string value = text(index);
            return value.empty() ? ConfigurationDataValue{} : ConfigurationDataValue{std::move(value)};
        }
        case ColumnKind::failing: break;
        }
        throw Error(columns_[index].error);
    }

    // Which row and field a timestamp that cannot be parsed comes from: one stored value
    // outside the supported range must not hide among thousands of rows.
    std::string time_parse_failure(std::size_t index, std::string_view text) const
    {
        constexpr std::size_t kShownBytes = 200;
        return tessel::cat("Failed to parse time string \"", tessel::escape(text.substr(0, kShownBytes)),
                           text.size() > kShownBytes ? "\u2026" : "", "\" of field ", columns_[index].name, " of type ",
                           type_name_, ", public id ", std::to_string(id_indicator_ == SQL_NULL_DATA ? 0 : id_));
    }

    BlockFetch fetch_;
    StatementHandle& statement_;
    const std::string& type_name_;
    const std::vector<DataColumn>& columns_;
    std::vector<BoundColumn> bound_;                  // never resized: the driver holds pointers into it
    std::vector<std::span<const SQLLEN>> indicators_; // per column; empty for a failing one
    std::int32_t id_ = 0;
    std::span<const SQLLEN> id_indicators_;
    SQLLEN id_indicator_ = 0;
};

} // namespace

void read_data_rows(Query& query, const std::string& type_name, const std::vector<DataColumn>& columns,
                    std::vector<ConfigurationData>& rows)
{
    DataRowReader reader(query, type_name, columns);
    reader.read_all(rows);
}

} // namespace qix::sql::detail

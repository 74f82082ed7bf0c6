// Workload 2: configuration data rows of a type with 12 fields, two of each data type code,
// through ConfigurationInterface::read_data, against a raw SQLGetData loop producing the same
// values (in a vector per row), and the same loop producing the same maps as the library.
// Timed is the read; the rows are freed outside the timed region.

#include "bench.h"
#include "raw_odbc.h"
#include "table.h"

#include <qix/sql/ConfigurationInterface.h>
#include <qix/sql/Database.h>

#include "LiteSource.h"

#include <array>
#include <charconv>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qix::bench {

namespace {

using qix::sql::ConfigurationData;
using qix::sql::ConfigurationDataValue;
using qix::sql::time_point;

constexpr const char* kType = "DEVICE";

struct Field {
    const char* name;
    char code;
    const char* column_type;
    const char* expression; // value of row n
};

// In field-name order, as the library selects them.
constexpr std::array<Field, 12> kFields{{
    {"ACTIVE_SINCE", 'T', "TIMESTAMP(6)",
     "strftime('%Y-%m-%d %H:%M:%S', 1600000000 + n * 3607, 'unixepoch') || '.' || "
     "substr('000000' || (n * 7919 % 1000000), -6)"},
    {"CALIBRATED", 'T', "TIMESTAMP(6)",
     "CASE WHEN n % 10 = 0 THEN NULL ELSE strftime('%Y-%m-%d %H:%M:%S', 1650000000 + n * 61, 'unixepoch') || '.' || "
     "substr('000000' || (n * 31 % 1000000), -6) END"},
    {"CURRENT", 'F', "DOUBLE", "n * 0.125 - 300.0"},
    {"DESCRIPTION", 'B', "TEXT", "'Beam position monitor of the transfer line, unit ' || n"},
    {"GAIN", 'F', "DOUBLE", "CASE WHEN n % 7 = 0 THEN NULL ELSE 1.0 / n END"},
    {"LOCATION", 'C', "TEXT", "'S' || (n % 40) || '.G' || (n % 7)"},
    {"NOTES", 'B', "TEXT", "CASE WHEN n % 4 = 0 THEN '' ELSE 'calibrated by the shift crew ' || (n % 13) END"},
    {"OWNER_ID", 'R', "INTEGER", "n % 50 + 1"},
    {"PARENT_ID", 'R', "INTEGER", "CASE WHEN n % 9 = 0 THEN NULL ELSE n / 10 END"},
    {"SERIAL", 'I', "INTEGER", "100000 + n"},
    {"SLOT", 'I', "INTEGER", "n % 24"},
    {"TAG", 'C', "TEXT", "'DEV' || n"},
}};

std::vector<std::string> fixture(std::size_t rows)
{
    std::string fields = "INSERT INTO CFG.FIELDS_T VALUES ";
    std::string columns;
    std::string values;
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        const Field& f = kFields[i];
        fields += (i == 0 ? "" : ", ") + std::string("(1, 'DEVICE', ") + std::to_string(i + 1) + ", '" + f.name +
                  "', '', '" + f.code + "', NULL, NULL, NULL, 0, 0, 0, 1)";
        columns += std::string(", ") + f.name + " " + f.column_type;
        values += std::string(", ") + f.expression;
    }
    return {
        "CREATE TABLE CFG.FIELDS_T (TYPE_ID INTEGER, TYPE_NAME TEXT, FIELD_ID INTEGER, FIELD_NAME TEXT, "
        "FIELD_DESCR TEXT, DATA_TYPE TEXT, REF_TYPE_ID INTEGER, REF_TYPE_NAME TEXT, UNIT_NAME TEXT, "
        "HIDDEN_FLAG INTEGER, NAME_FLAG INTEGER, FACILITY_FLAG INTEGER, ALLOW_NULL_FLAG INTEGER)",
        "CREATE VIEW CFG.CM_MVIEW_FIELDS AS SELECT * FROM FIELDS_T",
        fields,
        "CREATE TABLE CFG.DEVICE_T (PUBLIC_ID INTEGER PRIMARY KEY, VERSION_ID INTEGER" + columns + ")",
        "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < " + std::to_string(rows) +
            ") INSERT INTO CFG.DEVICE_T SELECT n, 1" + values + " FROM c",
        "CREATE VIEW CFG.CM_VIEW_DATA_DEVICE AS SELECT * FROM DEVICE_T",
    };
}

std::string select_statement()
{
    std::string sql = "SELECT PUBLIC_ID";
    for (const Field& f : kFields)
        sql.append(", ").append(f.name);
    return sql + " FROM CFG.CM_VIEW_DATA_" + kType;
}

struct ConfigSource {
    qix::test::LiteSource lite{{"CFG"}};
    std::unique_ptr<qix::sql::Database> db;
    std::unique_ptr<qix::sql::ConfigurationInterface> ci;
    std::unique_ptr<RawConnection> raw;
    std::size_t rows = 0;
    bool verified = false;
};

ConfigSource& source_for(std::size_t rows)
{
    static std::unique_ptr<ConfigSource> source;
    if (!source) {
        source = std::make_unique<ConfigSource>();
        source->rows = rows;
        source->lite.execute(fixture(rows));
        source->db = std::make_unique<qix::sql::Database>(source->lite.dsn(), "", "");
        source->ci = std::make_unique<qix::sql::ConfigurationInterface>(*source->db, "CFG");
        source->raw = std::make_unique<RawConnection>(source->lite.dsn(), "");
        source->raw->execute("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH24:MI:SS.FF'");
        on_release([] { source.reset(); });
    }
    return *source;
}

// "YYYY-MM-DD HH:MM:SS.ffffff", the session format, read without a general parser.
time_point parse_timestamp(std::string_view text)
{
    const auto number = [&](std::size_t pos, std::size_t length) {
        int value = 0;
        std::from_chars(text.data() + pos, text.data() + pos + length, value);
        return value;
    };
    using namespace std::chrono;
    const sys_days day = year(number(0, 4)) / month(static_cast<unsigned>(number(5, 2))) /
                         std::chrono::day(static_cast<unsigned>(number(8, 2)));
    const auto seconds = day + hours(number(11, 2)) + minutes(number(14, 2)) + std::chrono::seconds(number(17, 2));
    std::int64_t nanos = 0;
    std::int64_t scale = 100'000'000;
    for (std::size_t i = 20; i < text.size() && scale > 0; ++i, scale /= 10)
        nanos += (text[i] - '0') * scale;
    return time_point(duration_cast<nanoseconds>(seconds.time_since_epoch()) + nanoseconds(nanos));
}

// One column of the current row as the library's value: NULL, and empty text, read as null.
ConfigurationDataValue raw_value(SQLHSTMT statement, SQLUSMALLINT column, char code)
{
    SQLLEN length = 0;
    switch (code) {
    case 'I':
    case 'R': {
        SQLINTEGER value = 0;
        SQLGetData(statement, column, SQL_C_SLONG, &value, 0, &length);
        return length == SQL_NULL_DATA ? ConfigurationDataValue{} : ConfigurationDataValue{static_cast<int>(value)};
    }
    case 'F': {
        double value = 0.0;
        SQLGetData(statement, column, SQL_C_DOUBLE, &value, 0, &length);
        return length == SQL_NULL_DATA ? ConfigurationDataValue{} : ConfigurationDataValue{value};
    }
    default: {
        char text[4001];
        SQLGetData(statement, column, SQL_C_CHAR, text, sizeof text, &length);
        if (length == SQL_NULL_DATA || length == 0)
            return {};
        if (length >= static_cast<SQLLEN>(sizeof text))
            throw std::runtime_error("the raw loop reads texts of up to 4000 bytes");
        const std::string_view value(text, static_cast<std::size_t>(length));
        if (code == 'T')
            return parse_timestamp(value);
        return std::string(value);
    }
    }
}

struct RawRow {
    int id = 0;
    std::vector<ConfigurationDataValue> values;
};

// The bare loop: the statement, and `read(statement, row)` for every fetched row.
template <typename Row, typename ReadRow>
std::vector<Row> raw_rows(const RawConnection& connection, const std::string& sql, ReadRow read)
{
    const RawStatement statement(connection);
    check(statement.exec(sql), statement, sql);
    std::vector<Row> rows;
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(statement.handle())))
        read(statement.handle(), rows.emplace_back());
    if (rc != SQL_NO_DATA)
        check(rc, statement, "SQLFetch");
    return rows;
}

std::vector<RawRow> raw_values(const RawConnection& connection, const std::string& sql)
{
    return raw_rows<RawRow>(connection, sql, [](SQLHSTMT statement, RawRow& row) {
        SQLLEN length = 0;
        SQLGetData(statement, 1, SQL_C_SLONG, &row.id, 0, &length);
        row.values.reserve(kFields.size());
        for (std::size_t i = 0; i < kFields.size(); ++i)
            row.values.push_back(raw_value(statement, static_cast<SQLUSMALLINT>(i + 2), kFields[i].code));
    });
}

std::vector<ConfigurationData> raw_maps(const RawConnection& connection, const std::string& sql)
{
    // Every row starts as a copy of the fields with null values: cheaper than inserting names.
    static const qix::sql::ConfigurationDataValueMap null_fields = [] {
        qix::sql::ConfigurationDataValueMap fields;
        for (const Field& f : kFields)
            fields.emplace_hint(fields.end(), f.name, ConfigurationDataValue{});
        return fields;
    }();
    return raw_rows<ConfigurationData>(connection, sql, [](SQLHSTMT statement, ConfigurationData& row) {
        SQLLEN length = 0;
        SQLGetData(statement, 1, SQL_C_SLONG, &row.id_, 0, &length);
        row.fields_ = null_fields;
        SQLUSMALLINT column = 2;
        for (auto& [name, value] : row.fields_) {
            value = raw_value(statement, column, kFields[column - 2].code);
            ++column;
        }
    });
}

void check_same(ConfigSource& source, const std::string& sql)
{
    if (source.verified)
        return;
    const auto library = source.ci->read_data(kType, "", {}).first;
    const auto maps = raw_maps(*source.raw, sql);
    const auto values = raw_values(*source.raw, sql);
    bool same = library == maps && library.size() == values.size() && library.size() == source.rows;
    for (std::size_t r = 0; same && r < library.size(); ++r) {
        same = library[r].id_ == values[r].id;
        std::size_t i = 0;
        for (const auto& [name, value] : library[r].fields_)
            same = same && value == values[r].values[i++];
    }
    if (!same)
        throw std::runtime_error("the raw loops and the library read different configuration data");
    source.verified = true;
}

template <typename Read>
void add_config_benchmark(const std::string& name, std::size_t rows, Read read)
{
    add_benchmark(name, [=](benchmark::State& state) {
        ConfigSource* source = nullptr;
        const std::string sql = select_statement();
        run_timed(
            state, static_cast<double>(rows),
            [&] {
                source = &source_for(rows);
                check_same(*source, sql);
            },
            [&] {
                auto rows_read = read(*source, sql);
                benchmark::DoNotOptimize(rows_read);
                // Freeing the rows is the caller's business, not the read's.
                uncounted(state, [&] { [[maybe_unused]] const auto dropped = std::move(rows_read); });
            });
    });
}

} // namespace

void register_config_benchmarks(const Sizes& sizes)
{
    const std::size_t rows = sizes.config_rows;
    add_config_benchmark("config/library", rows,
                         [](ConfigSource& source, const std::string&) { return source.ci->read_data(kType, "", {}); });
    add_config_benchmark("config/raw_values", rows,
                         [](ConfigSource& source, const std::string& sql) { return raw_values(*source.raw, sql); });
    add_config_benchmark("config/raw_maps", rows,
                         [](ConfigSource& source, const std::string& sql) { return raw_maps(*source.raw, sql); });
    const std::string workload = "2 configuration data " + count_text(rows) + " rows x 12 fields";
    add_row({workload + ": library vs raw SQLGetData loop",
             "config/library",
             "config/raw_values",
             Unit::rows_per_second,
             Check::at_least,
             0.95,
             {},
             1.05});
    add_row({workload + ": library vs raw loop into the same maps",
             "config/library",
             "config/raw_maps",
             Unit::rows_per_second,
             Check::none,
             0.0,
             {}});
}

} // namespace qix::bench

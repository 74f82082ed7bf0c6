// Workload 1: the component list load of a facility view with 8 flag columns, through
// ComponentList::read_from_db, against raw ODBC loops that send the same statement, bind the
// same buffers and build the same Component objects: one row per SQLFetch, and rowsets of
// kBlockRows rows in column arrays.

#include "bench.h"
#include "raw_odbc.h"
#include "table.h"

#include <qix/sql/ComponentFields.h>
#include <qix/sql/ComponentList.h>
#include <qix/sql/Database.h>

#include "ComponentView.h"
#include "DataSource.h"
#include "LiteSource.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qix::bench {

namespace {

using qix::sql::Component;

constexpr std::size_t kTextCapacity = 4001; // as the library binds: 4000 bytes and a NUL
constexpr std::size_t kBlockRows = 64;      // as the library asks for
constexpr const char* kFacility = "BENCH";

constexpr std::array<const char*, 8> kFlags{"QUAD",      "DIPOLE",    "BPM",    "CAVITY",
                                            "CORRECTOR", "SEXTUPOLE", "KICKER", "SCREEN"};

namespace fields = qix::sql::component_fields;

// The view's text columns by number: the leading texts, then the link name.
struct TextColumn {
    std::size_t number = 0;
    std::string Component::*member = nullptr;
};

constexpr auto kTexts = [] {
    std::array<TextColumn, fields::kLeadingTexts.size() + 1> columns{};
    for (std::size_t i = 0; i < fields::kLeadingTexts.size(); ++i)
        columns[i] = {i + 1, fields::kLeadingTexts[i].member};
    columns.back() = {fields::kLinkNameColumn, fields::kLinkName.member};
    return columns;
}();
constexpr auto& kNumbers = fields::kPositions;
constexpr std::size_t kFirstNumberColumn = fields::kFirstPositionColumn;
constexpr std::size_t kFirstFlagColumn = fields::kFirstFlagColumn;

// ", FLAG_QUAD<suffix>, FLAG_DIPOLE<suffix>, ..."
std::string flag_columns(std::string_view suffix = "")
{
    std::string text;
    for (const char* flag : kFlags)
        text.append(", FLAG_").append(flag).append(suffix);
    return text;
}

std::string select_statement()
{
    std::string columns;
    for (const std::string_view column : fields::kColumns)
        columns.append(columns.empty() ? "" : ", ").append(column);
    return "SELECT " + columns + flag_columns() + " FROM VEDUV." + kFacility + "_VIEW_COMPONENTS";
}

// Column values of row n, in SQL that SQLite and PostgreSQL both accept: short and long texts,
// NULL texts, numbers and flags, and flag values other than 0 and 1.
constexpr std::array<std::string_view, fields::kColumnCount> kFieldValues{
    "'QF' || n",
    "'LUMEN.RING.QF' || n || '.REAL'",
    "CASE WHEN n % 3 = 0 THEN NULL ELSE 'N2_' || n END",
    "'S' || (n % 40)",
    "'GROUP_' || (n % 7)",
    "CASE n % 4 WHEN 0 THEN 'QUAD' WHEN 1 THEN 'DIPOLE' WHEN 2 THEN 'BPM' ELSE 'CORRECTOR' END",
    "'TYPE-' || (n % 12)",
    "'Quadrupole focusing magnet ' || n",
    "n * 0.001",
    "CASE WHEN n % 50 = 0 THEN NULL ELSE n * -0.0005 END",
    "n * 0.6",
    "n * 0.6 + 0.25",
    "CASE WHEN n % 5 = 0 THEN 'LINK_' || n ELSE '' END",
};
static_assert(!kFieldValues.back().empty(), "a value for every column of the view");

std::string row_expressions()
{
    std::string values = "n";
    for (const std::string_view value : kFieldValues)
        values.append(", ").append(value);
    return values + ", n % 2, (n / 2) % 2, (n / 4) % 2, CASE WHEN n % 97 = 0 THEN NULL ELSE (n / 8) % 2 END, "
                    "(n / 16) % 2, (n / 32) % 2, CASE WHEN n % 10 = 0 THEN 3 ELSE 0 END, (n / 64) % 2";
}

std::string data_table() { return qix::test::component_table("BENCH_DATA", flag_columns(" SMALLINT")); }

std::string data_view()
{
    return qix::test::component_view(kFacility, "BENCH_DATA", flag_columns(), qix::test::RowOrder::as_stored);
}

std::vector<std::string> lite_fixture(std::size_t rows)
{
    return {data_table(),
            "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < " + std::to_string(rows) +
                ") INSERT INTO VEDUV.BENCH_DATA SELECT " + row_expressions() + " FROM c",
            data_view()};
}

std::vector<std::string> postgres_fixture(std::size_t rows)
{
    return {"CREATE SCHEMA veduv",
            "CREATE VIEW all_tab_columns AS SELECT table_schema AS owner, table_name, column_name "
            "FROM information_schema.columns ORDER BY table_schema, table_name, ordinal_position",
            data_table(),
            "INSERT INTO VEDUV.BENCH_DATA SELECT " + row_expressions() + " FROM generate_series(1, " +
                std::to_string(rows) + ") AS c(n)",
            "ANALYZE VEDUV.BENCH_DATA",
            data_view()};
}

// The files of our driver's data source opened with the sqlite3 C API, schemas attached as the
// driver attaches them: the floor any SQLite-backed driver stands on.
class LiteFiles {
public:
    explicit LiteFiles(const qix::test::LiteSource& source)
    {
        if (sqlite3_open_v2(source.database_file().c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            throw std::runtime_error("sqlite3_open_v2 failed: " + message());
        const std::string attach = "ATTACH DATABASE '" + source.schema_file("VEDUV").string() + "' AS VEDUV";
        if (sqlite3_exec(db_, attach.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error("ATTACH failed: " + message());
    }
    LiteFiles(const LiteFiles&) = delete;
    LiteFiles& operator=(const LiteFiles&) = delete;
    ~LiteFiles() { sqlite3_close(db_); }

    [[nodiscard]] sqlite3* db() const noexcept { return db_; }
    [[nodiscard]] std::string message() const { return db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"; }

private:
    sqlite3* db_ = nullptr;
};

// A data source with the facility view, the library's Database and a raw connection on it.
struct LoadSource {
    std::unique_ptr<qix::test::LiteSource> lite;
    std::unique_ptr<qix::test::PostgresSource> postgres;
    std::unique_ptr<qix::sql::Database> db;
    std::unique_ptr<RawConnection> raw;
    std::unique_ptr<LiteFiles> files;
    std::size_t rows = 0;
    std::vector<void*> verified_loops;
};

std::unique_ptr<LoadSource> make_source(bool on_postgres, std::size_t rows)
{
    auto source = std::make_unique<LoadSource>();
    source->rows = rows;
    std::string dsn;
    std::string user;
    if (on_postgres) {
        source->postgres = std::make_unique<qix::test::PostgresSource>();
        dsn = source->postgres->dsn();
        user = source->postgres->user();
        qix::test::run_raw_statements(dsn, user, postgres_fixture(rows));
    } else {
        source->lite = std::make_unique<qix::test::LiteSource>(std::vector<std::string>{"VEDUV"});
        dsn = source->lite->dsn();
        source->lite->execute(lite_fixture(rows));
        source->files = std::make_unique<LiteFiles>(*source->lite);
    }
    source->db = std::make_unique<qix::sql::Database>(dsn, user, "");
    source->db->connect();
    source->raw = std::make_unique<RawConnection>(dsn, user);
    return source;
}

LoadSource& source_for(bool on_postgres, std::size_t rows)
{
    static std::array<std::unique_ptr<LoadSource>, 2> sources;
    auto& source = sources[on_postgres ? 1 : 0];
    if (!source) {
        source = make_source(on_postgres, rows);
        on_release([&source] { source.reset(); });
    }
    return *source;
}

// Column arrays of `rows` rows with their length/indicator cells, laid out as ODBC column-wise
// binding wants them.
struct ColumnArrays {
    explicit ColumnArrays(std::size_t rows)
        : texts(kTexts.size() * rows * kTextCapacity), text_lengths(kTexts.size() * rows),
          numbers(kNumbers.size() * rows), number_lengths(kNumbers.size() * rows), flags(kFlags.size() * rows),
          flag_lengths(kFlags.size() * rows), status(rows)
    {
    }
    std::vector<char> texts;
    std::vector<SQLLEN> text_lengths;
    std::vector<double> numbers;
    std::vector<SQLLEN> number_lengths;
    std::vector<unsigned short> flags;
    std::vector<SQLLEN> flag_lengths;
    std::vector<SQLUSMALLINT> status;
    SQLULEN fetched = 0;

    void bind(const RawStatement& statement, std::size_t rows)
    {
        const auto bind = [&](std::size_t column, SQLSMALLINT type, SQLPOINTER buffer, SQLLEN length,
                              SQLLEN* indicator) {
            check(SQLBindCol(statement.handle(), static_cast<SQLUSMALLINT>(column), type, buffer, length, indicator),
                  statement, "SQLBindCol");
        };
        for (std::size_t i = 0; i < kTexts.size(); ++i)
            bind(kTexts[i].number, SQL_C_CHAR, &texts[i * rows * kTextCapacity], kTextCapacity,
                 &text_lengths[i * rows]);
        for (std::size_t i = 0; i < kNumbers.size(); ++i)
            bind(kFirstNumberColumn + i, SQL_C_DOUBLE, &numbers[i * rows], 0, &number_lengths[i * rows]);
        for (std::size_t i = 0; i < kFlags.size(); ++i)
            bind(kFirstFlagColumn + i, SQL_C_USHORT, &flags[i * rows], 0, &flag_lengths[i * rows]);
    }

    // Appends row `row` of a rowset of `rows` rows; NULL reads as "", 0.0 and false.
    void append_row(std::vector<Component>& components, std::size_t row, std::size_t rows) const
    {
        Component& component = components.emplace_back();
        for (std::size_t i = 0; i < kTexts.size(); ++i) {
            const SQLLEN length = text_lengths[i * rows + row];
            if (length != SQL_NULL_DATA)
                (component.*kTexts[i].member)
                    .assign(&texts[(i * rows + row) * kTextCapacity], static_cast<std::size_t>(length));
        }
        for (std::size_t i = 0; i < kNumbers.size(); ++i)
            if (number_lengths[i * rows + row] != SQL_NULL_DATA)
                component.*kNumbers[i].member = numbers[i * rows + row];
        component.flags_.resize(kFlags.size());
        for (std::size_t i = 0; i < kFlags.size(); ++i)
            component.flags_[i] = flag_lengths[i * rows + row] != SQL_NULL_DATA && flags[i * rows + row] != 0;
    }
};

void raw_rows(const RawConnection& connection, const std::string& sql, std::vector<Component>& components)
{
    components.clear();
    const RawStatement statement(connection);
    check(statement.exec(sql), statement, sql);
    ColumnArrays arrays(1);
    arrays.bind(statement, 1);
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(statement.handle())))
        arrays.append_row(components, 0, 1);
    if (rc != SQL_NO_DATA)
        check(rc, statement, "SQLFetch");
}

void raw_blocks(const RawConnection& connection, const std::string& sql, std::vector<Component>& components)
{
    components.clear();
    const RawStatement statement(connection);
    check(statement.exec(sql), statement, sql);
    ColumnArrays arrays(kBlockRows);
    const auto set = [&](SQLINTEGER attribute, SQLPOINTER value) {
        check(SQLSetStmtAttr(statement.handle(), attribute, value, 0), statement, "SQLSetStmtAttr");
    };
    set(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlockRows));
    set(SQL_ATTR_ROWS_FETCHED_PTR, &arrays.fetched);
    set(SQL_ATTR_ROW_STATUS_PTR, arrays.status.data());
    arrays.bind(statement, kBlockRows);
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(statement.handle()))) {
        for (std::size_t row = 0; row < arrays.fetched; ++row) {
            if (arrays.status[row] == SQL_ROW_ERROR)
                check(SQL_ERROR, statement, "SQLFetch");
            arrays.append_row(components, row, kBlockRows);
        }
    }
    if (rc != SQL_NO_DATA)
        check(rc, statement, "SQLFetch");
}

// The same components straight from SQLite, without ODBC: NULL as "", 0.0 and false.
void sqlite_rows(const LiteFiles& files, const std::string& sql, std::vector<Component>& components)
{
    components.clear();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(files.db(), sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error(sql + " failed: " + files.message());
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> finalizer(statement, sqlite3_finalize);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        Component& component = components.emplace_back();
        for (std::size_t i = 0; i < kTexts.size(); ++i) {
            const int column = static_cast<int>(kTexts[i].number) - 1;
            if (const auto* text = sqlite3_column_text(statement, column))
                (component.*kTexts[i].member)
                    .assign(reinterpret_cast<const char*>(text),
                            static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
        }
        for (std::size_t i = 0; i < kNumbers.size(); ++i)
            component.*kNumbers[i].member =
                sqlite3_column_double(statement, static_cast<int>(kFirstNumberColumn + i) - 1);
        component.flags_.resize(kFlags.size());
        for (std::size_t i = 0; i < kFlags.size(); ++i)
            component.flags_[i] = sqlite3_column_int64(statement, static_cast<int>(kFirstFlagColumn + i) - 1) != 0;
    }
    if (rc != SQLITE_DONE)
        throw std::runtime_error("sqlite3_step failed: " + files.message());
}

// A baseline's components must be the library's, or the comparison means nothing.
void check_same(LoadSource& source, void* key, const std::function<void(std::vector<Component>&)>& loop)
{
    if (std::find(source.verified_loops.begin(), source.verified_loops.end(), key) != source.verified_loops.end())
        return;
    qix::sql::ComponentList library;
    library.read_from_db(*source.db, kFacility);
    qix::sql::ComponentList raw;
    raw.flag_names_.assign(kFlags.begin(), kFlags.end());
    loop(raw.components_);
    if (library != raw || library.components_.size() != source.rows)
        throw std::runtime_error("the baseline and the library load different component lists");
    source.verified_loops.push_back(key);
}

// A baseline benchmark: `loop(source, statement, components)` once per iteration.
template <typename Loop>
void add_baseline(const std::string& name, bool on_postgres, std::size_t rows, Loop loop)
{
    add_benchmark(name, [=](benchmark::State& state) {
        LoadSource* source = nullptr;
        const std::string sql = select_statement();
        std::vector<Component> components;
        const auto run = [&] { loop(*source, sql, components); };
        run_timed(
            state, static_cast<double>(rows),
            [&] {
                source = &source_for(on_postgres, rows);
                check_same(*source, reinterpret_cast<void*>(+loop),
                           [&](std::vector<Component>& out) { loop(*source, sql, out); });
            },
            run);
    });
}

void register_driver(const std::string& driver, const std::string& label, bool on_postgres, std::size_t rows)
{
    const std::string prefix = "load/" + driver + "/";
    add_benchmark(prefix + "library", [=](benchmark::State& state) {
        LoadSource* source = nullptr;
        qix::sql::ComponentList list;
        run_timed(
            state, static_cast<double>(rows), [&] { source = &source_for(on_postgres, rows); },
            [&] { list.read_from_db(*source->db, kFacility); });
    });
    add_baseline(prefix + "raw_rows", on_postgres, rows,
                 [](LoadSource& s, const std::string& sql, std::vector<Component>& c) { raw_rows(*s.raw, sql, c); });
    add_baseline(prefix + "raw_blocks", on_postgres, rows,
                 [](LoadSource& s, const std::string& sql, std::vector<Component>& c) { raw_blocks(*s.raw, sql, c); });
    const std::string workload = "1 load " + count_text(rows) + " rows, " + label;
    add_row({workload + ": library vs raw row-by-row loop",
             prefix + "library",
             prefix + "raw_rows",
             Unit::rows_per_second,
             Check::at_least,
             0.90,
             {},
             1.0 / 0.90});
    add_row({workload + ": library vs raw block-fetch loop",
             prefix + "library",
             prefix + "raw_blocks",
             Unit::rows_per_second,
             Check::at_least,
             0.90,
             {},
             1.0 / 0.90});
    if (on_postgres)
        return;
    // The driver itself: the raw ODBC loops against the same rows read with the sqlite3 C API.
    add_baseline(
        prefix + "sqlite3", on_postgres, rows,
        [](LoadSource& s, const std::string& sql, std::vector<Component>& c) { sqlite_rows(*s.files, sql, c); });
    add_row({workload + ": raw row-by-row loop vs the sqlite3 C API",
             prefix + "raw_rows",
             prefix + "sqlite3",
             Unit::rows_per_second,
             Check::none,
             0.0,
             {},
             1.10});
    add_row({workload + ": raw block-fetch loop vs the sqlite3 C API",
             prefix + "raw_blocks",
             prefix + "sqlite3",
             Unit::rows_per_second,
             Check::none,
             0.0,
             {},
             1.10});
    add_row({workload + ": raw block-fetch loop vs raw row-by-row loop",
             prefix + "raw_blocks",
             prefix + "raw_rows",
             Unit::rows_per_second,
             Check::none,
             0.0,
             {},
             1.0});
}

} // namespace

void register_load_benchmarks(const Sizes& sizes)
{
    register_driver("lite", "our driver", false, sizes.load_rows);
    register_driver("postgres", "PostgreSQL/psqlODBC", true, sizes.load_rows);
}

} // namespace qix::bench

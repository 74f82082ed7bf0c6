// The driver target: every input is a short program of ODBC calls against our SQLite driver on a
// fresh connection to a copy of a small database. The calls are made as the driver manager
// would pass them on: handles stay valid from the driver's point of view, and every buffer the
// driver may write is exactly as large as the calls promise, so that the sanitizers report any
// byte the driver touches beyond it. Beyond "no crash", values written through a parameter must
// read back unchanged through the same C type where the conversion loses nothing.

#include "driver_api.h"
#include "targets.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <signal.h>
#include <unistd.h>

#ifdef QIX_LITE_DRIVER_FILE
#include <dlfcn.h>
#endif

namespace qix::fuzz {

const DriverApi& driver_api()
{
    static const DriverApi api = [] {
        DriverApi found;
#ifdef QIX_LITE_DRIVER_FILE
        void* library = dlopen(QIX_LITE_DRIVER_FILE, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            std::fprintf(stderr, "cannot load the driver: %s\n", dlerror());
            std::abort();
        }
#define QIX_DRIVER_FIND(name)                                                                                          \
    found.name = reinterpret_cast<decltype(found.name)>(dlsym(library, #name));                                        \
    require(found.name != nullptr, "the driver exports " #name);
#else
#define QIX_DRIVER_FIND(name) found.name = &::name;
#endif
        QIX_DRIVER_ENTRY_POINTS(QIX_DRIVER_FIND)
#undef QIX_DRIVER_FIND
        return found;
    }();
    return api;
}

namespace {

namespace fs = std::filesystem;

const DriverApi& odbc() { return driver_api(); }

bool ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// ---------------------------------------------------------------------------------------------
// Guards on the SQLite connections the driver opens: inputs run arbitrary SQL, which must not
// reach files outside the work folder, run unbounded, or depend on chance.

bool g_connecting = false; // ATTACH is allowed only while the driver attaches the schemas

int authorize(void*, int action, const char* first, const char*, const char*, const char*)
{
    switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH: return g_connecting ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_RECURSIVE: return SQLITE_DENY;
    case SQLITE_FUNCTION:
        for (const char* name : {"random", "randomblob", "load_extension", "sqlite_offset"})
            if (first != nullptr && sqlite3_stricmp(first, name) == 0)
                return SQLITE_DENY;
        return SQLITE_OK;
    case SQLITE_PRAGMA:
        // Pragmas that name files or change how the library itself behaves.
        for (const char* name : {"temp_store_directory", "data_store_directory", "mmap_size", "soft_heap_limit",
                                 "hard_heap_limit", "threads", "writable_schema", "cache_size"})
            if (first != nullptr && sqlite3_stricmp(first, name) == 0)
                return SQLITE_DENY;
        return SQLITE_OK;
    default: return SQLITE_OK;
    }
}

int guard_connection(sqlite3* db, const char**, const void*)
{
    constexpr int kLargestValue = 1 << 20;
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kLargestValue);
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, kLargestValue);
    sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 2);
    sqlite3_set_authorizer(db, authorize, nullptr);
    return SQLITE_OK;
}

// ---------------------------------------------------------------------------------------------
// The input, read front to back; an exhausted input reads as zeros.

class Input {
public:
    explicit Input(std::string_view bytes) : bytes_(bytes) {}

    [[nodiscard]] bool empty() const { return bytes_.empty(); }
    std::uint8_t byte()
    {
        if (bytes_.empty())
            return 0;
        const auto value = static_cast<std::uint8_t>(bytes_.front());
        bytes_.remove_prefix(1);
        return value;
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16() | static_cast<std::uint32_t>(u16()) << 16); }
    std::uint64_t u64() { return u32() | static_cast<std::uint64_t>(u32()) << 32; }
    bool flag() { return (byte() & 1) != 0; }
    template <typename T, std::size_t N>
    T pick(const T (&choices)[N])
    {
        return choices[byte() % N];
    }
    /// A run of raw bytes: a length byte, then that many bytes (fewer at the end of the input).
    std::string chunk(std::size_t scale = 1)
    {
        const std::size_t length = std::min<std::size_t>(byte() * scale, bytes_.size());
        std::string text(bytes_.substr(0, length));
        bytes_.remove_prefix(length);
        return text;
    }

private:
    std::string_view bytes_;
};

// Memory handed to the driver, kept until the input's handles are gone. Each block is its own
// allocation of exactly the promised size.
class Arena {
public:
    std::byte* allocate(std::size_t size)
    {
        blocks_.push_back(std::make_unique<std::byte[]>(size));
        return blocks_.back().get();
    }
    void clear() { blocks_.clear(); }

private:
    std::vector<std::unique_ptr<std::byte[]>> blocks_;
};

// ---------------------------------------------------------------------------------------------
// The small database every input starts from: a copy of a template made once per process.

constexpr const char* kSchemaStatements[] = {
    "CREATE TABLE t_all (id INTEGER PRIMARY KEY, name VARCHAR2(30) NOT NULL, note CLOB, data BLOB, "
    "amount NUMBER(12,2), ratio REAL, born DATE, ts TIMESTAMP(3), ts9 TIMESTAMP(9), ts0 TIMESTAMP(0), "
    "flag BOOLEAN, small SMALLINT, big BIGINT)",
    "CREATE UNIQUE INDEX t_all_name ON t_all (name)",
    "CREATE INDEX t_all_ts ON t_all (ts DESC, amount)",
    "INSERT INTO t_all VALUES (1, 'first', 'plain text', x'00FF10', 12.5, 0.25, '2024-02-29 00:00:00', "
    "'2024-02-29 23:59:59.123000', '1999-12-31 23:59:59.123456789', '1970-01-01 00:00:00', 1, -32768, "
    "9223372036854775807)",
    "INSERT INTO t_all VALUES (2, 'nulls', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
    "INSERT INTO t_all VALUES (3, 'long', printf('%.3000c', 'x'), zeroblob(5000), -0.01, -1e308, "
    "'0001-01-01 00:00:00', '9999-12-31 23:59:59.999000', '2000-01-01 00:00:00.000000001', "
    "'2038-01-19 03:14:08', 0, 32767, -9223372036854775808)",
    "INSERT INTO t_all VALUES (4, 'wide ä€😀', 'Grüße 😀 ' || char(0x10FFFF), CAST('text' AS BLOB), '1e3', "
    "'NaN text', 'not a date', 'not a time', '2024-13-45 25:61:61', '', 'yes', 'many', '12abc')",
    "INSERT INTO t_all VALUES (5, 'bytes', CAST(x'C328FF00E282' AS TEXT), x'', 99999999999.99, 1.5, "
    "'2024-06-30 12:00:00', '2024-06-30 12:00:00', '2024-06-30 12:00:00', '2024-06-30 12:00:00.5', 2, 1, 0)",
    "CREATE TABLE base (id INTEGER PRIMARY KEY, v TEXT, stamp TIMESTAMP(6))",
    "INSERT INTO base VALUES (1, 'one', '2020-01-01 10:00:00.000001'), (2, 'two', NULL)",
    "CREATE VIEW v_base AS SELECT id, v, stamp FROM base",
    "CREATE TRIGGER v_base_insert INSTEAD OF INSERT ON v_base BEGIN "
    "INSERT INTO base (id, v, stamp) VALUES (NEW.id, NEW.v, NEW.stamp); END",
    "CREATE TRIGGER v_base_update INSTEAD OF UPDATE ON v_base BEGIN "
    "UPDATE base SET v = NEW.v, stamp = NEW.stamp WHERE id = OLD.id; END",
    "CREATE TRIGGER v_base_delete INSTEAD OF DELETE ON v_base BEGIN DELETE FROM base WHERE id = OLD.id; END",
    "CREATE TABLE child (id INTEGER PRIMARY KEY, base_id INTEGER NOT NULL REFERENCES base (id), "
    "owner_name VARCHAR2(30) REFERENCES t_all (name) ON DELETE CASCADE, UNIQUE (base_id, owner_name))",
    "INSERT INTO child VALUES (1, 1, 'first')",
    "CREATE TABLE OTHER.items (code VARCHAR2(10) PRIMARY KEY, stamp TIMESTAMP(6), qty NUMBER(5), "
    "price NUMBER(10,4) NOT NULL DEFAULT 0, photo BLOB)",
    "INSERT INTO OTHER.items VALUES ('A1', '2021-05-05 05:05:05.050505', 5, 1.2345, x'89504E47'), "
    "('B''2', NULL, NULL, -0.0001, NULL)",
    "CREATE VIEW OTHER.cheap AS SELECT code, price FROM items WHERE price < 1",
};

class Workspace {
public:
    Workspace()
    {
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(guard_connection));
        // In memory where the system offers it: every commit of an input syncs its files.
        const fs::path parent = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        remove_abandoned(parent);
        std::string pattern = (parent / (std::string(kFolderPrefix) + std::to_string(getpid()) + "-XXXXXX")).string();
        require(mkdtemp(pattern.data()) != nullptr, "a temporary folder for the driver target");
        root_ = pattern;
        fs::create_directories(root_ / "template");
        build_template();
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    ~Workspace()
    {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    /// A fresh copy of the template; returns the connection string that opens it.
    std::string fresh_copy() const
    {
        const fs::path work = root_ / "work";
        empty_folder(work);
        for (const char* file : {"main.db", "OTHER.db"})
            retried([&](std::error_code& ec) {
                fs::copy_file(root_ / "template" / file, work / file, fs::copy_options::overwrite_existing, ec);
            });
        return connection_string(work);
    }

    /// A new empty database of its own for the round trips; returns the connection string.
    std::string fresh_probe() const
    {
        const fs::path probe = root_ / "probe";
        empty_folder(probe);
        return "Database={" + (probe / "probe.db").string() + "};Create=yes";
    }

private:
    static constexpr std::string_view kFolderPrefix = "qix-fuzz-driver-";

    // libFuzzer's timer signal interrupts file copies now and then: such calls are made again
    // (a copy cut short has already created its file, which the next try overwrites).
    template <typename Call>
    static void retried(Call&& call)
    {
        std::error_code ec;
        do {
            ec.clear();
            call(ec);
        } while (ec == std::errc::interrupted);
        if (ec)
            throw fs::filesystem_error("driver target workspace", ec);
    }

    static void empty_folder(const fs::path& folder)
    {
        retried([&](std::error_code& ec) { fs::remove_all(folder, ec); });
        retried([&](std::error_code& ec) { fs::create_directory(folder, ec); });
    }

    // A crash ends the process without destructors: the folders of processes that are gone are
    // removed by the next run.
    static void remove_abandoned(const fs::path& parent)
    {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(parent, ignored)) {
            const std::string name = entry.path().filename().string();
            if (!name.starts_with(kFolderPrefix))
                continue;
            const long pid = std::strtol(name.c_str() + kFolderPrefix.size(), nullptr, 10);
            if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                fs::remove_all(entry.path(), ignored);
        }
    }

    static std::string connection_string(const fs::path& folder)
    {
        return "Database={" + (folder / "main.db").string() + "};Schemas=other;Create=yes";
    }

    void build_template() const;

    fs::path root_;
};

const Workspace& workspace()
{
    static const Workspace instance;
    return instance;
}

// ---------------------------------------------------------------------------------------------
// One connection with up to two statements, as an application drives them.

struct RowLayout {
    SQLULEN size = 1;          // rows or parameter sets per call
    SQLULEN bind_type = 0;     // 0: column-wise, else the row size in bytes
    SQLLEN offset = 0;         // value of the bind offset variable
    bool offset_bound = false; // the bind offset pointer is set
};

struct ColumnBind {
    SQLUSMALLINT column;
    SQLSMALLINT c_type;
    SQLLEN buffer_length;
    bool indicator;
};

struct ParameterBind {
    SQLUSMALLINT number = 0;
    SQLSMALLINT io_type = SQL_PARAM_INPUT;
    SQLSMALLINT c_type = SQL_C_CHAR;
    SQLSMALLINT sql_type = SQL_VARCHAR;
    SQLULEN column_size = 0;
    SQLSMALLINT digits = 0;
    std::string value; // one element, terminators included
    bool null_buffer = false;
    SQLLEN buffer_length = 0;
    bool with_indicator = false;
    SQLLEN indicator = 0; // the same in every set
};

struct Slot {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    RowLayout rows;
    std::vector<ColumnBind> columns;
    SQLULEN rows_fetched = 0;
    RowLayout parameter_sets;
    std::vector<ParameterBind> parameters;
    SQLULEN parameters_processed = 0;
};

// clang-format off
constexpr SQLSMALLINT kCTypes[] = {
    SQL_C_CHAR,    SQL_C_BINARY,  SQL_C_SBIGINT, SQL_C_UBIGINT,  SQL_C_SLONG,         SQL_C_ULONG, SQL_C_LONG,
    SQL_C_SSHORT,  SQL_C_USHORT,  SQL_C_SHORT,   SQL_C_STINYINT, SQL_C_UTINYINT,      SQL_C_TINYINT,
    SQL_C_BIT,     SQL_C_DOUBLE,  SQL_C_FLOAT,   SQL_C_DEFAULT,  SQL_C_TYPE_TIMESTAMP, SQL_C_TIMESTAMP,
    SQL_C_WCHAR,   SQL_C_NUMERIC, SQL_C_TYPE_DATE, SQL_C_TYPE_TIME, SQL_C_GUID, SQL_C_CHAR, SQL_C_BINARY,
    SQL_C_INTERVAL_DAY, 99, -1,
};

constexpr SQLSMALLINT kSqlTypes[] = {
    SQL_VARCHAR,  SQL_CHAR,       SQL_LONGVARCHAR, SQL_WVARCHAR, SQL_WCHAR,     SQL_WLONGVARCHAR, SQL_INTEGER,
    SQL_BIGINT,   SQL_SMALLINT,   SQL_TINYINT,     SQL_NUMERIC,  SQL_DECIMAL,   SQL_DOUBLE,       SQL_FLOAT,
    SQL_REAL,     SQL_BIT,        SQL_VARBINARY,   SQL_BINARY,   SQL_LONGVARBINARY, SQL_TYPE_TIMESTAMP,
    SQL_TIMESTAMP, SQL_TYPE_DATE, SQL_TYPE_TIME,   SQL_GUID,     SQL_INTERVAL_DAY, 0, 77,
};
// clang-format on

// Bytes the driver writes for one value of a C type; for the character and binary types the
// buffer length decides, and where the driver chooses the type itself the largest it may choose.
std::size_t element_size(SQLSMALLINT c_type, SQLLEN buffer_length)
{
    const auto length = static_cast<std::size_t>(std::max<SQLLEN>(buffer_length, 0));
    switch (c_type) {
    case SQL_C_CHAR:
    case SQL_C_BINARY:
    case SQL_C_WCHAR: return length;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
    case SQL_C_DOUBLE: return 8;
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_LONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
    case SQL_C_SHORT: return 2;
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_TINYINT:
    case SQL_C_BIT: return 1;
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
    case SQL_C_TYPE_DATE: return sizeof(SQL_DATE_STRUCT);
    case SQL_C_TYPE_TIME: return sizeof(SQL_TIME_STRUCT);
    case SQL_C_NUMERIC: return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_GUID: return sizeof(SQLGUID);
    default: return std::max<std::size_t>(length, 32);
    }
}

std::string format_model(Input& in)
{
    static constexpr const char* kElements[] = {
        "YYYY", "MM",  "DD",   "HH24", "HH", "HH12", "MI",   "SS", "FF", "FF1",    "FF3",   "FF6",
        "FF9",  "FF0", "FF10", "AM",   "PM", "A.M.", "MON",  "RR", "X",  "\"at\"", "\"",    "-",
        ":",    ".",   " ",    "/",    ",",  "''",   "yyyy", "ff", "DY", "Y",      "SSSSS",
    };
    std::string model;
    for (int count = in.byte() % 14; count > 0; --count) {
        if (in.byte() % 8 == 0)
            model.push_back(static_cast<char>(in.byte()));
        else
            model += in.pick(kElements);
    }
    return model;
}

constexpr const char* kStatements[] = {
    "SELECT * FROM t_all",
    "SELECT id, name, note, data, amount, ratio, born, ts, ts9, ts0, flag, small, big FROM t_all WHERE id >= ?",
    "SELECT * FROM OTHER.items WHERE code LIKE ?",
    "SELECT OWNER, TABLE_NAME, COLUMN_NAME, COLUMN_ID, DATA_TYPE, NULLABLE FROM ALL_TAB_COLUMNS "
    "WHERE OWNER = ? ORDER BY TABLE_NAME, COLUMN_ID",
    "SELECT * FROM ALL_TAB_COLUMNS WHERE TABLE_NAME = 'T_ALL' AND DATA_TYPE LIKE 'TIMESTAMP%'",
    "INSERT INTO t_all (name, note, data, amount, ratio, born, ts, ts9, ts0, flag, small, big) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
    "UPDATE t_all SET ts = ?, amount = ? WHERE id = ?",
    "DELETE FROM t_all WHERE id = ?",
    "INSERT INTO v_base (id, v, stamp) VALUES (?, ?, ?)",
    "UPDATE v_base SET v = ?, stamp = ? WHERE id = ?",
    "DELETE FROM v_base WHERE id > ?",
    "SELECT * FROM v_base ORDER BY id",
    "INSERT INTO OTHER.items (code, stamp, qty, price) VALUES (?, ?, ?, ?)",
    "UPDATE OTHER.items SET stamp = ? WHERE code = ?",
    "SELECT ts, ts9, ts0, born, ts || '' FROM t_all ORDER BY id",
    "ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH24:MI:SS.FF'",
    "alter session set nls_timestamp_format='DD.MM.YYYY HH24:MI:SS.FF3'",
    "SELECT ?, ?, ?",
    "SELECT count(*), sum(amount), max(ts), min(born) FROM t_all",
    "SELECT \"name\" AS \"quoted \"\" name\", 'it''s' FROM \"T_ALL\" -- comment\n",
    "/* lead */ SELECT 1; ; -- tail",
    "SELECT 1; SELECT 2",
    "BEGIN",
    "COMMIT",
    "ROLLBACK",
    "CREATE TABLE scratch (a TIMESTAMP(2), b NUMBER(10,3), c DATE, d BLOB, e VARCHAR2(5), f TIMESTAMP)",
    "INSERT INTO scratch VALUES (?, ?, ?, ?, ?, ?)",
    "SELECT * FROM scratch",
    "SELECT x'00ff', 'a' || x'00' || 'b', 1.5e300, -9223372036854775808, 18446744073709551615, NULL",
    "SELECT code, stamp FROM OTHER.items UNION ALL SELECT name, ts FROM main.t_all",
    "SELECT * FROM OTHER.cheap",
    "DROP TABLE base",
    "",
};

// A statement text from the input: a known statement, one mutated by raw bytes, raw bytes alone,
// a session format, several statements in one text, or a long text.
std::string statement_text(Input& in)
{
    switch (in.byte() % 8) {
    case 0:
    case 1: return in.pick(kStatements);
    case 2: {
        std::string text = in.pick(kStatements);
        const std::size_t at = text.empty() ? 0 : in.byte() % (text.size() + 1);
        text.insert(at, in.chunk());
        return text;
    }
    case 3: return in.chunk(4);
    case 4: {
        static constexpr const char* kPrefixes[] = {
            "ALTER SESSION SET NLS_TIMESTAMP_FORMAT = '",
            "alter   session\nset nls_timestamp_format='",
            "ALTER SESSION SET NLS_DATE_FORMAT = '",
            "ALTER SESSION SET NLS_TIMESTAMP_FORMAT '",
            "/* c */ ALTER SESSION SET NLS_TIMESTAMP_FORMAT = \"",
            "ALTER SESSION SET NLS_TIMESTAMP_FORMAT = ",
        };
        static constexpr const char* kSuffixes[] = {"'", "';", "' -- done", "", "''", "' '", "'; SELECT 1"};
        return std::string(in.pick(kPrefixes)) + format_model(in) + in.pick(kSuffixes);
    }
    case 5: {
        static constexpr const char* kSeparators[] = {";", "; ", ";\n-- c\n", " /* x */ ;", ";;", "\n"};
        std::string text = in.pick(kStatements);
        for (int more = 1 + in.byte() % 2; more > 0; --more)
            text += std::string(in.pick(kSeparators)) + in.pick(kStatements);
        return text;
    }
    case 6: {
        std::string text = in.pick(kStatements);
        const std::size_t repeat = in.byte() * 64u;
        if (in.flag())
            text += " /*" + std::string(repeat, 'x') + "*/";
        else
            text = "SELECT " + [&] {
                std::string sum;
                for (std::size_t i = 0; i < repeat; ++i)
                    sum += "1+";
                return sum;
            }() + "1";
        return text;
    }
    default: {
        // Schema-qualified and quoted names of the data dictionary and the tables.
        static constexpr const char* kNames[] = {
            "OTHER.items",
            "\"OTHER\".\"ITEMS\"",
            "other.ITEMS",
            "main.t_all",
            "\"t_all\"",
            "ALL_TAB_COLUMNS",
            "temp.ALL_TAB_COLUMNS",
            "v_base",
            "OTHER.cheap",
            "\"OTHER\".\"cheap\"",
            "\"\"",
            "nosuch.t",
        };
        return "SELECT * FROM " + std::string(in.pick(kNames)) + (in.flag() ? " WHERE 1 = ?" : "");
    }
    }
}

class Probe;

class Session {
public:
    explicit Session(Input& in) : in_(in)
    {
        const auto& api = odbc();
        require(api.SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_) == SQL_SUCCESS, "environment allocated");
        static constexpr SQLLEN kVersions[] = {SQL_OV_ODBC3, SQL_OV_ODBC3, SQL_OV_ODBC2, SQL_OV_ODBC3_80, 4};
        api.SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(in_.pick(kVersions)), 0);
        require(api.SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_) == SQL_SUCCESS, "connection allocated");
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session()
    {
        const auto& api = odbc();
        for (Slot& slot : slots_)
            if (slot.handle != SQL_NULL_HSTMT)
                api.SQLFreeHandle(SQL_HANDLE_STMT, slot.handle);
        if (connected_) {
            api.SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
            require(api.SQLDisconnect(dbc_) == SQL_SUCCESS, "disconnect succeeds after a rollback");
        }
        require(api.SQLFreeHandle(SQL_HANDLE_DBC, dbc_) == SQL_SUCCESS, "connection freed");
        require(api.SQLFreeHandle(SQL_HANDLE_ENV, env_) == SQL_SUCCESS, "environment freed");
    }

    bool connect(const std::string& connection_string);
    void step();

private:
    Slot& slot() { return slots_[in_.byte() % slots_.size()]; }
    void allocate(Slot& slot);
    SQLRETURN run_text(Slot& slot, bool direct);
    void bind_parameter(Slot& slot);
    void bind_column(Slot& slot);
    bool bind_in_layout(Slot& slot, const ColumnBind& bind);
    bool bind_in_layout(Slot& slot, const ParameterBind& parameter);
    void set_parameter_layout(Slot& slot);
    void set_row_layout(Slot& slot);
    void fetch(Slot& slot);
    void get_data(Slot& slot);
    void describe(Slot& slot);
    void statement_attribute(Slot& slot);
    void diagnostics(Slot& slot);
    void connection_calls();
    void free_and_reallocate(Slot& slot);
    void disconnect_and_reconnect();
    void round_trip();
    void round_trip_array(Probe& probe);
    void round_trip_session_text(Probe& probe);
    void catalogue(Slot& slot);
    struct Name {
        SQLCHAR* text;
        SQLSMALLINT length;
    };
    Name name();
    void wide_calls(Slot& slot);
    struct WideName {
        SQLWCHAR* text;
        SQLSMALLINT length;
    };
    WideName wide_name();
    std::pair<SQLWCHAR*, SQLINTEGER> wide_text(const std::string& text);

    Input& in_;
    Arena arena_;
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
    std::string connection_string_;
    std::array<Slot, 2> slots_;
};

bool Session::connect(const std::string& connection_string)
{
    connection_string_ = connection_string;
    SQLCHAR out[64];
    SQLSMALLINT out_length = 0;
    g_connecting = true;
    const SQLRETURN rc =
        odbc().SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(connection_string_.data()), SQL_NTS, out,
                                static_cast<SQLSMALLINT>(in_.byte() % sizeof out), &out_length, SQL_DRIVER_NOPROMPT);
    g_connecting = false;
    connected_ = ok(rc);
    if (connected_)
        for (Slot& slot : slots_)
            allocate(slot);
    return connected_;
}

void Session::allocate(Slot& slot)
{
    slot = Slot{};
    if (!ok(odbc().SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &slot.handle))) {
        slot.handle = SQL_NULL_HSTMT;
        return;
    }
    // A runaway statement ends after a second instead of stalling the fuzzer.
    odbc().SQLSetStmtAttr(slot.handle, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0);
}

SQLRETURN Session::run_text(Slot& slot, bool direct)
{
    std::string text = statement_text(in_);
    SQLINTEGER length = SQL_NTS;
    SQLCHAR* pointer = reinterpret_cast<SQLCHAR*>(text.data());
    switch (in_.byte() % 6) {
    case 0: length = static_cast<SQLINTEGER>(text.size()); break;
    case 1: length = static_cast<SQLINTEGER>(text.size() - std::min<std::size_t>(text.size(), in_.byte() % 8)); break;
    case 2: length = -static_cast<SQLINTEGER>(2 + in_.byte() % 8); break;
    case 3:
        pointer = nullptr;
        length = in_.flag() ? 0 : SQL_NTS;
        break;
    default: break;
    }
    // The text is handed over in a block of exactly its size (plus the NUL that SQL_NTS needs).
    const std::size_t used = pointer == nullptr ? 0 : length == SQL_NTS ? text.size() + 1 : std::max(length, 0);
    std::byte* copy = used > 0 ? arena_.allocate(used) : nullptr;
    if (copy != nullptr)
        std::memcpy(copy, text.c_str(), used);
    SQLCHAR* given = pointer == nullptr ? nullptr : copy != nullptr ? reinterpret_cast<SQLCHAR*>(copy) : pointer;
    return direct ? odbc().SQLExecDirect(slot.handle, given, length) : odbc().SQLPrepare(slot.handle, given, length);
}

void Session::bind_parameter(Slot& slot)
{
    ParameterBind p;
    p.number = static_cast<SQLUSMALLINT>(in_.byte() % 14);
    static constexpr SQLSMALLINT kIoTypes[] = {SQL_PARAM_INPUT,  SQL_PARAM_INPUT,        SQL_PARAM_INPUT,
                                               SQL_PARAM_OUTPUT, SQL_PARAM_INPUT_OUTPUT, 9};
    p.io_type = in_.pick(kIoTypes);
    p.c_type = in_.pick(kCTypes);
    p.sql_type = in_.pick(kSqlTypes);
    p.column_size = in_.flag() ? in_.byte() : in_.u32();
    p.digits = static_cast<SQLSMALLINT>(static_cast<std::int8_t>(in_.byte()));

    // The value: raw bytes, at least as many as a fixed-size C type reads.
    p.value = in_.chunk();
    const std::size_t fixed = element_size(p.c_type, 0);
    if (p.c_type != SQL_C_CHAR && p.c_type != SQL_C_BINARY && p.c_type != SQL_C_WCHAR && p.value.size() < fixed)
        p.value.resize(fixed, '\0');
    const bool terminate = in_.flag();
    const std::size_t content = p.value.size();
    if (terminate) // whole UTF-16 units, then a NUL of either width
        p.value.append(2 + p.value.size() % 2, '\0');
    p.null_buffer = in_.byte() % 16 == 0;
    p.buffer_length = static_cast<SQLLEN>(p.value.size());
    if (in_.byte() % 8 == 0)
        p.buffer_length = -static_cast<SQLLEN>(in_.byte());

    // The indicator: a length inside the value, SQL_NTS where the value ends in NUL, or a special.
    p.with_indicator = true;
    switch (in_.byte() % 8) {
    case 0: p.with_indicator = false; break;
    case 1: p.indicator = terminate ? SQL_NTS : static_cast<SQLLEN>(content); break;
    case 2: p.indicator = SQL_NULL_DATA; break;
    case 3: {
        static constexpr SQLLEN kSpecials[] = {
            SQL_DATA_AT_EXEC, SQL_DEFAULT_PARAM, SQL_LEN_DATA_AT_EXEC(10), SQL_NO_TOTAL, -7, -1000000};
        p.indicator = in_.pick(kSpecials);
        break;
    }
    default: p.indicator = static_cast<SQLLEN>(content == 0 ? 0 : in_.byte() % (content + 1)); break;
    }
    // Without an indicator a character value is read up to its NUL: give it one.
    if (!p.with_indicator && !terminate &&
        (p.c_type == SQL_C_CHAR || p.c_type == SQL_C_WCHAR || p.c_type == SQL_C_DEFAULT))
        p.null_buffer = true;
    // A binding that fails leaves the previous one of the parameter in place.
    if (bind_in_layout(slot, p)) {
        std::erase_if(slot.parameters, [&](const ParameterBind& b) { return b.number == p.number; });
        slot.parameters.push_back(std::move(p));
    }
}

// Binds one parameter in blocks sized for the current parameter set layout, with the same value
// and indicator in every set.
bool Session::bind_in_layout(Slot& slot, const ParameterBind& p)
{
    const RowLayout& sets = slot.parameter_sets;
    // Column-wise, the driver steps by the buffer length (character and binary types) or by the
    // size of the C type; the block holds the whole value at every step.
    const bool variable = p.c_type == SQL_C_CHAR || p.c_type == SQL_C_BINARY || p.c_type == SQL_C_WCHAR;
    const std::size_t step = variable ? p.value.size() : element_size(p.c_type, p.buffer_length);
    const std::size_t stride = sets.bind_type == 0 ? step : sets.bind_type;
    const std::size_t indicator_stride = sets.bind_type == 0 ? sizeof(SQLLEN) : sets.bind_type;
    const auto offset = static_cast<std::size_t>(sets.offset_bound ? sets.offset : 0);
    std::byte* buffer = nullptr;
    if (!p.null_buffer) {
        buffer = arena_.allocate(offset + (sets.size - 1) * stride + p.value.size());
        for (std::size_t set = 0; set < sets.size; ++set)
            std::memcpy(buffer + offset + set * stride, p.value.data(), p.value.size());
    }
    std::byte* indicator = nullptr;
    if (p.with_indicator) {
        indicator = arena_.allocate(offset + (sets.size - 1) * indicator_stride + sizeof(SQLLEN));
        for (std::size_t set = 0; set < sets.size; ++set)
            std::memcpy(indicator + offset + set * indicator_stride, &p.indicator, sizeof p.indicator);
    }
    return ok(odbc().SQLBindParameter(slot.handle, p.number, p.io_type, p.c_type, p.sql_type, p.column_size, p.digits,
                                      buffer, p.buffer_length, reinterpret_cast<SQLLEN*>(indicator)));
}

// Changes the parameter set size, bind type and offset as an application must: with no parameter
// bound, binding them again afterwards in blocks sized for the new layout.
void Session::set_parameter_layout(Slot& slot)
{
    static constexpr SQLULEN kSizes[] = {1, 2, 3, 5, 16, 0};
    const auto& api = odbc();
    if (!ok(api.SQLFreeStmt(slot.handle, SQL_RESET_PARAMS)))
        return;
    std::vector<ParameterBind> bound;
    std::swap(bound, slot.parameters);
    RowLayout& sets = slot.parameter_sets;
    const SQLULEN size = in_.pick(kSizes);
    auto* status = reinterpret_cast<SQLUSMALLINT*>(
        arena_.allocate(std::max<SQLULEN>({size, sets.size, 1}) * sizeof(SQLUSMALLINT)));
    api.SQLSetStmtAttr(slot.handle, SQL_ATTR_PARAM_STATUS_PTR, in_.flag() ? status : nullptr, 0);
    if (ok(api.SQLSetStmtAttr(slot.handle, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(size), 0)))
        sets.size = size;
    const SQLULEN bind_type = in_.flag() ? SQL_PARAM_BIND_BY_COLUMN : 8u * (1 + in_.byte() % 32);
    if (ok(api.SQLSetStmtAttr(slot.handle, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(bind_type), 0)))
        sets.bind_type = bind_type;
    const bool offset_bound = in_.flag();
    auto* offset = reinterpret_cast<SQLLEN*>(arena_.allocate(sizeof(SQLLEN)));
    *offset = 8 * (in_.byte() % 8);
    if (ok(api.SQLSetStmtAttr(slot.handle, SQL_ATTR_PARAM_BIND_OFFSET_PTR, offset_bound ? offset : nullptr, 0))) {
        sets.offset_bound = offset_bound;
        sets.offset = *offset;
    }
    api.SQLSetStmtAttr(slot.handle, SQL_ATTR_PARAMS_PROCESSED_PTR, in_.flag() ? &slot.parameters_processed : nullptr,
                       0);
    for (ParameterBind& p : bound)
        if (bind_in_layout(slot, p))
            slot.parameters.push_back(std::move(p));
}

void Session::bind_column(Slot& slot)
{
    ColumnBind bind{static_cast<SQLUSMALLINT>(in_.byte() % 16), in_.pick(kCTypes), 0, in_.byte() % 4 != 0};
    switch (in_.byte() % 4) {
    case 0: bind.buffer_length = in_.byte() % 4; break;
    case 1: bind.buffer_length = in_.byte(); break;
    case 2: bind.buffer_length = in_.u16() % 8192; break;
    default: bind.buffer_length = -static_cast<SQLLEN>(in_.byte() % 3); break;
    }
    auto forget = [&] { std::erase_if(slot.columns, [&](const ColumnBind& b) { return b.column == bind.column; }); };
    if (in_.byte() % 8 == 0) { // a null buffer unbinds the column
        if (ok(odbc().SQLBindCol(slot.handle, bind.column, bind.c_type, nullptr, bind.buffer_length, nullptr)))
            forget();
        return;
    }
    // A binding that fails leaves the previous one of the column in place.
    if (bind_in_layout(slot, bind)) {
        forget();
        slot.columns.push_back(bind);
    }
}

bool Session::bind_in_layout(Slot& slot, const ColumnBind& bind)
{
    const RowLayout& rows = slot.rows;
    const std::size_t element = element_size(bind.c_type, bind.buffer_length);
    const std::size_t stride = rows.bind_type == 0 ? element : rows.bind_type;
    const std::size_t indicator_stride = rows.bind_type == 0 ? sizeof(SQLLEN) : rows.bind_type;
    const auto offset = static_cast<std::size_t>(rows.offset_bound ? rows.offset : 0);
    std::byte* buffer = arena_.allocate(offset + (rows.size - 1) * stride + element);
    std::byte* indicator =
        bind.indicator ? arena_.allocate(offset + (rows.size - 1) * indicator_stride + sizeof(SQLLEN)) : nullptr;
    return ok(odbc().SQLBindCol(slot.handle, bind.column, bind.c_type, buffer, bind.buffer_length,
                                reinterpret_cast<SQLLEN*>(indicator)));
}

// Changes the rowset size, bind type and offset as an application must: with no column bound,
// binding them again afterwards in blocks sized for the new layout.
void Session::set_row_layout(Slot& slot)
{
    static constexpr SQLULEN kSizes[] = {1, 1, 2, 3, 4, 7, 16, 64, 0};
    const auto& api = odbc();
    if (!ok(api.SQLFreeStmt(slot.handle, SQL_UNBIND)))
        return;
    std::vector<ColumnBind> bound;
    std::swap(bound, slot.columns);
    const SQLULEN size = in_.pick(kSizes);
    // The status array goes first, sized for both the old and the new rowset, so that no fetch
    // can ever see a rowset larger than its array.
    auto* status =
        reinterpret_cast<SQLUSMALLINT*>(arena_.allocate(std::max(size, slot.rows.size) * sizeof(SQLUSMALLINT)));
    const bool with_status = in_.flag();
    api.SQLSetStmtAttr(slot.handle, SQL_ATTR_ROW_STATUS_PTR, with_status ? status : nullptr, 0);
    if (ok(api.SQLSetStmtAttr(slot.handle, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(size), 0)))
        slot.rows.size = size;
    // Row sizes and offsets in whole SQLLENs keep every indicator aligned, as applications do.
    const SQLULEN bind_type = in_.flag() ? 0 : 8u * (1 + in_.byte() % 32);
    if (ok(api.SQLSetStmtAttr(slot.handle, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(bind_type), 0)))
        slot.rows.bind_type = bind_type;
    slot.rows.offset_bound = in_.flag();
    slot.rows.offset = 8 * (in_.byte() % 8);
    // The offset variable lives in the arena: the driver keeps its address.
    auto* offset = reinterpret_cast<SQLLEN*>(arena_.allocate(sizeof(SQLLEN)));
    *offset = slot.rows.offset;
    api.SQLSetStmtAttr(slot.handle, SQL_ATTR_ROW_BIND_OFFSET_PTR, slot.rows.offset_bound ? offset : nullptr, 0);
    api.SQLSetStmtAttr(slot.handle, SQL_ATTR_ROWS_FETCHED_PTR, in_.flag() ? &slot.rows_fetched : nullptr, 0);
    for (const ColumnBind& bind : bound)
        if (bind_in_layout(slot, bind))
            slot.columns.push_back(bind);
}

void Session::fetch(Slot& slot)
{
    for (int count = 1 + in_.byte() % 8; count > 0; --count)
        if (odbc().SQLFetch(slot.handle) == SQL_NO_DATA)
            break;
}

void Session::get_data(Slot& slot)
{
    const auto column = static_cast<SQLUSMALLINT>(in_.byte() % 16);
    const SQLSMALLINT c_type = in_.pick(kCTypes);
    SQLLEN buffer_length = 0;
    switch (in_.byte() % 4) {
    case 0: buffer_length = in_.byte() % 4; break;
    case 1: buffer_length = in_.byte(); break;
    case 2: buffer_length = in_.u16() % 8192; break;
    default: buffer_length = -static_cast<SQLLEN>(in_.byte() % 3); break;
    }
    const bool null_buffer = in_.byte() % 8 == 0;
    const bool with_indicator = in_.byte() % 4 != 0;
    // Several calls on the same column continue where the last one stopped.
    for (int call = 1 + in_.byte() % 6; call > 0; --call) {
        std::byte* buffer = null_buffer ? nullptr : arena_.allocate(element_size(c_type, buffer_length));
        SQLLEN indicator = 0;
        const SQLRETURN rc = odbc().SQLGetData(slot.handle, column, c_type, buffer, buffer_length,
                                               with_indicator ? &indicator : nullptr);
        if (rc != SQL_SUCCESS_WITH_INFO)
            break;
    }
}

void Session::describe(Slot& slot)
{
    const auto& api = odbc();
    SQLSMALLINT count = 0;
    api.SQLNumResultCols(slot.handle, &count);
    const auto column = static_cast<SQLUSMALLINT>(in_.byte() % 16);
    const auto length = static_cast<SQLSMALLINT>(in_.flag() ? in_.byte() % 8 : in_.byte());
    auto* name = reinterpret_cast<SQLCHAR*>(in_.byte() % 8 == 0 ? nullptr : arena_.allocate(length));
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    api.SQLDescribeCol(slot.handle, column, name, length, &name_length, &type, &size, &digits, &nullable);
    static constexpr SQLUSMALLINT kFields[] = {
        SQL_DESC_NAME,           SQL_DESC_LABEL,          SQL_DESC_TYPE_NAME,        SQL_DESC_CONCISE_TYPE,
        SQL_DESC_TYPE,           SQL_DESC_LENGTH,         SQL_DESC_PRECISION,        SQL_DESC_SCALE,
        SQL_DESC_DISPLAY_SIZE,   SQL_DESC_NULLABLE,       SQL_DESC_UNSIGNED,         SQL_DESC_OCTET_LENGTH,
        SQL_DESC_LITERAL_PREFIX, SQL_DESC_TABLE_NAME,     SQL_DESC_BASE_COLUMN_NAME, SQL_DESC_COUNT,
        SQL_COLUMN_NAME,         SQL_DESC_CASE_SENSITIVE, SQL_DESC_NUM_PREC_RADIX,   9999,
    };
    const SQLUSMALLINT field = in_.pick(kFields);
    const auto text_length = static_cast<SQLSMALLINT>(in_.byte() % 40);
    std::byte* text = arena_.allocate(static_cast<std::size_t>(text_length));
    SQLSMALLINT written = 0;
    SQLLEN number = 0;
    api.SQLColAttribute(slot.handle, column, field, text, text_length, &written, &number);
    SQLLEN rows = 0;
    api.SQLRowCount(slot.handle, &rows);
    SQLSMALLINT parameters = 0;
    api.SQLNumParams(slot.handle, &parameters);
    api.SQLDescribeParam(slot.handle, static_cast<SQLUSMALLINT>(in_.byte() % 4), &type, &size, &digits, &nullable);
}

void Session::statement_attribute(Slot& slot)
{
    // Only attributes holding numbers: the pointer-valued ones are set with real variables by
    // set_row_layout, and the row layout ones are kept in step with the bound columns there.
    static constexpr SQLINTEGER kAttributes[] = {
        SQL_ATTR_MAX_ROWS,           SQL_ATTR_NOSCAN,          SQL_ATTR_MAX_LENGTH,
        SQL_ATTR_CURSOR_TYPE,        SQL_ATTR_CONCURRENCY,     SQL_ATTR_CURSOR_SCROLLABLE,
        SQL_ATTR_CURSOR_SENSITIVITY, SQL_ATTR_ASYNC_ENABLE,    SQL_ATTR_USE_BOOKMARKS,
        SQL_ATTR_RETRIEVE_DATA,      SQL_ATTR_SIMULATE_CURSOR, SQL_ATTR_METADATA_ID,
        SQL_ATTR_ENABLE_AUTO_IPD,    SQL_ATTR_ROW_NUMBER,      1234,
    };
    const SQLINTEGER attribute = in_.pick(kAttributes);
    if (in_.flag()) {
        const SQLULEN value = in_.flag() ? in_.byte() % 4 : in_.u64();
        odbc().SQLSetStmtAttr(slot.handle, attribute, reinterpret_cast<SQLPOINTER>(value), 0);
    } else {
        alignas(8) std::array<std::byte, 8> value{};
        SQLINTEGER length = 0;
        odbc().SQLGetStmtAttr(slot.handle, attribute, value.data(), sizeof value, &length);
    }
}

void Session::diagnostics(Slot& slot)
{
    const auto& api = odbc();
    SQLSMALLINT type = SQL_HANDLE_STMT;
    SQLHANDLE handle = slot.handle;
    switch (in_.byte() % 4) {
    case 0:
        type = SQL_HANDLE_ENV;
        handle = env_;
        break;
    case 1:
        type = SQL_HANDLE_DBC;
        handle = dbc_;
        break;
    default: break;
    }
    const auto record = static_cast<SQLSMALLINT>(static_cast<std::int8_t>(in_.byte()) % 4);
    const auto length = static_cast<SQLSMALLINT>(in_.flag() ? in_.byte() % 8 : in_.byte());
    SQLCHAR state[6];
    SQLINTEGER native = 0;
    SQLSMALLINT text_length = 0;
    auto* text = reinterpret_cast<SQLCHAR*>(in_.byte() % 8 == 0 ? nullptr : arena_.allocate(length));
    api.SQLGetDiagRec(type, handle, record, state, &native, text, length, &text_length);
    static constexpr SQLSMALLINT kFields[] = {
        SQL_DIAG_NUMBER,           SQL_DIAG_RETURNCODE,
        SQL_DIAG_ROW_COUNT,        SQL_DIAG_SQLSTATE,
        SQL_DIAG_NATIVE,           SQL_DIAG_MESSAGE_TEXT,
        SQL_DIAG_CLASS_ORIGIN,     SQL_DIAG_SUBCLASS_ORIGIN,
        SQL_DIAG_ROW_NUMBER,       SQL_DIAG_COLUMN_NUMBER,
        SQL_DIAG_DYNAMIC_FUNCTION, SQL_DIAG_CURSOR_ROW_COUNT,
        SQL_DIAG_SERVER_NAME,      77,
    };
    std::byte* info = arena_.allocate(std::max<std::size_t>(static_cast<std::size_t>(length), sizeof(SQLLEN)));
    api.SQLGetDiagField(type, handle, record, in_.pick(kFields), info, length, &text_length);
}

void Session::connection_calls()
{
    const auto& api = odbc();
    switch (in_.byte() % 4) {
    case 0: {
        const SQLULEN value = in_.flag() ? SQL_AUTOCOMMIT_OFF : in_.flag() ? SQL_AUTOCOMMIT_ON : in_.byte();
        api.SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0);
        break;
    }
    case 1: {
        static constexpr SQLSMALLINT kCompletions[] = {SQL_COMMIT, SQL_ROLLBACK, 7};
        api.SQLEndTran(in_.flag() ? SQL_HANDLE_DBC : SQL_HANDLE_ENV, in_.flag() ? dbc_ : env_, in_.pick(kCompletions));
        break;
    }
    case 2: {
        static constexpr SQLUSMALLINT kInfo[] = {
            SQL_DRIVER_NAME,           SQL_DBMS_VER,         SQL_DATABASE_NAME,      SQL_KEYWORDS,
            SQL_IDENTIFIER_QUOTE_CHAR, SQL_TXN_CAPABLE,      SQL_GETDATA_EXTENSIONS, SQL_MAX_COLUMN_NAME_LEN,
            SQL_SCHEMA_USAGE,          SQL_DATA_SOURCE_NAME, SQL_CONVERT_FUNCTIONS,  4321};
        const auto length = static_cast<SQLSMALLINT>(in_.byte() % 24);
        // Numeric answers take their full size whatever the length; text answers must respect it.
        std::byte* value = arena_.allocate(std::max<std::size_t>(static_cast<std::size_t>(length), 8));
        SQLSMALLINT written = 0;
        api.SQLGetInfo(dbc_, in_.pick(kInfo), value, length, &written);
        break;
    }
    default: {
        static constexpr SQLINTEGER kAttributes[] = {SQL_ATTR_AUTOCOMMIT,    SQL_ATTR_LOGIN_TIMEOUT,
                                                     SQL_ATTR_TXN_ISOLATION, SQL_ATTR_CONNECTION_DEAD,
                                                     SQL_ATTR_ACCESS_MODE,   555};
        alignas(8) std::array<std::byte, 8> value{};
        SQLINTEGER length = 0;
        api.SQLGetConnectAttr(dbc_, in_.pick(kAttributes), value.data(), sizeof value, &length);
        break;
    }
    }
}

// Frees a statement (through SQLFreeHandle or SQLFreeStmt's SQL_DROP) and allocates another. A
// second free of the same handle, before anything else is allocated, finds no handle.
void Session::free_and_reallocate(Slot& slot)
{
    const auto& api = odbc();
    const SQLHSTMT freed = slot.handle;
    const SQLRETURN rc = in_.flag() ? api.SQLFreeHandle(SQL_HANDLE_STMT, freed) : api.SQLFreeStmt(freed, SQL_DROP);
    if (rc == SQL_SUCCESS) {
        require(api.SQLFreeHandle(SQL_HANDLE_STMT, freed) == SQL_INVALID_HANDLE,
                "a statement freed twice is an invalid handle the second time");
        require(api.SQLFetch(freed) == SQL_INVALID_HANDLE, "a freed statement is an invalid handle");
    }
    slot.handle = SQL_NULL_HSTMT;
    allocate(slot);
}

// The driver manager drops the statements of a connection it disconnects without calling the
// driver, which must free them itself; afterwards their handles are invalid.
void Session::disconnect_and_reconnect()
{
    const auto& api = odbc();
    require(api.SQLFreeHandle(SQL_HANDLE_ENV, env_) == SQL_ERROR, "an environment with a connection is not freed");
    if (connected_)
        require(api.SQLFreeHandle(SQL_HANDLE_DBC, dbc_) == SQL_ERROR, "an open connection is not freed");
    if (!connected_ || api.SQLDisconnect(dbc_) != SQL_SUCCESS)
        return;
    connected_ = false;
    for (Slot& slot : slots_) {
        if (slot.handle != SQL_NULL_HSTMT)
            require(api.SQLExecute(slot.handle) == SQL_INVALID_HANDLE,
                    "a statement of a closed connection is an invalid handle");
        slot = Slot{};
    }
    SQLHSTMT none = SQL_NULL_HSTMT;
    require(api.SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &none) == SQL_ERROR, "no statement without a connection");
    if (in_.flag())
        connect(connection_string_);
}

void Session::step()
{
    const std::uint8_t op = in_.byte();
    if (!connected_) {
        if (op % 4 == 0)
            connect(connection_string_);
        else
            connection_calls();
        return;
    }
    Slot& s = slot();
    if (s.handle == SQL_NULL_HSTMT) {
        allocate(s);
        return;
    }
    switch (op % 23) {
    case 0: // as applications do before reusing a statement
        odbc().SQLFreeStmt(s.handle, SQL_CLOSE);
        run_text(s, true);
        break;
    case 1: run_text(s, true); break;
    case 2: run_text(s, false); break;
    case 3: odbc().SQLExecute(s.handle); break;
    case 4:
    case 5: bind_parameter(s); break;
    case 6: bind_column(s); break;
    case 7:
    case 8: fetch(s); break;
    case 9: get_data(s); break;
    case 10: set_row_layout(s); break;
    case 11: {
        static constexpr SQLUSMALLINT kOptions[] = {SQL_CLOSE, SQL_UNBIND, SQL_RESET_PARAMS, 9};
        const SQLUSMALLINT option = in_.pick(kOptions);
        if (ok(odbc().SQLFreeStmt(s.handle, option)) && option == SQL_UNBIND)
            s.columns.clear();
        else if (option == SQL_RESET_PARAMS)
            s.parameters.clear();
        break;
    }
    case 12: {
        const std::uint8_t which = in_.byte() % 3;
        if (which == 0)
            odbc().SQLCloseCursor(s.handle);
        else if (which == 1)
            odbc().SQLCancel(s.handle);
        else
            odbc().SQLMoreResults(s.handle);
        break;
    }
    case 13: describe(s); break;
    case 14: statement_attribute(s); break;
    case 15: diagnostics(s); break;
    case 16: connection_calls(); break;
    case 17: free_and_reallocate(s); break;
    case 18: disconnect_and_reconnect(); break;
    case 19: round_trip(); break;
    case 20: catalogue(s); break;
    case 21: set_parameter_layout(s); break;
    default: wide_calls(s); break;
    }
}

// A name or search pattern argument of a catalogue function, in a block of exactly its size.
Session::Name Session::name()
{
    static constexpr const char* kNames[] = {
        "",
        "%",
        "T_ALL",
        "t_all",
        "OTHER",
        "other",
        "MAIN",
        "ITEMS",
        "%A%",
        "_",
        "\\%",
        "V\\_BASE",
        "V_BASE",
        "SQLITE_SCHEMA",
        "'; DROP TABLE t_all; --",
        "\"OTHER\"",
        "NOSUCH",
        "temp",
        "CHEAP",
        "TABLE",
        "'TABLE','VIEW'",
        "VIEW, SYSTEM TABLE",
        "%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%_",
        "CHILD",
        "BASE",
    };
    const std::uint8_t how = in_.byte();
    if (how % 8 == 0)
        return {nullptr, static_cast<SQLSMALLINT>(in_.flag() ? 0 : SQL_NTS)};
    const std::string text = how % 8 == 1 ? in_.chunk() : in_.pick(kNames);
    std::byte* block = arena_.allocate(text.size() + 1);
    std::memcpy(block, text.c_str(), text.size() + 1);
    auto* pointer = reinterpret_cast<SQLCHAR*>(block);
    const auto size = static_cast<SQLSMALLINT>(text.size());
    switch (in_.byte() % 6) {
    case 0: return {pointer, size};
    case 1: return {pointer, static_cast<SQLSMALLINT>(size - std::min<SQLSMALLINT>(size, in_.byte() % 4))};
    case 2: return {pointer, static_cast<SQLSMALLINT>(-static_cast<SQLSMALLINT>(in_.byte() % 8))};
    default: return {pointer, SQL_NTS};
    }
}

// A text as UTF-16 (each byte one character), with a unit the input chooses put somewhere: a
// lone or paired surrogate, a NUL, a non-character. Returns the block and a length in characters.
std::pair<SQLWCHAR*, SQLINTEGER> Session::wide_text(const std::string& text)
{
    std::vector<SQLWCHAR> units(text.begin(), text.end());
    for (auto& unit : units)
        unit = static_cast<unsigned char>(unit);
    if (in_.flag()) {
        static constexpr SQLWCHAR kUnits[][2] = {{0xD800, 0}, {0xDC00, 0}, {0xD83D, 0xDE00}, {0x0000, 0},
                                                 {0xFFFF, 0}, {0x00E9, 0}, {0xDBFF, 0xDBFF}};
        const auto& chosen = kUnits[in_.byte() % std::size(kUnits)];
        const std::size_t at = in_.byte() % (units.size() + 1);
        units.insert(units.begin() + static_cast<std::ptrdiff_t>(at), chosen, chosen + (chosen[1] != 0 ? 2 : 1));
    }
    const auto count = static_cast<SQLINTEGER>(units.size());
    units.push_back(0);
    auto* block = reinterpret_cast<SQLWCHAR*>(arena_.allocate(units.size() * sizeof(SQLWCHAR)));
    std::memcpy(block, units.data(), units.size() * sizeof(SQLWCHAR));
    switch (in_.byte() % 5) {
    case 0: return {block, count};
    case 1: return {block, count - std::min<SQLINTEGER>(count, in_.byte() % 4)};
    case 2: return {block, -static_cast<SQLINTEGER>(in_.byte() % 8)};
    case 3: return {nullptr, in_.flag() ? 0 : SQL_NTS};
    default: return {block, SQL_NTS};
    }
}

Session::WideName Session::wide_name()
{
    const Name narrow = name();
    if (narrow.text == nullptr)
        return {nullptr, narrow.length};
    const auto [text, length] = wide_text(reinterpret_cast<const char*>(narrow.text));
    return {text, static_cast<SQLSMALLINT>(length)};
}

// The wide entry points, with their buffer lengths in characters or in bytes as each defines.
void Session::wide_calls(Slot& slot)
{
    const auto& api = odbc();
    const SQLHSTMT h = slot.handle;
    auto length = [&] { return static_cast<SQLSMALLINT>(in_.flag() ? in_.byte() % 8 : in_.byte()); };
    switch (in_.byte() % 9) {
    case 0:
    case 1: {
        if (in_.flag())
            api.SQLFreeStmt(h, SQL_CLOSE);
        const auto [text, count] = wide_text(statement_text(in_));
        if (in_.flag())
            api.SQLExecDirectW(h, text, count);
        else
            api.SQLPrepareW(h, text, count);
        break;
    }
    case 2: {
        const SQLSMALLINT characters = length();
        auto* name = reinterpret_cast<SQLWCHAR*>(arena_.allocate(static_cast<std::size_t>(characters) * 2));
        SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        api.SQLDescribeColW(h, static_cast<SQLUSMALLINT>(in_.byte() % 16), in_.flag() ? name : nullptr, characters,
                            &name_length, &type, &size, &digits, &nullable);
        break;
    }
    case 3: {
        static constexpr SQLUSMALLINT kFields[] = {
            SQL_DESC_NAME,       SQL_DESC_TYPE_NAME, SQL_DESC_LITERAL_PREFIX, SQL_DESC_BASE_COLUMN_NAME,
            SQL_DESC_TABLE_NAME, SQL_DESC_LENGTH,    SQL_DESC_NULLABLE,       SQL_DESC_COUNT};
        const SQLSMALLINT bytes = length();
        std::byte* text = arena_.allocate(static_cast<std::size_t>(bytes));
        SQLSMALLINT written = 0;
        SQLLEN number = 0;
        api.SQLColAttributeW(h, static_cast<SQLUSMALLINT>(in_.byte() % 16), in_.pick(kFields), text, bytes, &written,
                             &number);
        break;
    }
    case 4: {
        static constexpr SQLUSMALLINT kInfo[] = {SQL_DRIVER_NAME,
                                                 SQL_DBMS_VER,
                                                 SQL_DATABASE_NAME,
                                                 SQL_IDENTIFIER_QUOTE_CHAR,
                                                 SQL_TXN_CAPABLE,
                                                 SQL_DATA_SOURCE_NAME,
                                                 SQL_MAX_COLUMN_NAME_LEN,
                                                 SQL_SEARCH_PATTERN_ESCAPE,
                                                 4321};
        const SQLSMALLINT bytes = length();
        // Numeric answers take their full size whatever the length; text answers must respect it.
        std::byte* value = arena_.allocate(std::max<std::size_t>(static_cast<std::size_t>(bytes), 8));
        SQLSMALLINT written = 0;
        api.SQLGetInfoW(dbc_, in_.pick(kInfo), value, bytes, &written);
        break;
    }
    case 5: {
        const SQLSMALLINT characters = length();
        auto* state = reinterpret_cast<SQLWCHAR*>(arena_.allocate(6 * sizeof(SQLWCHAR)));
        auto* text = reinterpret_cast<SQLWCHAR*>(arena_.allocate(static_cast<std::size_t>(characters) * 2));
        SQLINTEGER native = 0;
        SQLSMALLINT text_length = 0;
        const bool statement = in_.flag();
        api.SQLGetDiagRecW(statement ? SQL_HANDLE_STMT : SQL_HANDLE_DBC, statement ? h : dbc_,
                           static_cast<SQLSMALLINT>(in_.byte() % 3), state, &native, text, characters, &text_length);
        static constexpr SQLSMALLINT kFields[] = {SQL_DIAG_SQLSTATE, SQL_DIAG_MESSAGE_TEXT, SQL_DIAG_CLASS_ORIGIN,
                                                  SQL_DIAG_NUMBER,   SQL_DIAG_ROW_NUMBER,   SQL_DIAG_DYNAMIC_FUNCTION};
        const SQLSMALLINT bytes = length();
        std::byte* info = arena_.allocate(std::max<std::size_t>(static_cast<std::size_t>(bytes), 8));
        api.SQLGetDiagFieldW(SQL_HANDLE_STMT, h, static_cast<SQLSMALLINT>(in_.byte() % 3), in_.pick(kFields), info,
                             bytes, &text_length);
        break;
    }
    case 6: {
        alignas(8) std::array<std::byte, 8> value{};
        SQLINTEGER written = 0;
        api.SQLGetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, value.data(), sizeof value, &written);
        api.SQLGetStmtAttrW(h, in_.flag() ? SQL_ATTR_ROW_ARRAY_SIZE : SQL_ATTR_PARAMSET_SIZE, value.data(),
                            sizeof value, &written);
        break;
    }
    case 7: {
        if (in_.flag())
            api.SQLFreeStmt(h, SQL_CLOSE);
        const WideName catalog = wide_name(), schema = wide_name(), table = wide_name(), last = wide_name();
        switch (in_.byte() % 4) {
        case 0:
            api.SQLTablesW(h, catalog.text, catalog.length, schema.text, schema.length, table.text, table.length,
                           last.text, last.length);
            break;
        case 1:
            api.SQLColumnsW(h, catalog.text, catalog.length, schema.text, schema.length, table.text, table.length,
                            last.text, last.length);
            break;
        case 2:
            api.SQLPrimaryKeysW(h, catalog.text, catalog.length, schema.text, schema.length, table.text, table.length);
            break;
        default:
            api.SQLStatisticsW(h, catalog.text, catalog.length, schema.text, schema.length, table.text, table.length,
                               SQL_INDEX_ALL, SQL_QUICK);
            break;
        }
        break;
    }
    default: {
        // A wide connect of a second connection, with the completed string in a short buffer.
        SQLHDBC other = SQL_NULL_HDBC;
        if (api.SQLAllocHandle(SQL_HANDLE_DBC, env_, &other) != SQL_SUCCESS)
            break;
        const SQLSMALLINT characters = length();
        auto* out = reinterpret_cast<SQLWCHAR*>(arena_.allocate(static_cast<std::size_t>(characters) * 2));
        SQLSMALLINT out_length = 0;
        const auto [text, count] = wide_text(connection_string_);
        g_connecting = true;
        const SQLRETURN rc = api.SQLDriverConnectW(other, nullptr, text, static_cast<SQLSMALLINT>(count), out,
                                                   characters, &out_length, SQL_DRIVER_NOPROMPT);
        g_connecting = false;
        if (text != nullptr && count > 0)
            require(!SQL_SUCCEEDED(rc) || std::find(text, text + count, SQLWCHAR{0}) == text + count,
                    "a connection string with a NUL inside is refused");
        if (SQL_SUCCEEDED(rc))
            api.SQLDisconnect(other);
        api.SQLFreeHandle(SQL_HANDLE_DBC, other);
        break;
    }
    }
}

void Session::catalogue(Slot& slot)
{
    const auto& api = odbc();
    const SQLHSTMT h = slot.handle;
    if (in_.flag())
        api.SQLFreeStmt(h, SQL_CLOSE);
    switch (in_.byte() % 7) {
    case 0: {
        const Name catalog = name(), schema = name(), table = name(), types = name();
        api.SQLTables(h, catalog.text, catalog.length, schema.text, schema.length, table.text, table.length, types.text,
                      types.length);
        break;
    }
    case 1: {
        const Name catalog = name(), schema = name(), table = name(), column = name();
        api.SQLColumns(h, catalog.text, catalog.length, schema.text, schema.length, table.text, table.length,
                       column.text, column.length);
        break;
    }
    case 2: {
        static constexpr SQLSMALLINT kTypes[] = {
            SQL_ALL_TYPES, SQL_TYPE_TIMESTAMP, SQL_TIMESTAMP, SQL_VARCHAR, SQL_WVARCHAR,
            SQL_NUMERIC,   SQL_BIGINT,         SQL_TYPE_DATE, -150,        12345};
        api.SQLGetTypeInfo(h, in_.pick(kTypes));
        break;
    }
    case 3: {
        const Name catalog = name(), schema = name(), table = name();
        api.SQLPrimaryKeys(h, catalog.text, catalog.length, schema.text, schema.length, table.text, table.length);
        break;
    }
    case 4: {
        const Name catalog = name(), schema = name(), table = name();
        static constexpr SQLUSMALLINT kUnique[] = {SQL_INDEX_ALL, SQL_INDEX_UNIQUE, 7};
        api.SQLStatistics(h, catalog.text, catalog.length, schema.text, schema.length, table.text, table.length,
                          in_.pick(kUnique), in_.flag() ? SQL_QUICK : SQL_ENSURE);
        break;
    }
    case 5: {
        const Name catalog = name(), schema = name(), table = name();
        static constexpr SQLUSMALLINT kIdentifiers[] = {SQL_BEST_ROWID, SQL_ROWVER, 0};
        api.SQLSpecialColumns(h, in_.pick(kIdentifiers), catalog.text, catalog.length, schema.text, schema.length,
                              table.text, table.length, static_cast<SQLUSMALLINT>(in_.byte() % 4),
                              static_cast<SQLUSMALLINT>(in_.byte() % 3));
        break;
    }
    default: {
        const Name pc = name(), ps = name(), pt = name(), fc = name(), fs = name(), ft = name();
        api.SQLForeignKeys(h, pc.text, pc.length, ps.text, ps.length, pt.text, pt.length, fc.text, fc.length, fs.text,
                           fs.length, ft.text, ft.length);
        break;
    }
    }
}

// ---------------------------------------------------------------------------------------------
// Round trips on a connection of their own to a new empty database, so that nothing the input
// did to the shared schema can change what is read back.

class Probe {
public:
    Probe()
    {
        const auto& api = odbc();
        require(api.SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_) == SQL_SUCCESS, "probe environment");
        api.SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        require(api.SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_) == SQL_SUCCESS, "probe connection");
        std::string text = workspace().fresh_probe();
        require(ok(api.SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT)),
                "the probe connects to a new database");
        require(api.SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_) == SQL_SUCCESS, "probe statement");
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    ~Probe()
    {
        const auto& api = odbc();
        api.SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
        api.SQLDisconnect(dbc_);
        api.SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        api.SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }

    SQLRETURN run(const std::string& text)
    {
        odbc().SQLFreeStmt(stmt_, SQL_CLOSE);
        odbc().SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
        return odbc().SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
    }
    void must(const std::string& text)
    {
        if (!ok(run(text)))
            broken("a probe statement fails: " + text);
    }
    SQLHSTMT statement() const { return stmt_; }

    /// Reports what went wrong, with the driver's last message, and aborts.
    [[noreturn]] void broken(const std::string& what) const
    {
        SQLCHAR state[6] = "";
        SQLCHAR message[512] = "";
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        odbc().SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, &native, message, sizeof message, &length);
        std::fprintf(stderr, "%s (driver said %s %s)\n", what.c_str(), reinterpret_cast<char*>(state),
                     reinterpret_cast<char*>(message));
        require(false, "a value written through a parameter reads back unchanged");
        std::abort();
    }

private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

SQL_TIMESTAMP_STRUCT some_timestamp(Input& in, int precision)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    SQL_TIMESTAMP_STRUCT t{};
    t.year = static_cast<SQLSMALLINT>(1 + in.u16() % 9999);
    t.month = static_cast<SQLUSMALLINT>(1 + in.byte() % 12);
    const int days = kDays[t.month - 1] + (t.month == 2 && is_leap(t.year) ? 1 : 0);
    t.day = static_cast<SQLUSMALLINT>(1 + in.byte() % days);
    t.hour = static_cast<SQLUSMALLINT>(in.byte() % 24);
    t.minute = static_cast<SQLUSMALLINT>(in.byte() % 60);
    t.second = static_cast<SQLUSMALLINT>(in.byte() % 60);
    std::uint32_t unit = 1;
    for (int digit = precision; digit < 9; ++digit)
        unit *= 10;
    t.fraction = in.u32() % 1000000000u / unit * unit;
    return t;
}

// Reads column 1 of the probe's current row through SQLGetData in pieces of `piece` bytes and
// checks every piece against `expected`: the length still to come, the bytes, the terminator,
// never half a surrogate pair, then SQL_NO_DATA.
void read_in_pieces(Probe& probe, SQLSMALLINT c_type, std::size_t piece, std::string_view expected)
{
    const std::size_t terminator = c_type == SQL_C_CHAR ? 1 : c_type == SQL_C_WCHAR ? 2 : 0;
    std::size_t done = 0;
    for (;;) {
        std::vector<char> buffer(piece + terminator, '\x7f');
        SQLLEN indicator = 0;
        const SQLRETURN rc = odbc().SQLGetData(probe.statement(), 1, c_type, buffer.data(),
                                               static_cast<SQLLEN>(buffer.size()), &indicator);
        if (rc == SQL_NO_DATA && done == expected.size() && done > 0)
            return;
        if (!ok(rc))
            probe.broken("SQLGetData fails on a value the driver stored");
        const std::size_t remaining = expected.size() - done;
        if (indicator != static_cast<SQLLEN>(remaining))
            probe.broken("SQLGetData reports a length other than what remains");
        std::size_t count = std::min(piece, remaining);
        if (c_type == SQL_C_WCHAR && count < remaining) {
            count -= count % 2;
            if (count >= 2) { // a high surrogate stays with its pair
                const auto high = static_cast<unsigned char>(expected[done + count - 1]);
                if (high >= 0xD8 && high <= 0xDB)
                    count -= 2;
            }
        }
        if ((rc == SQL_SUCCESS) != (count == remaining))
            probe.broken("SQLGetData's return code disagrees with the data left");
        if (std::string_view(buffer.data(), count) != expected.substr(done, count) ||
            std::any_of(buffer.begin() + static_cast<std::ptrdiff_t>(count),
                        buffer.begin() + static_cast<std::ptrdiff_t>(count + terminator), [](char c) { return c; }))
            probe.broken("a piece read back differs from the value written");
        done += count;
        if ((rc == SQL_SUCCESS && expected.empty()) || count == 0) // nothing more fits in the piece
            return;
    }
}

// Valid UTF-16LE from the input: scalar values only, pairs for those above U+FFFF.
std::string some_utf16(Input& in)
{
    std::string units;
    for (int count = in.byte() % 24; count > 0; --count) {
        std::uint32_t code = in.u32() % 0x110000;
        if (code >= 0xD800 && code <= 0xDFFF)
            code -= 0x800;
        if (in.byte() % 2 == 0)
            code %= 0x800; // mostly short sequences
        auto put = [&](std::uint32_t unit) {
            units.push_back(static_cast<char>(unit & 0xFF));
            units.push_back(static_cast<char>(unit >> 8));
        };
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return units;
}

void Session::round_trip()
{
    Probe probe;
    const auto& api = odbc();
    if (in_.flag()) { // a session format must not change what structs and text carry
        const std::string alter = "ALTER SESSION SET NLS_TIMESTAMP_FORMAT = '" + format_model(in_) + "'";
        probe.run(alter);
    }
    struct Case {
        const char* declared;
        SQLSMALLINT c_type;
        SQLSMALLINT sql_type;
    };
    static constexpr Case kCases[] = {
        {"TEXT", SQL_C_CHAR, SQL_VARCHAR},
        {"BLOB", SQL_C_BINARY, SQL_VARBINARY},
        {"INTEGER", SQL_C_SBIGINT, SQL_BIGINT},
        {"REAL", SQL_C_DOUBLE, SQL_DOUBLE},
        {"TIMESTAMP", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP},
        {"VARCHAR2(4000)", SQL_C_WCHAR, SQL_WVARCHAR},
        {"NUMBER", SQL_C_NUMERIC, SQL_NUMERIC},
        {"DATE", SQL_C_TYPE_DATE, SQL_TYPE_DATE},
        {"TIME", SQL_C_TYPE_TIME, SQL_TYPE_TIME},
    };
    const std::size_t which = in_.byte() % (std::size(kCases) + 2);
    if (which == std::size(kCases)) {
        round_trip_array(probe);
        return;
    }
    if (which == std::size(kCases) + 1) {
        round_trip_session_text(probe);
        return;
    }
    const Case& c = kCases[which];
    const int precision = in_.byte() % 10;
    std::string declared = c.declared;
    // Exact numbers of up to 15 digits, which SQLite's numbers carry without loss.
    const int digits = 1 + precision % 15;
    const int scale = std::min(digits, in_.byte() % 10);
    if (c.c_type == SQL_C_TYPE_TIMESTAMP)
        declared += "(" + std::to_string(precision) + ")";
    else if (c.c_type == SQL_C_NUMERIC)
        declared += "(" + std::to_string(digits) + "," + std::to_string(scale) + ")";
    probe.must("CREATE TABLE rt (v " + declared + ")");

    std::string written;
    auto write = [&](const auto& value) { written.assign(reinterpret_cast<const char*>(&value), sizeof value); };
    switch (c.c_type) {
    case SQL_C_CHAR:
    case SQL_C_BINARY: written = in_.chunk(in_.flag() ? 16 : 1); break;
    case SQL_C_SBIGINT: write(static_cast<std::int64_t>(in_.u64())); break;
    case SQL_C_DOUBLE: {
        double value;
        const std::uint64_t bits = in_.u64();
        std::memcpy(&value, &bits, sizeof value);
        write(value != value ? 0.5 : value); // SQLite stores NaN as NULL
        break;
    }
    case SQL_C_WCHAR: written = some_utf16(in_); break;
    case SQL_C_NUMERIC: {
        SQL_NUMERIC_STRUCT value{};
        value.precision = static_cast<SQLCHAR>(digits);
        value.scale = static_cast<SQLSCHAR>(scale);
        std::uint64_t limit = 1;
        for (int digit = 0; digit < digits; ++digit)
            limit *= 10;
        const std::uint64_t mantissa = in_.u64() % limit;
        value.sign = mantissa != 0 && in_.flag() ? 0 : 1;
        std::memcpy(value.val, &mantissa, sizeof mantissa);
        write(value);
        break;
    }
    case SQL_C_TYPE_DATE: {
        const SQL_TIMESTAMP_STRUCT t = some_timestamp(in_, 0);
        write(SQL_DATE_STRUCT{t.year, t.month, t.day});
        break;
    }
    case SQL_C_TYPE_TIME: {
        const SQL_TIMESTAMP_STRUCT t = some_timestamp(in_, 0);
        write(SQL_TIME_STRUCT{t.hour, t.minute, t.second});
        break;
    }
    default: write(some_timestamp(in_, precision)); break;
    }
    std::byte* buffer = arena_.allocate(written.size());
    std::memcpy(buffer, written.data(), written.size());
    SQLLEN indicator = static_cast<SQLLEN>(written.size());
    api.SQLFreeStmt(probe.statement(), SQL_CLOSE);
    if (!ok(api.SQLPrepare(probe.statement(),
                           reinterpret_cast<SQLCHAR*>(const_cast<char*>("INSERT INTO rt VALUES (?)")), SQL_NTS)) ||
        !ok(api.SQLBindParameter(probe.statement(), 1, SQL_PARAM_INPUT, c.c_type, c.sql_type, 0,
                                 static_cast<SQLSMALLINT>(precision), buffer, static_cast<SQLLEN>(written.size()),
                                 &indicator)) ||
        !ok(api.SQLExecute(probe.statement())))
        probe.broken("a value cannot be stored: " + declared);
    probe.must("SELECT v FROM rt");
    if (!ok(api.SQLFetch(probe.statement())))
        probe.broken("the stored row cannot be fetched");
    if (c.c_type == SQL_C_CHAR || c.c_type == SQL_C_BINARY || c.c_type == SQL_C_WCHAR) {
        read_in_pieces(probe, c.c_type, 1 + in_.byte() % 64, written);
        return;
    }
    std::vector<char> value(written.size());
    SQLLEN length = 0;
    if (!ok(api.SQLGetData(probe.statement(), 1, c.c_type, value.data(), 0, &length)) ||
        length != static_cast<SQLLEN>(written.size()))
        probe.broken("a fixed-size value cannot be read back: " + declared);
    bool same = std::string_view(value.data(), value.size()) == written;
    if (c.c_type == SQL_C_DOUBLE) { // -0.0 may come back as 0.0
        double a, b;
        std::memcpy(&a, written.data(), sizeof a);
        std::memcpy(&b, value.data(), sizeof b);
        same = a == b;
    } else if (c.c_type == SQL_C_NUMERIC) { // the precision read back counts the digits there are
        SQL_NUMERIC_STRUCT a, b;
        std::memcpy(&a, written.data(), sizeof a);
        std::memcpy(&b, value.data(), sizeof b);
        same = a.scale == b.scale && a.sign == b.sign && std::memcmp(a.val, b.val, sizeof a.val) == 0;
    }
    if (!same)
        probe.broken("the value read back differs from the one written: " + declared);
}

// Texts written as one parameter array and read back as one rowset, each bound column-wise or
// row-wise: every row comes back in its place with its value and length.
void Session::round_trip_array(Probe& probe)
{
    const auto& api = odbc();
    const SQLHSTMT h = probe.statement();
    const std::size_t count = 2 + in_.byte() % 6;
    std::vector<std::string> texts(count);
    std::size_t longest = 0;
    for (std::string& text : texts) {
        text = in_.chunk();
        longest = std::max(longest, text.size());
    }
    const auto length = static_cast<SQLLEN>(longest + 1); // room for the NUL of the read
    // One row of a row-wise array: the number, the text's indicator, the text.
    const std::size_t row_size = (2 * sizeof(SQLLEN) + static_cast<std::size_t>(length) + 7) / 8 * 8;
    auto layout = [&](bool row_wise, std::byte*& numbers, std::byte*& indicators, std::byte*& chars) {
        if (row_wise) {
            numbers = arena_.allocate(count * row_size);
            indicators = numbers + sizeof(SQLLEN);
            chars = numbers + 2 * sizeof(SQLLEN);
        } else {
            numbers = arena_.allocate(count * sizeof(SQLLEN));
            indicators = arena_.allocate(count * sizeof(SQLLEN));
            chars = arena_.allocate(count * static_cast<std::size_t>(length));
        }
        return row_wise ? row_size : 0;
    };
    auto at = [&](std::byte* base, std::size_t row, std::size_t step, std::size_t column_step) {
        return base + row * (step != 0 ? step : column_step);
    };

    probe.must("CREATE TABLE rt (n INTEGER, v TEXT)");
    std::byte *numbers, *indicators, *chars;
    const std::size_t write_step = layout(in_.flag(), numbers, indicators, chars);
    for (std::size_t row = 0; row < count; ++row) {
        const auto n = static_cast<SQLLEN>(row);
        const auto size = static_cast<SQLLEN>(texts[row].size());
        std::memcpy(at(numbers, row, write_step, sizeof(SQLLEN)), &n, sizeof n);
        std::memcpy(at(indicators, row, write_step, sizeof(SQLLEN)), &size, sizeof size);
        std::memcpy(at(chars, row, write_step, static_cast<std::size_t>(length)), texts[row].data(), texts[row].size());
    }
    SQLULEN processed = 0;
    api.SQLFreeStmt(h, SQL_CLOSE);
    if (!ok(api.SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(count), 0)) ||
        !ok(api.SQLSetStmtAttr(h, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(write_step), 0)) ||
        !ok(api.SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0)) ||
        !ok(api.SQLPrepare(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>("INSERT INTO rt VALUES (?, ?)")),
                           SQL_NTS)) ||
        !ok(api.SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, numbers, 0, nullptr)) ||
        !ok(api.SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, chars, length,
                                 reinterpret_cast<SQLLEN*>(indicators))) ||
        api.SQLExecute(h) != SQL_SUCCESS || processed != count)
        probe.broken("a parameter array cannot be stored");
    api.SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    api.SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    api.SQLFreeStmt(h, SQL_RESET_PARAMS);

    const std::size_t read_step = layout(in_.flag(), numbers, indicators, chars);
    std::byte* number_indicators = arena_.allocate(count * sizeof(SQLLEN));
    SQLULEN fetched = 0;
    if (!ok(api.SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(count), 0)) ||
        !ok(api.SQLSetStmtAttr(h, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(read_step), 0)) ||
        !ok(api.SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0)) ||
        !ok(api.SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT n, v FROM rt ORDER BY n")),
                              SQL_NTS)) ||
        !ok(api.SQLBindCol(h, 1, SQL_C_SBIGINT, numbers, 0,
                           read_step != 0 ? nullptr : reinterpret_cast<SQLLEN*>(number_indicators))) ||
        !ok(api.SQLBindCol(h, 2, SQL_C_CHAR, chars, length, reinterpret_cast<SQLLEN*>(indicators))) ||
        api.SQLFetch(h) != SQL_SUCCESS || fetched != count)
        probe.broken("a rowset cannot be read back");
    for (std::size_t row = 0; row < count; ++row) {
        SQLLEN n = -1, size = -1;
        std::memcpy(&n, at(numbers, row, read_step, sizeof(SQLLEN)), sizeof n);
        std::memcpy(&size, at(indicators, row, read_step, sizeof(SQLLEN)), sizeof size);
        const auto* text = reinterpret_cast<const char*>(at(chars, row, read_step, static_cast<std::size_t>(length)));
        if (n != static_cast<SQLLEN>(row) || size != static_cast<SQLLEN>(texts[row].size()) ||
            std::string_view(text, texts[row].size()) != texts[row] || text[texts[row].size()] != '\0')
            probe.broken("row " + std::to_string(row) + " of a rowset differs from the parameter set written");
    }
    api.SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    api.SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    api.SQLFreeStmt(h, SQL_UNBIND);
}

// A timestamp shown in a session format that holds every field with nine fraction digits, in an
// order and with separators the input chooses, reads back to the same instant, and the text is
// as wide as the column's display size says.
void Session::round_trip_session_text(Probe& probe)
{
    const auto& api = odbc();
    const SQLHSTMT h = probe.statement();
    std::array<const char*, 7> fields = {"YYYY", "MM", "DD", "HH24", "MI", "SS", "FF9"};
    for (std::size_t i = fields.size() - 1; i > 0; --i)
        std::swap(fields[i], fields[in_.byte() % (i + 1)]);
    static constexpr const char* kSeparators[] = {"", "-", ":", ".", " ", "/", ",", "  ", ";", " - "};
    std::string model = in_.pick(kSeparators);
    for (const char* field : fields)
        model += std::string(field) + in_.pick(kSeparators);
    if (!ok(probe.run("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = '" + model + "'")))
        probe.broken("a format with every field is refused: " + model);
    probe.must("CREATE TABLE rt (v TIMESTAMP(9))");

    SQL_TIMESTAMP_STRUCT written = some_timestamp(in_, 9);
    SQLLEN size = sizeof written;
    api.SQLFreeStmt(h, SQL_CLOSE);
    if (!ok(api.SQLPrepare(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>("INSERT INTO rt VALUES (?)")), SQL_NTS)) ||
        !ok(api.SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 29, 9, &written, size,
                                 &size)) ||
        !ok(api.SQLExecute(h)))
        probe.broken("a timestamp cannot be stored");
    probe.must("SELECT v FROM rt");
    std::array<char, 128> text{};
    SQLLEN length = 0;
    SQLLEN display = 0;
    if (!ok(api.SQLFetch(h)) || api.SQLGetData(h, 1, SQL_C_CHAR, text.data(), text.size(), &length) != SQL_SUCCESS ||
        !ok(api.SQLColAttribute(h, 1, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display)))
        probe.broken("a timestamp cannot be read as text in the format " + model);
    if (length != display)
        probe.broken("the text '" + std::string(text.data()) + "' in the format " + model +
                     " is not as wide as the display size " + std::to_string(display));

    api.SQLFreeStmt(h, SQL_CLOSE);
    if (!ok(api.SQLPrepare(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>("UPDATE rt SET v = ?")), SQL_NTS)) ||
        !ok(api.SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 29, 9, text.data(), length,
                                 &length)) ||
        !ok(api.SQLExecute(h)))
        probe.broken("the text '" + std::string(text.data()) + "' does not read in its own format " + model);
    probe.must("SELECT v FROM rt");
    SQL_TIMESTAMP_STRUCT read{};
    if (!ok(api.SQLFetch(h)) || !ok(api.SQLGetData(h, 1, SQL_C_TYPE_TIMESTAMP, &read, sizeof read, nullptr)) ||
        std::memcmp(&read, &written, sizeof read) != 0)
        probe.broken("the text '" + std::string(text.data()) + "' in the format " + model +
                     " reads back to another instant");
}

void Workspace::build_template() const
{
    const auto& api = odbc();
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    api.SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    api.SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    api.SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string text = connection_string(root_ / "template");
    g_connecting = true;
    require(ok(api.SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0, nullptr,
                                    SQL_DRIVER_NOPROMPT)),
            "the template database is created");
    g_connecting = false;
    api.SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    for (const char* statement : kSchemaStatements) {
        const SQLRETURN rc = api.SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement)), SQL_NTS);
        if (!ok(rc)) {
            SQLCHAR message[512] = "";
            SQLSMALLINT length = 0;
            api.SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, nullptr, nullptr, message, sizeof message, &length);
            std::fprintf(stderr, "template statement failed: %s\n%s\n", statement, reinterpret_cast<char*>(message));
            require(false, "the template schema is created");
        }
    }
    api.SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    api.SQLDisconnect(dbc);
    api.SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    api.SQLFreeHandle(SQL_HANDLE_ENV, env);
}

} // namespace

void driver(std::string_view input)
{
    Input in(input);
    Session session(in);
    if (!session.connect(workspace().fresh_copy()))
        require(false, "a fresh copy of the template connects");
    for (int calls = 0; calls < 64 && !in.empty(); ++calls)
        session.step();
}

} // namespace qix::fuzz

#include "Catalogue.h"

#include "Conversion.h"
#include "Diagnostics.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace qix::lite {

namespace {

// DATA_TYPE as Oracle's dictionary shows it: the declared type in upper case without length
// ("VARCHAR2(30)" shows as VARCHAR2), except that a timestamp keeps its precision.
std::string oracle_type_name(const char* declared)
{
    const ColumnType type = column_type_from_declaration(declared);
    if (type.timestamp_precision >= 0)
        return "TIMESTAMP(" + std::to_string(type.timestamp_precision) + ")";
    std::string text = declared == nullptr ? "" : declared;
    text = text.substr(0, text.find('('));
    const auto first = text.find_first_not_of(' ');
    text = first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

void oracle_data_type(sqlite3_context* context, int, sqlite3_value** arguments)
{
    const std::string text = oracle_type_name(reinterpret_cast<const char*>(sqlite3_value_text(arguments[0])));
    sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// NULLABLE as Oracle's dictionary shows it, 'Y' or 'N', from the declared type, NOT NULL and
// primary key flags of pragma table_info.
void oracle_nullable(sqlite3_context* context, int, sqlite3_value** arguments)
{
    const auto* declared = reinterpret_cast<const char*>(sqlite3_value_text(arguments[0]));
    const ColumnConstraints constraints{sqlite3_value_int(arguments[1]) != 0, sqlite3_value_int(arguments[2]) != 0};
    const bool nullable = column_type_from_declaration(declared, &constraints).nullable != SQL_NO_NULLS;
    sqlite3_result_text(context, nullable ? "Y" : "N", 1, SQLITE_STATIC);
}

void register_function(sqlite3* db, const char* name, int arguments,
                       void (*function)(sqlite3_context*, int, sqlite3_value**))
{
    const int rc = sqlite3_create_function(db, name, arguments, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, function,
                                           nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw DriverError("HY000", std::string("Unable to register a function: ") + sqlite3_errmsg(db), rc);
}

std::string quoted_literal(const std::string& text)
{
    std::string result = "'";
    for (char c : text) {
        result.push_back(c);
        if (c == '\'')
            result.push_back('\'');
    }
    return result + "'";
}

std::string columns_of_schema(const std::string& schema, const std::string& owner)
{
    const std::string name = quoted_literal(schema);
    return "SELECT " + quoted_literal(owner) +
           ", upper(m.name), upper(c.name), c.cid + 1, qix_oracle_data_type(c.type),"
           " qix_oracle_nullable(c.type, c.\"notnull\", c.pk)"
           " FROM \"" +
           schema + "\".sqlite_schema AS m JOIN pragma_table_info(m.name, " + name +
           ") AS c"
           " WHERE m.type IN ('table', 'view') AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\'";
}

void run(sqlite3* db, const std::string& sql)
{
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string message = error != nullptr ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw DriverError("HY000", "Unable to create the data dictionary: " + message, rc);
    }
}

// What the catalogue result sets say about a type besides its SQL type, size and digits.
enum class Family { character, wide, binary, exact, approximate, datetime, bit };

Family family_of(SQLSMALLINT sql_type)
{
    switch (sql_type) {
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return Family::wide;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return Family::binary;
    case SQL_BIGINT:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_NUMERIC:
    case SQL_DECIMAL: return Family::exact;
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_REAL: return Family::approximate;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP: return Family::datetime;
    case SQL_BIT: return Family::bit;
    default: return Family::character;
    }
}

// Bytes a value of the type takes in its default C buffer (without a terminating NUL).
std::int64_t octet_length(const ColumnType& type)
{
    const auto size = static_cast<std::int64_t>(type.size);
    switch (type.sql_type) {
    case SQL_BIGINT:
    case SQL_DOUBLE:
    case SQL_FLOAT: return 8;
    case SQL_INTEGER:
    case SQL_REAL: return 4;
    case SQL_SMALLINT: return 2;
    case SQL_TINYINT:
    case SQL_BIT: return 1;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: return 6;
    case SQL_TYPE_TIMESTAMP: return 16;
    case SQL_NUMERIC:
    case SQL_DECIMAL: return size + 2;
    default: return family_of(type.sql_type) == Family::wide ? size * 2 : size;
    }
}

// The fields of qix_column_type(declared, field): one per catalogue column derived from a type.
enum TypeField {
    kDataType,
    kTypeName,
    kColumnSize,
    kBufferLength,
    kDecimalDigits,
    kRadix,
    kSqlDataType,
    kDatetimeSub,
    kCharOctetLength,
    kUnsigned,
    kCaseSensitive,
    kLiteralPrefix,
    kLiteralSuffix
};

void column_type_field(sqlite3_context* context, int count, sqlite3_value** arguments)
{
    const auto* declared = reinterpret_cast<const char*>(sqlite3_value_text(arguments[0]));
    ColumnType type = column_type_from_declaration(declared);
    // A third argument overrides the SQL type: the type list names the wide types and the SQL
    // date (the date part of a DATE) this way.
    if (count > 2 && sqlite3_value_type(arguments[2]) != SQLITE_NULL) {
        type.sql_type = static_cast<SQLSMALLINT>(sqlite3_value_int(arguments[2]));
        if (type.sql_type == SQL_TYPE_DATE)
            type = {SQL_TYPE_DATE, 10, 0, -1};
    }
    const Family family = family_of(type.sql_type);
    auto number = [&](std::int64_t value) { sqlite3_result_int64(context, value); };
    auto text = [&](const std::string& value) {
        sqlite3_result_text(context, value.c_str(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    };
    const bool textual = family == Family::character || family == Family::wide;
    switch (sqlite3_value_int(arguments[1])) {
    case kDataType: return number(type.sql_type);
    case kTypeName: return text(oracle_type_name(declared));
    case kColumnSize: return number(static_cast<std::int64_t>(type.size));
    case kBufferLength: return number(octet_length(type));
    case kDecimalDigits:
        if (family == Family::exact || type.sql_type == SQL_TYPE_TIMESTAMP || type.sql_type == SQL_TYPE_TIME)
            return number(type.digits);
        break;
    case kRadix:
        if (family == Family::exact || family == Family::approximate)
            return number(10);
        break;
    case kSqlDataType: return number(family == Family::datetime ? SQL_DATETIME : type.sql_type);
    case kDatetimeSub:
        if (family == Family::datetime)
            return number(type.sql_type == SQL_TYPE_DATE   ? SQL_CODE_DATE
                          : type.sql_type == SQL_TYPE_TIME ? SQL_CODE_TIME
                                                           : SQL_CODE_TIMESTAMP);
        break;
    case kCharOctetLength:
        if (textual || family == Family::binary)
            return number(octet_length(type));
        break;
    case kUnsigned:
        if (family == Family::exact || family == Family::approximate)
            return number(SQL_FALSE);
        break;
    case kCaseSensitive: return number(textual ? SQL_TRUE : SQL_FALSE);
    case kLiteralPrefix:
        if (textual || family == Family::datetime)
            return text("'");
        if (family == Family::binary)
            return text("X'");
        break;
    case kLiteralSuffix:
        if (textual || family == Family::datetime || family == Family::binary)
            return text("'");
        break;
    default: break;
    }
    sqlite3_result_null(context);
}

// Result columns of the catalogue functions, typed as ODBC lists them.
constexpr ColumnType kNameColumn{SQL_VARCHAR, 128, 0, -1};
constexpr ColumnType kSmallintColumn{SQL_SMALLINT, 5, 0, -1};
constexpr ColumnType kIntegerColumn{SQL_INTEGER, 10, 0, -1};
constexpr ColumnType kFlagColumn{SQL_VARCHAR, 3, 0, -1};

// Every file the data source opens: the schema name SQLite knows it by and the owner the
// dictionary shows for it.
struct SchemaOwner {
    std::string schema;
    std::string owner;
};

std::vector<SchemaOwner> schema_owners(const std::vector<std::string>& schemas)
{
    std::vector<SchemaOwner> result{{"main", kMainOwner}};
    for (const std::string& schema : schemas)
        result.push_back({schema, schema});
    return result;
}

// " AND <expression> LIKE <pattern>" for a search pattern ('%' and '_' wildcards, '\' escapes);
// nothing where the application passed no pattern. SQLite compares ASCII letters regardless of
// case, as it treats identifiers.
std::string pattern_filter(const std::string& expression, const NameArgument& pattern)
{
    if (!pattern)
        return "";
    return " AND " + expression + " LIKE " + quoted_literal(*pattern) + " ESCAPE '\\'";
}

// " AND <expression> = <name>" for a name taken as it is (no wildcards).
std::string name_filter(const std::string& expression, const NameArgument& name)
{
    if (!name)
        return "";
    return " AND " + expression + " = " + quoted_literal(*name) + " COLLATE NOCASE";
}

// The same query over every schema's objects, one arm per schema: `arm` receives the schema's
// quoted identifier, its name as a literal and its owner as a literal, and returns one SELECT.
template <typename Arm>
std::string over_schemas(const std::vector<std::string>& schemas, Arm&& arm)
{
    std::string sql;
    for (const SchemaOwner& s : schema_owners(schemas)) {
        if (!sql.empty())
            sql += " UNION ALL ";
        sql += arm("\"" + s.schema + "\"", quoted_literal(s.schema), quoted_literal(s.owner));
    }
    return sql;
}

constexpr const char* kUserObjects = " AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\'";

// The fields of a type column: qix_column_type(<declared>, field[, forced SQL type]).
std::string type_field(const std::string& declared, TypeField field, const std::string& forced = "")
{
    return "qix_column_type(" + declared + ", " + std::to_string(field) + (forced.empty() ? "" : ", " + forced) + ")";
}

// ODBC 3 codes of a foreign key's ON UPDATE / ON DELETE action.
std::string rule_code(const std::string& action)
{
    return "CASE " + action + " WHEN 'CASCADE' THEN " + std::to_string(SQL_CASCADE) + " WHEN 'RESTRICT' THEN " +
           std::to_string(SQL_RESTRICT) + " WHEN 'SET NULL' THEN " + std::to_string(SQL_SET_NULL) +
           " WHEN 'SET DEFAULT' THEN " + std::to_string(SQL_SET_DEFAULT) + " ELSE " + std::to_string(SQL_NO_ACTION) +
           " END";
}

// The types SQLGetTypeInfo lists: the name, the declaration whose description gives the row
// (the largest size the type takes), an SQL type the description is overridden with (the wide
// types hold the same text as the narrow ones; a DATE column holds SQL dates too), CREATE_PARAMS
// and the scale range. Within one
// SQL type the first row is the closest match; clients read only that one.
struct TypeRow {
    const char* name;
    const char* declaration;
    int forced_type; // 0: as described
    const char* create_params;
    int minimum_scale; // -1: not applicable
    int maximum_scale;
};

constexpr TypeRow kTypeRows[] = {
    {"BOOLEAN", "BOOLEAN", 0, nullptr, -1, -1},
    {"TINYINT", "TINYINT", 0, nullptr, 0, 0},
    {"BIGINT", "BIGINT", 0, nullptr, 0, 0},
    {"INTEGER", "INTEGER", 0, nullptr, 0, 0},
    {"SMALLINT", "SMALLINT", 0, nullptr, 0, 0},
    {"BLOB", "BLOB(1000000000)", 0, nullptr, -1, -1},
    {"NCLOB", "NCLOB(1000000000)", SQL_WLONGVARCHAR, nullptr, -1, -1},
    {"NVARCHAR2", "NVARCHAR2(1000000000)", SQL_WVARCHAR, "max length", -1, -1},
    {"NCHAR", "NCHAR(1000000000)", SQL_WCHAR, "length", -1, -1},
    {"NUMBER", "NUMBER", 0, "precision,scale", 0, 38},
    {"NUMERIC", "NUMERIC", 0, "precision,scale", 0, 38},
    {"DECIMAL", "DECIMAL", 0, "precision,scale", 0, 38},
    {"DOUBLE", "DOUBLE", 0, nullptr, -1, -1},
    {"FLOAT", "FLOAT", 0, nullptr, -1, -1},
    {"VARCHAR2", "VARCHAR2(1000000000)", 0, "max length", -1, -1},
    {"VARCHAR", "VARCHAR(1000000000)", 0, "max length", -1, -1},
    {"CLOB", "CLOB(1000000000)", 0, nullptr, -1, -1},
    {"DATE", "DATE", SQL_TYPE_DATE, nullptr, -1, -1},
    {"TIME", "TIME", 0, nullptr, 0, 0},
    {"TIMESTAMP", "TIMESTAMP(9)", 0, "precision", 0, 9},
    {"DATE", "DATE", 0, nullptr, 0, 0},
};

std::string optional_literal(const char* text) { return text == nullptr ? "NULL" : quoted_literal(text); }
std::string optional_number(int number) { return number < 0 ? "NULL" : std::to_string(number); }

// A type list "'TABLE','VIEW'" or "TABLE, VIEW" as upper-case names.
std::vector<std::string> table_types(const std::string& list)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        std::string item = list.substr(start, end - start);
        std::erase_if(item, [](char c) { return c == '\'' || c == ' '; });
        std::transform(item.begin(), item.end(), item.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (!item.empty())
            result.push_back(item);
        start = end + 1;
    }
    return result;
}

bool is_empty(const NameArgument& argument) { return argument && argument->empty(); }
bool is_all(const NameArgument& argument) { return argument && *argument == "%"; }
} // namespace

void create_dictionary_views(sqlite3* db, const std::vector<std::string>& schemas)
{
    register_function(db, "qix_oracle_data_type", 1, oracle_data_type);
    register_function(db, "qix_oracle_nullable", 3, oracle_nullable);
    std::string sql = "CREATE TEMP VIEW ALL_TAB_COLUMNS (OWNER, TABLE_NAME, COLUMN_NAME, COLUMN_ID, DATA_TYPE, "
                      "NULLABLE) AS " +
                      columns_of_schema("main", kMainOwner);
    for (const std::string& schema : schemas)
        sql += " UNION ALL " + columns_of_schema(schema, schema);
    run(db, sql);
}

} // namespace qix::lite

namespace qix::lite {

void register_catalogue_functions(sqlite3* db)
{
    register_function(db, "qix_column_type", 2, column_type_field);
    register_function(db, "qix_column_type", 3, column_type_field);
}

CatalogueQuery tables_query(const std::vector<std::string>& schemas, const NameArgument& catalog,
                            const NameArgument& schema, const NameArgument& table, const NameArgument& types)
{
    const std::vector<ColumnType> columns{kNameColumn, kNameColumn, kNameColumn, kNameColumn, kNameColumn};
    const std::string header = "SELECT NULL AS TABLE_CAT, NULL AS TABLE_SCHEM, NULL AS TABLE_NAME, ";
    if (is_all(catalog) && is_empty(schema) && is_empty(table))
        return {header + "NULL AS TABLE_TYPE, NULL AS REMARKS WHERE 0", columns}; // no catalogues
    if (is_all(types) && is_empty(catalog) && is_empty(schema) && is_empty(table))
        return {header + "'TABLE' AS TABLE_TYPE, NULL AS REMARKS UNION ALL "
                         "SELECT NULL, NULL, NULL, 'VIEW', NULL ORDER BY TABLE_TYPE",
                columns};
    if (is_all(schema) && is_empty(catalog) && is_empty(table)) {
        std::string sql;
        for (const SchemaOwner& s : schema_owners(schemas))
            sql += (sql.empty() ? "SELECT NULL AS TABLE_CAT, " + quoted_literal(s.owner) +
                                      " AS TABLE_SCHEM, NULL AS TABLE_NAME, NULL AS TABLE_TYPE, NULL AS REMARKS"
                                : " UNION ALL SELECT NULL, " + quoted_literal(s.owner) + ", NULL, NULL, NULL");
        return {sql + " ORDER BY TABLE_SCHEM", columns};
    }
    std::string type_filter;
    if (types)
        for (const std::string& type : table_types(*types))
            type_filter += (type_filter.empty() ? "" : ", ") + quoted_literal(type);
    const std::string kind = "CASE m.type WHEN 'table' THEN 'TABLE' ELSE 'VIEW' END";
    const std::string sql =
        over_schemas(schemas, [&](const std::string& id, const std::string&, const std::string& owner) {
            return "SELECT NULL AS TABLE_CAT, " + owner + " AS TABLE_SCHEM, m.name AS TABLE_NAME, " + kind +
                   " AS TABLE_TYPE, NULL AS REMARKS FROM " + id +
                   ".sqlite_schema AS m"
                   " WHERE m.type IN ('table', 'view')" +
                   kUserObjects + pattern_filter(owner, schema) + pattern_filter("m.name", table) +
                   (type_filter.empty() ? "" : " AND " + kind + " IN (" + type_filter + ")");
        });
    return {sql + " ORDER BY TABLE_TYPE, TABLE_SCHEM, TABLE_NAME", columns};
}

CatalogueQuery columns_query(const std::vector<std::string>& schemas, const NameArgument& schema,
                             const NameArgument& table, const NameArgument& column)
{
    // The same rule as ALL_TAB_COLUMNS and SQLDescribeCol.
    const std::string not_null = "(qix_oracle_nullable(c.type, c.\"notnull\", c.pk) = 'N')";
    const std::string sql =
        over_schemas(schemas, [&](const std::string& id, const std::string& name, const std::string& owner) {
            return "SELECT NULL AS TABLE_CAT, " + owner +
                   " AS TABLE_SCHEM, m.name AS TABLE_NAME, c.name AS COLUMN_NAME, " + type_field("c.type", kDataType) +
                   " AS DATA_TYPE, " + type_field("c.type", kTypeName) + " AS TYPE_NAME, " +
                   type_field("c.type", kColumnSize) + " AS COLUMN_SIZE, " + type_field("c.type", kBufferLength) +
                   " AS BUFFER_LENGTH, " + type_field("c.type", kDecimalDigits) + " AS DECIMAL_DIGITS, " +
                   type_field("c.type", kRadix) + " AS NUM_PREC_RADIX, CASE WHEN " + not_null + " THEN " +
                   std::to_string(SQL_NO_NULLS) + " ELSE " + std::to_string(SQL_NULLABLE) +
                   " END AS NULLABLE, NULL AS REMARKS, c.dflt_value AS COLUMN_DEF, " +
                   type_field("c.type", kSqlDataType) + " AS SQL_DATA_TYPE, " + type_field("c.type", kDatetimeSub) +
                   " AS SQL_DATETIME_SUB, " + type_field("c.type", kCharOctetLength) +
                   " AS CHAR_OCTET_LENGTH, c.cid + 1 AS ORDINAL_POSITION, CASE WHEN " + not_null +
                   " THEN 'NO' ELSE 'YES' END AS IS_NULLABLE FROM " + id +
                   ".sqlite_schema AS m JOIN pragma_table_info(m.name, " + name +
                   ") AS c WHERE m.type IN ('table', 'view')" + kUserObjects + pattern_filter(owner, schema) +
                   pattern_filter("m.name", table) + pattern_filter("c.name", column);
        });
    return {sql + " ORDER BY TABLE_SCHEM, TABLE_NAME, ORDINAL_POSITION",
            {kNameColumn, kNameColumn, kNameColumn, kNameColumn, kSmallintColumn, kNameColumn, kIntegerColumn,
             kIntegerColumn, kSmallintColumn, kSmallintColumn, kSmallintColumn, kNameColumn, kNameColumn,
             kSmallintColumn, kSmallintColumn, kIntegerColumn, kIntegerColumn, kFlagColumn}};
}

CatalogueQuery type_info_query(SQLSMALLINT data_type)
{
    // Applications of ODBC 2 ask with the old date and time codes.
    switch (data_type) {
    case SQL_DATE: data_type = SQL_TYPE_DATE; break;
    case SQL_TIME: data_type = SQL_TYPE_TIME; break;
    case SQL_TIMESTAMP: data_type = SQL_TYPE_TIMESTAMP; break;
    default: break;
    }
    std::string rows;
    int sequence = 0;
    for (const TypeRow& row : kTypeRows)
        rows += std::string(rows.empty() ? "" : ", ") + "(" + quoted_literal(row.name) + ", " +
                quoted_literal(row.declaration) + ", " +
                (row.forced_type == 0 ? "NULL" : std::to_string(row.forced_type)) + ", " +
                optional_literal(row.create_params) + ", " + optional_number(row.minimum_scale) + ", " +
                optional_number(row.maximum_scale) + ", " + std::to_string(sequence++) + ")";
    auto field = [](TypeField f) { return type_field("t.column2", f, "t.column3"); };
    const std::string inner =
        "SELECT t.column1 AS TYPE_NAME, " + field(kDataType) + " AS DATA_TYPE, " + field(kColumnSize) +
        " AS COLUMN_SIZE, " + field(kLiteralPrefix) + " AS LITERAL_PREFIX, " + field(kLiteralSuffix) +
        " AS LITERAL_SUFFIX, t.column4 AS CREATE_PARAMS, " + std::to_string(SQL_NULLABLE) + " AS NULLABLE, " +
        field(kCaseSensitive) + " AS CASE_SENSITIVE, " + std::to_string(SQL_SEARCHABLE) + " AS SEARCHABLE, " +
        field(kUnsigned) + " AS UNSIGNED_ATTRIBUTE, " + std::to_string(SQL_FALSE) + " AS FIXED_PREC_SCALE, " +
        field(kUnsigned) +
        " AS AUTO_UNIQUE_VALUE, NULL AS LOCAL_TYPE_NAME, t.column5 AS MINIMUM_SCALE, "
        "t.column6 AS MAXIMUM_SCALE, " +
        field(kSqlDataType) + " AS SQL_DATA_TYPE, " + field(kDatetimeSub) + " AS SQL_DATETIME_SUB, " + field(kRadix) +
        " AS NUM_PREC_RADIX, NULL AS INTERVAL_PRECISION, "
        "t.column7 AS SEQUENCE FROM (VALUES " +
        rows + ") AS t";
    const std::string sql =
        "SELECT TYPE_NAME, DATA_TYPE, COLUMN_SIZE, LITERAL_PREFIX, LITERAL_SUFFIX, CREATE_PARAMS, NULLABLE, "
        "CASE_SENSITIVE, SEARCHABLE, UNSIGNED_ATTRIBUTE, FIXED_PREC_SCALE, AUTO_UNIQUE_VALUE, LOCAL_TYPE_NAME, "
        "MINIMUM_SCALE, MAXIMUM_SCALE, SQL_DATA_TYPE, SQL_DATETIME_SUB, NUM_PREC_RADIX, INTERVAL_PRECISION FROM (" +
        inner + ")" + (data_type == SQL_ALL_TYPES ? "" : " WHERE DATA_TYPE = " + std::to_string(data_type)) +
        " ORDER BY DATA_TYPE, SEQUENCE";
    return {sql,
            {kNameColumn, kSmallintColumn, kIntegerColumn, kNameColumn, kNameColumn, kNameColumn, kSmallintColumn,
             kSmallintColumn, kSmallintColumn, kSmallintColumn, kSmallintColumn, kSmallintColumn, kNameColumn,
             kSmallintColumn, kSmallintColumn, kSmallintColumn, kSmallintColumn, kIntegerColumn, kSmallintColumn}};
}

CatalogueQuery primary_keys_query(const std::vector<std::string>& schemas, const NameArgument& schema,
                                  const std::string& table)
{
    const std::string sql =
        over_schemas(schemas, [&](const std::string& id, const std::string& name, const std::string& owner) {
            return "SELECT NULL AS TABLE_CAT, " + owner +
                   " AS TABLE_SCHEM, m.name AS TABLE_NAME, c.name AS COLUMN_NAME, "
                   "c.pk AS KEY_SEQ, NULL AS PK_NAME FROM " +
                   id + ".sqlite_schema AS m JOIN pragma_table_info(m.name, " + name +
                   ") AS c WHERE m.type = 'table' AND c.pk > 0" + name_filter(owner, schema) +
                   name_filter("m.name", table);
        });
    return {sql + " ORDER BY TABLE_SCHEM, TABLE_NAME, KEY_SEQ",
            {kNameColumn, kNameColumn, kNameColumn, kNameColumn, kSmallintColumn, kNameColumn}};
}

CatalogueQuery statistics_query(const std::vector<std::string>& schemas, const NameArgument& schema,
                                const std::string& table, SQLUSMALLINT unique)
{
    const std::string sql =
        over_schemas(schemas, [&](const std::string& id, const std::string& name, const std::string& owner) {
            return "SELECT NULL AS TABLE_CAT, " + owner +
                   " AS TABLE_SCHEM, m.name AS TABLE_NAME, "
                   "NOT i.\"unique\" AS NON_UNIQUE, " +
                   owner + " AS INDEX_QUALIFIER, i.name AS INDEX_NAME, " + std::to_string(SQL_INDEX_OTHER) +
                   " AS TYPE, k.seqno + 1 AS ORDINAL_POSITION, k.name AS COLUMN_NAME, "
                   "CASE WHEN k.\"desc\" THEN 'D' ELSE 'A' END AS ASC_OR_DESC, NULL AS CARDINALITY, NULL AS PAGES, "
                   "NULL AS FILTER_CONDITION FROM " +
                   id + ".sqlite_schema AS m JOIN pragma_index_list(m.name, " + name +
                   ") AS i JOIN pragma_index_xinfo(i.name, " + name + ") AS k WHERE m.type = 'table' AND k.key" +
                   (unique == SQL_INDEX_UNIQUE ? " AND i.\"unique\"" : "") + name_filter(owner, schema) +
                   name_filter("m.name", table);
        });
    return {sql + " ORDER BY NON_UNIQUE, TYPE, INDEX_QUALIFIER, INDEX_NAME, ORDINAL_POSITION",
            {kNameColumn,
             kNameColumn,
             kNameColumn,
             kSmallintColumn,
             kNameColumn,
             kNameColumn,
             kSmallintColumn,
             kSmallintColumn,
             kNameColumn,
             {SQL_VARCHAR, 1, 0, -1},
             kIntegerColumn,
             kIntegerColumn,
             kNameColumn}};
}

CatalogueQuery special_columns_query(const std::vector<std::string>& schemas, SQLUSMALLINT identifier_type,
                                     const NameArgument& schema, const std::string& table)
{
    const std::string sql =
        over_schemas(schemas, [&](const std::string& id, const std::string& name, const std::string& owner) {
            return "SELECT " + std::to_string(SQL_SCOPE_SESSION) + " AS SCOPE, c.name AS COLUMN_NAME, " +
                   type_field("c.type", kDataType) + " AS DATA_TYPE, " + type_field("c.type", kTypeName) +
                   " AS TYPE_NAME, " + type_field("c.type", kColumnSize) + " AS COLUMN_SIZE, " +
                   type_field("c.type", kBufferLength) + " AS BUFFER_LENGTH, " + type_field("c.type", kDecimalDigits) +
                   " AS DECIMAL_DIGITS, " + std::to_string(SQL_PC_NOT_PSEUDO) +
                   " AS PSEUDO_COLUMN, c.pk AS KEY_SEQ FROM " + id +
                   ".sqlite_schema AS m JOIN pragma_table_info(m.name, " + name +
                   ") AS c WHERE m.type = 'table' AND c.pk > 0" + (identifier_type == SQL_BEST_ROWID ? "" : " AND 0") +
                   name_filter(owner, schema) + name_filter("m.name", table);
        });
    return {"SELECT SCOPE, COLUMN_NAME, DATA_TYPE, TYPE_NAME, COLUMN_SIZE, BUFFER_LENGTH, DECIMAL_DIGITS, "
            "PSEUDO_COLUMN FROM (" +
                sql + ") ORDER BY SCOPE, KEY_SEQ",
            {kSmallintColumn, kNameColumn, kSmallintColumn, kNameColumn, kIntegerColumn, kIntegerColumn,
             kSmallintColumn, kSmallintColumn}};
}

CatalogueQuery foreign_keys_query(const std::vector<std::string>& schemas, const NameArgument& primary_schema,
                                  const NameArgument& primary_table, const NameArgument& foreign_schema,
                                  const NameArgument& foreign_table)
{
    // A key that names no parent columns refers to the parent's primary key, column by column.
    const std::string sql =
        over_schemas(schemas, [&](const std::string& id, const std::string& name, const std::string& owner) {
            return "SELECT NULL AS PKTABLE_CAT, " + owner +
                   " AS PKTABLE_SCHEM, f.\"table\" AS PKTABLE_NAME, "
                   "coalesce(f.\"to\", (SELECT p.name FROM pragma_table_info(f.\"table\", " +
                   name + ") AS p WHERE p.pk = f.seq + 1)) AS PKCOLUMN_NAME, NULL AS FKTABLE_CAT, " + owner +
                   " AS FKTABLE_SCHEM, m.name AS FKTABLE_NAME, f.\"from\" AS FKCOLUMN_NAME, f.seq + 1 AS KEY_SEQ, " +
                   rule_code("f.on_update") + " AS UPDATE_RULE, " + rule_code("f.on_delete") +
                   " AS DELETE_RULE, NULL AS FK_NAME, NULL AS PK_NAME, " + std::to_string(SQL_NOT_DEFERRABLE) +
                   " AS DEFERRABILITY FROM " + id + ".sqlite_schema AS m JOIN pragma_foreign_key_list(m.name, " + name +
                   ") AS f WHERE m.type = 'table'" + name_filter(owner, primary_schema) +
                   name_filter(owner, foreign_schema) + name_filter("f.\"table\"", primary_table) +
                   name_filter("m.name", foreign_table);
        });
    const std::string order = foreign_table && !primary_table ? " ORDER BY PKTABLE_SCHEM, PKTABLE_NAME, KEY_SEQ"
                                                              : " ORDER BY FKTABLE_SCHEM, FKTABLE_NAME, KEY_SEQ";
    return {sql + order,
            {kNameColumn, kNameColumn, kNameColumn, kNameColumn, kNameColumn, kNameColumn, kNameColumn, kNameColumn,
             kSmallintColumn, kSmallintColumn, kSmallintColumn, kNameColumn, kNameColumn, kSmallintColumn}};
}

} // namespace qix::lite

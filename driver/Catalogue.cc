#include "Catalogue.h"

#include "Conversion.h"
#include "Diagnostics.h"

#include <algorithm>
#include <cctype>

namespace qix::lite {

namespace {

// DATA_TYPE as Oracle's dictionary shows it: the declared type in upper case without length
// ("VARCHAR2(30)" shows as VARCHAR2), except that a timestamp keeps its precision.
void oracle_data_type(sqlite3_context* context, int, sqlite3_value** arguments)
{
    const auto* declared = reinterpret_cast<const char*>(sqlite3_value_text(arguments[0]));
    const ColumnType type = column_type_from_declaration(declared);
    if (type.timestamp_precision >= 0) {
        const std::string text = "TIMESTAMP(" + std::to_string(type.timestamp_precision) + ")";
        sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return;
    }
    std::string text = declared == nullptr ? "" : declared;
    text = text.substr(0, text.find('('));
    const auto first = text.find_first_not_of(' ');
    text = first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
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
           " CASE WHEN c.\"notnull\" THEN 'N' ELSE 'Y' END"
           " FROM \"" + schema + "\".sqlite_schema AS m JOIN pragma_table_info(m.name, " + name + ") AS c"
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

} // namespace

void create_dictionary_views(sqlite3* db, const std::vector<std::string>& schemas)
{
    const int rc = sqlite3_create_function(db, "qix_oracle_data_type", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                           nullptr, oracle_data_type, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw DriverError("HY000", std::string("Unable to register a function: ") + sqlite3_errmsg(db), rc);
    std::string sql = "CREATE TEMP VIEW ALL_TAB_COLUMNS (OWNER, TABLE_NAME, COLUMN_NAME, COLUMN_ID, DATA_TYPE, "
                      "NULLABLE) AS " + columns_of_schema("main", kMainOwner);
    for (const std::string& schema : schemas)
        sql += " UNION ALL " + columns_of_schema(schema, schema);
    run(db, sql);
}

} // namespace qix::lite

#include "Settings.h"

#include "Diagnostics.h"

#include <odbcinst.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

namespace qix::lite {

namespace {

std::string upper(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return result;
}

std::string trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> split_schemas(std::string_view list)
{
    std::vector<std::string> schemas;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(',', start), list.size());
        std::string name = upper(trim(list.substr(start, end - start)));
        if (!name.empty())
            schemas.push_back(std::move(name));
        start = end + 1;
    }
    return schemas;
}

bool is_yes(std::string_view value)
{
    const std::string v = upper(trim(value));
    return v == "YES" || v == "Y" || v == "TRUE" || v == "1" || v == "ON";
}

std::string profile_value(const std::string& dsn, const char* key)
{
    char buffer[4096] = {};
    const int length =
        SQLGetPrivateProfileString(dsn.c_str(), key, "", buffer, static_cast<int>(sizeof buffer), "odbc.ini");
    return length > 0 ? trim(std::string_view(buffer, static_cast<std::size_t>(length))) : std::string();
}

// Splits "KEY=value;KEY={value;with;semicolons}" into upper-case keys and values.
std::map<std::string, std::string> parse_pairs(std::string_view text)
{
    std::map<std::string, std::string> pairs;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto equals = text.find('=', pos);
        if (equals == std::string_view::npos) {
            if (!trim(text.substr(pos)).empty())
                throw DriverError("HY000", "Malformed connection string: '" + std::string(text) + "'");
            break;
        }
        const std::string key = upper(trim(text.substr(pos, equals - pos)));
        pos = equals + 1;
        std::string value;
        if (pos < text.size() && text[pos] == '{') {
            const auto close = text.find('}', pos);
            if (close == std::string_view::npos)
                throw DriverError("HY000", "Malformed connection string: unclosed brace after " + key);
            value = std::string(text.substr(pos + 1, close - pos - 1));
            pos = std::min(text.find(';', close), text.size()) + 1;
        } else {
            const auto end = std::min(text.find(';', pos), text.size());
            value = trim(text.substr(pos, end - pos));
            pos = end + 1;
        }
        pairs[key] = value;
    }
    return pairs;
}

} // namespace

Settings Settings::from_data_source(const std::string& dsn)
{
    // A name with a NUL inside would be looked up, and its files opened, only up to the NUL.
    if (dsn.find('\0') != std::string::npos)
        throw DriverError("IM002", "Data source name not found: the name holds a NUL character");
    Settings settings;
    settings.dsn = dsn;
    settings.database = profile_value(dsn, "Database");
    settings.schemas = split_schemas(profile_value(dsn, "Schemas"));
    settings.create = is_yes(profile_value(dsn, "Create"));
    return settings;
}

Settings Settings::from_connection_string(std::string_view text)
{
    // A path with a NUL inside would open (or create) the file named by its part before the NUL.
    if (text.find('\0') != std::string_view::npos)
        throw DriverError("HY000", "Malformed connection string: it holds a NUL character");
    const auto pairs = parse_pairs(text);
    Settings settings;
    if (auto dsn = pairs.find("DSN"); dsn != pairs.end() && !dsn->second.empty())
        settings = from_data_source(dsn->second);
    if (auto database = pairs.find("DATABASE"); database != pairs.end())
        settings.database = database->second;
    if (auto schemas = pairs.find("SCHEMAS"); schemas != pairs.end())
        settings.schemas = split_schemas(schemas->second);
    if (auto create = pairs.find("CREATE"); create != pairs.end())
        settings.create = is_yes(create->second);
    return settings;
}

std::string Settings::schema_file(const std::string& schema) const
{
    return (std::filesystem::path(database).parent_path() / (schema + ".db")).string();
}

std::string Settings::connection_string() const
{
    std::string text;
    if (!dsn.empty())
        text += "DSN=" + dsn + ";";
    text += "Database={" + database + "};";
    if (!schemas.empty()) {
        text += "Schemas=";
        for (std::size_t i = 0; i < schemas.size(); ++i)
            text += (i == 0 ? "" : ",") + schemas[i];
        text += ";";
    }
    if (create)
        text += "Create=yes;";
    return text;
}

} // namespace qix::lite

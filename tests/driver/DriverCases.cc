#include "DriverCases.h"

#include <sql.h>
#include <sqlext.h>

#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <stdexcept>

namespace qix::test {
namespace {

// The constants the tables name, by their own names (laid out by hand).
#define NAMED(name) std::pair(#name, name)
// clang-format off
const std::map<std::string, long long, std::less<>> kConstants = {
    NAMED(SQL_C_CHAR), NAMED(SQL_C_WCHAR), NAMED(SQL_C_BINARY), NAMED(SQL_C_SSHORT),
    NAMED(SQL_C_USHORT), NAMED(SQL_C_SLONG), NAMED(SQL_C_SBIGINT), NAMED(SQL_C_BIT),
    NAMED(SQL_C_DOUBLE), NAMED(SQL_C_NUMERIC), NAMED(SQL_C_TYPE_DATE), NAMED(SQL_C_TYPE_TIME),
    NAMED(SQL_C_TYPE_TIMESTAMP), NAMED(SQL_C_GUID), NAMED(SQL_C_DEFAULT), NAMED(SQL_BIGINT),
    NAMED(SQL_SMALLINT), NAMED(SQL_VARCHAR), NAMED(SQL_VARBINARY), NAMED(SQL_NUMERIC),
    NAMED(SQL_DOUBLE), NAMED(SQL_TYPE_TIME), NAMED(SQL_TYPE_TIMESTAMP), NAMED(SQL_NO_NULLS),
    NAMED(SQL_NULLABLE), NAMED(SQL_NULLABLE_UNKNOWN), NAMED(SQL_NULL_DATA), NAMED(SQL_SUCCESS),
    NAMED(SQL_NO_DATA), NAMED(SQL_INDEX_ALL), NAMED(SQL_INDEX_UNIQUE), NAMED(SQL_QUICK),
    NAMED(SQL_ROWVER), NAMED(SQL_SCOPE_SESSION)};
// clang-format on
#undef NAMED

std::map<std::string, std::vector<Words>, std::less<>> read_sections()
{
    std::ifstream file(QIX_DRIVER_CASES);
    if (!file)
        throw std::runtime_error("Cannot read " QIX_DRIVER_CASES);
    std::map<std::string, std::vector<Words>, std::less<>> sections;
    std::vector<Words>* section = nullptr;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with('[')) {
            section = &sections[line.substr(1, line.size() - 2)];
        } else if (!line.empty() && !line.starts_with('#')) {
            if (section == nullptr)
                throw std::runtime_error("A row before any section in " QIX_DRIVER_CASES ": " + line);
            std::istringstream words(line);
            auto& row = section->emplace_back();
            for (std::string word; words >> std::quoted(word);)
                row.push_back(word);
        }
    }
    return sections;
}

} // namespace

const std::vector<Words>& cases(const std::string& section)
{
    static const auto sections = read_sections();
    const auto found = sections.find(section);
    if (found == sections.end())
        throw std::runtime_error("No section [" + section + "] in " QIX_DRIVER_CASES);
    return found->second;
}

Rows result_rows(std::span<const Words> rows)
{
    Rows result;
    for (const Words& row : rows) {
        auto& values = result.emplace_back();
        for (const std::string& word : row)
            values.push_back(word == "-" ? std::nullopt : std::optional(word));
    }
    return result;
}

std::vector<std::string> statements(const std::string& section)
{
    std::vector<std::string> first_words;
    for (const Words& row : cases(section))
        first_words.push_back(row.at(0));
    return first_words;
}

std::string word(const Words& row, std::size_t i) { return i < row.size() && row[i] != "-" ? row[i] : ""; }

long long number(const Words& row, std::size_t i)
{
    const std::string text = word(row, i);
    if (!text.starts_with("SQL_"))
        return text.empty() ? 0 : std::stoll(text);
    const auto found = kConstants.find(text);
    if (found == kConstants.end())
        throw std::runtime_error("Unknown constant in " QIX_DRIVER_CASES ": " + text);
    return found->second;
}

} // namespace qix::test

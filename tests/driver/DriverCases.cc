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

// The constants the tables name, by their own names.
#define QIX_CONSTANT(name)                                                                                             \
    {                                                                                                                  \
#name, name                                                                                                    \
    }
const std::map<std::string, long long, std::less<>> kConstants = {
    QIX_CONSTANT(SQL_C_CHAR),           QIX_CONSTANT(SQL_C_WCHAR),
    QIX_CONSTANT(SQL_C_BINARY),         QIX_CONSTANT(SQL_C_SSHORT),
    QIX_CONSTANT(SQL_C_USHORT),         QIX_CONSTANT(SQL_C_SLONG),
    QIX_CONSTANT(SQL_C_SBIGINT),        QIX_CONSTANT(SQL_C_BIT),
    QIX_CONSTANT(SQL_C_DOUBLE),         QIX_CONSTANT(SQL_C_NUMERIC),
    QIX_CONSTANT(SQL_C_TYPE_DATE),      QIX_CONSTANT(SQL_C_TYPE_TIME),
    QIX_CONSTANT(SQL_C_TYPE_TIMESTAMP), QIX_CONSTANT(SQL_C_GUID),
    QIX_CONSTANT(SQL_C_DEFAULT),        QIX_CONSTANT(SQL_BIGINT),
    QIX_CONSTANT(SQL_SMALLINT),         QIX_CONSTANT(SQL_VARCHAR),
    QIX_CONSTANT(SQL_VARBINARY),        QIX_CONSTANT(SQL_NUMERIC),
    QIX_CONSTANT(SQL_DOUBLE),           QIX_CONSTANT(SQL_TYPE_TIME),
    QIX_CONSTANT(SQL_TYPE_TIMESTAMP),   QIX_CONSTANT(SQL_NO_NULLS),
    QIX_CONSTANT(SQL_NULLABLE),         QIX_CONSTANT(SQL_NULLABLE_UNKNOWN),
    QIX_CONSTANT(SQL_NULL_DATA),        QIX_CONSTANT(SQL_SUCCESS),
    QIX_CONSTANT(SQL_NO_DATA),          QIX_CONSTANT(SQL_INDEX_ALL),
    QIX_CONSTANT(SQL_INDEX_UNIQUE),     QIX_CONSTANT(SQL_QUICK),
    QIX_CONSTANT(SQL_ROWVER),           QIX_CONSTANT(SQL_SCOPE_SESSION)};
#undef QIX_CONSTANT

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

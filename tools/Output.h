#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

// Result tables of qix-sql and their three renderings: an aligned text table for people, CSV and
// JSON for programs. Every command builds one Table and hands it to print_table.
namespace qix::tool {

enum class Format { table, csv, json };

/// One cell: NULL, an integer, a number, a yes/no value, a text, or a list of names (flags).
using Value = std::variant<std::monostate, std::int64_t, double, bool, std::string, std::vector<std::string>>;

struct Table {
    std::vector<std::string> columns; // every format shows them in capitals
    std::vector<std::vector<Value>> rows;
};

/// Writes `table` to `out` in `format`. A non-zero `limit` keeps only the first `limit` rows; the
/// text table then ends with a line saying how many rows were left out, and says "(0 rows)" when
/// there are none. The text table shows every value printable; CSV and JSON keep them exact.
void print_table(const Table& table, Format format, std::ostream& out, std::size_t limit = 0);

} // namespace qix::tool

// The tables of driver_cases.txt, which the driver tests take their rows from.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qix::test {

using Rows = std::vector<std::vector<std::optional<std::string>>>;
using Words = std::vector<std::string>;

/// The rows of one "[section]" of driver_cases.txt, each split into its words ("-" kept as it is).
const std::vector<Words>& cases(const std::string& section);

/// Rows of a section as a result set: "-" is NULL.
Rows result_rows(std::span<const Words> rows);

/// The first word of every row of a section: its statements, one a line.
std::vector<std::string> statements(const std::string& section);

/// Word `i` of a row; empty when the row is shorter or the word is "-".
std::string word(const Words& row, std::size_t i);

/// The number a word stands for: an ODBC constant spelt as in sqlext.h ("SQL_C_SLONG") or a
/// decimal number; 0 when the row is shorter or the word is "-".
long long number(const Words& row, std::size_t i);

} // namespace qix::test

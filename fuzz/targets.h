#pragma once

// The fuzz targets: each takes one input of arbitrary bytes, runs it through a piece of the
// library and checks the piece's promises, aborting (so that libFuzzer records a crash) when
// one is broken. Built by fuzz/CMakeLists.txt into one libFuzzer program per target, and into
// the test suite, which replays every file of fuzz/corpus/<target>/ through its target.

#include <string_view>

namespace qix::fuzz {

/// Arbitrary bytes as a component list file: reading fails with qix::Error or gives a list
/// whose written form reads back to the same list and the same text.
void list_file(std::string_view input);

/// Arbitrary text as a number line: the value agrees with strtod, and written values read back.
void list_number(std::string_view input);

/// unescape(escape(x)) == x, escape() gives one safe line, unescape() takes anything.
void escape(std::string_view input);

/// standardize_facility_name: upper case, no full stop, stable when applied again.
void facility_name(std::string_view input);

/// convert_string_to_time: fails with std::runtime_error or gives an instant whose text reads
/// back to the same microsecond.
void timestamp_text(std::string_view input);

/// validate_field_name accepts exactly [A-Z][A-Z0-9_]* up to 128 characters.
void field_name(std::string_view input);

/// Arbitrary bytes as a short program of ODBC calls on our SQLite driver (see driver.cc): no
/// sanitizer report, freed handles stay invalid, and values read back as they were written.
void driver(std::string_view input);

/// Aborts with `what` on standard error unless `condition` holds.
void require(bool condition, const char* what);

} // namespace qix::fuzz

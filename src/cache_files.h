#pragma once

#include <fstream>
#include <istream>
#include <string>
#include <string_view>

// The files of the query cache: its folder, binary streams that say which file failed, and
// the magic header every cache file begins with.
namespace qix::sql::cache_files {

/// The 16 bytes at the start of every cache file.
inline constexpr std::string_view kMagicHeader = "qix_sql_cache_00";

/// Makes sure `folder` exists (with missing parents). Throws qix::Error
/// "Unable to create cache folder \"<folder>\"".
void create_folder(const std::string& folder);

/// Opens `file_name` for binary reading or writing. Throws qix::Error
/// "Cannot open input file \"<name>\"" or "Cannot open output file \"<name>\"".
[[nodiscard]] std::ifstream open_input(const std::string& file_name);
[[nodiscard]] std::ofstream open_output(const std::string& file_name);

/// Reads the first 16 bytes of `stream` and checks them against kMagicHeader. Throws
/// qix::Error "Cannot read header" or "Invalid header \"<read>\", expected \"<magic>\"".
void read_and_check_magic_header(std::istream& stream);

} // namespace qix::sql::cache_files

#pragma once

#include <qix/util/export.h>

#include <string>

namespace qix::sql {

/// The local cache folder of a Database and the naming and header conventions of the files
/// kept there: a cache file is "<folder>/<SHA3-224 of the query text in hex>.dat" and begins
/// with the 16-byte magic header "qix_sql_cache_00".
class QIX_SQL_API Cache {
public:
    [[nodiscard]] std::string get_folder() const;
    /// The cache file name for `sql_query`; touches no file.
    [[nodiscard]] std::string get_full_file_name(const std::string& sql_query) const;
    /// Replaces the folder; throws qix::Error "Invalid cache folder: \"\"" for an empty one.
    void set_folder(const std::string& folder);

private:
    std::string folder_ = "db_cache";
};

} // namespace qix::sql

#pragma once

#include <qix/util/export.h>

#include <string>

namespace qix {

/// Makes sure the folder `path` exists, creating missing parent folders with permission
/// bits `mode`. Returns true when the folder exists afterwards (also when it existed before).
[[nodiscard]] QIX_SQL_API bool make_directory(const std::string& path, unsigned int mode);

} // namespace qix

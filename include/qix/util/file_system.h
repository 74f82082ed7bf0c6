#pragma once

#include <string>

namespace qix {

/// Makes sure the folder `path` exists, creating missing parent folders with permission
/// bits `mode`. Returns true when the folder exists afterwards (also when it existed before).
[[nodiscard]] bool make_directory(const std::string& path, unsigned int mode);

} // namespace qix

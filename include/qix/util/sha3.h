#pragma once

#include <qix/util/export.h>

#include <array>
#include <span>

namespace qix {

/// The 28-byte SHA3-224 digest (FIPS 202) of the given bytes. Throws qix::Error if the
/// crypto library cannot compute it (which only happens when it is misconfigured).
[[nodiscard]] QIX_SQL_API std::array<unsigned char, 28> sha3_224(std::span<const unsigned char> data);

} // namespace qix

#pragma once

// The raw ODBC of the baselines: the test support's connection and statement, and a check that
// turns a failed call into an exception carrying the driver's diagnostics.

#include "RawOdbc.h"

#include <string>

namespace qix::bench {

using qix::test::RawConnection;
using qix::test::RawStatement;

/// Throws std::runtime_error naming `what`, with the statement's diagnostics, unless `rc` succeeded.
void check(SQLRETURN rc, const RawStatement& statement, const std::string& what);

} // namespace qix::bench

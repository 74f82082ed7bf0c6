#pragma once

#include "Connection.h"

namespace qix::lite {

/// SQLGetInfo: what the driver and its SQLite database offer. Throws DriverError (HY096) for an
/// information type the driver does not answer.
SQLRETURN get_info(const Connection& connection, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT buffer_length,
                   SQLSMALLINT* length);

} // namespace qix::lite

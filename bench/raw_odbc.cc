#include "raw_odbc.h"

#include <stdexcept>

namespace qix::bench {

void check(SQLRETURN rc, const RawStatement& statement, const std::string& what)
{
    if (!SQL_SUCCEEDED(rc))
        throw std::runtime_error(what + " failed: " + statement.diagnostic_text());
}

} // namespace qix::bench

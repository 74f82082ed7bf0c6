#include "targets.h"

#include <qix/sql/functions.h>
#include <qix/util/tessel.h>

#include <algorithm>

namespace qix::fuzz {

void facility_name(std::string_view input)
{
    const std::string name = sql::standardize_facility_name(input);
    require(std::none_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; }),
            "a standard facility name has no lower-case letter");
    require(name.find('.') == std::string::npos, "a standard facility name has no full stop");
    require(name.size() <= input.size() || name == "LUMEN" || name == "LUMEN_SIM" || name == "CORAL4_SIM" ||
                name == "TANDEM_SIM",
            "only the fixed aliases can be longer than their input");
    // Cutting at a full stop can leave blanks at the end; any other name is final.
    if (tessel::trim_sv(name) == name)
        require(sql::standardize_facility_name(name) == name, "a standard facility name stays as it is");
}

} // namespace qix::fuzz

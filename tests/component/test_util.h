#pragma once

// The shared test helpers under the component tests' namespace, and components made in one line.

#include <qix/sql/ComponentList.h>

#include "TestUtil.h"

#include <string>
#include <vector>

namespace qix::test::component {

using qix::test::in_child;
using qix::test::message_of;
using qix::test::slurp;
using qix::test::spit;
using qix::test::WorkingDirectory;

/// A component of up to nine texts (name to link name), four positions (x, y, z, s) and flags.
inline sql::Component make_component(std::vector<std::string> texts, std::vector<double> positions,
                                     std::vector<bool> flags)
{
    texts.resize(9);
    positions.resize(4);
    return sql::Component{texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7], texts[8],
                          positions[0], positions[1], positions[2], positions[3], std::move(flags)};
}

} // namespace qix::test::component

#include "targets.h"

#include <cstdio>
#include <cstdlib>

namespace qix::fuzz {

void require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

} // namespace qix::fuzz

#include "targets.h"

#include <qix/util/tessel.h>

namespace qix::fuzz {

void escape(std::string_view input)
{
    const std::string escaped = tessel::escape(input);
    require(tessel::unescape(escaped) == input, "unescape(escape(x)) == x");
    require(escaped.find('\n') == std::string::npos && escaped.find('\r') == std::string::npos,
            "an escaped text is one line");
    require(tessel::trim_sv(escaped) == escaped, "an escaped text loses nothing to trimming");
    require(escaped.empty() || escaped.front() != '<', "an escaped text never looks like a tag");
    // Any text at all may come from a damaged file.
    const std::string unescaped = tessel::unescape(input);
    require(unescaped.size() <= input.size(), "unescaping never lengthens a text");
}

} // namespace qix::fuzz

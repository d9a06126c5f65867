// Lines of tab-separated values: what the command line's `get` prints for
// each message.
#pragma once

#include <string>
#include <vector>

#include "records.hpp"
#include "terser.hpp"

namespace vellomar {

// Appends to `out` the values that `paths` select in `message`, joined by
// tabs and ended by a line feed. A value is empty where the message lacks
// the segment, repetition, field, component or sub-component; backslash, tab,
// CR and LF in a value are written as \\, \t, \r and \n, so that a line and
// its cells stay one line and its cells.
void append_tsv_line(const Message &message, const std::vector<TerserPath> &paths,
                     std::string &out);

} // namespace vellomar

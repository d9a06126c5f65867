// The index scan at the top of its offset range. The input's first byte k
// picks a text of 65,535 - k bytes, filled by repeating the rest of the
// input; the scan with 16-bit offsets must index it exactly as the 32-bit
// scan of messages does. A counter that wraps at the top of its range would
// start over and never end: the bounded sinks turn that into a finding.
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "check.hpp"
#include "index.hpp"

using namespace vellomar;

namespace {

// A vector that refuses more entries than the text has bytes (plus the last
// line's end): a correct scan never fills it.
template <class T> struct Bounded {
  std::vector<T> items;
  size_t limit;
  size_t size() const { return items.size(); }
  void push_back(const T &item) {
    FUZZ_CHECK(items.size() <= limit, "more index entries than bytes: the scan repeats");
    items.push_back(item);
  }
};

bool same(const SegmentEntry &a, const SegmentEntry &b) {
  return a.offset == b.offset && a.name_length == b.name_length &&
         a.first_field == b.first_field;
}

} // namespace

FUZZ_ENTRY {
  if (size == 0)
    return 0;
  std::string text(std::numeric_limits<uint16_t>::max() - data[0], 'A');
  for (size_t i = 0; size > 1 && i < text.size(); ++i)
    text[i] = static_cast<char>(data[1 + i % (size - 1)]);
  Bounded<SegmentEntry> narrow_segments{{}, text.size()}, segments{{}, text.size()};
  Bounded<uint32_t> narrow_ends{{}, text.size()}, ends{{}, text.size()};
  index_single_byte_separator<uint16_t>(text, '|', narrow_segments, narrow_ends);
  index_single_byte_separator<uint32_t>(text, '|', segments, ends);
  FUZZ_CHECK(narrow_ends.items == ends.items, fuzz::show(text.substr(text.size() - 64)));
  FUZZ_CHECK(std::equal(narrow_segments.items.begin(), narrow_segments.items.end(),
                        segments.items.begin(), segments.items.end(), same),
             fuzz::show(text.substr(text.size() - 64)));
  return 0;
}

// The index scan at the top of its offset range: a text of 65,535 - k bytes (k is
// the first byte, the rest of the input is repeated) indexed with 16-bit offsets must
// equal the 32-bit scan's index. The sinks make a wrapped block counter's rescan fail.
#include <limits>
#include <string>
#include <vector>

#include "check.hpp"
#include "index.hpp"

using namespace vellomar;

template <class T> struct Bounded : std::vector<T> {
  size_t limit;
  explicit Bounded(size_t bytes) : limit(bytes + 1) {}
  void push_back(const T &item) {
    FUZZ_CHECK(this->size() < limit, "more index entries than bytes: the scan repeats");
    std::vector<T>::push_back(item);
  }
};

FUZZ_ENTRY {
  std::string text(std::numeric_limits<uint16_t>::max() - (size ? data[0] : 0), 'A');
  for (size_t i = 0; size > 1 && i < text.size(); ++i)
    text[i] = static_cast<char>(data[1 + i % (size - 1)]);
  Bounded<SegmentEntry> narrow_segments(text.size()), segments(text.size());
  Bounded<uint32_t> narrow_ends(text.size()), ends(text.size());
  index_single_byte_separator<uint16_t>(text, '|', narrow_segments, narrow_ends);
  index_single_byte_separator<uint32_t>(text, '|', segments, ends);
  const std::string tail = text.substr(text.size() - 64);
  FUZZ_CHECK(narrow_ends == ends && narrow_segments.size() == segments.size(), tail);
  for (size_t i = 0; i < segments.size(); ++i)
    FUZZ_CHECK(narrow_segments[i].offset == segments[i].offset &&
                   narrow_segments[i].name_length == segments[i].name_length &&
                   narrow_segments[i].first_field == segments[i].first_field,
               tail);
  return 0;
}

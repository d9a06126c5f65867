// The index scan at the top of its offset range: a text of 65,535 - k bytes (k is
// the first byte, the rest of the input is repeated) indexed with 16-bit offsets must
// equal the 32-bit scan's index. The sinks make a wrapped block counter's rescan fail.
// Indexed into an IndexBuffer (a block of separators at a time), it is the same.
// Indexed again without the fields of some segments, it keeps the others' fields,
// and so does the index from the line ends.
#include <algorithm>
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

bool same_entries(const auto &a, const auto &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].offset != b[i].offset || a[i].name_length != b[i].name_length ||
        a[i].first_field != b[i].first_field)
      return false;
  return true;
}

FUZZ_ENTRY {
  std::string text(std::numeric_limits<uint16_t>::max() - (size ? data[0] : 0), 'A');
  for (size_t i = 0; size > 1 && i < text.size(); ++i)
    text[i] = static_cast<char>(data[1 + i % (size - 1)]);
  Bounded<SegmentEntry> narrow_segments(text.size()), segments(text.size());
  Bounded<uint32_t> narrow_ends(text.size()), ends(text.size());
  index_single_byte_separator<uint16_t>(text, '|', narrow_segments, narrow_ends);
  index_single_byte_separator<uint32_t>(text, '|', segments, ends);
  // The same into a buffer that takes a block's separators at once.
  IndexBuffer<SegmentEntry> buffered_segments;
  IndexBuffer<uint32_t> buffered_ends;
  index_single_byte_separator<uint32_t>(text, '|', buffered_segments, buffered_ends);
  const std::string tail = text.substr(text.size() - 64);
  FUZZ_CHECK(narrow_ends == ends && same_entries(narrow_segments, segments), tail);
  FUZZ_CHECK(std::ranges::equal(buffered_ends.entries(), ends) &&
                 same_entries(buffered_segments, segments),
             tail);

  // Skipping the fields of some segments keeps every segment and the fields
  // of the others: those refused have none.
  auto wanted = [](std::string_view name) { return name.empty() || (name[0] & 1) == 0; };
  std::vector<SegmentEntry> some_segments;
  std::vector<uint32_t> some_ends;
  index_single_byte_separator<uint32_t>(text, '|', some_segments, some_ends, wanted);
  FUZZ_CHECK(some_segments.size() == segments.size(), tail);
  // The same from the line ends, found beforehand.
  std::vector<uint32_t> line_ends;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\r' || text[i] == '\n')
      line_ends.push_back(static_cast<uint32_t>(i));
  line_ends.push_back(static_cast<uint32_t>(text.size()));
  std::vector<SegmentEntry> known_segments;
  IndexBuffer<uint32_t> known_ends;
  index_known_lines<uint32_t>(text, line_ends, '|', known_segments, known_ends, wanted);
  FUZZ_CHECK(std::ranges::equal(known_ends.entries(), some_ends) &&
                 same_entries(known_segments, some_segments),
             tail);
  for (size_t i = 0; i < segments.size(); ++i) {
    const SegmentEntry &all = segments[i], &some = some_segments[i];
    FUZZ_CHECK(some.offset == all.offset && some.name_length == all.name_length, tail);
    const size_t all_end = i + 1 < segments.size() ? segments[i + 1].first_field : ends.size();
    const size_t some_end =
        i + 1 < segments.size() ? some_segments[i + 1].first_field : some_ends.size();
    const bool kept = wanted(std::string_view(text).substr(all.offset, all.name_length));
    FUZZ_CHECK(std::equal(ends.begin() + all.first_field,
                          kept ? ends.begin() + static_cast<ptrdiff_t>(all_end)
                               : ends.begin() + all.first_field,
                          some_ends.begin() + some.first_field,
                          some_ends.begin() + static_cast<ptrdiff_t>(some_end)),
               tail);
  }
  return 0;
}

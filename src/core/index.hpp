// The scan that builds a message's segment and field index when its field
// separator is one byte: every line end and field separator is found 64 bytes
// at a time and only those bytes are visited.
//
// Offsets are of type `Offset` (uint32_t for messages); the scan is written
// for any unsigned width so that its behaviour at the top of the range can be
// checked with a narrow type on a small text.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string_view>

#include "records.hpp"

namespace vellomar {

// Bit i is set when block[i] is a CR, an LF or `sep`; `len` bytes are looked
// at (at most 64).
uint64_t special_bytes(const unsigned char *block, size_t len, unsigned char sep);

// Appends the index of `text` to `segments` (SegmentEntry) and `ends` (the
// end offset of every stored field), both with push_back() and size().
// `text` must be at most std::numeric_limits<Offset>::max() bytes long.
template <class Offset, class Segments, class Ends>
void index_single_byte_separator(std::string_view text, unsigned char sep,
                                 Segments &segments, Ends &ends) {
  const auto *const base = reinterpret_cast<const unsigned char *>(text.data());
  const auto n = static_cast<Offset>(text.size());

  Offset line_start = 0;
  bool in_fields = false; // a separator was seen on this line
  auto start_segment = [&](Offset name_end) {
    segments.push_back(SegmentEntry{line_start, static_cast<uint32_t>(name_end - line_start),
                                    static_cast<uint32_t>(ends.size())});
  };
  auto end_line = [&](Offset at) {
    if (in_fields)
      ends.push_back(at);
    else if (at > line_start) // an empty line is no segment
      start_segment(at);
    line_start = static_cast<Offset>(at + 1);
    in_fields = false;
  };

  // The block start advances by the length looked at, so it stops at `n`
  // itself: stepping a whole 64 past the last block would wrap to 0 in the
  // top 64 values of `Offset` and start the scan over.
  for (Offset block = 0, len = 0; block < n; block = static_cast<Offset>(block + len)) {
    len = std::min<Offset>(64, static_cast<Offset>(n - block));
    for (uint64_t mask = special_bytes(base + block, len, sep); mask; mask &= mask - 1) {
      const auto at = static_cast<Offset>(block + std::countr_zero(mask));
      const unsigned char c = base[at];
      if (c == '\r' || c == '\n') { // never the separator: the header line has none
        end_line(at);
      } else if (in_fields) {
        ends.push_back(at);
      } else {
        start_segment(at);
        in_fields = true;
      }
    }
  }
  end_line(n);
}

} // namespace vellomar

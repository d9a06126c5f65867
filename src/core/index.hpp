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
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "records.hpp"

namespace vellomar {

// Bits 0 to n - 1 set: the first `n` bytes of a block of 16 (all 16 when n is
// more).
constexpr uint32_t first_bytes16(size_t n) { return (1u << std::min<size_t>(n, 16)) - 1; }

// Whether the 16 bytes from `at` lie before `limit`, the end of what may be
// read (pointers or offsets): the one test before every 16-byte read that
// may reach past a value's end into the text around it.
template <class T> constexpr bool block16_before(T at, T limit) { return limit - at >= 16; }

#if defined(__SSE2__)
// Bit i set where p[i] is `byte`, for the 16 bytes at `p` (all readable).
[[gnu::always_inline]] inline uint32_t equal_bytes16(const unsigned char *p, unsigned char byte) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  return static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(byte)))));
}
#endif

// The bytes of one block of at most 64 that the index stops at: bit i of
// `lines` is set when block[i] is a CR or an LF, bit i of `separators` when
// it is the field separator. Two masks rather than one, so that the scan
// tells a line end from a separator by a bit test instead of reading the byte
// back; inline, so that the constants stay in registers across blocks.
struct SpecialBytes {
  uint64_t lines;
  uint64_t separators;
};

// `before` is the number of bytes before `block` that may be read.
[[gnu::always_inline]] inline SpecialBytes special_bytes(const unsigned char *block, size_t len,
                                                       unsigned char sep, size_t before = 0) {
#if defined(__SSE2__)
  // A short block (the end of a text) is read as the 64 bytes that end with
  // it, so that the SIMD compares serve it too; bits of the bytes before it
  // are shifted out. Only a text shorter than 64 bytes lacks them: it takes
  // the byte loop below, the one every build has.
  if (before >= 64 - len) {
    const size_t shift = 64 - len; // bits of bytes before the block
    const unsigned char *const bytes = block - shift;
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i fs = _mm_set1_epi8(static_cast<char>(sep));
    // Four 16-byte lanes, written out: the compiler kept a counted loop.
    auto lane = [&](int k, uint64_t &lines, uint64_t &separators) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + 16 * k));
      lines |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(
                   _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)))))
               << (16 * k);
      separators |= static_cast<uint64_t>(
                        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, fs))))
                    << (16 * k);
    };
    uint64_t lines = 0, separators = 0;
    lane(0, lines, separators);
    lane(1, lines, separators);
    lane(2, lines, separators);
    lane(3, lines, separators);
    return {lines >> shift, separators >> shift};
  }
#else
  (void)before;
#endif
  SpecialBytes out{0, 0};
  for (size_t i = 0; i < len; ++i) {
    const unsigned char c = block[i];
    if (c == '\r' || c == '\n')
      out.lines |= uint64_t{1} << i;
    else if (c == sep)
      out.separators |= uint64_t{1} << i;
  }
  return out;
}

// A growable array of index entries that a scan fills a block at a time:
// room(n) makes space for n more entries and returns where they go, and
// commit(k) keeps the first k written there. A scan writes the positions of a
// block's separators without a bound check or a size update per entry.
template <class T> class IndexBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

public:
  IndexBuffer() = default;
  IndexBuffer(IndexBuffer &&) noexcept = default;
  IndexBuffer &operator=(IndexBuffer &&) noexcept = default;

  T *room(size_t n) {
    if (capacity_ - size_ < n) [[unlikely]]
      grow(n);
    return data_.get() + size_;
  }
  void commit(size_t n) { size_ += n; }
  void push_back(T value) { *room(1) = value; ++size_; }
  size_t size() const { return size_; }
  void clear() { size_ = 0; }
  const T *data() const { return data_.get(); }
  const T &operator[](size_t i) const { return data_[i]; }
  std::span<const T> entries() const { return {data_.get(), size_}; }

private:
  [[gnu::noinline]] void grow(size_t n) {
    const size_t capacity = std::max(2 * capacity_, std::max<size_t>(size_ + n, 256));
    std::unique_ptr<T[]> data(new T[capacity]);
    if (size_)
      std::memcpy(data.get(), data_.get(), size_ * sizeof(T));
    data_ = std::move(data);
    capacity_ = capacity;
  }
  std::unique_ptr<T[]> data_;
  size_t size_ = 0, capacity_ = 0;
};

// Appends block + i for every set bit i of `bits`, in order: into an end list
// that has room(), through a pointer, counted once at the end (no bound check
// or size update per entry); else one by one. (No popcount: the baseline
// x86-64 the wheels target has no instruction for it.)
template <class Offset, class Ends>
[[gnu::always_inline]] inline void append_positions(Ends &ends, uint64_t bits, Offset block) {
  if constexpr (requires { ends.room(size_t{64}); }) {
    auto *const out = ends.room(64);
    auto *p = out;
    for (; bits; bits &= bits - 1)
      *p++ = static_cast<Offset>(block + std::countr_zero(bits));
    ends.commit(static_cast<size_t>(p - out));
  } else {
    for (; bits; bits &= bits - 1)
      ends.push_back(static_cast<Offset>(block + std::countr_zero(bits)));
  }
}

// Indexes the fields of every segment.
struct EverySegment {
  bool operator()(std::string_view) const { return true; }
};

// The bits of `mask` below its lowest set bit (all of them when none is set).
inline uint64_t below_lowest(uint64_t mask) { return mask ? (mask & (~mask + 1)) - 1 : ~uint64_t{0}; }

// Appends the index of `text` to `segments` (SegmentEntry) and `ends` (the
// end offset of every stored field), both with push_back() and size().
// `text` must be at most std::numeric_limits<Offset>::max() bytes long.
// A segment whose name `wanted` refuses is indexed as one without fields: a
// reader that looks up only some segments (a table's paths) skips the
// separators of the others.
template <class Offset, class Segments, class Ends, class Wanted = EverySegment>
void index_single_byte_separator(std::string_view text, unsigned char sep,
                                 Segments &segments, Ends &ends, const Wanted &wanted = {}) {
  const auto *const base = reinterpret_cast<const unsigned char *>(text.data());
  const auto n = static_cast<Offset>(text.size());

  Offset line_start = 0;
  bool in_fields = false; // a separator was seen on this line
  bool skipping = false;  // the line's segment is not wanted: its separators are passed over
  auto start_segment = [&](Offset name_end) {
    segments.push_back(SegmentEntry{line_start, static_cast<uint32_t>(name_end - line_start),
                                    static_cast<uint32_t>(ends.size())});
  };
  auto end_line = [&](Offset at) {
    if (in_fields) {
      if (!skipping)
        ends.push_back(at);
    } else if (at > line_start) // an empty line is no segment
      start_segment(at);
    line_start = static_cast<Offset>(at + 1);
    in_fields = skipping = false;
  };

  // The bytes of the block at `block`, as special_bytes found them.
  auto visit = [&](Offset block, const SpecialBytes &found) __attribute__((always_inline)) {
    uint64_t mask = found.lines | found.separators;
    if (skipping)
      mask &= ~(found.separators & below_lowest(found.lines));
    while (mask) {
      if (in_fields && !skipping) {
        // Every separator before the line's next end closes a field: these
        // are appended in a loop of their own, which neither tells each from
        // a line end nor asks where its line stands (most bytes visited are
        // such separators).
        const uint64_t run = found.separators & mask & below_lowest(found.lines & mask);
        append_positions<Offset>(ends, run, block);
        mask &= ~run;
        if (!mask)
          break;
      }
      const int bit = std::countr_zero(mask);
      mask &= mask - 1;
      const auto at = static_cast<Offset>(block + bit);
      if ((found.lines >> bit) & 1) { // a CR or LF is never the separator: the header line has none
        end_line(at);
      } else if (in_fields) {
        ends.push_back(at);
      } else {
        start_segment(at);
        in_fields = true;
        if (!wanted(text.substr(line_start, static_cast<size_t>(at - line_start)))) {
          // Up to the line's end, only the line end counts.
          skipping = true;
          const uint64_t later_lines = bit == 63 ? 0 : found.lines >> (bit + 1) << (bit + 1);
          mask &= ~(found.separators & below_lowest(later_lines));
        }
      }
    }
  };
  // Whole blocks, whose length the compares need not test, then the last
  // short one. A block starts at most 64 bytes before `n`: stepping past it
  // would wrap to 0 in the top 64 values of `Offset` and start the scan over.
  Offset block = 0;
  for (; n - block >= 64; block = static_cast<Offset>(block + 64))
    visit(block, special_bytes(base + block, 64, sep, block));
  if (block < n)
    visit(block, special_bytes(base + block, static_cast<size_t>(n - block), sep, block));
  end_line(n);
}

// The same index as index_single_byte_separator, of a text whose line ends
// are known: `line_ends` holds the end offset of each of its lines, in
// order, the last one the text's size, and no line holds a CR or LF (the
// cutter finds them on its way). Only the lines of wanted segments are read
// beyond their names, 16 bytes at a time for the one separator byte.
template <class Offset, class Segments, class Ends, class Wanted = EverySegment>
void index_known_lines(std::string_view text, std::span<const uint32_t> line_ends,
                       unsigned char sep, Segments &segments, Ends &ends,
                       const Wanted &wanted = {}) {
  const auto *const base = reinterpret_cast<const unsigned char *>(text.data());
  Offset start = 0;
  for (const uint32_t end_at : line_ends) {
    const auto end = static_cast<Offset>(end_at);
    if (end == start) { // an empty line is no segment
      start = static_cast<Offset>(end + 1);
      continue;
    }
    Offset name_end = start;
    while (name_end < end && base[name_end] != sep)
      ++name_end;
    segments.push_back(SegmentEntry{start, static_cast<uint32_t>(name_end - start),
                                    static_cast<uint32_t>(ends.size())});
    if (name_end < end &&
        wanted(text.substr(start, static_cast<size_t>(name_end - start)))) {
      Offset at = static_cast<Offset>(name_end + 1);
#if defined(__SSE2__)
      auto separators = [&](Offset from) {
        return static_cast<uint64_t>(equal_bytes16(base + from, sep));
      };
      for (; block16_before(at, end); at = static_cast<Offset>(at + 16))
        append_positions<Offset>(ends, separators(at), at);
      if (at < end && end >= 16) {
        // The last bytes, read as the 16 that end the line: those before
        // `at` were read already.
        const auto from = static_cast<Offset>(end - 16);
        append_positions<Offset>(ends, separators(from) >> (at - from) << (at - from), from);
        at = end;
      }
#endif
      for (; at < end; ++at)
        if (base[at] == sep)
          ends.push_back(at);
      ends.push_back(end);
    }
    start = static_cast<Offset>(end + 1);
  }
}

} // namespace vellomar

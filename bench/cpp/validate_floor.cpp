// The floor of validation's walk over a message, as a number: every value of
// a parsed message visited once at the separator that ends it, its length
// compared with a limit found by one table lookup (segment, field,
// component), the separators found 16 bytes at a time. Nothing else that a
// validation does (types, tables, dates, the structure, findings) is done.
//
//   vellomar_validate_floor FILE CALLS
//
// prints the values over their limit; count its instructions with
//   valgrind --tool=callgrind vellomar_validate_floor FILE 100 (and 300):
// the difference over 200 is one walk.
#include <emmintrin.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "definitions.hpp"
#include "parser.hpp"
#include "records.hpp"

namespace {

using namespace vellomar;

struct Limits {
  uint32_t key = 0;
  uint16_t limit[64][16] = {}; // by field, then component (both mod their size)
};
Limits table[64]; // open-addressed by the segment's code

size_t slot(uint32_t key) { return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 58); }

const Limits *lookup(uint32_t key) {
  for (size_t i = slot(key);; i = (i + 1) & 63) {
    if (table[i].key == key)
      return &table[i];
    if (table[i].key == 0)
      return nullptr;
  }
}

[[gnu::noinline, gnu::noipa]] size_t walk(const Message &m) {
  size_t over = 0;
  const __m128i bar = _mm_set1_epi8('|'), hat = _mm_set1_epi8('^'), tilde = _mm_set1_epi8('~'),
                amp = _mm_set1_epi8('&');
  for (size_t s = 0; s < m.segments.size(); ++s) {
    const SegmentView seg = m.segment_at(s);
    const Limits *l = lookup(segment_code(seg.name));
    const char *start = seg.name.data() + seg.name.size() + 1;
    const char *stop = seg.stored ? seg.base + seg.ends[seg.stored - 1] : start;
    uint32_t field = 1, component = 1;
    for (const char *b = start; b < stop; b += 16) {
      char tail[16] = {}; // the last block read from a copy: never past the text
      const char *p = b;
      if (stop - b < 16)
        p = static_cast<const char *>(std::memcpy(tail, b, static_cast<size_t>(stop - b)));
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
      unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, bar), _mm_cmpeq_epi8(v, hat)),
                       _mm_or_si128(_mm_cmpeq_epi8(v, tilde), _mm_cmpeq_epi8(v, amp)))));
      if (stop - b < 16)
        mask &= (1u << (stop - b)) - 1;
      for (; mask; mask &= mask - 1) {
        const char *at = b + __builtin_ctz(mask);
        if (l && static_cast<size_t>(at - start) > l->limit[field & 63][component & 15])
          ++over; // the one lookup a value
        const char c = *at;
        if (c == '|') {
          ++field;
          component = 1;
        } else if (c == '^') {
          ++component;
        } else if (c == '~') {
          component = 1;
        }
        start = at + 1;
      }
    }
    if (l && static_cast<size_t>(stop - start) > l->limit[field & 63][component & 15])
      ++over;
  }
  return over;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vellomar_validate_floor FILE CALLS\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  const std::string raw = text.str();
  auto parsed = parse_message(raw);
  if (!parsed) {
    std::fprintf(stderr, "%s does not parse\n", argv[1]);
    return 1;
  }
  const Message &m = parsed.value();
  for (size_t s = 0; s < m.segments.size(); ++s) { // a limit of 20 everywhere
    const uint32_t key = segment_code(m.segment_at(s).name);
    size_t i = slot(key);
    while (table[i].key != 0 && table[i].key != key)
      i = (i + 1) & 63;
    table[i].key = key;
    for (auto &row : table[i].limit)
      for (auto &limit : row)
        limit = 20;
  }
  const long calls = std::atol(argv[2]);
  size_t sink = 0;
  for (long i = 0; i < calls; ++i) {
    asm volatile("" : : : "memory"); // one walk a call, not one hoisted out
    sink += walk(m);
  }
  std::printf("%zu\n", sink);
}

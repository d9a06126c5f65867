#include "charset.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellomar {
namespace {

bool is_stripped(unsigned char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x1F);
}

// Position of the first field separator, CR, LF or 0x1C in `text` at or
// after `from` (the size of `text` when none): 16 bytes at a time, as this
// runs over the header line of every message read.
size_t next_special(std::string_view text, size_t from, char separator) {
  const size_t n = text.size();
#if defined(__SSE2__)
  const __m128i sep = _mm_set1_epi8(separator);
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i fs = _mm_set1_epi8('\x1c');
  for (; from + 16 <= n; from += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text.data() + from));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, sep), _mm_cmpeq_epi8(v, cr)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, fs)));
    if (const int mask = _mm_movemask_epi8(hit))
      return from + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(mask)));
  }
#endif
  for (; from < n; ++from) {
    const char c = text[from];
    if (c == separator || c == '\r' || c == '\n' || c == '\x1c')
      return from;
  }
  return n;
}

} // namespace

std::string_view header_charset(std::string_view text) {
  if (text.size() < 4)
    return {};
  // One pass over the header line: fields are counted from MSH-2 (field 0)
  // to MSH-18 (field 16).
  const char separator = text[3];
  size_t field = 0, start = 4, delimiters_end = text.size();
  std::string_view value;
  for (size_t i = 4;; ++i) {
    i = next_special(text, i, separator);
    const char c = i < text.size() ? text[i] : '\r';
    const bool line_end = c == '\r' || c == '\n' || c == '\x1c';
    if (field == 0)
      delimiters_end = i;
    if (field == 16) {
      value = text.substr(start, i - start);
      break;
    }
    if (line_end)
      return {};
    ++field;
    start = i + 1;
  }
  for (char d : text.substr(4, std::min<size_t>(2, delimiters_end - 4)))
    value = value.substr(0, value.find(d));
  while (!value.empty() && is_stripped(static_cast<unsigned char>(value.front())))
    value.remove_prefix(1);
  while (!value.empty() && is_stripped(static_cast<unsigned char>(value.back())))
    value.remove_suffix(1);
  return value;
}

// Hand-written because it decides the fast path of every message: pure ASCII
// 32 bytes at a time, then the strict rules for the rest.
bool is_utf8(std::string_view text) {
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const auto *end = p + text.size();
  while (p < end) {
#if defined(__SSE2__)
    if (end - p >= 32) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
      if (_mm_movemask_epi8(_mm_or_si128(a, b)) == 0) {
        p += 32;
        continue;
      }
    }
#endif
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (!(word & 0x8080808080808080ULL)) {
        p += 8;
        continue;
      }
    }
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
      n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
      n = 3;
      lo = c == 0xE0 ? 0xA0 : 0x80;
      hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4;
      lo = c == 0xF0 ? 0x90 : 0x80;
      hi = c == 0xF4 ? 0x8F : 0xBF;
    } else
      return false;
    if (end - p < static_cast<std::ptrdiff_t>(n) || p[1] < lo || p[1] > hi)
      return false;
    for (size_t i = 2; i < n; ++i)
      if ((p[i] & 0xC0) != 0x80)
        return false;
    p += n;
  }
  return true;
}

} // namespace vellomar

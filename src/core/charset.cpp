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

// The ASCII White_Space that can stand in the value: LF, CR and 0x1C end the
// line before it.
bool is_stripped(unsigned char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0C) || (c >= 0x1D && c <= 0x1F);
}

// Finds the field separators, CRs, LFs and 0x1C bytes of `text` in order:
// next(from) is the position of the first one at or after `from` (the size
// of `text` when none), for `from` never less than in the call before. The
// bytes are compared 16 at a time and each block once, its hits kept as a
// mask for the calls that follow: this runs over the header line of every
// message read, where fields are a few bytes long.
class SpecialFinder {
public:
  SpecialFinder(std::string_view text, char separator) : text_(text), separator_(separator) {}

  size_t next(size_t from) {
    const size_t n = text_.size();
#if defined(__SSE2__)
    for (;;) {
      if (from >= block_ && from < block_ + 16) {
        const unsigned later = mask_ >> (from - block_);
        if (later)
          return from + static_cast<size_t>(std::countr_zero(later));
        from = block_ + 16;
      }
      if (from + 16 > n)
        break;
      block_ = from;
      mask_ = hits(text_.data() + from);
    }
#endif
    for (; from < n; ++from) {
      const char c = text_[from];
      if (c == separator_ || c == '\r' || c == '\n' || c == '\x1c')
        return from;
    }
    return n;
  }

private:
#if defined(__SSE2__)
  unsigned hits(const char *at) const {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(separator_)),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))),
                     _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('\x1c'))));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
  }
  size_t block_ = SIZE_MAX - 16; // no block read yet
  unsigned mask_ = 0;
#endif
  std::string_view text_;
  char separator_;
};

} // namespace

std::string_view header_charset(std::string_view text) {
  if (text.size() < 4)
    return {};
  // One pass over the header line: fields are counted from MSH-2 (field 0)
  // to MSH-18 (field 16).
  const char separator = text[3];
  size_t field = 0, start = 4, delimiters_end = text.size();
  std::string_view value;
  SpecialFinder special(text, separator);
  for (size_t i = 4;; ++i) {
    i = special.next(i);
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
// 64 and 32 bytes at a time, then the strict rules for the rest.
bool is_utf8(std::string_view text) {
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const auto *end = p + text.size();
  while (p < end) {
#if defined(__SSE2__)
    if (end - p >= 64) {
      const auto at = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * k)); };
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(at(0), at(1)), _mm_or_si128(at(2), at(3)))) == 0) {
        p += 64;
        continue;
      }
    }
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

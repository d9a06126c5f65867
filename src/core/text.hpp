// Delimiters and the cutting of text at them. Every cut works on UTF-8 bytes
// and never copies: pieces are views into the text that was cut.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellomar {

// One delimiter character. It is made from a single byte of the header: the
// character whose code point is that byte's value, so a byte of 0x80 or above
// stands for a character in U+0080..U+00FF, searched for by its two-byte
// UTF-8 form.
struct Delimiter {
  char bytes[2] = {0, 0};
  unsigned char size = 1;

  static constexpr Delimiter from_byte(unsigned char byte) {
    Delimiter d;
    if (byte < 0x80) {
      d.bytes[0] = static_cast<char>(byte);
      d.size = 1;
    } else {
      d.bytes[0] = static_cast<char>(0xC0 | (byte >> 6));
      d.bytes[1] = static_cast<char>(0x80 | (byte & 0x3F));
      d.size = 2;
    }
    return d;
  }
  std::string_view view() const { return {bytes, size}; }
};

// The five delimiters of one message, read from bytes 3 to 7 of its first line.
struct EncodingCharacters {
  Delimiter field = Delimiter::from_byte('|');
  Delimiter component = Delimiter::from_byte('^');
  Delimiter repetition = Delimiter::from_byte('~');
  Delimiter escape = Delimiter::from_byte('\\');
  Delimiter sub_component = Delimiter::from_byte('&');
};

// Position of the first occurrence of `d` in `text` at or after `from`, or
// std::string_view::npos. (Always in line: callers that cut values piece by
// piece, cut() and the converter's rows, pay for a call at every piece
// where the compiler's own choice left it out.)
[[gnu::always_inline]] inline size_t find_delimiter(std::string_view text, const Delimiter &d,
                                                    size_t from = 0) {
  const char *begin = text.data();
  const char *end = begin + text.size();
  const char *p = begin + from;
  if (d.size == 1) {
    if (p >= end)
      return std::string_view::npos;
    // Most values are a few bytes long: a plain loop beats a call to memchr.
    if (end - p < 16) {
      for (; p < end; ++p)
        if (*p == d.bytes[0])
          return static_cast<size_t>(p - begin);
      return std::string_view::npos;
    }
    auto hit = static_cast<const char *>(std::memchr(p, d.bytes[0], static_cast<size_t>(end - p)));
    return hit ? static_cast<size_t>(hit - begin) : std::string_view::npos;
  }
  // Not `p + 1 < end`: an empty text may have no storage, and a null pointer
  // cannot be stepped over.
  while (end - p > 1) {
    auto hit = static_cast<const char *>(
        std::memchr(p, d.bytes[0], static_cast<size_t>(end - p - 1)));
    if (!hit)
      break;
    if (hit[1] == d.bytes[1])
      return static_cast<size_t>(hit - begin);
    p = hit + 1;
  }
  return std::string_view::npos;
}

inline bool contains(std::string_view text, const Delimiter &d) {
  return find_delimiter(text, d) != std::string_view::npos;
}

// Cuts `text` at every `d`, keeping empty pieces (and the empty piece after a
// trailing delimiter), and calls `on_piece(piece)` for each. A text without
// `d` is one piece. `on_piece` may return false to stop early.
// (The pieces are made as views, not by substr(), whose check of `start`
// is a call out of line: `start` is within `text` by construction.)
template <class F>
void cut(std::string_view text, const Delimiter &d, F &&on_piece) {
  size_t start = 0;
  for (;;) {
    size_t hit = find_delimiter(text, d, start);
    if (hit == std::string_view::npos) {
      on_piece(std::string_view(text.data() + start, text.size() - start));
      return;
    }
    const std::string_view piece(text.data() + start, hit - start);
    if constexpr (std::is_same_v<decltype(on_piece(text)), bool>) {
      if (!on_piece(piece))
        return;
    } else {
      on_piece(piece);
    }
    start = hit + d.size;
  }
}

inline size_t count_pieces(std::string_view text, const Delimiter &d) {
  size_t n = 1;
  for (size_t at = find_delimiter(text, d); at != std::string_view::npos;
       at = find_delimiter(text, d, at + d.size))
    ++n;
  return n;
}

// Eight bytes at `p` (of which `len`, 1..8, are readable) as one word, the
// byte at p[i] in bits 8i..8i+7 and zeros above `len`. Short texts are loaded
// with at most two overlapping fixed-size reads rather than a variable-length
// memcpy, which compiles to a library call.
inline uint64_t load_short(const char *p, size_t len) {
  uint64_t w = 0;
  if (len == 8) {
    std::memcpy(&w, p, 8);
  } else if (len >= 4) {
    uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + len - 4, 4);
    // The overlapping bytes are the same in both reads, so OR keeps them.
    w = lo | (static_cast<uint64_t>(hi) << (8 * (len - 4)));
  } else {
    const auto byte = [&](size_t i) { return static_cast<uint64_t>(static_cast<unsigned char>(p[i])); };
    w = byte(0) | byte(len / 2) << (8 * (len / 2)) | byte(len - 1) << (8 * (len - 1));
  }
  return w;
}

// The high bit of every byte of `w` equal to the byte repeated in `pattern`,
// exactly (no borrow runs from one byte into the next).
inline uint64_t bytes_equal(uint64_t w, uint64_t pattern) {
  constexpr uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
  const uint64_t x = w ^ pattern;
  return ~(((x & low7) + low7) | x | low7);
}

// A short text cut at a one-byte delimiter in one pass of eight bytes at a
// time, for the walk over a record: a field's components or a component's
// sub-components are usually a few bytes each, and one pass that cuts, stops
// at a second delimiter and notes a third and fourth in each piece beats a
// scan to count, one to cut and one per question asked of each piece later.
// Longer texts go to cut(), whose memchr wins.
template <size_t N> struct ShortCut {
  static constexpr size_t max_text = 128;
  // Plain members rather than string_views: the array is left uninitialised
  // (a string_view would be zeroed N times per call) and only the first
  // `count` entries are ever written or read.
  struct Piece {
    const char *data;
    size_t size;
    bool flagged; // holds one of the flag bytes
    operator std::string_view() const { return {data, size}; }
  };
  Piece pieces[N];
  size_t count = 0;

  // Cuts `text` at `d` up to the first `stop` (the rest is not looked at) and
  // notes for each piece whether `flag1` or `flag2` occurs in it; a null
  // delimiter is not looked for. Returns false, leaving this unusable, for a
  // delimiter of two bytes, a text longer than max_text, a stop equal to `d`,
  // more than N pieces, or a machine that is not little-endian.
  bool cut(std::string_view text, const Delimiter &d, const Delimiter *stop,
           const Delimiter *flag1, const Delimiter *flag2) {
    if constexpr (std::endian::native != std::endian::little)
      return false;
    // An absent delimiter stands in as `d` itself, its matches masked off.
    const Delimiter &s = stop ? *stop : d, &g1 = flag1 ? *flag1 : d, &g2 = flag2 ? *flag2 : d;
    // Sizes are 1 or 2: their AND is 1 only when all are 1.
    if ((d.size & s.size & g1.size & g2.size) != 1 || text.size() > max_text ||
        (stop && s.bytes[0] == d.bytes[0]))
      return false;
    constexpr uint64_t ones = 0x0101010101010101ULL;
    const auto pattern = [](const Delimiter &x) { return ones * static_cast<unsigned char>(x.bytes[0]); };
    const uint64_t at = pattern(d), stop_at = pattern(s), f1 = pattern(g1), f2 = pattern(g2);
    const uint64_t stop_on = stop ? ~uint64_t{0} : 0, f1_on = flag1 ? ~uint64_t{0} : 0,
                   f2_on = flag2 ? ~uint64_t{0} : 0;
    const char *const base = text.data();
    size_t end = text.size(), start = 0, n = 0;
    bool pending = false; // a flag byte since `start`, in an earlier word
    for (size_t pos = 0; pos < end; pos += 8) {
      const size_t len = std::min<size_t>(8, end - pos);
      const uint64_t w = load_short(base + pos, len);
      const uint64_t valid = (len == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * len)) - 1) &
                             0x8080808080808080ULL;
      uint64_t cuts = bytes_equal(w, at) & valid;
      uint64_t flags = ((bytes_equal(w, f1) & f1_on) | (bytes_equal(w, f2) & f2_on)) & valid;
      const uint64_t stops = bytes_equal(w, stop_at) & stop_on & valid;
      if (stops) {
        const uint64_t before = (stops & (~stops + 1)) - 1;
        cuts &= before;
        flags &= before;
        end = pos + static_cast<size_t>(std::countr_zero(stops)) / 8;
      }
      for (; cuts; cuts &= cuts - 1) {
        const int bit = std::countr_zero(cuts);
        const uint64_t before = (uint64_t{1} << bit) - 1;
        const size_t here = pos + static_cast<size_t>(bit) / 8;
        if (n == N - 1)
          return false;
        pieces[n++] = Piece{base + start, here - start, pending || (flags & before)};
        flags &= ~before;
        pending = false;
        start = here + 1;
      }
      pending = pending || flags;
    }
    pieces[n++] = Piece{base + start, end - start, pending};
    count = n;
    return true;
  }
};

// Piece `index` (0-based) of `text` cut at `d`; the caller checks the count.
// (A loop of its own rather than cut() with a callback: the first piece,
// asked for most, is one search; the callback's state lived in memory.)
inline std::string_view nth_piece(std::string_view text, const Delimiter &d,
                                  size_t index) {
  size_t start = 0;
  for (;; --index) {
    const size_t hit = find_delimiter(text, d, start);
    if (index == 0)
      return {text.data() + start, (hit == std::string_view::npos ? text.size() : hit) - start};
    if (hit == std::string_view::npos)
      return {};
    start = hit + d.size;
  }
}

// Line splitting: a text is cut at every CR and every LF and empty pieces
// vanish, so CR, LF, CR LF and LF CR all end a line. Lines are not trimmed.
class LineSplitter {
public:
  explicit LineSplitter(std::string_view text) : text_(text) {}

  // Sets `line` to the next non-empty line and returns true, or returns false
  // at the end of the text.
  bool next(std::string_view &line) {
    const size_t n = text_.size();
    while (pos_ < n) {
      size_t end = next_break();
      if (end > pos_) {
        line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
      }
      pos_ = end + 1;
    }
    return false;
  }

  // Byte offset just past the line last returned by next().
  size_t position() const { return pos_; }

private:
  size_t find_from(char c, size_t from) const {
    if (from >= text_.size())
      return text_.size();
    auto hit = static_cast<const char *>(
        std::memchr(text_.data() + from, c, text_.size() - from));
    return hit ? static_cast<size_t>(hit - text_.data()) : text_.size();
  }
  // The first CR or LF at or after pos_ (the text's length when none); each
  // byte kind is searched for once per stretch, not once per line.
  size_t next_break() {
    if (cr_ < pos_ || cr_ == npos_)
      cr_ = find_from('\r', pos_);
    if (lf_ < pos_ || lf_ == npos_)
      lf_ = find_from('\n', pos_);
    return cr_ < lf_ ? cr_ : lf_;
  }

  static constexpr size_t npos_ = std::string_view::npos;
  std::string_view text_;
  size_t pos_ = 0;
  size_t cr_ = npos_;
  size_t lf_ = npos_;
};

// Unicode White_Space trim of both ends of UTF-8 text, or of one end.
std::string_view trim_white_space(std::string_view text);
std::string_view trim_white_space_start(std::string_view text);
std::string_view trim_white_space_end(std::string_view text);

// `text` with its ASCII letters in upper case (codes and names senders send
// in either case: "oru", "base64").
std::string ascii_upper(std::string_view text);

// Whether `text` holds no byte of 0x80 or above (a writer that knows this of
// its output has Python make the str by one copy, with no decoding pass).
// Read 64 bytes a step where SSE2 is, then as 8-byte words.
inline bool all_ascii(std::string_view text) {
  const char *p = text.data();
  size_t n = text.size();
  uint64_t high = 0;
#if defined(__SSE2__)
  __m128i blocks = _mm_setzero_si128();
  for (; n >= 64; p += 64, n -= 64) {
    const auto *b = reinterpret_cast<const __m128i *>(p);
    const __m128i pair1 = _mm_or_si128(_mm_loadu_si128(b), _mm_loadu_si128(b + 1));
    const __m128i pair2 = _mm_or_si128(_mm_loadu_si128(b + 2), _mm_loadu_si128(b + 3));
    blocks = _mm_or_si128(blocks, _mm_or_si128(pair1, pair2));
  }
  if (_mm_movemask_epi8(blocks))
    return false;
#endif
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    high |= w;
  }
  for (; n; ++p, --n)
    high |= static_cast<unsigned char>(*p);
  return !(high & 0x8080808080808080ULL);
}

// The first `max_bytes` bytes of UTF-8 `text`, cut back to a character
// boundary so that the result stays valid UTF-8.
inline std::string_view utf8_prefix(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes)
    return text;
  size_t cut_at = max_bytes;
  while (cut_at > 0 && (static_cast<unsigned char>(text[cut_at]) & 0xC0) == 0x80)
    --cut_at;
  return text.substr(0, cut_at);
}

// Copies `text` to `to` and returns the end of the copy. Most texts copied
// (table cells, JSON keys and values) are a few bytes long: copied by two
// fixed-size moves that overlap, not by a call to memcpy, whose size the
// compiler does not know here.
[[gnu::always_inline]] inline char *copy_text(char *to, std::string_view text) {
  const size_t n = text.size();
  const char *const from = text.data();
  if (n >= 8 && n <= 16) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4 && n < 8) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else if (n > 16) {
    std::memcpy(to, from, n);
  } else if (n) { // 1 to 3 bytes: the first, the middle and the last
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
  return to + n;
}

} // namespace vellomar

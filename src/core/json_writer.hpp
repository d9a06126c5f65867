// The JSON text of a whole message: every member of every record, indented by
// two spaces, the same text that Python's
// json.dumps(value, indent=2, ensure_ascii=False) gives for the equivalent
// nested dicts and lists.
//
//   Message   {"raw", "segments"}
//   Segment   {"name", "fields"}
//   Field     {"value", "components", "repetitions"}  (all always present)
//   Component {"value", "sub_components"}
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "records.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellomar {

class JsonWriter;

// A message's text in a buffer of its own.
struct JsonText {
  std::unique_ptr<char[]> data;
  size_t size = 0;
  bool ascii = true;
  std::string_view view() const { return {data.get(), size}; }
};

// Storage for the text, which a caller may keep from one message to the
// next: with common allocators a fresh buffer of a few hundred kilobytes is
// new pages from the system at every call, each of which faults when first
// written (in a plain process that cost five times the writing itself),
// where a kept one is mapped and warm.
class JsonBuffer {
public:
  // The text of the last message written into this buffer.
  std::string_view view() const { return {data_.get(), size_}; }
  // No byte of 0x80 or above: the text is its own Latin-1 form.
  bool ascii() const { return ascii_; }
  // Frees the storage when it is larger than `keep` bytes, so that what a
  // kept buffer holds is bounded by a budget and not by the largest message.
  void release_above(size_t keep);

private:
  friend class JsonWriter;
  friend JsonText write_message_json(const Message &message);
  // Storage of at least `capacity` bytes that keeps the first `used`
  // bytes. Throws std::bad_alloc when it cannot be had.
  char *reserve(size_t used, size_t capacity);

  std::unique_ptr<char[]> data_;
  size_t capacity_ = 0;
  size_t size_ = 0;
  bool ascii_ = true;
};

// Writes the message in one pass into `out`, replacing what it held. Never
// fails but for memory: the records hold valid UTF-8 only, so every value
// can be written. Strings escape the quotation mark and backslash with a
// backslash, use \b \t \n \f \r, write any other byte below 0x20 as \u00xx
// (lower-case hex) and everything else, "/" and U+007F included, as it is.
void write_message_json(const Message &message, JsonBuffer &out);

// Appends `text` as a JSON string, quoted and escaped as above (for the
// other JSON the package writes: FHIR resources).
void append_json_string(std::string &out, std::string_view text);

// The same written at `out`, which has room for json_string_bound(size)
// bytes; returns the end of what it wrote.
char *write_json_string(char *out, std::string_view text);
constexpr size_t json_string_bound(size_t size) { return size * 6 + 2; }

#if defined(__SSE2__)
// Bit i is set when byte i of `block` must be escaped: below 0x20, '"' or
// '\\'. SSE2 has no unsigned less-than: a byte is at most 0x1F exactly when
// subtracting 0x1F with saturation leaves zero.
inline __m128i escape_bytes(__m128i block) {
  const __m128i control = _mm_cmpeq_epi8(_mm_subs_epu8(block, _mm_set1_epi8(0x1F)),
                                         _mm_setzero_si128());
  const __m128i quote = _mm_cmpeq_epi8(block, _mm_set1_epi8('"'));
  const __m128i backslash = _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'));
  return _mm_or_si128(control, _mm_or_si128(quote, backslash));
}
inline unsigned escape_mask(__m128i block) {
  return static_cast<unsigned>(_mm_movemask_epi8(escape_bytes(block)));
}
#endif

// How many readable bytes write_json_string_padded() needs after its text.
inline constexpr size_t json_string_read_ahead = 16;

// write_json_string() for a `text` followed by json_string_read_ahead
// readable bytes (in a buffer of the caller's), at `out` with room for
// json_string_bound(size) + 32 bytes: a text with nothing to escape (most
// values) is copied in blocks of 16 bytes, one test a block; one with a
// byte to escape is written by write_json_string() from its start.
inline char *write_json_string_padded(char *out, std::string_view text) {
#if defined(__SSE2__)
  const char *s = text.data();
  size_t left = text.size();
  char *to = out + 1;
  for (;;) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
    const unsigned in_text = left >= 16 ? 0xFFFFu : (1u << left) - 1;
    if (escape_mask(block) & in_text)
      break;
    _mm_storeu_si128(reinterpret_cast<__m128i *>(to), block);
    if (left <= 16) {
      *out = '"';
      to[left] = '"';
      return to + left + 1;
    }
    s += 16;
    to += 16;
    left -= 16;
  }
#endif
  return write_json_string(out, text);
}

// The text in a buffer of its own (for C++ callers).
JsonText write_message_json(const Message &message);

} // namespace vellomar

// Delimiters and the cutting of text at them. Every cut works on UTF-8 bytes
// and never copies: pieces are views into the text that was cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

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
// std::string_view::npos.
inline size_t find_delimiter(std::string_view text, const Delimiter &d,
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
template <class F>
void cut(std::string_view text, const Delimiter &d, F &&on_piece) {
  size_t start = 0;
  for (;;) {
    size_t hit = find_delimiter(text, d, start);
    if (hit == std::string_view::npos) {
      on_piece(text.substr(start));
      return;
    }
    if constexpr (std::is_same_v<decltype(on_piece(text)), bool>) {
      if (!on_piece(text.substr(start, hit - start)))
        return;
    } else {
      on_piece(text.substr(start, hit - start));
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

// Piece `index` (0-based) of `text` cut at `d`; the caller checks the count.
inline std::string_view nth_piece(std::string_view text, const Delimiter &d,
                                  size_t index) {
  std::string_view out;
  size_t i = 0;
  cut(text, d, [&](std::string_view piece) {
    if (i++ == index) {
      out = piece;
      return false;
    }
    return true;
  });
  return out;
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

} // namespace vellomar

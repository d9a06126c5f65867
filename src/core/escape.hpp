// Escape sequence decoding: the raw text of one value to the text the user sees.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text.hpp"

namespace vellomar {

// What decoding makes of the formatting commands of formatted text (FT:
// \.sp\, \.in\, \H\, ...; \.br\ is a line feed either way).
enum class Formatting : unsigned char {
  keep,  // kept as written: the text reads back as it was
  plain, // as plain text: line feeds and spaces where they move the output,
         // nothing for the rest (a text for a system that has no formatting)
};

// How hexadecimal data (\Xhh...\) is read.
enum class HexData : unsigned char {
  latin1, // a character U+0000..U+00FF a pair
  utf8,   // as the bytes of the message they stand for: a run of pairs that
          // is a UTF-8 character is that character (\XC3A9\ is U+00E9, as
          // a UTF-8 message's bytes are), any other pair as latin1 reads it
          // (\XE9\: a byte of a Latin-1 text, which UTF-8 never is alone)
};

// Appends the decoded form of `text` to `out`. Never fails: unknown or
// unterminated sequences are kept as written, invalid hex pairs dropped.
void append_decoded(std::string &out, std::string_view text,
                    const EncodingCharacters &enc, Formatting formatting = Formatting::keep,
                    HexData hex = HexData::latin1);

// The decoded form of `text`.
std::string decode_escapes(std::string_view text, const EncodingCharacters &enc);

// The decoded form of `text` without copying in the common case: `text`
// itself when it holds no escape character, otherwise the decoded text
// written into `scratch`.
inline std::string_view decoded_view(std::string_view text,
                                     const EncodingCharacters &enc,
                                     std::string &scratch,
                                     Formatting formatting = Formatting::keep,
                                     HexData hex = HexData::latin1) {
  if (!contains(text, enc.escape))
    return text;
  scratch.clear();
  append_decoded(scratch, text, enc, formatting, hex);
  return scratch;
}

// How an escaped text writes line ends.
enum class LineEnds : unsigned char {
  escape, // LF as \.br\, CR as \X0D\: the text reads back as it was
  space,  // CR and LF as spaces: a one-line text (MSA-3 and ERR of an answer)
};

struct EscapeOptions {
  LineEnds line_ends = LineEnds::escape;
  // How many of MSH-2's delimiters (component, repetition, escape character,
  // sub-component, in that order) the header declares: those it does not
  // are written as they stand. The escape character writes the sequences
  // even where it is not declared.
  unsigned declared = 4;
};

// The one escaper of the package. Escaping of values for a message with
// delimiters `enc`: each of the five delimiters becomes its sequence (\F\,
// \S\, \T\, \R\, \E\), an LF becomes \.br\, and CR, 0x0B and 0x1C become
// \X0D\, \X0B\ and \X1C\ (a CR written as \.br\ would read back as LF; the
// MLLP bytes could be taken for a frame). Decoding an escaped text gives it
// back (with LineEnds::escape). Made once per set of delimiters: a table of
// the bytes that start something to escape, so that plain text costs one
// lookup per byte.
class Escaper {
public:
  explicit Escaper(const EncodingCharacters &enc, EscapeOptions options = {});
  void append(std::string &out, std::string_view text) const;
  // Whether `text` is its own escaped form.
  bool is_plain(std::string_view text) const {
    for (char c : text)
      if (marked(c))
        return false;
    return true;
  }

private:
  bool marked(char c) const {
    const auto b = static_cast<unsigned char>(c);
    return (marked_[b >> 6] >> (b & 63)) & 1;
  }
  EncodingCharacters enc_;
  EscapeOptions options_;
  uint64_t marked_[4] = {}; // bytes that may start something to escape
  // LF's sequence: ".br", or "X0A" where "." is a delimiter and would cut it.
  std::string_view line_feed_ = ".br";
};

inline void append_escaped(std::string &out, std::string_view text,
                           const EncodingCharacters &enc) {
  Escaper(enc).append(out, text);
}

} // namespace vellomar

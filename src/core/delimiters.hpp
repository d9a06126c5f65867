// The delimiters a message declares: the one reader of them, for the parser
// and for everything that writes text for a message (edit, escape, tables,
// the pickling state, the listener's answers), and the one check that they
// can be written safely.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "result.hpp"
#include "text.hpp"

namespace vellomar {

// The delimiters of a header line of at least eight bytes: bytes 3 to 7
// (MSH-1, then the four of MSH-2), each standing for the character whose code
// point is its value. A non-ASCII character of a UTF-8 text is thus read as
// two delimiters, those of its two bytes: the text of "MSH|§~\&" declares
// U+00C2 and U+00A7 as component and repetition separators, '~' as escape
// character and '\' as sub-component separator.
// Inline: every parse reads it, and the call cost more than the reading.
inline EncodingCharacters header_delimiters(std::string_view header) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(header[i]); };
  EncodingCharacters enc;
  enc.field = Delimiter::from_byte(byte(3));
  enc.component = Delimiter::from_byte(byte(4));
  enc.repetition = Delimiter::from_byte(byte(5));
  enc.escape = Delimiter::from_byte(byte(6));
  enc.sub_component = Delimiter::from_byte(byte(7));
  return enc;
}

// Nothing when the five delimiters are distinct ASCII punctuation characters
// (printable, neither space nor letter nor digit): what a text written for a
// message needs to read back as it was written. A delimiter that is a line
// break, White_Space, a frame byte or another delimiter cannot be told from
// the text around it; a letter or digit field separator cuts segment names
// ("MSH", "ZZZ") apart. Otherwise ValueError "Delimiters must be five
// distinct ASCII punctuation characters, got: '{the five}'".
std::optional<Error> check_delimiters(const EncodingCharacters &enc);

// The checked delimiters named by an MSH-2 text, read as header_delimiters
// reads the header "MSH|" followed by it (further characters ignored).
// ValueError "Delimiters need four characters (MSH-2), got: '...'" for a text
// shorter than four bytes, otherwise that of check_delimiters.
Result<EncodingCharacters> delimiters_from_text(std::string_view msh2);

// What a header declares however odd it is, for the answers to any message
// (the listener's MSA-3 texts): MSH-1 as header_delimiters reads it ('|' for
// a line of three bytes or fewer; a line shorter than eight bytes declares
// "^~\&"), and the bytes of
// MSH-2 up to the field separator, at most four; `declared` counts them.
// Where the escape character is not declared, '\' writes the sequences.
struct DeclaredDelimiters {
  EncodingCharacters enc;
  unsigned declared = 4;
};
DeclaredDelimiters declared_delimiters(std::string_view header);

// The five delimiters written as their characters (UTF-8), in the order of
// the header: field, component, repetition, escape, sub-component.
void append_written(std::string &out, const EncodingCharacters &enc);

// One delimiter written as its character, in its UTF-8 form at `pos` of
// `text`, valid UTF-8 (a byte below 0x80, or the two bytes of U+0080..U+00FF), as the
// pickling state writes Delimiter::view(); advances `pos`. False when there
// is none.
bool read_written_delimiter(std::string_view text, size_t &pos, Delimiter &out);

} // namespace vellomar

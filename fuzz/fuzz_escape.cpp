// The escape decoder with arbitrary encoding characters: the first five bytes
// of the input are the five delimiters (field, component, repetition, escape,
// sub-component; each byte stands for the character of that code point), the
// rest is the value.
//
// Oracles: a value without the escape character decodes to itself; the
// decoded text is never longer than the raw text; the three entry points
// agree; on valid UTF-8 the output is valid UTF-8 and equals the reference
// decoder's, which walks the text character by character.
#include <string>
#include <string_view>

#include "check.hpp"
#include "escape.hpp"
#include "reference.hpp"

using namespace vellomar;
using fuzz::show;

FUZZ_ENTRY {
  if (size < 5)
    return 0;
  auto byte = [&](size_t i) { return Delimiter::from_byte(data[i]); };
  EncodingCharacters enc;
  enc.field = byte(0);
  enc.component = byte(1);
  enc.repetition = byte(2);
  enc.escape = byte(3);
  enc.sub_component = byte(4);
  std::string_view text(reinterpret_cast<const char *>(data) + 5, size - 5);

  std::string decoded = decode_escapes(text, enc);
  if (!contains(text, enc.escape))
    FUZZ_CHECK(decoded == text, show(text));
  FUZZ_CHECK(decoded.size() <= text.size(), show(text) + " -> " + show(decoded));

  std::string scratch = "stale";
  FUZZ_CHECK(decoded_view(text, enc, scratch) == decoded, show(text));
  std::string appended = "prefix";
  append_decoded(appended, text, enc);
  FUZZ_CHECK(appended == "prefix" + decoded, show(text));

  if (!fuzz::valid_utf8(text))
    return 0;
  FUZZ_CHECK(fuzz::valid_utf8(decoded), show(text) + " -> " + show(decoded));
  auto cp = [&](size_t i) { return static_cast<char32_t>(data[i]); };
  const fuzz::ref::Enc ref_enc{cp(0), cp(1), cp(2), cp(3), cp(4)};
  std::string expected = fuzz::ref::decode_escapes_utf8(text, ref_enc);
  FUZZ_CHECK(decoded == expected,
             show(text) + " -> " + show(decoded) + " expected " + show(expected));
  return 0;
}

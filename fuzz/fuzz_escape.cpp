// The escape decoder; the first five bytes are the delimiters (field,
// component, repetition, escape, sub-component), the rest the value. Oracles:
// text without the escape character decodes to itself; the output is never
// longer than the input; the three entry points agree; UTF-8 in, UTF-8 out.
#include "check.hpp"
#include "escape.hpp"

using namespace vellomar;

FUZZ_ENTRY {
  if (size < 5)
    return 0;
  EncodingCharacters enc;
  Delimiter *slots[] = {&enc.field, &enc.component, &enc.repetition, &enc.escape,
                        &enc.sub_component};
  for (size_t i = 0; i < 5; ++i)
    *slots[i] = Delimiter::from_byte(data[i]);
  std::string_view text(reinterpret_cast<const char *>(data) + 5, size - 5);
  std::string decoded = decode_escapes(text, enc), scratch = "stale", appended = "prefix";
  append_decoded(appended, text, enc);
  FUZZ_CHECK(
      (contains(text, enc.escape) || decoded == text) && decoded.size() <= text.size() &&
          decoded_view(text, enc, scratch) == decoded && appended == "prefix" + decoded &&
          (!fuzz::valid_utf8(text) || fuzz::valid_utf8(decoded)),
      text);
  return 0;
}

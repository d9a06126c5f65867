#include "delimiters.hpp"

#include <string>

namespace vellomar {
void append_written(std::string &out, const EncodingCharacters &enc) {
  for (const Delimiter *d :
       {&enc.field, &enc.component, &enc.repetition, &enc.escape, &enc.sub_component})
    out.append(d->view());
}

std::optional<Error> check_delimiters(const EncodingCharacters &enc) {
  const Delimiter *all[] = {&enc.field, &enc.component, &enc.repetition, &enc.escape,
                            &enc.sub_component};
  bool fine = true;
  for (size_t i = 0; i < 5 && fine; ++i) {
    const auto b = static_cast<unsigned char>(all[i]->bytes[0]);
    const bool alphanumeric =
        (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    fine = all[i]->size == 1 && b > 0x20 && b < 0x7F && !alphanumeric;
    for (size_t k = 0; k < i && fine; ++k)
      fine = all[k]->bytes[0] != all[i]->bytes[0];
  }
  if (fine)
    return std::nullopt;
  std::string text =
      "Delimiters must be five distinct ASCII punctuation characters, got: '";
  append_written(text, enc);
  return Error{ErrorKind::value_error, text + "'"};
}

Result<EncodingCharacters> delimiters_from_text(std::string_view msh2) {
  if (msh2.size() < 4)
    return Error{ErrorKind::value_error,
                 "Delimiters need four characters (MSH-2), got: '" + std::string(msh2) + "'"};
  std::string header = "MSH|";
  header.append(msh2.substr(0, 4));
  const EncodingCharacters enc = header_delimiters(header);
  if (auto error = check_delimiters(enc))
    return std::move(*error);
  return enc;
}

DeclaredDelimiters declared_delimiters(std::string_view header) {
  DeclaredDelimiters out;
  if (header.size() < 8) {
    if (header.size() > 3)
      out.enc.field = Delimiter::from_byte(static_cast<unsigned char>(header[3]));
    return out;
  }
  const EncodingCharacters read = header_delimiters(header);
  out.enc.field = read.field;
  Delimiter *slots[] = {&out.enc.component, &out.enc.repetition, &out.enc.escape,
                        &out.enc.sub_component};
  const Delimiter given[] = {read.component, read.repetition, read.escape, read.sub_component};
  out.declared = 0;
  while (out.declared != 4 && given[out.declared].view() != read.field.view()) {
    *slots[out.declared] = given[out.declared];
    ++out.declared;
  }
  return out;
}

bool read_written_delimiter(std::string_view text, size_t &pos, Delimiter &out) {
  if (pos >= text.size())
    return false;
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    out = Delimiter::from_byte(lead);
    pos += 1;
    return true;
  }
  // A lead byte of valid UTF-8 is followed by its continuation byte.
  if (lead != 0xC2 && lead != 0xC3)
    return false;
  const auto next = static_cast<unsigned char>(text[pos + 1]);
  out = Delimiter::from_byte(static_cast<unsigned char>(((lead & 0x1F) << 6) | (next & 0x3F)));
  pos += 2;
  return true;
}

} // namespace vellomar

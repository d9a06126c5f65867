#include "escape.hpp"

#include <algorithm>

#include "charset.hpp"

namespace vellomar {
namespace {

void append_delimiter(std::string &out, const Delimiter &d) {
  out.append(d.bytes, d.size);
}

// Length of the UTF-8 character whose first byte is `lead` (1 for a stray
// continuation byte or one of the two lead bytes UTF-8 never uses, 0xC0 and
// 0xC1, so that malformed input still advances).
size_t char_length(unsigned char lead) {
  if (lead < 0xC2)
    return 1;
  if (lead < 0xE0)
    return 2;
  if (lead < 0xF0)
    return 3;
  return 4;
}

int hex_value(std::string_view ch) {
  if (ch.size() != 1)
    return -1;
  char c = ch[0];
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// The length of the UTF-8 character `bytes` begins with, 0 where they begin
// with none (a byte of 0x80 or above that is no character's start, or one
// cut short or malformed).
size_t utf8_character(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const size_t n = char_length(lead);
  return lead >= 0xC2 && n <= bytes.size() && is_utf8(bytes.substr(0, n)) ? n : 0;
}

// Appends `bytes`, hex data's values, as `hex` reads them.
void append_hex_bytes(std::string &out, std::string_view bytes, HexData hex) {
  for (size_t i = 0; i < bytes.size();) {
    const auto value = static_cast<unsigned char>(bytes[i]);
    if (const size_t n = hex == HexData::utf8 && value >= 0x80 ? utf8_character(bytes.substr(i)) : 0) {
      out.append(bytes.substr(i, n));
      i += n;
      continue;
    }
    const Delimiter ch = Delimiter::from_byte(value);
    out.append(ch.bytes, ch.size);
    ++i;
  }
}

// Hex data is read in pairs of characters and each valid pair gives a byte
// of that value, appended as `hex` says (the character U+0000..U+00FF of
// that value: the data is Latin-1; or a UTF-8 message's bytes).
void append_hex(std::string &out, std::string_view digits, HexData hex) {
  std::string bytes;
  // The character at the front of the digits (not empty), taken off them; a
  // character cut short by their end is what is left of it.
  auto take_char = [](std::string_view &text) {
    const std::string_view ch = text.substr(0, char_length(static_cast<unsigned char>(text[0])));
    text.remove_prefix(ch.size());
    return ch;
  };
  while (!digits.empty()) {
    const std::string_view first = take_char(digits);
    if (digits.empty())
      break; // odd final character: ignored
    const std::string_view second = take_char(digits);
    int lo = hex_value(second);
    if (lo < 0)
      continue;
    int value;
    if (first == "+")
      value = lo;
    else if (int hi = hex_value(first); hi >= 0)
      value = hi * 16 + lo;
    else
      continue;
    bytes.push_back(static_cast<char>(value));
  }
  append_hex_bytes(out, bytes, hex);
}

// The number after a formatting command's name (".sp 2"), `otherwise`
// when there is none; at most 99 (a text's layout, not a way to grow it).
size_t command_count(std::string_view arguments, size_t otherwise) {
  const std::string_view digits = trim_white_space(arguments);
  if (digits.empty() || digits.size() > 2 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return otherwise;
  size_t n = 0;
  for (char c : digits)
    n = n * 10 + static_cast<size_t>(c - '0');
  return n;
}

// Formatted text's commands as plain text: ".sp n" ends the line and skips
// n lines (one without a number), ".ce" ends the line (centring the next:
// nothing more here), ".sk n" is n spaces;
// indents, fill modes, highlighting and character set changes move nothing
// a plain text keeps. False for a sequence that is none of them.
bool append_formatting(std::string &out, std::string_view content) {
  // \Cxxyy\ and \Mxxyy\ or \Mxxyyzz\: a character set's escape (in hex)
  const bool charset =
      (content.size() == 5 && content[0] == 'C') ||
      ((content.size() == 5 || content.size() == 7) && content[0] == 'M');
  if (content == "H" || content == "N" ||
      (charset && std::all_of(content.begin() + 1, content.end(), [](char c) {
         return hex_value(std::string_view(&c, 1)) >= 0;
       })))
    return true;
  if (content.size() < 3 || content[0] != '.')
    return false;
  const std::string_view name = content.substr(1, 2), arguments = content.substr(3);
  if (!arguments.empty() && arguments[0] != ' ' && (arguments[0] < '0' || arguments[0] > '9') &&
      arguments[0] != '-' && arguments[0] != '+')
    return false;
  // (a line is ended once: one a line feed ended, \.br\, is not again)
  const bool ended = out.empty() || out.back() == '\n';
  if (name == "sp")
    out.append(command_count(arguments, 1) + (ended ? 0 : 1), '\n');
  else if (name == "ce") {
    if (!ended) // (at the text's start, or after a line ended, nothing to end)
      out.push_back('\n');
  }
  else if (name == "sk")
    out.append(command_count(arguments, 1), ' ');
  else if (name != "in" && name != "ti" && name != "fi" && name != "nf")
    return false;
  return true;
}

void append_sequence(std::string &out, std::string_view content,
                     const EncodingCharacters &enc, Formatting formatting, HexData hex) {
  if (content.size() == 1) {
    switch (content[0]) {
    case 'F':
      return append_delimiter(out, enc.field);
    case 'S':
      return append_delimiter(out, enc.component);
    case 'T':
      return append_delimiter(out, enc.sub_component);
    case 'R':
      return append_delimiter(out, enc.repetition);
    case 'E':
      return append_delimiter(out, enc.escape);
    default:
      break;
    }
  }
  if (content == ".br") {
    out.push_back('\n');
    return;
  }
  if (!content.empty() && content[0] == 'X') {
    append_hex(out, content.substr(1), hex);
    return;
  }
  if (formatting == Formatting::plain && append_formatting(out, content))
    return;
  append_delimiter(out, enc.escape);
  out.append(content);
  append_delimiter(out, enc.escape);
}

} // namespace

void append_decoded(std::string &out, std::string_view text,
                    const EncodingCharacters &enc, Formatting formatting, HexData hex) {
  const Delimiter &esc = enc.escape;
  out.reserve(out.size() + text.size());
  size_t i = 0;
  for (;;) {
    size_t open = find_delimiter(text, esc, i);
    if (open == std::string_view::npos) {
      out.append(text.substr(i));
      return;
    }
    out.append(text.substr(i, open - i));
    size_t close = find_delimiter(text, esc, open + esc.size);
    if (close == std::string_view::npos) {
      // Unterminated: the escape character and the rest stay as written.
      out.append(text.substr(open));
      return;
    }
    append_sequence(out, text.substr(open + esc.size, close - open - esc.size), enc, formatting,
                    hex);
    i = close + esc.size;
  }
}

std::string decode_escapes(std::string_view text, const EncodingCharacters &enc) {
  std::string out;
  append_decoded(out, text, enc);
  return out;
}

} // namespace vellomar

namespace vellomar {

namespace {

// The sequences written between escape characters.
constexpr std::string_view delimiter_letters[] = {"F", "S", "T", "R", "E"};

} // namespace

Escaper::Escaper(const EncodingCharacters &enc, EscapeOptions options)
    : enc_(enc), options_(options) {
  // LF, CR, 0x0B and 0x1C, then the first bytes of the delimiters.
  marked_[0] = (uint64_t{1} << '\n') | (uint64_t{1} << '\r') | (uint64_t{1} << 0x0b) |
               (uint64_t{1} << 0x1c);
  auto mark = [&](const Delimiter &d) {
    const auto b = static_cast<unsigned char>(d.bytes[0]);
    marked_[b >> 6] |= uint64_t{1} << (b & 63);
  };
  // Every delimiter is marked, declared or not: append() tests a marked
  // byte against the declared sequences only, so an undeclared one is then
  // copied as it stands.
  for (const Delimiter *d : {&enc.field, &enc.component, &enc.repetition, &enc.escape,
                             &enc.sub_component}) {
    mark(*d);
    if (d->view() == ".")
      line_feed_ = "X0A";
  }
}

void Escaper::append(std::string &out, std::string_view text) const {
  // In the order the decoder reads them, so that of delimiters that coincide
  // the first one counts.
  const Delimiter *delimiters[] = {&enc_.field, &enc_.component, &enc_.sub_component,
                                   &enc_.repetition, &enc_.escape};
  // Their places in MSH-2 (the field separator is always there).
  constexpr unsigned place[] = {0, 1, 4, 2, 3};
  out.reserve(out.size() + text.size());
  size_t run = 0; // start of the bytes not yet appended
  for (size_t i = 0; i < text.size(); ++i) {
    if (!marked(text[i]))
      continue;
    std::string_view code;
    size_t length = 1;
    for (size_t k = 0; k < 5 && code.empty(); ++k) {
      const Delimiter &d = *delimiters[k];
      if (place[k] <= options_.declared && text.substr(i, d.size) == d.view()) {
        code = delimiter_letters[k];
        length = d.size;
      }
    }
    if (code.empty() && options_.line_ends == LineEnds::space &&
        (text[i] == '\n' || text[i] == '\r')) {
      out.append(text.substr(run, i - run));
      out.push_back(' ');
      run = i + 1;
      continue;
    }
    if (code.empty()) {
      switch (text[i]) {
      case '\n':
        code = line_feed_;
        break;
      case '\r':
        code = "X0D";
        break;
      case '\x0b':
        code = "X0B";
        break;
      case '\x1c':
        code = "X1C";
        break;
      default: // the first byte of a two-byte delimiter, not followed by the second
        continue;
      }
    }
    out.append(text.substr(run, i - run));
    out.append(enc_.escape.view());
    out.append(code);
    out.append(enc_.escape.view());
    i += length - 1;
    run = i + 1;
  }
  out.append(text.substr(run));
}

} // namespace vellomar

#include "reference.hpp"

#include <cstdint>

namespace fuzz::ref {
namespace {

std::vector<Text> cut(const Text &text, char32_t at) {
  std::vector<Text> pieces(1);
  for (char32_t c : text) {
    if (c == at)
      pieces.emplace_back();
    else
      pieces.back().push_back(c);
  }
  return pieces;
}

std::vector<std::string> cut_bytes(std::string_view text, char at) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == at)
      pieces.emplace_back();
    else
      pieces.back().push_back(c);
  }
  return pieces;
}

// Non-empty lines of a text cut at every CR and every LF.
std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!line.empty())
        lines.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty())
    lines.push_back(line);
  return lines;
}

bool begins(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

int hex_digit(char32_t c) {
  if (c >= U'0' && c <= U'9')
    return static_cast<int>(c - U'0');
  if (c >= U'A' && c <= U'F')
    return static_cast<int>(c - U'A') + 10;
  if (c >= U'a' && c <= U'f')
    return static_cast<int>(c - U'a') + 10;
  return -1;
}

void translate(const Text &content, const Enc &enc, Text &out) {
  if (content == U"F")
    out.push_back(enc.field);
  else if (content == U"S")
    out.push_back(enc.component);
  else if (content == U"T")
    out.push_back(enc.sub_component);
  else if (content == U"R")
    out.push_back(enc.repetition);
  else if (content == U"E")
    out.push_back(enc.escape);
  else if (content == U".br")
    out.push_back(U'\n');
  else if (!content.empty() && content[0] == U'X') {
    Text digits = content.substr(1);
    for (size_t k = 0; k + 1 < digits.size(); k += 2) {
      int low = hex_digit(digits[k + 1]);
      if (low < 0)
        continue;
      if (digits[k] == U'+')
        out.push_back(static_cast<char32_t>(low));
      else if (int high = hex_digit(digits[k]); high >= 0)
        out.push_back(static_cast<char32_t>(high * 16 + low));
    }
  } else {
    out.push_back(enc.escape);
    out += content;
    out.push_back(enc.escape);
  }
}

std::string decoded(const Text &text, const Enc &enc) {
  return encode_utf8(decode_escapes(text, enc));
}

Component component(const Text &text, const Enc &enc) {
  Component c;
  c.value = decoded(text, enc);
  for (const Text &piece : cut(text, enc.sub_component))
    c.sub_components.push_back(decoded(piece, enc));
  return c;
}

Field single_field(const Text &text, const Enc &enc) {
  Field f;
  f.value = decoded(text, enc);
  for (const Text &piece : cut(text, enc.component))
    f.components.push_back(component(piece, enc));
  return f;
}

Field field(const Text &text, const Enc &enc) {
  std::vector<Text> repetitions = cut(text, enc.repetition);
  Field f = single_field(repetitions[0], enc);
  f.value = decoded(text, enc);
  if (repetitions.size() >= 2)
    for (const Text &piece : repetitions)
      f.repetitions.push_back(single_field(piece, enc));
  return f;
}

// The number rule of terser paths: an optional "+", then one or more digits,
// at most 18446744073709551615.
bool path_number(std::string_view text, uint64_t &out) {
  if (!text.empty() && text[0] == '+')
    text.remove_prefix(1);
  if (text.empty())
    return false;
  for (char c : text)
    if (c < '0' || c > '9')
      return false;
  while (text.size() > 1 && text[0] == '0')
    text.remove_prefix(1);
  constexpr std::string_view max = "18446744073709551615";
  if (text.size() > max.size() || (text.size() == max.size() && text > max))
    return false;
  out = std::stoull(std::string(text));
  return true;
}

Query fail(char kind, std::string text) { return Query{false, kind, std::move(text)}; }

std::string out_of_range(const char *what, uint64_t index, size_t count) {
  return std::string(what) + " index " + std::to_string(index) + " out of range (1.." +
         std::to_string(count) + ")";
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool digit(char c) { return c >= '0' && c <= '9'; }

std::optional<int> unsigned_piece(std::string_view p) {
  if (p.size() == 2 && digit(p[0]) && digit(p[1]))
    return (p[0] - '0') * 10 + (p[1] - '0');
  if (p.size() == 2 && p[0] == '+' && digit(p[1]))
    return p[1] - '0';
  return std::nullopt;
}

std::optional<int> offset_piece(std::string_view p) {
  if (p.size() == 2 && p[0] == '-' && digit(p[1]))
    return -(p[1] - '0');
  return unsigned_piece(p);
}

std::optional<int> year_piece(std::string_view p) {
  if (p.size() != 4 || !digit(p[1]) || !digit(p[2]) || !digit(p[3]))
    return std::nullopt;
  int rest = (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
  if (digit(p[0]))
    return (p[0] - '0') * 1000 + rest;
  if (p[0] == '+')
    return rest;
  if (p[0] == '-')
    return -rest;
  return std::nullopt;
}

struct Split {
  std::string body;
  std::optional<int> offset;
};

Split split_timezone(std::string_view text) {
  std::string t = trim(text);
  size_t n = t.size();
  if (n < 5 || (t[n - 5] != '+' && t[n - 5] != '-'))
    return {t, std::nullopt};
  auto h = offset_piece(std::string_view(t).substr(n - 4, 2));
  auto m = offset_piece(std::string_view(t).substr(n - 2, 2));
  if (!h || !m)
    return {t, std::nullopt};
  int minutes = *h * 60 + *m;
  return {t.substr(0, n - 5), t[n - 5] == '-' ? -minutes : minutes};
}

} // namespace

bool decode_utf8(std::string_view in, Text &out) {
  out.clear();
  const auto *p = reinterpret_cast<const unsigned char *>(in.data());
  const auto *end = p + in.size();
  while (p < end) {
    unsigned char b = *p;
    size_t n = b < 0x80   ? 1
               : b < 0xC2 ? 0
               : b < 0xE0 ? 2
               : b < 0xF0 ? 3
               : b < 0xF5 ? 4
                          : 0;
    if (n == 0 || static_cast<size_t>(end - p) < n)
      return false;
    char32_t cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t i = 1; i < n; ++i) {
      if ((p[i] & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    out.push_back(cp);
    p += n;
  }
  return true;
}

void append_utf8(std::string &out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string encode_utf8(const Text &in) {
  std::string out;
  for (char32_t cp : in)
    append_utf8(out, cp);
  return out;
}

Text decode_escapes(const Text &text, const Enc &enc) {
  Text out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != enc.escape) {
      out.push_back(text[i++]);
      continue;
    }
    size_t j = text.find(enc.escape, i + 1);
    if (j == Text::npos) {
      out.push_back(text[i++]);
      continue;
    }
    translate(text.substr(i + 1, j - i - 1), enc, out);
    i = j + 1;
  }
  return out;
}

std::string decode_escapes_utf8(std::string_view text, const Enc &enc) {
  Text t;
  decode_utf8(text, t);
  return decoded(t, enc);
}

Parsed parse(std::string_view raw) {
  Parsed out;
  if (raw.empty()) {
    out.error = "Empty message";
    return out;
  }
  std::string_view text = raw;
  if (raw.size() >= 3 && raw.front() == '\x0b') {
    if (raw.back() == '\x1c')
      text = raw.substr(1, raw.size() - 2);
    else if (raw.substr(raw.size() - 2) == "\x1c\r")
      text = raw.substr(1, raw.size() - 3);
  }
  if (text.empty()) {
    out.error = "Empty message";
    return out;
  }
  std::vector<std::string> lines = lines_of(text);
  if (lines.empty()) {
    out.error = "No segments found";
    return out;
  }
  if (!begins(lines[0], "MSH")) {
    out.error = "MSH";
    out.msh_line = lines[0];
    return out;
  }
  if (lines[0].size() < 8) {
    out.error = "MSH segment too short to extract encoding characters";
    return out;
  }
  auto byte = [&](size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(lines[0][i]));
  };
  const Enc enc{byte(3), byte(4), byte(5), byte(6), byte(7)};

  out.ok = true;
  out.message.raw = std::string(text);
  for (const std::string &line : lines) {
    Text t;
    decode_utf8(line, t);
    Segment segment;
    std::vector<Text> pieces = cut(t, enc.field);
    segment.name = encode_utf8(pieces[0]);
    if (pieces.size() > 1) {
      if (begins(line, "MSH")) {
        std::string separator = encode_utf8(Text(1, enc.field));
        Field msh1;
        msh1.value = separator;
        msh1.components.push_back(Component{separator, {separator}});
        segment.fields.push_back(msh1);
      }
      for (size_t k = 1; k < pieces.size(); ++k)
        segment.fields.push_back(field(pieces[k], enc));
    }
    out.message.segments.push_back(std::move(segment));
  }
  return out;
}

Query terser(const Message &m, std::string_view path) {
  if (path.empty())
    return fail('V', "Empty terser path");
  std::vector<std::string> pieces = cut_bytes(path, '-');
  const std::string &part = pieces[0];
  std::string name = part;
  uint64_t repetition = 0;
  size_t open = part.find('('), close = part.find(')');
  if (open != std::string::npos && close != std::string::npos) {
    if (close < open)
      return fail('V', "Invalid segment repetition: '" + part + "'");
    name = part.substr(0, open);
    if (!path_number(std::string_view(part).substr(open + 1, close - open - 1),
                     repetition))
      repetition = 0;
  }
  std::vector<const Segment *> found;
  for (const Segment &s : m.segments)
    if (s.name == name)
      found.push_back(&s);
  if (found.empty())
    return fail('K', "Segment '" + name + "' not found");
  if (repetition >= found.size())
    return fail('I', "Segment '" + name + "' repetition " + std::to_string(repetition) +
                         " not found (have " + std::to_string(found.size()) + ")");
  const Segment &segment = *found[repetition];
  if (pieces.size() == 1)
    return Query{true, 0, segment.name};

  uint64_t number = 0;
  if (!path_number(pieces[1], number))
    return fail('V', "Invalid field index: '" + pieces[1] + "'");
  if (number == 0 || number > segment.fields.size())
    return fail('I', out_of_range("Field", number, segment.fields.size()));
  const Field &f = segment.fields[number - 1];
  if (pieces.size() == 2)
    return Query{true, 0, f.value};

  if (!path_number(pieces[2], number))
    return fail('V', "Invalid component index: '" + pieces[2] + "'");
  if (number == 0 || number > f.components.size())
    return fail('I', out_of_range("Component", number, f.components.size()));
  const Component &c = f.components[number - 1];
  if (pieces.size() == 3)
    return Query{true, 0, c.value};

  if (!path_number(pieces[3], number))
    return fail('V', "Invalid sub-component index: '" + pieces[3] + "'");
  if (number == 0 || number > c.sub_components.size())
    return fail('I', out_of_range("Sub-component", number, c.sub_components.size()));
  return Query{true, 0, c.sub_components[number - 1]};
}

std::string trim(std::string_view text) {
  Text t;
  decode_utf8(text, t);
  size_t begin = 0, end = t.size();
  while (begin < end && is_white_space(t[begin]))
    ++begin;
  while (end > begin && is_white_space(t[end - 1]))
    --end;
  return encode_utf8(t.substr(begin, end - begin));
}

std::optional<Date> parse_date(std::string_view raw, std::string &error) {
  std::string body = split_timezone(raw).body;
  std::string quoted = "'" + std::string(raw) + "'";
  if (body.size() < 8) {
    error = "Timestamp too short for date: " + quoted;
    return std::nullopt;
  }
  auto year = year_piece(std::string_view(body).substr(0, 4));
  if (!year) {
    error = "Invalid year in " + quoted;
    return std::nullopt;
  }
  auto month = unsigned_piece(std::string_view(body).substr(4, 2));
  if (!month) {
    error = "Invalid month in " + quoted;
    return std::nullopt;
  }
  auto day = unsigned_piece(std::string_view(body).substr(6, 2));
  if (!day) {
    error = "Invalid day in " + quoted;
    return std::nullopt;
  }
  return Date{*year, *month, *day};
}

std::optional<DateTime> parse_datetime(std::string_view raw, std::string &error) {
  Split split = split_timezone(raw);
  const std::string &body = split.body;
  const size_t n = body.size();
  if (n < 4) {
    error = "Timestamp too short: '" + body + "'";
    return std::nullopt;
  }
  auto year = year_piece(std::string_view(body).substr(0, 4));
  if (!year) {
    error = "Invalid year in '" + body + "'";
    return std::nullopt;
  }
  auto piece = [&](size_t from, int fallback) {
    if (n < from + 2)
      return fallback;
    return unsigned_piece(std::string_view(body).substr(from, 2)).value_or(fallback);
  };
  DateTime t{};
  t.year = *year;
  t.month = piece(4, 1);
  t.day = piece(6, 1);
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = t.year % 4 == 0 && (t.year % 100 != 0 || t.year % 400 == 0);
  if (t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > days[t.month - 1] + (t.month == 2 && leap ? 1 : 0)) {
    error = "Invalid date: " + std::to_string(t.year) + "-" + std::to_string(t.month) +
            "-" + std::to_string(t.day);
    return std::nullopt;
  }
  t.hour = piece(8, 0);
  t.minute = piece(10, 0);
  t.second = piece(12, 0);
  t.microsecond = 0;
  if (n >= 16 && body[14] == '.') {
    Text fraction;
    decode_utf8(std::string_view(body).substr(15), fraction);
    Text six = fraction.substr(0, 6);
    while (six.size() < 6)
      six.push_back(U'0');
    size_t start = six[0] == U'+' ? 1 : 0;
    int value = 0;
    bool readable = true;
    for (size_t i = start; i < 6; ++i) {
      if (six[i] < U'0' || six[i] > U'9') {
        readable = false;
        break;
      }
      value = value * 10 + static_cast<int>(six[i] - U'0');
    }
    t.microsecond = readable ? value : 0;
  }
  if (t.hour > 23 || t.minute > 59 || t.second > 59) {
    error = "Invalid time: " + std::to_string(t.hour) + ":" + std::to_string(t.minute) +
            ":" + std::to_string(t.second) + "." + std::to_string(t.microsecond);
    return std::nullopt;
  }
  if (split.offset) {
    if (*split.offset * 60 <= -86400 || *split.offset * 60 >= 86400) {
      error = "Invalid timezone offset: " + std::to_string(*split.offset) + " minutes";
      return std::nullopt;
    }
    t.offset = split.offset;
  }
  return t;
}

std::vector<std::string> split_batch(std::string_view raw) {
  std::vector<std::string> texts;
  std::string current;
  for (std::string line : lines_of(trim(raw))) {
    // MLLP frames around consecutive messages: a start block opening a line
    // and an end block closing it are not part of the text.
    if (!line.empty() && line.front() == '\x0b')
      line.erase(0, 1);
    if (!line.empty() && line.back() == '\x1c')
      line.pop_back();
    if (line.empty() || begins(line, "FHS") || begins(line, "BHS") ||
        begins(line, "BTS") || begins(line, "FTS"))
      continue;
    if (begins(line, "MSH")) {
      if (!current.empty())
        texts.push_back(current);
      current = line;
      continue;
    }
    if (!current.empty())
      current.push_back('\r');
    current += line;
  }
  if (!current.empty())
    texts.push_back(current);
  return texts;
}

} // namespace fuzz::ref

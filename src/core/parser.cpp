#include "parser.hpp"

#include <algorithm>
#include <limits>
#include <new>

#include "mllp.hpp"

namespace vellomar {
namespace {

Error value_error(std::string message) {
  return Error{ErrorKind::value_error, std::move(message)};
}

EncodingCharacters read_encoding_characters(std::string_view first_line) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(first_line[i]); };
  EncodingCharacters enc;
  enc.field = Delimiter::from_byte(byte(3));
  enc.component = Delimiter::from_byte(byte(4));
  enc.repetition = Delimiter::from_byte(byte(5));
  enc.escape = Delimiter::from_byte(byte(6));
  enc.sub_component = Delimiter::from_byte(byte(7));
  return enc;
}

// Upper bounds of the number of lines and field separators, so that the index
// vectors are allocated once.
size_t count_byte(std::string_view text, char c) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

void add_segment(Message &m, std::string_view line) {
  const Delimiter &sep = m.enc.field;
  const auto line_offset = static_cast<uint32_t>(line.data() - m.raw.data());
  SegmentEntry entry{};
  entry.line = Span{line_offset, static_cast<uint32_t>(line.size())};
  entry.first_span = static_cast<uint32_t>(m.field_spans.size());
  size_t name_end = find_delimiter(line, sep);
  if (name_end == std::string_view::npos) {
    entry.name_length = static_cast<uint32_t>(line.size());
  } else {
    entry.name_length = static_cast<uint32_t>(name_end);
    // The text test for MSH is on the line, not on the name.
    entry.msh = line.substr(0, 3) == "MSH";
    cut(line.substr(name_end + sep.size), sep, [&](std::string_view piece) {
      m.field_spans.push_back(
          Span{static_cast<uint32_t>(piece.data() - m.raw.data()),
               static_cast<uint32_t>(piece.size())});
    });
  }
  entry.span_count = static_cast<uint32_t>(m.field_spans.size()) - entry.first_span;
  m.segments.push_back(entry);
}

} // namespace

Result<Message> parse_message(std::string_view raw) {
  if (raw.empty())
    return value_error("Empty message");
  std::string_view text = strip_mllp_frame(raw);
  if (text.empty())
    return value_error("Empty message");

  std::string_view first;
  if (!LineSplitter(text).next(first))
    return value_error("No segments found");
  if (first.substr(0, 3) != "MSH")
    return value_error("Message must start with MSH segment, got: '" +
                       std::string(utf8_prefix(first, 10)) + "'");
  if (first.size() < 8)
    return value_error("MSH segment too short to extract encoding characters");

  // Ranges are 32-bit: a larger text cannot be indexed.
  if (text.size() > std::numeric_limits<uint32_t>::max())
    throw std::bad_alloc();

  Message m;
  m.enc = read_encoding_characters(first);
  m.raw.assign(text);
  std::string_view all = m.raw;
  m.segments.reserve(count_byte(all, '\r') + count_byte(all, '\n') + 1);
  m.field_spans.reserve(count_byte(all, m.enc.field.bytes[0]));
  LineSplitter lines(all);
  std::string_view line;
  while (lines.next(line))
    add_segment(m, line);
  return m;
}

} // namespace vellomar

// Terser paths. The input is split at its last NUL byte into a message
// (before) and a path (after); an input without NUL is a path into a fixed
// message of several segments.
//
// Oracles: the result or error (kind and exact text) equals that of the
// reference model; a path that selects a value agrees with direct navigation
// through Segment::field, Field::component and Component::sub_component; the
// MSH-n header lookup agrees with "MSH-n"; a parse failure of a path is always
// a ValueError, a missing segment a KeyError, a number out of range an
// IndexError.
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "parser.hpp"
#include "reference.hpp"
#include "terser.hpp"

namespace {

using namespace vellomar;
using fuzz::show;

constexpr std::string_view fixed_message =
    "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101120000||ADT^A01^ADT_A01|MSG1|P|2.5\r"
    "PID|1||MRN^^^H&1.2&ISO~ALT||DOE&JR^JOHN^\\T\\X||19800101|M\r"
    "OBX|1|ST|3^Code&Sub||v\\F\\1\r"
    "OBX|2|ST|4^Other||v2\r"
    "(|x\r"
    "|empty name";

char kind_letter(ErrorKind kind) {
  switch (kind) {
  case ErrorKind::value_error:
    return 'V';
  case ErrorKind::key_error:
    return 'K';
  case ErrorKind::index_error:
    return 'I';
  }
  return '?';
}

// Up to four pieces of the path cut at "-".
std::vector<std::string_view> pieces_of(std::string_view path) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  while (pieces.size() < 4) {
    size_t hyphen = path.find('-', start);
    pieces.push_back(
        path.substr(start, hyphen == std::string_view::npos ? hyphen : hyphen - start));
    if (hyphen == std::string_view::npos)
      break;
    start = hyphen + 1;
  }
  return pieces;
}

// A successful query agrees with walking the tree through the public
// navigation operations.
void check_navigation(const Message &m, std::string_view path, const std::string &got) {
  std::vector<std::string_view> pieces = pieces_of(path);
  std::string_view part = pieces[0];
  std::string_view name = part;
  uint64_t repetition = 0;
  size_t open = part.find('('), close = part.find(')');
  if (open != std::string_view::npos && close != std::string_view::npos) {
    name = part.substr(0, open);
    if (!parse_path_number(part.substr(open + 1, close - open - 1), repetition))
      repetition = 0;
  }
  const SegmentView *selected = nullptr;
  SegmentView view;
  uint64_t seen = 0;
  for (size_t i = 0; i < m.segment_count() && !selected; ++i) {
    if (m.segment_at(i).name == name && seen++ == repetition) {
      view = m.segment_at(i);
      selected = &view;
    }
  }
  FUZZ_CHECK(selected != nullptr, show(path));
  if (pieces.size() == 1) {
    FUZZ_CHECK(got == selected->name, show(path));
    return;
  }
  uint64_t f = 0, c = 0, s = 0;
  FUZZ_CHECK(parse_path_number(pieces[1], f), show(path));
  auto field = selected->field(f);
  FUZZ_CHECK(field.ok(), show(path));
  std::string scratch;
  if (pieces.size() == 2) {
    FUZZ_CHECK(got == field.value().view().value(scratch),
               show(path) + " -> " + show(got));
    if (name == "MSH" && repetition == 0) {
      auto header = header_field(m, f);
      FUZZ_CHECK(header.ok() && header.value().value(scratch) == got, show(path));
    }
    return;
  }
  FUZZ_CHECK(parse_path_number(pieces[2], c), show(path));
  auto component = field.value().view().component(c);
  FUZZ_CHECK(component.ok(), show(path));
  if (pieces.size() == 3) {
    FUZZ_CHECK(got == component.value().view().value(scratch),
               show(path) + " -> " + show(got));
    return;
  }
  FUZZ_CHECK(parse_path_number(pieces[3], s), show(path));
  auto sub = component.value().view().sub_component(s);
  FUZZ_CHECK(sub.ok() && sub.value() == got, show(path) + " -> " + show(got));
}

} // namespace

FUZZ_ENTRY {
  std::string_view input(reinterpret_cast<const char *>(data), size);
  size_t nul = input.rfind('\0');
  std::string_view message_text = fixed_message;
  std::string_view path = input;
  if (nul != std::string_view::npos) {
    message_text = input.substr(0, nul);
    path = input.substr(nul + 1);
  }
  auto parsed = parse_message(message_text);
  if (!parsed)
    return 0;
  const Message &m = parsed.value();

  auto result = terser_get(m, path);
  if (result.ok())
    check_navigation(m, path, result.value());

  if (!fuzz::valid_utf8(message_text) || !fuzz::valid_utf8(path))
    return 0;
  fuzz::ref::Parsed tree = fuzz::ref::parse(message_text);
  FUZZ_CHECK(tree.ok, show(message_text));
  fuzz::ref::Query expected = fuzz::ref::terser(tree.message, path);
  if (expected.ok) {
    FUZZ_CHECK(result.ok(), show(path) + " failed with " + show(result.error().message) +
                                " expected " + show(expected.text));
    FUZZ_CHECK(result.value() == expected.text, show(path) + " -> " +
                                                    show(result.value()) + " expected " +
                                                    show(expected.text));
  } else {
    FUZZ_CHECK(!result.ok(), show(path) + " -> " + show(result.value()) +
                                 " expected error " + show(expected.text));
    FUZZ_CHECK(kind_letter(result.error().kind) == expected.kind &&
                   result.error().message == expected.text,
               show(path) + " failed with " + show(result.error().message) +
                   " expected " + show(expected.text));
  }
  return 0;
}

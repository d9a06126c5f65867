// Terser paths: the input is a message, NUL, a path (or a path alone, into a
// fixed message). Oracles: a value found agrees with navigation through the
// segments, Segment::field, Field::component and Component::sub_component
// (std::get throws where navigation fails) and with header_field for MSH-n; a
// failure has a documented text for its kind.
#include <string>

#include "check.hpp"
#include "parser.hpp"
#include "terser.hpp"

using namespace vellomar;

FUZZ_ENTRY {
  std::string_view input(reinterpret_cast<const char *>(data), size), path = input,
      text = "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101120000||ADT^A01^ADT_A01|MSG1|P|2.5\rPID|1||MRN^^^H&1.2&ISO~ALT||"
             "DOE&JR^JOHN^\\T\\X||19800101|M\rOBX|1|ST|3^Code&Sub||v\\F\\1\rOBX|2|ST|4^Other||v2\r(|x\r|empty name";
  if (size_t nul = input.rfind('\0'); nul != input.npos)
    text = input.substr(0, nul), path = input.substr(nul + 1);
  auto parsed = parse_message(text);
  if (!parsed)
    return 0;
  const Message &m = parsed.value();
  auto got = terser_get(m, path);
  if (!got) {
    const std::string &e = got.error().message;
    ErrorKind kind = got.error().kind;
    FUZZ_CHECK(kind != ErrorKind::value_error || e == "Empty terser path" || (e.starts_with("Invalid ") && e.ends_with("'")), e);
    FUZZ_CHECK(kind != ErrorKind::key_error || (e.starts_with("Segment '") && e.ends_with("' not found")), e);
    FUZZ_CHECK(kind != ErrorKind::index_error || (e.ends_with(")") && (e.starts_with("Segment '") || e.find(" index ") != e.npos)), e);
    return 0;
  }
  std::string_view pieces[4];
  size_t count = 0;
  for (size_t start = 0, hyphen = 0; count < 4 && hyphen != path.npos; start = hyphen + 1)
    hyphen = path.find('-', start), pieces[count++] = path.substr(start, hyphen == path.npos ? hyphen : hyphen - start);
  std::string_view name = pieces[0];
  uint64_t repetition = 0, n[4] = {0, 0, 0, 0}, seen = 0;
  if (size_t open = name.find('('), close = name.find(')'); open != name.npos && close != name.npos)
    (void)parse_path_number(name.substr(open + 1, close - open - 1), repetition), name = name.substr(0, open);
  SegmentView segment;
  for (size_t i = 0; i < m.segment_count(); ++i)
    if (m.segment_at(i).name == name && seen++ == repetition)
      segment = m.segment_at(i);
  FUZZ_CHECK(seen > repetition, path);
  for (size_t i = 1; i < count; ++i)
    FUZZ_CHECK(parse_path_number(pieces[i], n[i]), path);
  std::string scratch, expected(segment.name);
  if (count > 1) {
    Field field = segment.field(n[1]).value();
    expected = field.view().value(scratch);
    FUZZ_CHECK(name != "MSH" || repetition || count != 2 || header_field(m, n[1]).value().value(scratch) == expected, path);
    if (count > 2) {
      Component component = field.view().component(n[2]).value();
      expected = count > 3 ? std::string(component.view().sub_component(n[3]).value()) : component.view().value(scratch);
    }
  }
  FUZZ_CHECK(got.value() == expected, path);
  return 0;
}

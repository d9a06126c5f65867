// Terser paths: the input is a message, NUL, a path (or a path alone, into a
// fixed message). Oracles: the path given fails, if at all, with a documented
// text; the path of every field, component and sub-component (up to the third
// of each) selects what navigation finds, as header_field does for MSH-n.
#include <map>

#include "check.hpp"
#include "parser.hpp"
#include "terser.hpp"

using namespace vellomar;

FUZZ_ENTRY {
  std::string_view input(reinterpret_cast<const char *>(data), size),
      path = input,
      text = "MSH|^~\\&|A|B|C|D|2023||ADT^A01|1|P|2.5\rPID|1||M^^^H&1~A||D&J^X\\T\\\r"
             "OBX|1|x\rOBX|2|y^z\r(|x\r|no name";
  if (size_t nul = input.rfind('\0'); nul != input.npos)
    text = input.substr(0, nul), path = input.substr(nul + 1);
  auto parsed = parse_message(text);
  if (!parsed)
    return 0;
  const Message &m = parsed.value();
  std::string found; // the scratch of terser lookups
  if (auto got = terser_get(m, path, found); !got) {
    std::string_view e = got.error().message;
    FUZZ_CHECK(e == "Empty terser path" || e.starts_with("Invalid ") ||
                   e.starts_with("Segment '") || e.find(" index ") != e.npos,
               e);
  }
  std::map<std::string_view, uint64_t> seen;
  std::string scratch;
  auto agrees = [&](const std::string &p, std::string_view expected) {
    auto got = terser_get(m, p, found);
    FUZZ_CHECK(got.ok() && got.value() == expected, p);
  };
  for (size_t i = 0; i < m.segment_count(); ++i) {
    SegmentView s = m.segment_at(i);
    uint64_t repetition = seen[s.name]++;
    if (s.name.find_first_of("-()") != s.name.npos)
      continue; // no path names this segment
    std::string segment = std::string(s.name) + "(" + std::to_string(repetition) + ")";
    agrees(segment, s.name);
    for (size_t f = 1; f <= std::min<size_t>(s.field_count(), 3); ++f) {
      std::string field = segment + "-" + std::to_string(f);
      agrees(field, s.field_at(f - 1).value(scratch));
      FUZZ_CHECK(s.name != "MSH" || repetition ||
                     header_field(m, f).value().text == s.field_at(f - 1).text,
                 field);
      for (size_t c = 1; c <= std::min<size_t>(s.field_at(f - 1).component_count(), 3);
           ++c) {
        ComponentView component = s.field_at(f - 1).component_at(c - 1);
        agrees(field + "-" + std::to_string(c), component.value(scratch));
        for (size_t k = 1; k <= std::min<size_t>(component.sub_component_count(), 3); ++k)
          agrees(field + "-" + std::to_string(c) + "-" + std::to_string(k),
                 component.sub_component(k, scratch).value());
      }
    }
  }
  return 0;
}
